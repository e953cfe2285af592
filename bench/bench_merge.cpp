// Merging two versions of a large document with changes in five sections each, beside the floor
// of reading the file once, measured in the same iterations: as velloran-cli merge does it (two
// versions read and merged, the result joined), and as the windows take a change on disk (the
// file read with the keys in use, compared, merged with the slots and put into them).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>

#include "core/document/Sections.h"
#include "core/merge/DiskMerge.h"
#include "core/merge/Merge.h"
#include "core/protection/Protection.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
#include "util.h"

namespace velloran::bench {
namespace {

// The document with one line changed in the middle of each of the sections given.
std::string Changed(const std::string& text, std::initializer_list<int> sections,
                    std::string_view mark) {
    std::vector<std::string_view> parts = SectionTexts(text);
    std::string out;
    out.reserve(text.size() + 1024);
    for (std::size_t k = 0; k < parts.size(); ++k) {
        std::string_view part = parts[k];
        if (std::find(sections.begin(), sections.end(), static_cast<int>(k)) != sections.end()) {
            // Past the middle for ours, before it for theirs: apart in a section both change.
            const std::size_t at = part.find("\r\n", part.size() * (mark == "ours" ? 3 : 1) / 4);
            out.append(part.substr(0, at + 2));
            out.append("a line changed in ").append(mark).append("\r\n");
            out.append(part.substr(at + 2));
        } else {
            out.append(part);
        }
    }
    return out;
}

struct Versions {
    explicit Versions(std::size_t bytes)
        : base(MakeDocument(bytes)),
          ours(Changed(base, {3, 13, 23, 33, 43}, "ours")),
          theirs(Changed(base, {8, 18, 23, 38, 48}, "theirs")),
          folder(TempFolder()) {
        WriteFile(folder + "/base.vlp", base);
        WriteFile(folder + "/ours.vlp", ours);
        WriteFile(folder + "/theirs.vlp", theirs);
    }
    std::string base, ours, theirs, folder;
};

double ReadOnce(const std::string& path) {
    const auto t0 = Clock::now();
    DocumentBuffer lines;
    ReadDocument(path, lines);
    benchmark::DoNotOptimize(lines.LineCount());
    return SecondsSince(t0);
}

void BM_MergeVersions(benchmark::State& st) {
    const Versions v(static_cast<std::size_t>(st.range(0)) * kMiB);
    double op = 0;
    double floor = 0;
    for (auto _ : st) {
        floor += ReadOnce(v.folder + "/theirs.vlp");
        const auto t0 = Clock::now();
        auto ours = ReadWholeFile(v.folder + "/ours.vlp");
        auto theirs = ReadWholeFile(v.folder + "/theirs.vlp");
        const MergeOutcome outcome =
            MergeVersions(MergeVersion::OfText(v.base), MergeVersion::OfText(std::move(*ours)),
                          MergeVersion::OfText(std::move(*theirs)));
        const std::string merged = outcome.Text();
        benchmark::DoNotOptimize(merged.data());
        const double t = SecondsSince(t0);
        op += t;
        st.SetIterationTime(t);
        if (outcome.Conflicts() != 0 || merged.size() != v.base.size() + 5 * 24 + 5 * 26) {
            st.SkipWithError("the merge is not the one expected");
        }
    }
    st.counters["floor_ratio"] = op / floor;
    st.counters["floor_ms"] = floor * 1000 / static_cast<double>(st.iterations());
}

void BM_TakeDiskChange(benchmark::State& st) {
    const Versions v(static_cast<std::size_t>(st.range(0)) * kMiB);
    const std::string path = v.folder + "/June.vlp";
    double op = 0;
    double floor = 0;
    for (auto _ : st) {
        // The run as it stands after reading base and editing ours, the file now theirs.
        ResetState();
        PlainSession p;
        WriteFile(path, v.base);
        OpenDocumentFile(p.session, path);
        SplitSections(p.session);
        const MergeVersion ours = MergeVersion::OfText(v.ours);
        for (std::size_t k = 0; k < ours.Count(); ++k) {
            p.sections.texts[k] = std::string(ours.Section(k));
        }
        state().Modified = true;
        WriteFile(path + ".new", v.theirs);
        std::rename((path + ".new").c_str(), path.c_str());

        floor += ReadOnce(path);
        const auto t0 = Clock::now();
        const auto report = FollowDiskChange(p.session);
        const double t = SecondsSince(t0);
        op += t;
        st.SetIterationTime(t);
        if (!report || !report->flagged.empty()) {
            st.SkipWithError("the merge is not the one expected");
        }
    }
    st.counters["floor_ratio"] = op / floor;
    st.counters["floor_ms"] = floor * 1000 / static_cast<double>(st.iterations());
}

BENCHMARK(BM_MergeVersions)
    ->ArgNames({"MiB"})
    ->Arg(10)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TakeDiskChange)
    ->ArgNames({"MiB"})
    ->Arg(10)
    ->Arg(100)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran::bench
