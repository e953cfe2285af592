// A save with the progress log beside the same save without it, in the same iterations, on the
// same document: the log takes the words of the section edited since the last save and hands
// them to its writer, which appends them on a thread of its own. logging_ratio divides the
// saves with the log by those without; the writer's append is waited for outside the times.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include "core/commands/Saving.h"
#include "core/document/Sections.h"
#include "core/progress/ProgressRecorder.h"
#include "util.h"

namespace velloran::bench {
namespace {

void BM_SaveWithProgressLog(benchmark::State& st) {
    const std::size_t bytes = static_cast<std::size_t>(st.range(0)) * kMiB;
    const std::string folder = TempFolder();
    ::setenv("XDG_STATE_HOME", (folder + "/state").c_str(), 1);

    ResetState();
    PlainSession p;
    ProgressRecorder recorder;
    p.buffer.AssignText(MakeDocument(bytes));
    SplitSections(p.session);
    state().FileName = folder + "/doc.vlp";
    SaveDocument(p.session);
    p.session.progress = &recorder;
    p.session.Taken(ProgressMoment::Opened);
    recorder.Wait();

    double with = 0;
    double without = 0;
    int k = 0;
    // Each save follows an edit of one section, as typing between saves makes.
    auto edit = [&] {
        k = k % state().LastSection + 1;
        p.sections.texts[static_cast<std::size_t>(k)] += "a few more words\r\n";
        recorder.SlotReplaced(k, {}, {});
        state().Modified = true;
    };
    for (auto _ : st) {
        edit();
        p.session.progress = nullptr;
        auto t0 = Clock::now();
        SaveDocument(p.session);
        without += SecondsSince(t0);

        edit();
        p.session.progress = &recorder;
        t0 = Clock::now();
        SaveDocument(p.session);
        const double t = SecondsSince(t0);
        with += t;
        st.SetIterationTime(t);
        recorder.Wait();
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * bytes));
    st.counters["logging_ratio"] = with / without;
    st.counters["without_ms"] = without * 1000 / static_cast<double>(st.iterations());
}

BENCHMARK(BM_SaveWithProgressLog)
    ->ArgNames({"MiB"})
    ->Arg(10)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran::bench
