#include "core/tools/Replace.h"

#include <algorithm>
#include <utility>

#include "core/document/Lines.h"
#include "core/document/Sections.h"

namespace velloran {

namespace {

// The characters of context a preview row shows on each side of its match.
constexpr std::size_t kContextChars = 32;

bool Lead(std::string_view text, std::size_t at, Encoding encoding) {
    return encoding == Encoding::Windows1252 ||
           !IsContinuation(static_cast<unsigned char>(text[at]));
}

std::size_t BreakFrom(std::string_view text, std::size_t at) {
    return static_cast<std::size_t>(FindBreak(text.data() + at, text.data() + text.size()) -
                                    text.data());
}

// What of a text decides the sections it is cut into: how many of its lines are marker lines,
// and whether the first is one (a section begins there).
struct MarkerShape {
    std::size_t markers = 0;
    bool firstIsMarker = false;
    bool operator==(const MarkerShape&) const = default;
};

MarkerShape ShapeOf(std::string_view text) {
    MarkerShape shape;
    bool first = true;
    ForEachLogicalLine(text, [&](std::string_view line) {
        const bool marker = IsMarkerLine(line);
        shape.markers += marker ? 1 : 0;
        if (first) {
            shape.firstIsMarker = marker;
            first = false;
        }
    });
    return shape;
}

// Only a line that starts with "[" can be a marker line, so most sections are judged by a scan
// for brackets rather than line by line.
MarkerShape SectionShape(std::string_view text) {
    MarkerShape shape;
    for (std::size_t at = text.find('['); at != std::string_view::npos;
         at = text.find('[', at + 1)) {
        const bool lineStart = at == 0 || text[at - 1] == '\n' || text[at - 1] == '\r';
        if (lineStart && IsMarkerLine(text.substr(at, BreakFrom(text, at) - at))) {
            ++shape.markers;
            shape.firstIsMarker = shape.firstIsMarker || at == 0;
        }
    }
    return shape;
}

// The titles a split would list for the slots as they are: entry 0 is the document's first line,
// entry k the first line of slot k.
std::vector<std::string> TitlesOf(const SectionSlots& slots, int lastSection) {
    auto firstLine = [](std::string_view text) {
        return std::string(text.substr(0, BreakFrom(text, 0)));
    };
    std::vector<std::string> titles;
    std::string first;
    for (int k = 0; k <= lastSection; ++k) {
        if (!slots.ReadSlot(k).empty()) {
            first = firstLine(slots.ReadSlot(k));
            break;
        }
    }
    titles.push_back(first);
    for (int k = 1; k <= lastSection; ++k) {
        titles.push_back(firstLine(slots.ReadSlot(k)));
    }
    return titles;
}

std::vector<std::string> ListTitles(const SectionList& list) {
    std::vector<std::string> titles;
    for (int k = 0; k < list.Count(); ++k) {
        titles.push_back(list.Title(k));
    }
    return titles;
}

void SetList(SectionList& list, const std::vector<std::string>& titles) {
    if (ListTitles(list) == titles) {
        return;
    }
    list.Clear();
    for (const std::string& title : titles) {
        list.Add(title);
    }
}

}  // namespace

std::size_t ReplacePlan::SectionsWithMatches() const {
    return static_cast<std::size_t>(
        std::count_if(counts.begin(), counts.end(), [](std::size_t n) { return n > 0; }));
}

// The section being scanned, and where in it the line and column counts stand.
struct ReplaceScan::Section {
    Section(const Pattern& pattern, std::string_view t) : text(t), cursor(pattern, t) {}
    std::string_view text;
    MatchCursor cursor;
    std::size_t pos = 0;  // the line count covers the text before here
    std::size_t line = 1;
    std::size_t lineStart = 0;
    std::size_t columnPos = 0;  // and the column count the line before here
    std::size_t column = 1;
};

ReplaceScan::ReplaceScan(const SectionSlots& slots, const SectionList& list, int lastSection,
                         const Pattern& pattern, const Replacement& replacement, int firstSection)
    : slots_(slots),
      pattern_(pattern),
      replacement_(replacement),
      lastSection_(std::clamp(lastSection, 0, kLastSlot)),
      section_(std::clamp(firstSection, 0, lastSection_ + 1) - 1) {
    for (int k = 0; k <= lastSection_; ++k) {
        plan_.titles.push_back(k < list.Count() ? list.Title(k) : std::string());
    }
    plan_.counts.assign(static_cast<std::size_t>(lastSection_) + 1, 0);
}

ReplaceScan::~ReplaceScan() = default;

bool ReplaceScan::Done() const {
    return section_ > lastSection_ || (section_ == lastSection_ && !current_);
}

bool ReplaceScan::Continue(std::size_t most) {
    const Encoding encoding = pattern_.encoding();
    for (std::size_t added = 0; added < most;) {
        if (!current_) {
            if (section_ >= lastSection_) {
                section_ = lastSection_ + 1;
                return false;
            }
            ++section_;
            current_ = std::make_unique<Section>(pattern_, slots_.ReadSlot(section_));
        }
        Section& sec = *current_;
        const std::optional<Match> m = sec.cursor.Next();
        if (!m) {
            current_.reset();
            continue;
        }
        const std::string_view text = sec.text;
        const std::size_t start = m->span.start;
        const std::size_t end = start + m->span.length;
        for (std::size_t i = sec.pos; i < start; ++i) {
            const char c = text[i];
            if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
                ++sec.line;
                sec.lineStart = i + 1;
            }
        }
        sec.pos = start;
        if (sec.columnPos < sec.lineStart) {
            sec.columnPos = sec.lineStart;
            sec.column = 1;
        }
        sec.column += CountChars(text.substr(sec.columnPos, start - sec.columnPos), encoding);
        sec.columnPos = start;

        ReplaceRow row;
        row.section = section_;
        row.line = sec.line;
        row.column = sec.column;
        row.start = start;
        row.length = end - start;
        row.oldText = std::string(text.substr(start, end - start));
        row.newText = replacement_.For(text, *m);

        // A few words either side, within the line, cut where a word begins or ends.
        std::size_t from = start;
        for (std::size_t n = 0; from > sec.lineStart && n < kContextChars; ++n) {
            do {
                --from;
            } while (from > sec.lineStart && !Lead(text, from, encoding));
        }
        if (from > sec.lineStart && text[from - 1] != ' ') {
            if (const std::size_t space = text.find(' ', from); space < start) {
                from = space + 1;
            }
        }
        row.before = std::string(text.substr(from, start - from));
        const std::size_t lineEnd = BreakFrom(text, end);
        std::size_t to = end;
        for (std::size_t n = 0; to < lineEnd && n < kContextChars; ++n) {
            do {
                ++to;
            } while (to < lineEnd && !Lead(text, to, encoding));
        }
        if (to < lineEnd && text[to] != ' ') {
            if (const std::size_t space = text.rfind(' ', to);
                space != std::string_view::npos && space > end) {
                to = space;
            }
        }
        row.after = std::string(text.substr(end, to - end));

        // The lines the match touches, before and after.
        const std::string_view region = text.substr(sec.lineStart, lineEnd - sec.lineStart);
        std::string changed(text.substr(sec.lineStart, start - sec.lineStart));
        changed += row.newText;
        changed += text.substr(end, lineEnd - end);
        row.changesSections = ShapeOf(region) != ShapeOf(changed);
        row.checked = !row.changesSections;

        ++plan_.counts[static_cast<std::size_t>(section_)];
        plan_.rows.push_back(std::move(row));
        ++added;
    }
    return !Done();
}

