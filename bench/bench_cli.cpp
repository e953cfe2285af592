// velloran-cli measured as whole processes, each beside a process that reads the same file once
// (cat into /dev/null), started and waited for in the same iterations.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "core/FileIO.h"
#include "util.h"

namespace velloran::bench {
namespace {

using Clock = std::chrono::steady_clock;

// Seconds from starting the program to its end, its output thrown away.
double RunProcess(std::vector<std::string> argv) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (auto& a : argv) {
        args.push_back(a.data());
    }
    args.push_back(nullptr);
    const auto t0 = Clock::now();
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) {
        ::waitpid(pid, &status, 0);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    posix_spawn_file_actions_destroy(&actions);
    return status == 0 ? seconds : -1;
}

void BM_CliStats(benchmark::State& st) {
    const std::size_t bytes = static_cast<std::size_t>(st.range(0)) * kMiB;
    const std::string path = TempFolder() + "/doc.vlp";
    const std::string text = MakeDocument(bytes);
    ReplaceFile(path, [&](OutputFile& out) { out.Write(text); });
    // Both read the file from the page cache, as a script that has just written it would.
    RunProcess({"/bin/cat", path});
    double op = 0;
    double floor = 0;
    for (auto _ : st) {
        const double f = RunProcess({"/bin/cat", path});
        const double t = RunProcess({VELLORAN_CLI, "stats", path});
        if (f < 0 || t < 0) {
            st.SkipWithError("a process failed");
            break;
        }
        floor += f;
        op += t;
        st.SetIterationTime(t);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * text.size()));
    st.counters["floor_ratio"] = op / floor;
    st.counters["floor_ms"] = floor * 1000 / static_cast<double>(st.iterations());
}
BENCHMARK(BM_CliStats)->Arg(10)->Arg(100)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran::bench
