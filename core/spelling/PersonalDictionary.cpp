#include "core/spelling/PersonalDictionary.h"

#include "core/document/Encoding.h"
#include "core/document/Error.h"
#include "core/document/Lines.h"
#include "core/storage/FileIO.h"
#include "core/storage/StateFolder.h"

namespace velloran::spelling {
namespace {

// A personal dictionary is a few thousand words; anything far larger is no such file.
constexpr std::size_t kLargestFile = 64u << 20;

std::string_view Trimmed(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

}  // namespace

std::string PersonalDictionaryPath() {
    return UserFolder("XDG_DATA_HOME", ".local/share") + "/velloran/words";
}

std::vector<std::string> ReadPersonalWords(const std::string& path) {
    std::vector<std::string> words;
    const auto bytes = ReadWholeFile(path, kLargestFile);
    if (!bytes) {
        return words;
    }
    ForEachLogicalLine(*bytes, [&](std::string_view line) {
        line = Trimmed(line);
        if (!line.empty() && IsUtf8(line)) {
            words.emplace_back(line);
        }
    });
    return words;
}

void AddPersonalWord(const std::string& path, std::string_view word) {
    const bool exists = FileExists(path);
    std::string bytes;
    if (exists) {
        auto old = ReadWholeFile(path, kLargestFile);
        if (!old) {
            // Never replaced by a file that lost what this one held.
            throw Error(Format(kUnableToWrite, path));
        }
        bytes = std::move(*old);
    }
    if (!bytes.empty() && bytes.back() != '\n' && bytes.back() != '\r') {
        bytes += '\n';
    }
    bytes.append(Trimmed(word));
    bytes += '\n';
    if (!MakeFolders(FolderPart(path), 0700) ||
        !ReplaceFile(
            path, [&](OutputFile& out) { out.Write(bytes); },
            exists ? std::nullopt : std::optional<FileAccess>(FileAccess{0600, std::nullopt}))) {
        throw Error(Format(kUnableToWrite, path));
    }
}

}  // namespace velloran::spelling
