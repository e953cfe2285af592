#include "core/merge/Merge.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "core/document/Lines.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/merge/LineMerge.h"

namespace velloran {
namespace {

std::string CrLfLines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    ForEachLogicalLine(text, [&](std::string_view line) { out.append(line).append("\r\n"); });
    return out;
}

std::string_view FirstLine(std::string_view text) {
    return text.substr(0, text.find('\r'));
}
std::string_view Body(std::string_view text) {
    const std::size_t cut = text.find('\n');
    return cut == std::string_view::npos ? std::string_view{} : text.substr(cut + 1);
}

std::vector<std::string_view> LinesOf(std::string_view crlfText) {
    return LogicalLines(crlfText);
}

// For each section of side, the base section it is, or -1 for one that is new there. Sections are
// taken for the same one by, in turn: the same text, the same title, the same text below the
// title, and last what is left between two sections already matched, in order: a section whose
// title and text both changed is still the one that stood there.
std::vector<int> MatchSections(const MergeVersion& base, const MergeVersion& side) {
    const int nb = static_cast<int>(base.Count());
    const int ns = static_cast<int>(side.Count());
    std::vector<int> match(static_cast<std::size_t>(ns), -1);
    std::vector<bool> taken(static_cast<std::size_t>(nb), false);
    // The text before the first marker is always the same section.
    match[0] = 0;
    taken[0] = true;
    auto pass = [&](auto keyOf) {
        std::unordered_multimap<std::string_view, int> byKey;
        for (int b = nb - 1; b >= 1; --b) {
            if (!taken[static_cast<std::size_t>(b)]) {
                if (auto key = keyOf(base.Section(static_cast<std::size_t>(b)))) {
                    byKey.emplace(*key, b);
                }
            }
        }
        for (int x = 1; x < ns; ++x) {
            if (match[static_cast<std::size_t>(x)] >= 0) {
                continue;
            }
            auto key = keyOf(side.Section(static_cast<std::size_t>(x)));
            if (!key) {
                continue;
            }
            // The earliest base section not taken yet with this key.
            auto [from, to] = byKey.equal_range(*key);
            int best = -1;
            for (auto it = from; it != to; ++it) {
                if (!taken[static_cast<std::size_t>(it->second)] &&
                    (best < 0 || it->second < best)) {
                    best = it->second;
                }
            }
            if (best >= 0) {
                match[static_cast<std::size_t>(x)] = best;
                taken[static_cast<std::size_t>(best)] = true;
            }
        }
    };
    // The same text: by size first, so that no large text is hashed; most sections stand where
    // they stood.
    {
        std::unordered_multimap<std::size_t, int> bySize;
        for (int b = nb - 1; b >= 1; --b) {
            bySize.emplace(base.Section(static_cast<std::size_t>(b)).size(), b);
        }
        for (int x = 1; x < ns; ++x) {
            const std::string_view text = side.Section(static_cast<std::size_t>(x));
            int best = -1;
            if (x < nb && !taken[static_cast<std::size_t>(x)] &&
                base.Section(static_cast<std::size_t>(x)) == text) {
                best = x;
            } else {
                auto [from, to] = bySize.equal_range(text.size());
                for (auto it = from; it != to; ++it) {
                    if (!taken[static_cast<std::size_t>(it->second)] &&
                        (best < 0 || it->second < best) &&
                        base.Section(static_cast<std::size_t>(it->second)) == text) {
                        best = it->second;
                    }
                }
            }
            if (best >= 0) {
                match[static_cast<std::size_t>(x)] = best;
                taken[static_cast<std::size_t>(best)] = true;
            }
        }
    }
    pass([](std::string_view t) { return std::optional(FirstLine(t)); });
    pass([](std::string_view t) {
        const std::string_view body = Body(t);
        return body.empty() ? std::nullopt : std::optional(body);
    });
    // What is left between two matched sections, paired in order.
    int x = 1;
    while (x < ns) {
        if (match[static_cast<std::size_t>(x)] >= 0) {
            ++x;
            continue;
        }
        int prevBase = 0;
        for (int p = x - 1; p >= 0; --p) {
            if (match[static_cast<std::size_t>(p)] >= 0) {
                prevBase = match[static_cast<std::size_t>(p)];
                break;
            }
        }
        int gapEnd = x;
        while (gapEnd < ns && match[static_cast<std::size_t>(gapEnd)] < 0) {
            ++gapEnd;
        }
        const int nextBase = gapEnd < ns ? match[static_cast<std::size_t>(gapEnd)] : nb;
        int b = prevBase + 1;
        for (int y = x; y < gapEnd && b < nextBase; ++y, ++b) {
            while (b < nextBase && taken[static_cast<std::size_t>(b)]) {
                ++b;
            }
            if (b < nextBase) {
                match[static_cast<std::size_t>(y)] = b;
                taken[static_cast<std::size_t>(b)] = true;
            }
        }
        x = gapEnd;
    }
    return match;
}

bool InOrder(const std::vector<int>& match) {
    int last = -1;
    for (int b : match) {
        if (b >= 0) {
            if (b < last) {
                return false;
            }
            last = b;
        }
    }
    return true;
}

struct Side {
    const MergeVersion& version;
    std::vector<int> match;  // side section -> base section
    std::vector<int> of;     // base section -> side section, -1 where removed
    std::string_view Text(int k) const { return version.Section(static_cast<std::size_t>(k)); }
};

Side MakeSide(const MergeVersion& base, const MergeVersion& version) {
    Side side{version, MatchSections(base, version), {}};
    side.of.assign(base.Count(), -1);
    for (std::size_t x = 0; x < side.match.size(); ++x) {
        if (side.match[x] >= 0) {
            side.of[static_cast<std::size_t>(side.match[x])] = static_cast<int>(x);
        }
    }
    return side;
}

MergedSection Own(std::string text, SectionMerge how) {
    MergedSection m;
    auto held = std::make_shared<const std::string>(std::move(text));
    m.text = *held;
    m.own = std::move(held);
    m.how = how;
    return m;
}

ConflictMarkers MarkersOf(const MergeLabels& labels) {
    return {std::string(kConflictStart) + "as changed " + labels.ours, std::string(kConflictMiddle),
            std::string(kConflictEnd) + "as changed " + labels.theirs};
}

// Theirs' title below ours', where it opens no section.
void AppendTitleConflict(std::string_view theirs, const ConflictMarkers& markers,
                         std::string& out) {
    out.append(markers.start).append(": the title above\r\n");
    out.append(markers.middle).append("\r\n");
    out.append(" ").append(theirs).append("\r\n");
    out.append(markers.end).append(", after a blank that keeps it from opening a section\r\n");
}

// Two versions of a section without the one they came from: the lines alike stay, and each
// place where they differ keeps both, since either side may be the one that changed it.
MergedSection MergeUnrelated(int b, std::string_view ours, std::string_view theirs,
                             const MergeLabels& labels) {
    const ConflictMarkers markers = MarkersOf(labels);
    const std::vector<std::string_view> ol = LinesOf(ours);
    const std::vector<std::string_view> tl = LinesOf(theirs);
    std::string out;
    out.reserve(ours.size() + theirs.size() + 256);
    int conflicts = 0;
    std::size_t from = 0;
    if (b > 0 && !ol.empty() && !tl.empty()) {
        out.append(ol[0]).append("\r\n");
        if (ol[0] != tl[0]) {
            ++conflicts;
            AppendTitleConflict(tl[0], markers, out);
        }
        from = 1;
    }
    const auto mine = std::span<const std::string_view>(ol).subspan(std::min(from, ol.size()));
    const auto yours = std::span<const std::string_view>(tl).subspan(std::min(from, tl.size()));
    auto append = [&](std::span<const std::string_view> lines, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            out.append(lines[i]).append("\r\n");
        }
    };
    std::size_t at = 0;
    for (const LineHunk& h : DiffLines(mine, yours)) {
        append(mine, at, h.baseBegin);
        ++conflicts;
        out.append(markers.start).append("\r\n");
        append(mine, h.baseBegin, h.baseEnd);
        out.append(markers.middle).append("\r\n");
        append(yours, h.sideBegin, h.sideEnd);
        out.append(markers.end).append("\r\n");
        at = h.baseEnd;
    }
    append(mine, at, mine.size());
    MergedSection m = Own(std::move(out), SectionMerge::Conflict);
    m.conflicts = conflicts;
    return m;
}

