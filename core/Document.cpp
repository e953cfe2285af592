#include "Document.h"

#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "Error.h"
#include "FileIO.h"
#include "Lines.h"

namespace velloran {

char MarkerLetter(std::string_view line) {
    if (line.size() > 5 && line[0] == '[' && line[2] == ']') {
        char c = line[1];
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return ' ';
}

void SplitSections(Session& s) {
    const DocumentBuffer& buf = s.buffer;
    // An empty buffer still reads one empty line.
    const std::size_t lines = buf.Empty() ? 1 : buf.LineCount();
    auto line = [&](std::size_t i) { return buf.Empty() ? std::string_view{} : buf.Line(i); };

    // First find where each section starts, so that each slot text is built in one allocation.
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i < lines && starts.size() < kSectionCount; ++i) {
        if (IsMarkerLine(line(i))) {
            starts.push_back(i);
        }
    }
    starts.push_back(lines);

    s.list.Clear();
    s.list.Add(line(0));
    const int sections = static_cast<int>(starts.size()) - 1;
    for (int j = 0; j < sections; ++j) {
        const std::size_t from = starts[static_cast<std::size_t>(j)];
        const std::size_t to = starts[static_cast<std::size_t>(j) + 1];
        if (j > 0) {
            s.list.Add(line(from));
        }
        std::string text;
        if (buf.Empty()) {
            text = "\r\n";
        } else if (buf.CrLfRunEnd(from, to) == to) {
            text = buf.Block(from, to);  // the usual case: the section as it is stored
        } else {
            std::size_t size = 0;
            for (std::size_t i = from; i < to; ++i) {
                size += buf.Line(i).size() + 2;
            }
            text.reserve(size);
            buf.ForEachCrLfPiece(from, to, [&](std::string_view piece) { text.append(piece); });
        }
        s.sections.SetSlotText(j, std::move(text));
    }

    State& st = s.st;
    st.LastSection = sections - 1;
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
    std::vector<std::string> texts;
    std::size_t bytes = 0;
    std::size_t lines = 0;
    for (int k = 0; k <= s.st.LastSection; ++k) {
        texts.push_back(s.sections.SlotText(k));
        bytes += texts.back().size();
        lines +=
            static_cast<std::size_t>(std::count(texts.back().begin(), texts.back().end(), '\n'));
    }
    // Reserved whole, so that a large document is not copied again as it grows.
    DocumentBuffer joined;
    joined.Reserve(bytes + 2, lines + 1);
    for (std::string& text : texts) {
        joined.AppendText(text);
        std::string().swap(text);
    }
    return joined;
}

void JoinSections(Session& s) {
    s.buffer = JoinedSections(s);
}

void ReloadSections(Session& s) {
    JoinSections(s);
    SplitSections(s);
    s.st.Modified = true;
}

void RememberOnDisk(State& st, const std::string& path) {
    if (auto id = IdentityOf(path)) {
        st.OnDisk[path] = *id;
    } else {
        st.OnDisk.erase(path);
    }
}

bool ChangedOnDisk(const State& st, const std::string& path) {
    auto known = st.OnDisk.find(path);
    return known != st.OnDisk.end() && IdentityOf(path) != known->second;
}

std::size_t DocumentSizeLimit() {
    constexpr std::size_t kMost = std::size_t{1} << 30;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) {
        return kMost;
    }
    return std::min(kMost,
                    static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize) / 10);
}

void ReadDocument(const std::string& path, DocumentBuffer& buffer, std::size_t limit) {
    auto bytes = ReadWholeFile(path, limit);
    if (!bytes) {
        throw Error(Format(kCannotOpen, path));
    }
    buffer.AssignText(std::move(*bytes));
}

MappedFile MapDocument(const std::string& path, std::size_t limit) {
    auto mapped = MappedFile::Open(path, limit);
    if (!mapped) {
        throw Error(Format(kCannotOpen, path));
    }
    return std::move(*mapped);
}

void WriteDocument(const std::string& path, const DocumentBuffer& buffer,
                   const std::optional<FileAccess>& access) {
    bool ok = ReplaceFile(
        path,
        [&](OutputFile& out) {
            buffer.ForEachCrLfPiece(0, buffer.LineCount(),
                                    [&](std::string_view piece) { out.Write(piece); });
        },
        access);
    if (!ok) {
        throw Error(Format(kCannotCreate, path));
    }
}

}  // namespace velloran
