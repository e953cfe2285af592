// velloran-cli measured as whole processes, each beside a process that reads the same file once
// (cat into /dev/null), started and waited for in the same iterations.
#include <benchmark/benchmark.h>

#include <string>

#include "core/storage/FileIO.h"
#include "util.h"

namespace velloran::bench {
namespace {

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
