#include "core/export/Manuscript.h"

#include <charconv>

#include "core/document/Codepage.h"
#include "core/document/Error.h"
#include "core/document/Sections.h"
#include "core/tools/Statistics.h"

namespace velloran {
namespace {

constexpr std::string_view kPresetNames[] = {"Standard manuscript", "Reading copy", "Ebook"};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}

// Cuts a section's body (lines each followed by CR LF) into blocks. A blank line ends a
// paragraph and makes none; under LineBreaks every other line is one.
std::vector<Block> Blocks(std::string_view body, ParagraphRule rule, std::size_t& words) {
    std::vector<Block> blocks;
    const char* start = nullptr;  // of the paragraph being gathered
    const char* end = nullptr;
    auto close = [&] {
        if (start) {
            blocks.push_back({Block::Kind::Paragraph,
                              std::string_view(start, static_cast<std::size_t>(end - start))});
            start = nullptr;
        }
    };
    std::size_t at = 0;
    while (at < body.size()) {
        std::size_t next = body.find("\r\n", at);
        if (next == std::string_view::npos) {
            next = body.size();
        }
        const std::string_view line = body.substr(at, next - at);
        if (Trimmed(line).empty()) {
            close();
        } else if (IsSceneBreak(line)) {
            close();
            blocks.push_back({Block::Kind::SceneBreak, line});
        } else {
            words += CountWords(line);
            if (!start || rule == ParagraphRule::LineBreaks) {
                close();
                start = line.data();
            }
            end = line.data() + line.size();
        }
        at = next + 2;
    }
    close();
    return blocks;
}

// The body of a section: what follows its first line.
std::string_view AfterFirstLine(std::string_view section, std::string_view& first) {
    const std::size_t end = section.find("\r\n");
    first = section.substr(0, end);
    return end == std::string_view::npos ? std::string_view() : section.substr(end + 2);
}

std::string Grouped(std::size_t n) {
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return digits;
}

}  // namespace

std::string_view PresetName(Preset preset) {
    return kPresetNames[static_cast<int>(preset)];
}

std::optional<Preset> PresetNamed(std::string_view name) {
    for (int i = 0; i < 3; ++i) {
        if (SameLetters(name, kPresetNames[i])) {
            return static_cast<Preset>(i);
        }
    }
    return std::nullopt;
}

std::string_view SceneBreakText(const Manuscript& m, const Block& b) {
    if (m.choices.preset == Preset::StandardManuscript) {
        return "#";
    }
    return Trimmed(b.text);
}

bool IsSceneBreak(std::string_view line) {
    const std::string_view t = Trimmed(line);
    return t == "#" || t == "***" || t == "* * *";
}

std::string Manuscript::Surname() const {
    if (!choices.surname.empty()) {
        return choices.surname;
    }
    const std::string_view author = Trimmed(choices.author);
    const std::size_t blank = author.find_last_of(" \t");
    return std::string(blank == std::string_view::npos ? author : author.substr(blank + 1));
}

std::string Manuscript::RoundedWords() const {
    const std::size_t hundreds = std::max<std::size_t>(1, (words + 50) / 100);
    return "about " + Grouped(hundreds * 100) + " words";
}

std::size_t Manuscript::BlockCount() const {
    std::size_t n = frontMatter.size();
    for (const Chapter& c : chapters) {
        n += c.blocks.size() + 1;
    }
    return n;
}

std::vector<bool> ParseSectionList(std::string_view list, std::size_t last) {
    std::vector<bool> chosen(last + 1, false);
    auto fail = [&] {
        return Error("the sections are given as indices and ranges such as 0,2-5,9 from 0 to " +
                     std::to_string(last) + ", not '" + std::string(list) + "'");
    };
    auto number = [&](std::string_view s) {
        s = Trimmed(s);
        std::size_t n = 0;
        const auto [p, error] = std::from_chars(s.data(), s.data() + s.size(), n);
        if (s.empty() || error != std::errc() || p != s.data() + s.size() || n > last) {
            throw fail();
        }
        return n;
    };
    std::size_t at = 0;
    while (at <= list.size()) {
        std::size_t comma = list.find(',', at);
        if (comma == std::string_view::npos) {
            comma = list.size();
        }
        const std::string_view item = list.substr(at, comma - at);
        const std::size_t dash = item.find('-');
        const std::size_t from = number(item.substr(0, dash));
        const std::size_t to =
            dash == std::string_view::npos ? from : number(item.substr(dash + 1));
        if (to < from) {
            throw fail();
        }
        for (std::size_t k = from; k <= to; ++k) {
            chosen[k] = true;
        }
        at = comma + 1;
    }
    return chosen;
}

Manuscript BuildManuscript(std::string_view text, Encoding encoding, const ExportChoices& choices,
                           const std::vector<bool>& chosen) {
    Manuscript m;
    m.choices = choices;
    if (encoding == Encoding::Windows1252 && FormOf(text) != ByteForm::Ascii) {
        auto utf8 = std::make_shared<std::string>(codepage::ToUtf8(text));
        m.storage = utf8;
        text = *utf8;
    }
    const std::vector<std::string_view> sections = SectionTexts(text);
    auto isChosen = [&](std::size_t k) {
        return chosen.empty() || (k < chosen.size() && chosen[k]);
    };

    std::string_view first;
    const std::string_view front = AfterFirstLine(sections[0], first);
    if (first.starts_with("\xEF\xBB\xBF")) {
        first.remove_prefix(3);  // a byte-order mark belongs to the file, not to the title
    }
    const bool section0HasLines = !sections[0].empty();
    m.title = !choices.title.empty()                        ? choices.title
              : section0HasLines && !Trimmed(first).empty() ? std::string(Trimmed(first))
                                                            : choices.fallbackTitle;
    if (isChosen(0)) {
        m.hasFrontMatter = true;
        m.frontMatter = Blocks(front, choices.paragraphs, m.words);
    }
    for (std::size_t k = 1; k < sections.size(); ++k) {
        if (!isChosen(k)) {
            continue;
        }
        Chapter c;
        c.section = k;
        std::string_view marker;
        const std::string_view body = AfterFirstLine(sections[k], marker);
        c.title = Trimmed(marker.substr(3));
        c.blocks = Blocks(body, choices.paragraphs, m.words);
        m.chapters.push_back(std::move(c));
    }
    return m;
}

}  // namespace velloran
