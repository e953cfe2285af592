#include "settings/ProfileFile.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/document/Lines.h"
#include "core/storage/FileIO.h"
#include "core/storage/StateFolder.h"

namespace velloran {
namespace {

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

char FoldCase(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return FoldCase(x) == FoldCase(y); });
}

// One line of a profile file, with its place in the text.
struct Line {
    enum Kind { kBlank, kHeader, kEntry };
    Kind kind = kBlank;
    std::size_t begin = 0;                  // first byte
    std::size_t end = 0;                    // just after the last byte before the line break
    std::size_t next = 0;                   // just after the line break
    std::string_view name;                  // a header's section name or an entry's key, trimmed
    std::optional<std::string_view> value;  // an entry's value after the first "=", trimmed
};

std::vector<Line> ScanLines(std::string_view text) {
    std::vector<Line> lines;
    ForEachLogicalLine(text, [&](std::string_view raw) {
        Line line;
        line.begin = static_cast<std::size_t>(raw.data() - text.data());
        line.end = line.begin + raw.size();
        line.next = line.end;
        if (line.next < text.size()) {
            const bool crlf = text[line.next] == '\r' && line.next + 1 < text.size() &&
                              text[line.next + 1] == '\n';
            line.next += crlf ? 2 : 1;
        }
        const std::string_view content = Trim(raw);
        if (content.empty()) {
            line.kind = Line::kBlank;
        } else if (auto close = content.rfind(']');
                   content.front() == '[' && close != std::string_view::npos) {
            line.kind = Line::kHeader;
            line.name = Trim(content.substr(1, close - 1));
        } else {
            line.kind = Line::kEntry;
            if (auto eq = content.find('='); eq == std::string_view::npos) {
                line.name = content;
            } else {
                line.name = Trim(content.substr(0, eq));
                line.value = Trim(content.substr(eq + 1));
            }
        }
        lines.push_back(line);
    });
    return lines;
}

// Where a key stands: the first header of its section, the first entry of the key in that
// section, and the section's last line that is not blank (the header when it has no entries).
struct Place {
    std::optional<std::size_t> header;
    std::optional<std::size_t> entry;
    std::size_t last = 0;
};

Place Locate(const std::vector<Line>& lines, std::string_view section, std::string_view key) {
    Place place;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Line::kHeader && SameName(lines[i].name, section)) {
            place.header = i;
            break;
        }
    }
    if (!place.header) {
        return place;
    }
    place.last = *place.header;
    for (std::size_t i = *place.header + 1; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (line.kind == Line::kHeader) {
            break;
        }
        if (line.kind == Line::kEntry) {
            place.last = i;
            if (!place.entry && SameName(line.name, key)) {
                place.entry = i;
            }
        }
    }
    return place;
}

std::string ConfigFolder() {
    return UserFolder("XDG_CONFIG_HOME", ".config");
}

std::string JoinPath(std::string folder, std::string_view name) {
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    if (folder != "/") {
        folder += '/';
    }
    folder += name;
    return folder;
}

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// Whether key=value in [section] would read back as written.
bool CanWrite(std::string_view section, std::string_view key, std::string_view value) {
    return !section.empty() && !key.empty() && !HasLineBreak(section) && !HasLineBreak(key) &&
           !HasLineBreak(value) && key.find('=') == std::string_view::npos && key.front() != '[';
}

bool EndsWithLineBreak(std::string_view text) {
    return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::string ResolveProfilePath(std::string_view fileName) {
    if (fileName.empty() || fileName.find('/') != std::string_view::npos) {
        return std::string(fileName);
    }
    return JoinPath(ConfigFolder(), fileName);
}

std::string ReadProfileString(std::string_view section, std::string_view key,
                              std::string_view fallback, std::string_view fileName) {
    section = Trim(section);
    key = Trim(key);
    std::string_view value = fallback;
    std::optional<std::string> text;
    if (!section.empty() && !key.empty()) {
        text = ReadWholeFile(ResolveProfilePath(fileName));
    }
    if (text) {
        const std::vector<Line> lines = ScanLines(*text);
        const Place place = Locate(lines, section, key);
        if (place.entry && lines[*place.entry].value) {
            value = *lines[*place.entry].value;
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front()) {
                value = value.substr(1, value.size() - 2);
            }
        }
    }
    return std::string(value.substr(0, kProfileValueLimit));
}

bool WriteProfileString(std::string_view section, std::string_view key, std::string_view value,
                        std::string_view fileName) {
    section = Trim(section);
    key = Trim(key);
    if (!CanWrite(section, key, value)) {
        return false;
    }
    const std::string path = ResolveProfilePath(fileName);
    std::string text;
    if (FileExists(path)) {
        auto old = ReadWholeFile(path);
        if (!old) {
            return false;
        }
        text = std::move(*old);
    }

    const std::vector<Line> lines = ScanLines(text);
    const Place place = Locate(lines, section, key);
    if (place.entry) {
        const Line& line = lines[*place.entry];
        std::string replacement(line.name);
        replacement += '=';
        replacement += value;
        if (text.compare(line.begin, line.end - line.begin, replacement) == 0) {
            return true;
        }
        text.replace(line.begin, line.end - line.begin, replacement);
    } else {
        std::string added;
        std::size_t at = text.size();
        if (place.header) {
            const Line& last = lines[place.last];
            at = last.next;
            if (last.next == last.end) {
                added = "\r\n";
            }
        } else {
            if (!text.empty() && !EndsWithLineBreak(text)) {
                added = "\r\n";
            }
            added += '[';
            added += section;
            added += "]\r\n";
        }
        added += key;
        added += '=';
        added += value;
        added += "\r\n";
        text.insert(at, added);
    }

    if (!MakeFolders(FolderPart(path), 0777)) {
        return false;
    }
    return static_cast<bool>(ReplaceFile(path, [&](OutputFile& out) { out.Write(text); }));
}

bool FlushProfile(std::string_view /*fileName*/) {
    return true;
}

int ParseProfileInt(std::string_view text, int fallback) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    std::size_t prefix = 0;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        prefix = 2;
    } else if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X')) {
        prefix = 1;
    }
    if (prefix != 0) {
        const std::string_view digits = text.substr(prefix);
        if (digits.empty() || digits.size() > 8) {
            return fallback;
        }
        std::uint32_t value = 0;
        for (char c : digits) {
            const int digit = HexDigit(c);
            if (digit < 0) {
                return fallback;
            }
            value = value * 16 + static_cast<std::uint32_t>(digit);
        }
        return static_cast<std::int32_t>(value);
    }

    bool negative = false;
    if (text.starts_with('+') || text.starts_with('-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return fallback;
    }
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return fallback;
        }
        value = value * 10 + (c - '0');
        if (value > kLimit) {
            return fallback;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value >= kLimit) {
        return fallback;
    }
    return static_cast<int>(value);
}

int ReadProfileInt(std::string_view section, std::string_view key, int fallback,
                   std::string_view fileName) {
    const std::string value = ReadProfileString(section, key, {}, fileName);
    return ParseProfileInt(value, fallback);
}

}  // namespace velloran
