// The whole program started on a document, from process start until the section list and
// section 0 are shown and the event loop is idle, beside the core's own read and split of the
// same file and beside filling all 51 editors with its sections, measured in the same run.
#if defined(VELLORAN_BENCH_QT) && defined(VELLORAN_PROGRAM)

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QPlainTextEdit>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/document/SectionStore.h"
#include "core/document/Sections.h"
#include "core/storage/DocumentFile.h"
#include "ui/document/SectionEditor.h"
#include "util.h"

extern char** environ;

namespace velloran::bench {
namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Started {
    double seconds = 0;
    double peakMiB = 0;
};

// Runs a program with arguments and environment, and gives the first line it prints and the
// time from its start until then.
std::pair<std::string, double> FirstLine(std::string program, std::vector<std::string> args,
                                         std::vector<std::string>& env, const std::string& folder) {
    std::vector<char*> envp;
    for (auto& var : env) {
        envp.push_back(var.data());
    }
    envp.push_back(nullptr);
    std::vector<char*> argv{program.data()};
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = 0;
    const auto start = Clock::now();
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string reply;
    char chunk[64];
    for (ssize_t n;
         reply.find('\n') == std::string::npos && (n = read(out[0], chunk, sizeof chunk)) > 0;) {
        reply.append(chunk, static_cast<std::size_t>(n));
    }
    const double seconds = Seconds(start);
    close(out[0]);
    if (rc != 0) {
        return {};
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {reply, seconds};
}

// The environment of this process with its own settings and state folders.
std::vector<std::string> Environment(const std::string& folder) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        if (var.rfind("XDG_CONFIG_HOME=", 0) != 0 && var.rfind("XDG_STATE_HOME=", 0) != 0) {
            env.push_back(var);
        }
    }
    env.push_back("XDG_CONFIG_HOME=" + folder);
    env.push_back("XDG_STATE_HOME=" + folder);
    return env;
}

// Starts the program on path with its own settings folder and waits until it reports idle.
Started StartProgram(const std::string& path, const std::string& folder) {
    std::vector<std::string> env = Environment(folder);
    env.push_back("VELLORAN_QUIT_WHEN_IDLE=1");
    const auto [reply, seconds] = FirstLine(VELLORAN_PROGRAM, {path}, env, folder);
    if (reply.rfind("idle ", 0) != 0) {
        return {};
    }
    return {seconds, std::strtod(reply.c_str() + 5, nullptr) / 1024.0};
}

// The core's read and split in a process of its own, as fresh as the program's: the time of
// ReadDocument and SplitSections alone.
double FreshReadAndSplitSeconds(const std::string& path, const std::string& folder) {
    std::vector<std::string> env = Environment(folder);
    const auto [reply, seconds] =
        FirstLine("/proc/self/exe", {"--read-split-probe=" + path}, env, folder);
    return std::strtod(reply.c_str(), nullptr);
}

// The core's read and split of the file into the compact store, the fastest of a few runs.
double ReadAndSplitSeconds(const std::string& path) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        ResetState();
        auto store = std::make_unique<SectionStore>();
        PlainList list;
        DocumentBuffer buffer;
        CallbackDialogs dialogs;
        Session session{state(), *store, list, buffer, dialogs};
        const auto start = Clock::now();
        ReadDocument(path, buffer);
        SplitSections(session);
        best = std::min(best, Seconds(start));
    }
    return best;
}

// The toolkit's floor of filling every editor at once: the section texts, already converted,
// into 51 bare editors.
double FillAllEditorsSeconds(const std::string& path) {
    ResetState();
    PlainSlots texts;
    PlainList list;
    DocumentBuffer buffer;
    CallbackDialogs dialogs;
    Session session{state(), texts, list, buffer, dialogs};
    ReadDocument(path, buffer);
    SplitSections(session);
    std::vector<QString> converted;
    for (int k = 0; k < kSectionCount; ++k) {
        converted.push_back(
            SectionEditor::TextFromBytes(texts.texts[std::size_t(k)], state().DocumentEncoding));
    }
    QWidget parent;
    std::vector<QPlainTextEdit*> editors;
    for (int k = 0; k < kSectionCount; ++k) {
        editors.push_back(new QPlainTextEdit(&parent));
    }
    const auto start = Clock::now();
    for (int k = 0; k < kSectionCount; ++k) {
        editors[std::size_t(k)]->setPlainText(converted[std::size_t(k)]);
    }
    return Seconds(start);
}

