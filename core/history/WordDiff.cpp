#include "core/history/WordDiff.h"

#include <dtl/dtl.hpp>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <unordered_map>

namespace velloran {
namespace {

// The most elements one comparison by dtl takes, whose cost grows with their number times the
// edits between them: larger stretches are first cut at the elements that occur once on each
// side, in the same order.
constexpr std::size_t kMostCompared = 2000;
// What all comparisons of one diff may cost together, in the worst case of each.
constexpr std::uint64_t kMostWork = 2'000'000;
constexpr int kMostDepth = 12;
// Changed lines are compared word by word up to this many words and spaces.
constexpr std::size_t kMostHunkTokens = 200'000;

enum class Op : unsigned char { Same, Del, Add };

struct Run {
    Op op;
    std::size_t count;
    bool whole;  // given up on: the stretch as a whole, too costly to compare
};

void Append(std::vector<Run>& out, Op op, std::size_t count, bool whole = false) {
    if (count == 0) {
        return;
    }
    if (!out.empty() && out.back().op == op && out.back().whole == whole) {
        out.back().count += count;
        return;
    }
    out.push_back({op, count, whole});
}

using Ids = std::span<const std::uint32_t>;

class Differ {
  public:
    bool gaveUp = false;
    bool Exhausted() const { return work_ >= kMostWork; }

    void Diff(Ids a, Ids b, int depth, std::vector<Run>& out) {
        std::size_t head = 0;
        while (head < a.size() && head < b.size() && a[head] == b[head]) {
            ++head;
        }
        std::size_t tail = 0;
        while (tail < a.size() - head && tail < b.size() - head &&
               a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
            ++tail;
        }
        Append(out, Op::Same, head);
        const Ids ma = a.subspan(head, a.size() - head - tail);
        const Ids mb = b.subspan(head, b.size() - head - tail);
        const std::uint64_t n = ma.size();
        const std::uint64_t m = mb.size();
        const std::uint64_t cost = (n + m) * std::min(n, m);
        std::vector<std::pair<std::size_t, std::size_t>> anchors;
        if (n == 0 || m == 0) {
            Append(out, Op::Del, ma.size());
            Append(out, Op::Add, mb.size());
        } else if (n + m <= kMostCompared && work_ + cost <= kMostWork) {
            work_ += cost;
            Compare(ma, mb, out);
        } else if (depth < kMostDepth && work_ + n + m <= kMostWork &&
                   (work_ += n + m, Anchors(ma, mb, anchors))) {
            std::size_t pa = 0;
            std::size_t pb = 0;
            for (const auto& [ia, ib] : anchors) {
                Diff(ma.subspan(pa, ia - pa), mb.subspan(pb, ib - pb), depth + 1, out);
                Append(out, Op::Same, 1);
                pa = ia + 1;
                pb = ib + 1;
            }
            Diff(ma.subspan(pa), mb.subspan(pb), depth + 1, out);
        } else {
            gaveUp = true;
            Append(out, Op::Del, ma.size(), true);
            Append(out, Op::Add, mb.size(), true);
        }
        Append(out, Op::Same, tail);
    }

  private:
    static void Compare(Ids a, Ids b, std::vector<Run>& out) {
        const std::vector<std::uint32_t> va(a.begin(), a.end());
        const std::vector<std::uint32_t> vb(b.begin(), b.end());
        dtl::Diff<std::uint32_t> diff(va, vb);
        diff.compose();
        for (const auto& [element, info] : diff.getSes().getSequence()) {
            (void)element;
            switch (info.type) {
                case dtl::SES_COMMON:
                    Append(out, Op::Same, 1);
                    break;
                case dtl::SES_DELETE:
                    Append(out, Op::Del, 1);
                    break;
                case dtl::SES_ADD:
                    Append(out, Op::Add, 1);
                    break;
            }
        }
    }

    // The elements that occur once in a and once in b, the longest run of them in the same order
    // on both sides.
    static bool Anchors(Ids a, Ids b, std::vector<std::pair<std::size_t, std::size_t>>& out) {
        struct Seen {
            std::size_t inA = 0;
            std::size_t inB = 0;
            std::size_t atB = 0;
        };
        std::unordered_map<std::uint32_t, Seen> seen;
        seen.reserve(a.size() + b.size());
        for (const std::uint32_t x : a) {
            ++seen[x].inA;
        }
        for (std::size_t i = 0; i < b.size(); ++i) {
            const auto it = seen.find(b[i]);
            if (it != seen.end()) {
                ++it->second.inB;
                it->second.atB = i;
            }
        }
        std::vector<std::pair<std::size_t, std::size_t>> pairs;
        for (std::size_t i = 0; i < a.size(); ++i) {
            const Seen& s = seen[a[i]];
            if (s.inA == 1 && s.inB == 1) {
                pairs.emplace_back(i, s.atB);
            }
        }
        if (pairs.empty()) {
            return false;
        }
        // Patience sorting: tops[len] is the pair ending the best run of length len + 1.
        std::vector<std::size_t> tops;
        std::vector<std::size_t> before(pairs.size(), static_cast<std::size_t>(-1));
        for (std::size_t i = 0; i < pairs.size(); ++i) {
            const auto at = std::lower_bound(
                tops.begin(), tops.end(), pairs[i].second,
                [&](std::size_t top, std::size_t v) { return pairs[top].second < v; });
            if (at != tops.begin()) {
                before[i] = *(at - 1);
            }
            if (at == tops.end()) {
                tops.push_back(i);
            } else {
                *at = i;
            }
        }
        for (std::size_t i = tops.back(); i != static_cast<std::size_t>(-1); i = before[i]) {
            out.push_back(pairs[i]);
        }
        std::reverse(out.begin(), out.end());
        return true;
    }

