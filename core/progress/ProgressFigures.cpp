#include "core/progress/ProgressFigures.h"

#include <algorithm>
#include <map>

namespace velloran {
namespace {

// The entries of each day, in order of time.
class History {
  public:
    History(std::span<const ProgressEntry> entries, int dayStart) {
        for (const ProgressEntry& e : entries) {
            sorted_.push_back(&e);
        }
        // A clock set back must not scatter a day's entries.
        std::stable_sort(
            sorted_.begin(), sorted_.end(),
            [](const ProgressEntry* a, const ProgressEntry* b) { return a->time < b->time; });
        for (std::size_t i = 0; i < sorted_.size(); ++i) {
            const std::int64_t day = DayOf(sorted_[i]->time, dayStart);
            auto [it, fresh] = days_.try_emplace(day, i, i);
            if (!fresh) {
                it->second.second = i;
            }
        }
    }

    const ProgressEntry* Latest() const { return sorted_.empty() ? nullptr : sorted_.back(); }
    const ProgressEntry* Last(std::int64_t day) const {
        const auto it = days_.find(day);
        return it == days_.end() ? nullptr : sorted_[it->second.second];
    }
    // What the day's words are counted from.
    const ProgressEntry* Baseline(std::int64_t day) const {
        const auto it = days_.find(day);
        if (it != days_.end() && sorted_[it->second.first]->moment == ProgressMoment::Opened) {
            return sorted_[it->second.first];
        }
        if (auto before = days_.lower_bound(day); before != days_.begin()) {
            return sorted_[std::prev(before)->second.second];
        }
        return it == days_.end() ? nullptr : sorted_[it->second.first];
    }

  private:
    std::vector<const ProgressEntry*> sorted_;
    std::map<std::int64_t, std::pair<std::size_t, std::size_t>> days_;
};

std::uint64_t Gain(std::uint64_t from, std::uint64_t to) {
    return to > from ? to - from : 0;
}

}  // namespace

std::vector<std::optional<std::size_t>> MatchSections(std::span<const SectionWords> before,
                                                      std::span<const SectionWords> now) {
    const std::size_t m = before.size();
    const std::size_t n = now.size();
    // The longest run of titles both have in the same order.
    std::vector<std::size_t> common((m + 1) * (n + 1), 0);
    auto at = [&](std::size_t i, std::size_t j) -> std::size_t& { return common[i * (n + 1) + j]; };
    for (std::size_t i = m; i-- > 0;) {
        for (std::size_t j = n; j-- > 0;) {
            at(i, j) = before[i].title == now[j].title ? at(i + 1, j + 1) + 1
                                                       : std::max(at(i + 1, j), at(i, j + 1));
        }
    }
    std::vector<std::optional<std::size_t>> match(n);
    std::vector<bool> used(m, false);
    std::vector<std::pair<std::size_t, std::size_t>> anchors;
    for (std::size_t i = 0, j = 0; i < m && j < n;) {
        if (before[i].title == now[j].title && at(i, j) == at(i + 1, j + 1) + 1) {
            anchors.emplace_back(i, j);
            match[j] = i;
            used[i] = true;
            ++i;
            ++j;
        } else if (at(i + 1, j) >= at(i, j + 1)) {
            ++i;
        } else {
            ++j;
        }
    }
    // A section moved elsewhere keeps its title.
    for (std::size_t j = 0; j < n; ++j) {
        for (std::size_t i = 0; i < m && !match[j]; ++i) {
            if (!used[i] && before[i].title == now[j].title) {
                match[j] = i;
                used[i] = true;
            }
        }
    }
    // The rest between two sections that agree are taken in order: a title changed there is the
    // same section renamed.
    anchors.emplace_back(m, n);
    std::size_t fromBefore = 0;
    std::size_t fromNow = 0;
    for (const auto& [endBefore, endNow] : anchors) {
        std::size_t i = fromBefore;
        for (std::size_t j = fromNow; j < endNow; ++j) {
            if (match[j]) {
                continue;
            }
            while (i < endBefore && used[i]) {
                ++i;
            }
            if (i == endBefore) {
                break;
            }
            match[j] = i;
            used[i] = true;
        }
        fromBefore = endBefore + 1;
        fromNow = endNow + 1;
    }
    return match;
}

ProgressFigures ComputeFigures(std::span<const ProgressEntry> history,
                               const std::optional<ProgressEntry>& now, std::int64_t nowTime,
                               int days, int goal, int dayStart) {
    const History h(history, dayStart);
    ProgressFigures f;
    f.today = DayOf(nowTime, dayStart);
    f.goal = std::max(goal, 0);

    auto last = [&](std::int64_t day) { return day == f.today && now ? &*now : h.Last(day); };
    auto wordsOn = [&](std::int64_t day) -> std::uint64_t {
        const ProgressEntry* end = last(day);
        const ProgressEntry* start = h.Baseline(day);
        return end && start ? Gain(start->Words(), end->Words()) : 0;
    };

    for (std::int64_t d = f.today - std::max(days, 1) + 1; d <= f.today; ++d) {
        f.days.push_back({d, wordsOn(d)});
    }
    f.wordsToday = wordsOn(f.today);
    if (f.goal > 0) {
        const auto goalWords = static_cast<std::uint64_t>(f.goal);
        // Today does not break the streak before it is over.
        std::int64_t d = f.wordsToday >= goalWords ? f.today : f.today - 1;
        while (wordsOn(d) >= goalWords) {
            ++f.streak;
            --d;
        }
    }

    const ProgressEntry* current = now ? &*now : h.Latest();
    if (!current) {
        return f;
    }
    f.wordsNow = current->Words();
    f.encoding = current->encoding;
    const ProgressEntry* start = last(f.today) ? h.Baseline(f.today) : nullptr;
    const auto match = start ? MatchSections(start->sections, current->sections)
                             : std::vector<std::optional<std::size_t>>(current->sections.size());
    for (std::size_t k = 0; k < current->sections.size(); ++k) {
        const SectionWords& s = current->sections[k];
        std::uint64_t today = 0;
        if (start) {
            today = match[k] ? Gain(start->sections[*match[k]].words, s.words) : s.words;
        }
        f.sections.push_back({k, s.title, s.words, today});
    }
    return f;
}

void KeepEntry(std::vector<ProgressEntry>& history, ProgressEntry entry, int dayStart) {
    const std::int64_t day = DayOf(entry.time, dayStart);
    const std::size_t n = history.size();
    if (n >= 2 && DayOf(history[n - 1].time, dayStart) == day &&
        DayOf(history[n - 2].time, dayStart) == day) {
        history.back() = std::move(entry);
    } else {
        history.push_back(std::move(entry));
    }
}

}  // namespace velloran
