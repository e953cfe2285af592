#include "core/merge/LineMerge.h"

#include <algorithm>
#include <unordered_map>

namespace velloran {
namespace {

// A region whose shortest edit script is longer than this many steps is taken as one change:
// the search costs (lines) x (steps), and prose rewritten that much merges no better line by line.
constexpr long kMostSteps = 2000;

class Differ {
  public:
    Differ(const std::vector<int>& a, const std::vector<int>& b) : a_(a), b_(b) {}

    std::vector<LineHunk> Run() {
        Compare(0, static_cast<long>(a_.size()), 0, static_cast<long>(b_.size()));
        // Pieces found apart that meet are one change.
        std::vector<LineHunk> joined;
        for (const LineHunk& h : hunks_) {
            if (!joined.empty() && joined.back().baseEnd == h.baseBegin &&
                joined.back().sideEnd == h.sideBegin) {
                joined.back().baseEnd = h.baseEnd;
                joined.back().sideEnd = h.sideEnd;
            } else {
                joined.push_back(h);
            }
        }
        return joined;
    }

  private:
    void Emit(long a0, long a1, long b0, long b1) {
        if (a0 != a1 || b0 != b1) {
            hunks_.push_back({static_cast<std::size_t>(a0), static_cast<std::size_t>(a1),
                              static_cast<std::size_t>(b0), static_cast<std::size_t>(b1)});
        }
    }

    // a_[a0, a1) against b_[b0, b1).
    void Compare(long a0, long a1, long b0, long b1) {
        while (a0 < a1 && b0 < b1 && a_[a0] == b_[b0]) {
            ++a0;
            ++b0;
        }
        while (a0 < a1 && b0 < b1 && a_[a1 - 1] == b_[b1 - 1]) {
            --a1;
            --b1;
        }
        if (a0 == a1 || b0 == b1) {
            Emit(a0, a1, b0, b1);
            return;
        }
        long x = 0;
        long y = 0;
        if (!MiddleSnake(a0, a1, b0, b1, x, y)) {
            Emit(a0, a1, b0, b1);
            return;
        }
        // With the ends trimmed, the script has two steps at least, so the point lies strictly
        // inside and each half is smaller.
        Compare(a0, x, b0, y);
        Compare(x, a1, y, b1);
    }

    // A point (x, y) on a shortest edit path of the region; false past kMostSteps.
    bool MiddleSnake(long a0, long a1, long b0, long b1, long& outX, long& outY) {
        const long n = a1 - a0;
        const long m = b1 - b0;
        const long delta = n - m;
        const bool odd = (delta & 1) != 0;
        const long most = std::min((n + m + 1) / 2, kMostSteps);
        const long offset = most + 1;
        forward_.assign(static_cast<std::size_t>(2 * most + 3), 0);
        backward_.assign(static_cast<std::size_t>(2 * most + 3), 0);
        auto fw = [&](long k) -> long& { return forward_[static_cast<std::size_t>(k + offset)]; };
        auto bw = [&](long k) -> long& { return backward_[static_cast<std::size_t>(k + offset)]; };
        for (long d = 0; d <= most; ++d) {
            for (long k = -d; k <= d; k += 2) {
                long x = (k == -d || (k != d && fw(k - 1) < fw(k + 1))) ? fw(k + 1) : fw(k - 1) + 1;
                long y = x - k;
                while (x < n && y < m && a_[a0 + x] == b_[b0 + y]) {
                    ++x;
                    ++y;
                }
                fw(k) = x;
                // Backward diagonal delta - k, reached in d - 1 steps.
                const long back = delta - k;
                if (odd && back >= -(d - 1) && back <= d - 1 && x + bw(back) >= n) {
                    outX = a0 + x;
                    outY = b0 + y;
                    return true;
                }
            }
            for (long k = -d; k <= d; k += 2) {
                // Distances from the end: x back along a, y back along b.
                long x = (k == -d || (k != d && bw(k - 1) < bw(k + 1))) ? bw(k + 1) : bw(k - 1) + 1;
                long y = x - k;
                while (x < n && y < m && a_[a1 - 1 - x] == b_[b1 - 1 - y]) {
                    ++x;
                    ++y;
                }
                bw(k) = x;
                const long ahead = delta - k;
                if (!odd && ahead >= -d && ahead <= d && x + fw(ahead) >= n) {
                    outX = a1 - x;
                    outY = b1 - y;
                    return true;
                }
            }
        }
        return false;
    }