    std::uint64_t work_ = 0;
};

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Lines, each with its line break.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t lf = text.find('\n', at);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        lines.push_back(text.substr(at, end - at));
        at = end;
    }
    return lines;
}

// Words and the spaces between them, each a token.
std::vector<std::string_view> Tokens(std::string_view text) {
    std::vector<std::string_view> tokens;
    std::size_t at = 0;
    while (at < text.size()) {
        const bool space = IsSpace(text[at]);
        std::size_t end = at + 1;
        while (end < text.size() && IsSpace(text[end]) == space) {
            ++end;
        }
        tokens.push_back(text.substr(at, end - at));
        at = end;
    }
    return tokens;
}

std::size_t WordsIn(std::string_view text) {
    std::size_t words = 0;
    bool inWord = false;
    for (const char c : text) {
        const bool space = IsSpace(c);
        words += !space && !inWord ? 1 : 0;
        inWord = !space;
    }
    return words;
}

class Interner {
  public:
    std::vector<std::uint32_t> Ids(const std::vector<std::string_view>& pieces) {
        std::vector<std::uint32_t> ids;
        ids.reserve(pieces.size());
        for (const std::string_view p : pieces) {
            ids.push_back(
                map_.try_emplace(p, static_cast<std::uint32_t>(map_.size())).first->second);
        }
        return ids;
    }

  private:
    std::unordered_map<std::string_view, std::uint32_t> map_;
};

void Emit(TextDiff& diff, DiffKind kind, std::string_view text) {
    if (text.empty()) {
        return;
    }
    if (!diff.pieces.empty()) {
        DiffPiece& last = diff.pieces.back();
        if (last.kind == kind && last.text.data() + last.text.size() == text.data()) {
            last.text = std::string_view(last.text.data(), last.text.size() + text.size());
            return;
        }
    }
    diff.pieces.push_back({kind, text});
}

// The text of pieces [from, from + count) that lie one after the other.
std::string_view Span(const std::vector<std::string_view>& pieces, std::size_t from,
                      std::size_t count) {
    if (count == 0) {
        return {};
    }
    const std::string_view last = pieces[from + count - 1];
    return {pieces[from].data(),
            static_cast<std::size_t>(last.data() + last.size() - pieces[from].data())};
}

// Emits runs over the pieces of a and b; hunks of changed pieces go to onHunk. A piece the same
// on both sides for which joins returns true, between two changes, joins them into one, so that
// words changed one after the other read as one change.
template <typename OnHunk, typename Joins>
void Walk(const std::vector<Run>& runs, const std::vector<std::string_view>& a,
          const std::vector<std::string_view>& b, TextDiff& diff, OnHunk onHunk, Joins joins) {
    std::size_t ia = 0;
    std::size_t ib = 0;
    for (std::size_t r = 0; r < runs.size();) {
        if (runs[r].op == Op::Same) {
            Emit(diff, DiffKind::Same, Span(a, ia, runs[r].count));
            ia += runs[r].count;
            ib += runs[r].count;
            ++r;
            continue;
        }
        std::size_t del = 0;
        std::size_t add = 0;
        bool whole = false;
        for (;;) {
            for (; r < runs.size() && runs[r].op != Op::Same; ++r) {
                (runs[r].op == Op::Del ? del : add) += runs[r].count;
                whole = whole || runs[r].whole;
            }
            if (r + 1 < runs.size() && runs[r].count == 1 && joins(a[ia + del])) {
                ++del;
                ++add;
                ++r;
                continue;
            }
            break;
        }
        onHunk(Span(a, ia, del), Span(b, ib, add), whole);
        ia += del;
        ib += add;
    }
}

}  // namespace

TextDiff DiffWords(std::string_view before, std::string_view after) {
    TextDiff diff;
    Differ differ;
    const std::vector<std::string_view> la = Lines(before);
    const std::vector<std::string_view> lb = Lines(after);
    std::vector<Run> lineRuns;
    {
        Interner lines;
        const std::vector<std::uint32_t> ia = lines.Ids(la);
        const std::vector<std::uint32_t> ib = lines.Ids(lb);
        differ.Diff(ia, ib, 0, lineRuns);
    }
    Walk(
        lineRuns, la, lb, diff,
        [&](std::string_view removed, std::string_view added, bool whole) {
            const std::vector<std::string_view> ta = Tokens(removed);
            const std::vector<std::string_view> tb = Tokens(added);
            if (whole || removed.empty() || added.empty() ||
                ta.size() + tb.size() > kMostHunkTokens) {
                Emit(diff, DiffKind::Deleted, removed);
                Emit(diff, DiffKind::Inserted, added);
                return;
            }
            Interner words;
            const std::vector<std::uint32_t> ia = words.Ids(ta);
            const std::vector<std::uint32_t> ib = words.Ids(tb);
            std::vector<Run> wordRuns;
            differ.Diff(ia, ib, 0, wordRuns);
            Walk(
                wordRuns, ta, tb, diff,
                [&](std::string_view r, std::string_view a, bool) {
                    Emit(diff, DiffKind::Deleted, r);
                    Emit(diff, DiffKind::Inserted, a);
                },
                [](std::string_view token) {
                    return IsSpace(token.front()) &&
                           token.find_first_of("\r\n") == std::string_view::npos;
                });
        },
        [](std::string_view) { return false; });
    diff.byLines = differ.gaveUp;
    for (const DiffPiece& p : diff.pieces) {
        if (p.kind == DiffKind::Deleted) {
            diff.wordsRemoved += WordsIn(p.text);
        } else if (p.kind == DiffKind::Inserted) {
            diff.wordsAdded += WordsIn(p.text);
        }
    }
    return diff;
}

}  // namespace velloran