void BM_ProgramStartToIdle(benchmark::State& st) {
    const auto mib = static_cast<std::size_t>(st.range(0));
    const std::string folder = TempFolder();
    const std::string path = folder + "/doc.vlp";
    {
        const std::string text = MakeDocument(mib * kMiB, 50);
        std::ofstream(path, std::ios::binary)
            .write(text.data(), static_cast<std::streamsize>(text.size()));
        std::ofstream(folder + "/empty.vlp", std::ios::binary);
    }
    const double readSplit = ReadAndSplitSeconds(path);
    double freshReadSplit = 1e9;
    for (int i = 0; i < 3; ++i) {
        freshReadSplit = std::min(freshReadSplit, FreshReadAndSplitSeconds(path, folder));
    }
    const double fillAll = FillAllEditorsSeconds(path);
    const double empty = StartProgram(folder + "/empty.vlp", folder).seconds;
    double total = 0;
    double peak = 0;
    for (auto _ : st) {
        const Started started = StartProgram(path, folder);
        if (started.seconds == 0) {
            st.SkipWithError("the program did not report idle");
            return;
        }
        st.SetIterationTime(started.seconds);
        total += started.seconds;
        peak = std::max(peak, started.peakMiB);
    }
    const double each = total / static_cast<double>(st.iterations());
    st.counters["peak_MiB"] = peak;
    st.counters["read_split_ms"] = readSplit * 1e3;
    st.counters["fill_51_ms"] = fillAll * 1e3;
    st.counters["empty_doc_ms"] = empty * 1e3;
    st.counters["x_read_split"] = each / readSplit;
    st.counters["fresh_read_split_ms"] = freshReadSplit * 1e3;
    st.counters["x_fresh_read_split"] = each / freshReadSplit;
    st.counters["x_fill_51"] = each / fillAll;
}
BENCHMARK(BM_ProgramStartToIdle)
    ->Arg(10)
    ->Arg(100)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

// Opening a 100 MiB document with spelling checked (range 1) beside the same start with it off
// (0), each with a spelling.ini of its own, with the system's dictionaries.
void BM_ProgramStartSpelling(benchmark::State& st) {
    const bool check = st.range(0) != 0;
    const std::string folder = TempFolder();
    const std::string path = folder + "/doc.vlp";
    WriteFile(path, MakeDocument(100 * kMiB, 50));
    std::filesystem::create_directories(folder + "/velloran");
    WriteFile(folder + "/velloran/spelling.ini",
              std::string("[Spelling]\nLanguage=en_US\nCheck=") + (check ? "1" : "0") + "\n");
    for (auto _ : st) {
        const Started started = StartProgram(path, folder);
        if (started.seconds == 0) {
            st.SkipWithError("the program did not report idle");
            return;
        }
        st.SetIterationTime(started.seconds);
    }
}
BENCHMARK(BM_ProgramStartSpelling)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

bool RunReadSplitProbe(int argc, char** argv) {
    const std::string prefix = "--read-split-probe=";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind(prefix, 0) == 0) {
            ResetState();
            SectionStore store;
            PlainList list;
            DocumentBuffer buffer;
            CallbackDialogs dialogs;
            Session session{state(), store, list, buffer, dialogs};
            const auto start = Clock::now();
            ReadDocument(arg.substr(prefix.size()), buffer);
            SplitSections(session);
            std::printf("%.9f\n", Seconds(start));
            return true;
        }
    }
    return false;
}

}  // namespace velloran::bench

#endif
