#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "Checks.h"
#include "core/storage/FileIO.h"
#include "settings/ProfileFile.h"

namespace velloran::fuzz {
namespace {

// Written from the rules of the file, not from the reader.
bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool SameName(std::string_view a, std::string_view b) {
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}

bool HasBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

bool Writable(std::string_view section, std::string_view key, std::string_view value) {
    section = Trim(section);
    key = Trim(key);
    return !section.empty() && !key.empty() && !HasBreak(section) && !HasBreak(key) &&
           !HasBreak(value) && key.find('=') == std::string_view::npos && key[0] != '[';
}

// What a read gives for a value written as it stands.
std::string AsRead(std::string_view value) {
    value = Trim(value);
    if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, kProfileValueLimit));
}

std::string_view Content(std::string_view raw) {
    while (!raw.empty() && (raw.back() == '\r' || raw.back() == '\n')) {
        raw.remove_suffix(1);
    }
    return raw;
}

std::string_view Break(std::string_view raw) {
    return raw.substr(Content(raw).size());
}

// The lines of after are those of before with one line rewritten as key=value, or with the key
// (and, when the section was missing, its header) inserted, the line before them gaining the line
// break it lacked. Nothing else may differ.
bool OnlyTheKeyChanged(std::string_view before, std::string_view after, std::string_view section,
                       std::string_view key, std::string_view value) {
    const std::vector<std::string_view> o = RawLines(before);
    const std::vector<std::string_view> n = RawLines(after);
    std::size_t prefix = 0;
    while (prefix < o.size() && prefix < n.size() && o[prefix] == n[prefix]) {
        ++prefix;
    }
    std::size_t suffix = 0;
    while (suffix + prefix < o.size() && suffix + prefix < n.size() &&
           o[o.size() - 1 - suffix] == n[n.size() - 1 - suffix]) {
        ++suffix;
    }
    const std::vector<std::string_view> was(o.begin() + static_cast<long>(prefix),
                                            o.end() - static_cast<long>(suffix));
    std::vector<std::string_view> now(n.begin() + static_cast<long>(prefix),
                                      n.end() - static_cast<long>(suffix));
    if (was.empty() && now.empty()) {
        return true;  // the key already held the value
    }
    const std::string entry = std::string(Trim(key)) + "=" + std::string(value);

    if (was.size() == 1 && now.size() == 1 && Break(was[0]) == Break(now[0])) {
        const std::string_view old = Trim(Content(was[0]));
        const std::string_view name = Trim(old.substr(0, old.find('=')));
        return SameName(name, Trim(key)) &&
               Content(now[0]) == std::string(name) + "=" + std::string(value);
    }

    std::size_t at = 0;
    if (was.size() == 1) {
        // Only the file's last line can lack a line break.
        if (suffix != 0 || !Break(was[0]).empty() || now.empty() ||
            now[0] != std::string(was[0]) + "\r\n") {
            return false;
        }
        at = 1;
    } else if (!was.empty()) {
        return false;
    }
    if (now.size() == at + 2 && now[at] == "[" + std::string(Trim(section)) + "]\r\n") {
        ++at;
    }
    return now.size() == at + 1 && now[at] == entry + "\r\n";
}

const char* Check(std::string_view bytes) {
    std::size_t cut[3] = {};
    std::size_t from = 0;
    int fields = 0;
    for (; fields < 3; ++fields) {
        const std::size_t lf = bytes.find('\n', from);
        if (lf == std::string_view::npos) {
            break;
        }
        cut[fields] = lf;
        from = lf + 1;
    }
    auto field = [&](int i) -> std::string_view {
        if (i >= fields) {
            return {};
        }
        const std::size_t begin = i == 0 ? 0 : cut[i - 1] + 1;
        return bytes.substr(begin, cut[i] - begin);
    };
    const std::string_view section = field(0);
    const std::string_view key = field(1);
    const std::string_view value = field(2);
    const std::optional<std::string> before =
        fields == 3 ? std::optional<std::string>(bytes.substr(from)) : std::nullopt;

    // A name with a folder is used as it stands: the user's configuration is never touched.
    const std::string path = ScratchFolder() + "/profile.ini";
    ::unlink(path.c_str());
    if (before && !WriteFileBytes(path, *before)) {
        return "the input file could not be written";
    }

    const std::string fallback = "\x01 fallback";
    if (ReadProfileString(section, key, fallback, path).size() > kProfileValueLimit) {
        return "a read gives more than the longest value";
    }
    ReadProfileInt(section, key, 0, path);

    const bool written = WriteProfileString(section, key, value, path);
    if (written != Writable(section, key, value)) {
        return written ? "a write that cannot read back was done"
                       : "a write that can read back was refused";
    }
    const std::optional<std::string> after = ReadWholeFile(path);
    if (!written) {
        return after == before ? nullptr : "a refused write changed the file";
    }
    if (!after) {
        return "a write left no file";
    }
    if (ReadProfileString(section, key, fallback, path) != AsRead(value)) {
        return "a written value does not read back";
    }
    if (!OnlyTheKeyChanged(before.value_or(""), *after, section, key, value)) {
        return "a write changed other lines";
    }
    return nullptr;
}

}  // namespace

const char* CheckProfile(const std::uint8_t* data, std::size_t size) {
    return Check(std::string_view(reinterpret_cast<const char*>(data), size));
}

}  // namespace velloran::fuzz
