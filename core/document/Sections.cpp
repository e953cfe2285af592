#include "core/document/Sections.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "core/document/Encoding.h"
#include "core/document/Lines.h"

namespace velloran {

char MarkerLetter(std::string_view line) {
    if (line.size() > 5 && line[0] == '[' && line[2] == ']') {
        char c = line[1];
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return ' ';
}

namespace {

// The line of text that starts at offset at, in text made of lines each followed by CR LF.
std::string_view LineAt(std::string_view text, std::size_t at) {
    return text.substr(at, text.find('\r', at) - at);
}

// Where the sections start in text made of lines each followed by CR LF: 0, then each of the
// first 50 marker lines. Only a line that starts with "[" can be one, so the scan jumps from
// bracket to bracket instead of going line by line.
std::vector<std::size_t> MarkerOffsets(std::string_view text) {
    std::vector<std::size_t> starts{0};
    for (std::size_t at = text.find('[');
         at != std::string_view::npos && starts.size() < kSectionCount;
         at = text.find('[', at + 1)) {
        if ((at == 0 || text[at - 1] == '\n') && IsMarkerLine(LineAt(text, at))) {
            starts.push_back(at);
        }
    }
    return starts;
}

}  // namespace

std::vector<std::string_view> SectionTexts(std::string_view crlfText) {
    std::vector<std::size_t> starts = MarkerOffsets(crlfText);
    starts.push_back(crlfText.size());
    std::vector<std::string_view> texts(starts.size() - 1);
    for (std::size_t j = 0; j + 1 < starts.size(); ++j) {
        texts[j] = crlfText.substr(starts[j], starts[j + 1] - starts[j]);
    }
    return texts;
}

void SplitSections(Session& s) {
    const DocumentBuffer& buf = s.buffer;
    // Before anything shows the text: the list, the slots and the editors read it through this.
    // The buffer's block holds its lines and the line breaks between them, which no character
    // spans, so the block tells as much as the lines.
    s.st.DocumentEncoding = DetectEncoding(*buf.Bytes());
    SharedBytes block;
    std::string_view whole;
    std::vector<std::size_t> starts;  // byte offsets of the sections in whole
    std::vector<std::string_view> titles;
    if (auto text = buf.CrLfText(); text && !text->empty()) {
        // The usual case: each section is a piece of the buffer as it is.
        block = buf.Bytes();
        whole = *text;
        starts = MarkerOffsets(whole);
        for (std::size_t at : starts) {
            titles.push_back(LineAt(whole, at));
        }
    } else {
        // Lines cut at lone breaks, or holding a CR or LF byte of their own (deciphered), are
        // judged line by line and written out once into one block, each with CR LF after it.
        // An empty buffer still reads one empty line.
        const std::size_t lines = buf.Empty() ? 1 : buf.LineCount();
        auto line = [&](std::size_t i) { return buf.Empty() ? std::string_view{} : buf.Line(i); };
        std::vector<std::size_t> first{0};
        for (std::size_t i = 0; i < lines && first.size() < kSectionCount; ++i) {
            if (IsMarkerLine(line(i))) {
                first.push_back(i);
            }
        }
        auto own = std::make_shared<std::string>();
        own->reserve(buf.ByteCount() + 2 * lines);
        std::size_t next = 1;
        for (std::size_t i = 0; i < lines; ++i) {
            if (next < first.size() && first[next] == i) {
                starts.push_back(own->size());
                ++next;
            }
            own->append(line(i)).append("\r\n");
        }
        starts.insert(starts.begin(), 0);
        for (std::size_t i : first) {
            titles.push_back(line(i));
        }
        whole = *own;
        block = std::move(own);
    }
    starts.push_back(whole.size());
    const std::size_t sections = starts.size() - 1;

    s.list.Clear();
    for (std::string_view title : titles) {
        s.list.Add(title);
    }
    std::vector<std::string_view> texts(sections);
    for (std::size_t j = 0; j < sections; ++j) {
        texts[j] = whole.substr(starts[j], starts[j + 1] - starts[j]);
    }
    s.sections.SetSections(block, texts);

    State& st = s.st;
    st.LastSection = static_cast<int>(sections) - 1;
    st.Panel1Section = 0;
    // A pane or the search left pointing above the new last section would show a slot that is
    // never saved, and edits there would be lost.
    if (st.Panel2Section > st.LastSection) {
        st.Panel2Section = 0;
    }
    if (st.ActiveSection > st.LastSection) {
        st.ActiveSection = 0;
    }
    st.Modified = false;
}

DocumentBuffer JoinedSections(Session& s) {
    const std::size_t count = static_cast<std::size_t>(s.st.LastSection) + 1;
    std::vector<std::string_view> texts(count);
    std::size_t bytes = 0;
    for (std::size_t k = 0; k < count; ++k) {
        texts[k] = s.sections.ReadSlot(static_cast<int>(k));
        bytes += texts[k].size() + 2;
    }
    // Written as lines each followed by CR LF, the form the buffer keeps without a span per line;
    // a text in that form already is copied whole. Reserved whole, so that a large document is
    // not copied again as it grows.
    std::string joined;
    joined.reserve(bytes);
    for (std::size_t k = 0; k < count; ++k) {
        if (std::size_t lines = 0; IsCrLfText(texts[k], &lines)) {
            joined.append(texts[k]);
        } else {
            ForEachLogicalLine(texts[k],
                               [&](std::string_view line) { joined.append(line).append("\r\n"); });
        }
    }
    DocumentBuffer buffer;
    buffer.AssignText(std::move(joined));
    return buffer;
}

void JoinSections(Session& s) {
    s.buffer = JoinedSections(s);
}

void ReloadSections(Session& s) {
    JoinSections(s);
    SplitSections(s);
    s.st.Modified = true;
}

}  // namespace velloran