    const std::vector<int>& a_;
    const std::vector<int>& b_;
    std::vector<long> forward_;
    std::vector<long> backward_;
    std::vector<LineHunk> hunks_;
};

// Lines as numbers, equal lines equal numbers, so that comparing them is one comparison.
class LineNumbers {
  public:
    std::vector<int> Of(std::span<const std::string_view> lines) {
        std::vector<int> out;
        out.reserve(lines.size());
        for (std::string_view line : lines) {
            out.push_back(
                numbers_.try_emplace(line, static_cast<int>(numbers_.size())).first->second);
        }
        return out;
    }

  private:
    std::unordered_map<std::string_view, int> numbers_;
};

void AppendLines(std::span<const std::string_view> lines, std::size_t from, std::size_t to,
                 std::string& out) {
    for (std::size_t i = from; i < to; ++i) {
        out.append(lines[i]).append("\r\n");
    }
}

bool SameLines(std::span<const std::string_view> a, std::span<const std::string_view> b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

}  // namespace

std::vector<LineHunk> DiffLines(std::span<const std::string_view> base,
                                std::span<const std::string_view> side) {
    LineNumbers numbers;
    const std::vector<int> a = numbers.Of(base);
    const std::vector<int> b = numbers.Of(side);
    return Differ(a, b).Run();
}

int MergeLines(std::span<const std::string_view> base, std::span<const std::string_view> ours,
               std::span<const std::string_view> theirs, const ConflictMarkers& markers,
               std::string& out) {
    LineNumbers numbers;
    const std::vector<int> b = numbers.Of(base);
    const std::vector<int> o = numbers.Of(ours);
    const std::vector<int> t = numbers.Of(theirs);
    const std::vector<LineHunk> byOurs = Differ(b, o).Run();
    const std::vector<LineHunk> byTheirs = Differ(b, t).Run();

    int conflicts = 0;
    std::size_t done = 0;  // base lines written or replaced so far
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < byOurs.size() || j < byTheirs.size()) {
        // A group: hunks of either side that change the same base lines, or insert at the
        // same place. Changes of neighbouring lines are apart: each side's stays as it made it.
        // Of hunks at one place an insertion comes first, so that it lands before the lines a
        // change there replaces.
        auto key = [](const LineHunk& h) {
            return std::pair(h.baseBegin, h.baseEnd != h.baseBegin);
        };
        const bool oursFirst =
            j == byTheirs.size() || (i < byOurs.size() && key(byOurs[i]) <= key(byTheirs[j]));
        const std::size_t begin = oursFirst ? byOurs[i].baseBegin : byTheirs[j].baseBegin;
        std::size_t end = begin;
        const std::size_t firstOurs = i;
        const std::size_t firstTheirs = j;
        auto joins = [&](const LineHunk& h, bool first) {
            return first || h.baseBegin < end ||
                   (begin == end && h.baseBegin == end && h.baseEnd == end);
        };
        for (bool grew = true; grew;) {
            grew = false;
            if (i < byOurs.size() && joins(byOurs[i], oursFirst && i == firstOurs)) {
                end = std::max(end, byOurs[i].baseEnd);
                ++i;
                grew = true;
            }
            if (j < byTheirs.size() && joins(byTheirs[j], !oursFirst && j == firstTheirs)) {
                end = std::max(end, byTheirs[j].baseEnd);
                ++j;
                grew = true;
            }
        }
        AppendLines(base, done, begin, out);
        done = end;
        // Each side's version of base lines [begin, end).
        auto sideLines = [&](std::span<const std::string_view> side,
                             const std::vector<LineHunk>& hunks, std::size_t first,
                             std::size_t last) {
            if (first == last) {
                return base.subspan(begin, end - begin);
            }
            const std::size_t from = hunks[first].sideBegin - (hunks[first].baseBegin - begin);
            const std::size_t to = hunks[last - 1].sideEnd + (end - hunks[last - 1].baseEnd);
            return side.subspan(from, to - from);
        };
        const auto mine = sideLines(ours, byOurs, firstOurs, i);
        const auto yours = sideLines(theirs, byTheirs, firstTheirs, j);
        if (firstTheirs == j || SameLines(mine, yours)) {
            AppendLines(mine, 0, mine.size(), out);
        } else if (firstOurs == i) {
            AppendLines(yours, 0, yours.size(), out);
        } else {
            ++conflicts;
            out.append(markers.start).append("\r\n");
            AppendLines(mine, 0, mine.size(), out);
            out.append(markers.middle).append("\r\n");
            AppendLines(yours, 0, yours.size(), out);
            out.append(markers.end).append("\r\n");
        }
    }
    AppendLines(base, done, base.size(), out);
    return conflicts;
}

}  // namespace velloran
