#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/progress/ProgressLog.h"
#include "core/protection/Protection.h"

namespace velloran {

// What the writer is handed at each moment taken.
struct ProgressJob {
    std::string path;  // the document's absolute path, which its log belongs to
    // The document was saved under path from this one: a log that path does not have yet starts
    // with this one's history.
    std::optional<std::string> carriedFrom;
    std::vector<ProgressEntry> entries;
    // How the log is to be sealed; nothing while the document has no key yet: then nothing of it
    // is kept or read.
    std::optional<SideKey> key;
};

// What the log of the document holds, as the writer last read and wrote it.
struct ProgressSnapshot {
    std::string path;
    // The log was read (or the document has none yet); until then history tells nothing.
    bool ready = false;
    std::vector<ProgressEntry> history;  // the first and last entry of each day
    // Why progress is not kept, where it is not; empty otherwise.
    std::string note;
};

// Keeps the logs on a thread of its own, job after job, so that neither a disk nor the key a
// legacy document's log is sealed with (Argon2id, once per run) holds up the windows. It keeps the
// history of the log in memory too, for the figures, and rewrites the file whole, crash-safe, when
// the entries on disk have grown well past what the history needs, or when the document's
// protection or key changed: no text is left sealed under a key given up, or in the clear.
class ProgressWriter {
  public:
    // onChanged is called on the writer's thread after every job.
    ProgressWriter(int dayStart, std::function<void()> onChanged);
    // Finishes the jobs given, then stops.
    ~ProgressWriter();
    ProgressWriter(const ProgressWriter&) = delete;
    ProgressWriter& operator=(const ProgressWriter&) = delete;

    void Submit(ProgressJob job);
    // Until every job given so far is done.
    void Wait();
    ProgressSnapshot Snapshot() const;
    // What the writer must be told once, then never again (a damaged log and what was saved
    // of it); empty when nothing. Taken, it is gone.
    std::string TakeNotice();

    // Entries on disk beyond those the history keeps before the file is rewritten.
    static constexpr std::size_t kCompactSlack = 256;

  private:
    void Run();
    void Process(ProgressJob& job);
    // Finds and reads the log of job.path: its own, the one of the document it was saved from,
    // or one that the document brought along when another program moved it here.
    void Load(const ProgressJob& job, std::int64_t now);
    // Takes the log read at place as the one kept, when key opens it.
    bool Open(const ParsedLog& log, const LogPlace& place, const SideKey& key);
    // Starts the log at place anew with the entries of its that key opens, when its header is
    // damaged; the damaged file is kept beside it.
    void Salvage(const ParsedLog& log, const LogPlace& place, const SideKey& key, std::int64_t now);
    // Entries of another process's log taken into the history.
    void TakeIn(std::vector<ProgressEntry> entries);
    // The log of another document whose file is now at job.path.
    std::optional<std::string> MovedHere(const ProgressJob& job);
    bool Fits(const SideKey& key) const;
    void UseKey(const SideKey& key);
    void Append(const ProgressEntry& entry);
    // Takes in what another process wrote to the log since this one read it.
    bool Merge();
    // Writes the log whole from the history; false when it could not be, or is held.
    bool Rewrite();
    // A file that could be neither read nor moved aside is in the log's place: nothing is written
    // over it, and the next job looks again.
    void Hold();
    void Publish(const std::string& path);

    int dayStart_;
    std::function<void()> onChanged_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<ProgressJob> queue_;
    bool busy_ = false;
    bool stop_ = false;
    ProgressSnapshot snapshot_;
    std::string notice_;

    // The worker's own.
    std::optional<ProgressFolder> folder_;
    std::string path_;
    bool loaded_ = false;
    bool onDisk_ = false;
    LogPlace place_;
    LogHeader header_;
    std::shared_ptr<const SealKey> key_;
    std::vector<ProgressEntry> history_;
    std::size_t framesOnDisk_ = 0;
    std::string note_;
    // The key that did not open the log on disk, which is left alone until a save with it.
    std::optional<SideKey> failedKey_;
    // The document's key of the job at hand, which opens what another window wrote.
    std::optional<SideKey> side_;

    std::thread thread_;
};

inline constexpr std::string_view kProgressNeedsKey =
    "Progress of %s is not kept until its key is given: by File > Decript, or by a save.";
inline constexpr std::string_view kProgressNotKept = "Progress cannot be kept in %s.";
inline constexpr std::string_view kProgressRefused =
    "%s is not a private file of yours, so progress is neither read from it nor kept in it.";
inline constexpr std::string_view kProgressSalvaged =
    "The progress log of %s was damaged. The entries that could still be read are kept;";
inline constexpr std::string_view kProgressDamagedKept = " the damaged file stays as %s.";
inline constexpr std::string_view kProgressOtherKey =
    "The progress of %s was kept under another key; it is kept anew from its next save.";

}  // namespace velloran
