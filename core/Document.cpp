#include "Document.h"

#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "Error.h"
#include "FileIO.h"
#include "LargeMemory.h"
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

    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i < lines && starts.size() < kSectionCount; ++i) {
        if (IsMarkerLine(line(i))) {
            starts.push_back(i);
        }
    }
    starts.push_back(lines);
    const std::size_t sections = starts.size() - 1;

    s.list.Clear();
    s.list.Add(line(0));
    for (std::size_t j = 1; j < sections; ++j) {
        s.list.Add(line(starts[j]));
    }

    // The usual case: the buffer holds every line with CR LF after it, one after the other, and
    // each section is a piece of it as it is. Otherwise the sections are written out once into
    // one block of their own.
    std::vector<std::string_view> texts(sections);
    SharedBytes block;
    if (!buf.Empty() && buf.CrLfRunEnd(0, lines) == lines) {
        block = buf.Bytes();
        for (std::size_t j = 0; j < sections; ++j) {
            texts[j] = buf.Block(starts[j], starts[j + 1]);
        }
    } else {
        auto own = std::make_shared<std::string>();
        if (buf.Empty()) {
            *own = "\r\n";
        } else {
            ReserveLarge(*own, buf.ByteCount() + 2 * lines);
            buf.ForEachCrLfPiece(0, lines, [&](std::string_view piece) { own->append(piece); });
        }
        // The same cut again, over the written-out block: each line is followed by its CR LF.
        std::size_t at = 0;
        for (std::size_t j = 0; j < sections; ++j) {
            std::size_t size = 0;
            for (std::size_t i = starts[j]; i < starts[j + 1]; ++i) {
                size += line(i).size() + 2;
            }
            texts[j] = std::string_view(*own).substr(at, size);
            at += size;
        }
        block = std::move(own);
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
    // Sections held as bytes are read where they lie; only the others are made as text.
    const std::size_t count = static_cast<std::size_t>(s.st.LastSection) + 1;
    std::vector<std::string> scratch(count);
    std::vector<std::string_view> texts(count);
    std::size_t bytes = 0;
    for (std::size_t k = 0; k < count; ++k) {
        texts[k] = s.sections.ReadSlot(static_cast<int>(k), scratch[k]);
        bytes += texts[k].size();
    }
    // Reserved whole, so that a large document is not copied again as it grows.
    DocumentBuffer joined;
    joined.Reserve(bytes + 2, 0);
    for (std::size_t k = 0; k < count; ++k) {
        joined.AppendText(texts[k]);
        std::string().swap(scratch[k]);
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
