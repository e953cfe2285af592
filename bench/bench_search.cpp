#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "core/tools/Search.h"
#include "core/tools/Statistics.h"
#include "util.h"

namespace velloran {
namespace {

// A generated document of `mib` MiB cut into slots at its marker lines, built once per size.
const PlainSlots& SlotsOf(std::size_t mib, PlainList* list = nullptr) {
    static std::map<std::size_t, std::pair<PlainSlots, PlainList>> made;
    auto [it, fresh] = made.try_emplace(mib);
    auto& [slots, titles] = it->second;
    if (fresh) {
        const std::string doc = bench::MakeDocument(mib * bench::kMiB, 50);
        std::string_view rest = doc;
        int k = 0;
        while (!rest.empty()) {
            std::size_t cut = rest.find("\r\n[S] ");
            cut = cut == std::string_view::npos ? rest.size() : cut + 2;
            std::string_view part = rest.substr(0, cut);
            slots.texts[static_cast<std::size_t>(k)] = std::string(part);
            titles.Add(part.substr(0, part.find('\r')));
            rest.remove_prefix(cut);
            ++k;
        }
    }
    if (list) {
        *list = titles;
    }
    return slots;
}

std::size_t TotalBytes(const PlainSlots& slots) {
    std::size_t n = 0;
    for (const auto& t : slots.texts) {
        n += t.size();
    }
    return n;
}

// The floor: every slot's text fetched once and each byte looked at.
void BM_ReadSlots(benchmark::State& state) {
    const auto& slots = SlotsOf(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::size_t breaks = 0;
        for (int k = 0; k < kSectionCount; ++k) {
            const std::string text = slots.SlotText(k);
            for (char c : text) {
                breaks += static_cast<std::size_t>(c == '\n');
            }
        }
        benchmark::DoNotOptimize(breaks);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(TotalBytes(slots)));
}
BENCHMARK(BM_ReadSlots)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// Search All for a word whose first letter is common in the text, and for a single letter.
void SearchAll(benchmark::State& state, std::string_view searchText) {
    PlainList list;
    const auto& slots = SlotsOf(static_cast<std::size_t>(state.range(0)), &list);
    for (auto _ : state) {
        auto rows = SearchAllRows(slots, list, searchText, Encoding::Windows1252);
        benchmark::DoNotOptimize(rows);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(TotalBytes(slots)));
}
void BM_SearchAllWord(benchmark::State& state) {
    SearchAll(state, "Chapter");
}
void BM_SearchAllLetter(benchmark::State& state) {
    SearchAll(state, "E");
}
BENCHMARK(BM_SearchAllWord)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SearchAllLetter)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

// One section of the whole size with its only match at the very end, searched from the start.
void BM_FindNextToEnd(benchmark::State& state) {
    std::string text =
        bench::MakeDocument(static_cast<std::size_t>(state.range(0)) * bench::kMiB, 0);
    text += "Velloran\r\n";
    for (auto _ : state) {
        auto hit = FindNextMatch(text, {0, 0}, "velloran", Encoding::Windows1252);
        benchmark::DoNotOptimize(hit);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FindNextToEnd)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

void BM_Statistics(benchmark::State& state) {
    const auto& slots = SlotsOf(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        auto report = BuildStatistics(slots, kLastSlot, Encoding::Windows1252);
        benchmark::DoNotOptimize(report);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(TotalBytes(slots)));
}
BENCHMARK(BM_Statistics)->Arg(10)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace velloran