ReplacePlan PlanReplacement(const SectionSlots& slots, const SectionList& list, int lastSection,
                            const Pattern& pattern, const Replacement& replacement) {
    ReplaceScan scan(slots, list, lastSection, pattern, replacement);
    while (scan.Continue(static_cast<std::size_t>(-1))) {
    }
    return std::move(scan.Plan());
}

std::string ReplacedText(std::string_view text, const std::vector<const ReplaceRow*>& rows) {
    std::size_t size = text.size();
    for (const ReplaceRow* r : rows) {
        size = size - r->length + r->newText.size();
    }
    std::string out;
    out.reserve(size);
    std::size_t at = 0;
    for (const ReplaceRow* r : rows) {
        if (r->start < at || r->start + r->length > text.size()) {
            continue;  // not a row of this text as it is
        }
        out.append(text.substr(at, r->start - at)).append(r->newText);
        at = r->start + r->length;
    }
    out.append(text.substr(at));
    return out;
}

ReplaceResult BuildReplacement(const SectionSlots& slots, const ReplacePlan& plan) {
    ReplaceResult result;
    std::vector<const ReplaceRow*> rows;
    auto flush = [&](int section) {
        if (rows.empty()) {
            return;
        }
        const std::string_view text = slots.ReadSlot(section);
        SectionChange change{section, ReplacedText(text, rows), rows.size()};
        result.resplit = result.resplit || SectionShape(text) != SectionShape(change.newText);
        result.replaced += change.replaced;
        result.changes.push_back(std::move(change));
        rows.clear();
    };
    int section = -1;
    for (const ReplaceRow& row : plan.rows) {
        if (row.section != section) {
            flush(section);
            section = row.section;
        }
        if (row.checked) {
            rows.push_back(&row);
        }
    }
    flush(section);
    return result;
}

ReplaceUndo ApplyReplacement(Session& s, ReplaceResult&& result) {
    State& st = s.st;
    ReplaceUndo undo;
    undo.titles = ListTitles(s.list);
    undo.lastSection = st.LastSection;
    if (result.resplit) {
        for (int k = 0; k <= st.LastSection; ++k) {
            undo.texts.emplace_back(k, s.sections.SlotText(k));
        }
    }
    for (SectionChange& change : result.changes) {
        if (!result.resplit) {
            undo.texts.emplace_back(change.section, s.sections.SlotText(change.section));
        }
        s.sections.SetSlotText(change.section, std::move(change.newText));
    }
    if (result.resplit) {
        ReloadSections(s);
    } else if (!result.changes.empty()) {
        SetList(s.list, TitlesOf(s.sections, st.LastSection));
        st.Modified = true;
    }
    return undo;
}

void UndoReplacement(Session& s, ReplaceUndo&& undo) {
    for (auto& [k, text] : undo.texts) {
        s.sections.SetSlotText(k, std::move(text));
    }
    s.st.LastSection = undo.lastSection;
    SetList(s.list, undo.titles);
    if (!undo.texts.empty()) {
        s.st.Modified = true;
    }
}

}  // namespace velloran