// A base section both sides kept.
MergedSection MergeSection(int b, std::string_view base, std::string_view ours,
                           std::string_view theirs, const MergeLabels& labels, bool unknownBase) {
    MergedSection m;
    if (ours != theirs && unknownBase) {
        return MergeUnrelated(b, ours, theirs, labels);
    }
    if (ours == theirs) {
        m.text = ours;
        m.how = ours == base ? SectionMerge::Unchanged : SectionMerge::Same;
        return m;
    }
    if (theirs == base) {
        m.text = ours;
        m.how = SectionMerge::Ours;
        return m;
    }
    if (ours == base) {
        m.text = theirs;
        m.how = SectionMerge::Theirs;
        return m;
    }
    const ConflictMarkers markers = MarkersOf(labels);
    std::vector<std::string_view> bl = LinesOf(base);
    std::vector<std::string_view> ol = LinesOf(ours);
    std::vector<std::string_view> tl = LinesOf(theirs);
    std::string out;
    out.reserve(std::max(ours.size(), theirs.size()) + 256);
    int conflicts = 0;
    std::size_t from = 0;
    if (b > 0 && !bl.empty() && !ol.empty() && !tl.empty()) {
        // A section's title is its first line, which must stay first and stay its only marker
        // line: it merges on its own, and a title changed on both sides keeps ours, with theirs
        // after a blank in a conflict below it, where it opens no section.
        const std::string_view title = bl[0] == tl[0] ? ol[0] : (bl[0] == ol[0] ? tl[0] : ol[0]);
        out.append(title).append("\r\n");
        if (bl[0] != ol[0] && bl[0] != tl[0] && ol[0] != tl[0]) {
            ++conflicts;
            AppendTitleConflict(tl[0], markers, out);
        }
        from = 1;
    }
    auto tail = [from](const std::vector<std::string_view>& v) {
        return std::span<const std::string_view>(v).subspan(std::min(from, v.size()));
    };
    conflicts += MergeLines(tail(bl), tail(ol), tail(tl), markers, out);
    m = Own(std::move(out), conflicts > 0 ? SectionMerge::Conflict : SectionMerge::Merged);
    m.conflicts = conflicts;
    return m;
}

