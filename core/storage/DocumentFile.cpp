#include "core/storage/DocumentFile.h"

#include <unistd.h>

#include <algorithm>
#include <utility>

#include "core/document/Error.h"
#include "core/storage/FileIO.h"

namespace velloran {

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
                   const std::optional<FileAccess>& access, Naming naming) {
    const WriteResult written = ReplaceFile(
        path,
        [&](OutputFile& out) {
            buffer.ForEachCrLfPiece(0, buffer.LineCount(),
                                    [&](std::string_view piece) { out.Write(piece); });
        },
        access, naming);
    if (!written) {
        throw Error(Format(kCannotCreate, path), written.Reason());
    }
}

}  // namespace velloran
