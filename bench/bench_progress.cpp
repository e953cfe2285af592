// A save with the progress log beside the same save without it, in the same iterations, on the
// same document: the log takes the words of the section edited since the last save and hands
// them to its writer, which appends them on a thread of its own. logging_ratio divides the
// saves with the log by those without; the writer's append is waited for outside the times, and
// the two saves take turns in going first. log_share is the part of the saves with the log spent
// in it, timed where the save hands over.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include "core/commands/Saving.h"
#include "core/document/Sections.h"
#include "core/progress/ProgressRecorder.h"
#include "util.h"

namespace velloran::bench {
namespace {

// The log's own share of a save, timed where the save hands over to it: free of the disk's
// noise, which is larger than that share.
struct TimedLog : ProgressObserver {
    explicit TimedLog(ProgressRecorder& log) : log(log) {}
    void Taken(const Session& s, ProgressMoment moment) override {
        const auto t0 = Clock::now();
        log.Taken(s, moment);
        seconds += SecondsSince(t0);
    }
    ProgressRecorder& log;
    double seconds = 0;
};

void BM_SaveWithProgressLog(benchmark::State& st) {
    const std::size_t bytes = static_cast<std::size_t>(st.range(0)) * kMiB;
    const std::string folder = TempFolder();
    ::setenv("XDG_STATE_HOME", (folder + "/state").c_str(), 1);

    ResetState();
    PlainSession p;
    ProgressRecorder recorder;
    TimedLog timed(recorder);
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
    bool logFirst = false;
    for (auto _ : st) {
        // Taken in turns first and second, so that neither pays for the other's writing back.
        double t = 0;
        for (const bool logging : {logFirst, !logFirst}) {
            edit();
            p.session.progress = logging ? &timed : nullptr;
            const auto t0 = Clock::now();
            SaveDocument(p.session);
            const double seconds = SecondsSince(t0);
            (logging ? with : without) += seconds;
            t = logging ? seconds : t;
            recorder.Wait();
        }
        logFirst = !logFirst;
        st.SetIterationTime(t);
    }
    st.SetBytesProcessed(static_cast<int64_t>(st.iterations() * bytes));
    st.counters["logging_ratio"] = with / without;
    st.counters["without_ms"] = without * 1000 / static_cast<double>(st.iterations());
    // What the log adds to a save with it, whatever the disk did meanwhile.
    st.counters["log_share"] = timed.seconds / with;
    st.counters["log_ms"] = timed.seconds * 1000 / static_cast<double>(st.iterations());
}

BENCHMARK(BM_SaveWithProgressLog)
    ->ArgNames({"MiB"})
    ->Arg(10)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran::bench