std::string Quoted(std::string_view title) {
    return "\"" + std::string(title) + "\"";
}

}  // namespace

MergeVersion MergeVersion::OfText(SharedBytes bytes) {
    MergeVersion v;
    std::size_t lines = 0;
    if (!IsCrLfText(*bytes, &lines)) {
        bytes = std::make_shared<const std::string>(CrLfLines(*bytes));
    }
    v.sections_ = SectionTexts(*bytes);
    // Reading cuts an empty text into one empty section too.
    v.held_.push_back(std::move(bytes));
    return v;
}

MergeVersion MergeVersion::OfText(std::string bytes) {
    return OfText(std::make_shared<const std::string>(std::move(bytes)));
}

MergeVersion MergeVersion::OfSections(std::span<const std::string_view> texts) {
    MergeVersion v;
    for (std::string_view text : texts) {
        std::size_t lines = 0;
        if (IsCrLfText(text, &lines)) {
            v.sections_.push_back(text);
        } else {
            auto own = std::make_shared<const std::string>(CrLfLines(text));
            v.sections_.push_back(*own);
            v.held_.push_back(std::move(own));
        }
    }
    if (v.sections_.empty()) {
        v.sections_.emplace_back();
    }
    return v;
}

MergeVersion CommonVersion(const MergeVersion& ours, const MergeVersion& theirs) {
    const std::vector<int> match = MatchSections(ours, theirs);
    std::vector<int> of(ours.Count(), -1);
    for (std::size_t y = 0; y < match.size(); ++y) {
        if (match[y] >= 0) {
            of[static_cast<std::size_t>(match[y])] = static_cast<int>(y);
        }
    }
    MergeVersion common;
    for (std::size_t k = 0; k < ours.Count(); ++k) {
        if (of[k] < 0) {
            common.sections_.emplace_back();
            common.absent_.push_back(true);
            continue;
        }
        const std::vector<std::string_view> a = LinesOf(ours.Section(k));
        const std::vector<std::string_view> b =
            LinesOf(theirs.Section(static_cast<std::size_t>(of[k])));
        auto text = std::make_shared<std::string>();
        std::size_t at = 0;
        for (const LineHunk& h : DiffLines(a, b)) {
            for (; at < h.baseBegin; ++at) {
                text->append(a[at]).append("\r\n");
            }
            at = h.baseEnd;
        }
        for (; at < a.size(); ++at) {
            text->append(a[at]).append("\r\n");
        }
        common.sections_.push_back(*text);
        common.held_.push_back(std::move(text));
        common.absent_.push_back(false);
    }
    common.unknown_ = true;
    return common;
}

int MergeOutcome::Conflicts() const {
    int n = 0;
    for (const MergedSection& m : sections) {
        n += m.conflicts;
        if (m.how == SectionMerge::KeptOurs || m.how == SectionMerge::KeptTheirs) {
            ++n;
        }
    }
    return n;
}

