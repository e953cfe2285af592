// A writer killed while it appends to a progress log loses at most the entry it was appending.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <random>
#include <string>

#include "core/document/Host.h"
#include "core/document/State.h"
#include "core/progress/ProgressLog.h"
#include "core/progress/ProgressRecorder.h"
#include "core/storage/Paths.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace velloran {
namespace {

using testing::ReadBytes;
using testing::ScopedEnv;
using testing::TempDir;

// Appends a record after record, each with one word more in section 0 and long titles in every
// section, so that appends take long enough for kills to land in them. Tells every entry it knows
// to be on disk through out.
[[noreturn]] void Append(const std::string& path, int out) {
    ResetState();
    PlainSession p;
    ProgressRecorder recorder;
    p.session.progress = &recorder;
    p.session.st.FileName = path;
    p.session.st.LastSection = kLastSlot;
    for (int k = 1; k <= kLastSlot; ++k) {
        p.sections.texts[static_cast<std::size_t>(k)] =
            "[S] " + std::string(kMostTitleBytes, static_cast<char>('a' + k % 26)) + "\r\n";
    }
    std::string words;
    for (int i = 1;; ++i) {
        words += "w ";
        p.sections.texts[0] = words + "\r\n";
        recorder.SlotReplaced(0, {}, {});
        recorder.Taken(p.session, ProgressMoment::Recorded);
        recorder.Wait();
        if (::write(out, &i, sizeof i) != sizeof i) {
            ::_exit(3);
        }
    }
}

TEST(ProgressCrash, AKillDuringAnAppendLosesAtMostThatEntry) {
    TempDir state(TempDir::MemoryBase());
    ScopedEnv home("XDG_STATE_HOME", state.path());
    TempDir docs;
    std::mt19937 random(20240501);
    int tornSeen = 0;
    for (int round = 0; round < 24; ++round) {
        const std::string doc = docs / ("Book" + std::to_string(round) + ".vlp");
        const std::string log =
            state.path() + "/velloran/progress/" + LogName(AbsolutePath(doc), 1);
        int pipe[2];
        ASSERT_EQ(::pipe(pipe), 0);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipe[0]);
            Append(doc, pipe[1]);
        }
        ::close(pipe[1]);
        // A few entries first, then a kill at a moment of no relation to the appends.
        int confirmed = 0;
        for (int i = 0; i < 3 + round % 5; ++i) {
            ASSERT_EQ(::read(pipe[0], &confirmed, sizeof confirmed),
                      static_cast<ssize_t>(sizeof confirmed));
        }
        const timespec pause{0, static_cast<long>(random() % 4000) * 1000};
        ::nanosleep(&pause, nullptr);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        int later = 0;
        while (::read(pipe[0], &later, sizeof later) == static_cast<ssize_t>(sizeof later)) {
            confirmed = later;
        }
        ::close(pipe[0]);

        // Every entry told to be on disk is there, whole, in order; one more at most.
        const std::string bytes = ReadBytes(log);
        const ParsedLog parsed = ParseLog(bytes, log);
        tornSeen += parsed.end < bytes.size() ? 1 : 0;
        const auto n = static_cast<int>(parsed.frames.size());
        ASSERT_GE(n, confirmed + 1) << round;  // the empty start, then the records
        ASSERT_LE(n, confirmed + 2) << round;
        for (int i = 1; i < n; ++i) {
            const auto entry = DecodeEntry(parsed.frames[static_cast<std::size_t>(i)], nullptr);
            ASSERT_TRUE(entry) << round;
            ASSERT_EQ(entry->sections.size(), static_cast<std::size_t>(kSectionCount));
            ASSERT_EQ(entry->Words(), static_cast<std::uint64_t>(i + 2 * kLastSlot)) << round;
        }

        // The next run's append goes after the last whole entry.
        {
            ResetState();
            PlainSession p;
            ProgressRecorder recorder;
            p.session.progress = &recorder;
            p.session.st.FileName = doc;
            p.sections.texts[0] = "after\r\n";
            p.session.Taken(ProgressMoment::Opened);
            recorder.Wait();
        }
        const std::string after = ReadBytes(log);
        const ParsedLog reread = ParseLog(after, log);
        ASSERT_EQ(reread.frames.size(), parsed.frames.size() + 1);
        ASSERT_EQ(reread.end, after.size());
    }
    RecordProperty("torn", tornSeen);
}

}  // namespace
}  // namespace velloran