std::string MergeOutcome::Text() const {
    std::size_t size = 0;
    for (const MergedSection& m : sections) {
        size += m.text.size();
    }
    std::string out;
    out.reserve(size);
    for (const MergedSection& m : sections) {
        out.append(m.text);
    }
    return out;
}

MergeOutcome MergeVersions(const MergeVersion& base, const MergeVersion& ours,
                           const MergeVersion& theirs, const MergeLabels& labels) {
    const Side o = MakeSide(base, ours);
    const Side t = MakeSide(base, theirs);
    const bool unknown = base.Unknown();
    MergeOutcome outcome;
    for (const MergeVersion* v : {&base, &ours, &theirs}) {
        outcome.held.insert(outcome.held.end(), v->held_.begin(), v->held_.end());
    }
    outcome.oursReordered = !InOrder(o.match);
    outcome.theirsReordered = !InOrder(t.match);
    // The order of one side is followed, the other's new and kept sections put in after what
    // comes before them there: theirs' order only where ours kept the base order.
    const bool oursLead = outcome.oursReordered || !outcome.theirsReordered;
    const Side& lead = oursLead ? o : t;
    const Side& other = oursLead ? t : o;
    const SectionMerge leadAdded = oursLead ? SectionMerge::AddedOurs : SectionMerge::AddedTheirs;
    const SectionMerge otherAdded = oursLead ? SectionMerge::AddedTheirs : SectionMerge::AddedOurs;
    const SectionMerge leadKept = oursLead ? SectionMerge::KeptOurs : SectionMerge::KeptTheirs;
    const SectionMerge otherKept = oursLead ? SectionMerge::KeptTheirs : SectionMerge::KeptOurs;
    std::vector<std::string>& removedByLead =
        oursLead ? outcome.removedByOurs : outcome.removedByTheirs;
    std::vector<std::string>& removedByOther =
        oursLead ? outcome.removedByTheirs : outcome.removedByOurs;
    auto titleOf = [&](int b) {
        return std::string(FirstLine(base.Section(static_cast<std::size_t>(b))));
    };

    auto place = [&](MergedSection& m, int b, int leadK, int otherK) {
        m.base = b;
        (oursLead ? m.ours : m.theirs) = leadK;
        (oursLead ? m.theirs : m.ours) = otherK;
    };

    std::vector<MergedSection> out;
    for (int x = 0; x < static_cast<int>(lead.match.size()); ++x) {
        const int b = lead.match[static_cast<std::size_t>(x)];
        if (b < 0) {
            MergedSection m;
            m.text = lead.Text(x);
            m.how = leadAdded;
            place(m, -1, x, -1);
            out.push_back(std::move(m));
            continue;
        }
        const int y = other.of[static_cast<std::size_t>(b)];
        const std::string_view baseText = base.Section(static_cast<std::size_t>(b));
        if (y < 0 && base.Absent(static_cast<std::size_t>(b))) {
            MergedSection m;
            m.text = lead.Text(x);
            m.how = leadAdded;
            place(m, b, x, -1);
            out.push_back(std::move(m));
            continue;
        }
        if (y < 0) {
            // Without a known base, a section the other lacks was not known to be removed there.
            if (lead.Text(x) == baseText && !unknown) {
                removedByOther.push_back(titleOf(b));
                continue;
            }
            MergedSection m;
            m.text = lead.Text(x);
            m.how = leadKept;
            place(m, b, x, -1);
            out.push_back(std::move(m));
            continue;
        }
        MergedSection m =
            oursLead ? MergeSection(b, baseText, lead.Text(x), other.Text(y), labels, unknown)
                     : MergeSection(b, baseText, other.Text(y), lead.Text(x), labels, unknown);
        place(m, b, x, y);
        out.push_back(std::move(m));
    }
    // The other side's new sections, and those it changed that the lead removed, after the
    // nearest section before them there that the result holds.
    auto positionOf = [&](int otherK) {
        for (std::size_t i = 0; i < out.size(); ++i) {
            if ((oursLead ? out[i].theirs : out[i].ours) == otherK) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    int after = 0;
    for (int y = 0; y < static_cast<int>(other.match.size()); ++y) {
        if (const int at = positionOf(y); at >= 0) {
            after = at;
            continue;
        }
        const int b = other.match[static_cast<std::size_t>(y)];
        MergedSection m;
        m.text = other.Text(y);
        if (b < 0 || base.Absent(static_cast<std::size_t>(b))) {
            m.how = otherAdded;
        } else if (lead.of[static_cast<std::size_t>(b)] < 0) {
            if (other.Text(y) == base.Section(static_cast<std::size_t>(b)) && !unknown) {
                removedByLead.push_back(titleOf(b));
                continue;
            }
            m.how = otherKept;
        } else {
            continue;  // the lead's copy, removed above as unchanged by the lead
        }
        place(m, b, -1, y);
        // Where both sides put new sections at one place, the leading side's come first.
        while (after + 1 < static_cast<int>(out.size()) &&
               (oursLead ? out[after + 1].theirs : out[after + 1].ours) < 0 &&
               out[after + 1].how == leadAdded) {
            ++after;
        }
        out.insert(out.begin() + after + 1, std::move(m));
        ++after;
    }

    // As reading would: marker lines past the 50th open no section.
    if (out.size() > static_cast<std::size_t>(kSectionCount)) {
        outcome.overflow = static_cast<int>(out.size()) - kSectionCount;
        std::string last;
        int conflicts = 0;
        for (std::size_t i = kLastSlot; i < out.size(); ++i) {
            last.append(out[i].text);
            conflicts += out[i].conflicts;
        }
        MergedSection folded = Own(std::move(last), out[kLastSlot].how);
        folded.base = out[kLastSlot].base;
        folded.ours = out[kLastSlot].ours;
        folded.theirs = out[kLastSlot].theirs;
        folded.conflicts = conflicts;
        out.resize(kLastSlot);
        out.push_back(std::move(folded));
    }
    outcome.sections = std::move(out);
    return outcome;
}

std::vector<MergeNote> MergeNotes(const MergeOutcome& outcome, const MergeLabels& labels) {
    std::vector<MergeNote> notes;
    const std::string& here = labels.ours;
    const std::string& there = labels.theirs;
    for (std::size_t k = 0; k < outcome.sections.size(); ++k) {
        const MergedSection& m = outcome.sections[k];
        std::string what;
        switch (m.how) {
            case SectionMerge::Unchanged:
                continue;
            case SectionMerge::Ours:
                what = "changed " + here;
                break;
            case SectionMerge::Theirs:
                what = "changed " + there;
                break;
            case SectionMerge::Same:
                what = "changed alike " + here + " and " + there;
                break;
            case SectionMerge::Merged:
                what = "changed " + here + " and " + there + " in different lines: both kept";
                break;
            case SectionMerge::Conflict:
                what = "changed " + here + " and " + there + " in the same lines: both versions " +
                       "kept between marker lines, in " + std::to_string(m.conflicts) +
                       (m.conflicts == 1 ? " place" : " places");
                break;
            case SectionMerge::AddedOurs:
                what = "added " + here;
                break;
            case SectionMerge::AddedTheirs:
                what = "added " + there;
                break;
            case SectionMerge::KeptOurs:
                what = "removed " + there + " but changed " + here + ": kept";
                break;
            case SectionMerge::KeptTheirs:
                what = "removed " + here + " but changed " + there + ": kept";
                break;
        }
        if (m.conflicts > 0 && m.how != SectionMerge::Conflict) {
            what += ", with both versions of lines between marker lines";
        }
        notes.push_back(
            {static_cast<int>(k), m.NeedsLook(),
             "Section " + std::to_string(k) + " " + Quoted(FirstLine(m.text)) + ": " + what});
    }
    auto removed = [&](const std::vector<std::string>& titles, const std::string& where) {
        for (const std::string& title : titles) {
            notes.push_back({-1, false, "Section " + Quoted(title) + " removed " + where});
        }
    };
    removed(outcome.removedByOurs, here);
    removed(outcome.removedByTheirs, there);
    if (outcome.oursReordered && outcome.theirsReordered) {
        notes.push_back({-1, true,
                         "Sections were moved both " + here + " and " + there + ": the order " +
                             here + " was kept"});
    } else if (outcome.theirsReordered) {
        notes.push_back({-1, false, "Sections were moved " + there});
    } else if (outcome.oursReordered) {
        notes.push_back({-1, false, "Sections were moved " + here});
    }
    if (outcome.overflow > 0) {
        notes.push_back({-1, true,
                         "The merge makes more than 50 marker lines: the last " +
                             std::to_string(outcome.overflow) +
                             " stay ordinary lines of section 50, as reading keeps them"});
    }
    return notes;
}

}  // namespace velloran
