#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Encoding.h"

// A document seen as a book: a title page from section 0, a chapter for each section after it.
// Every writer of an exported format reads this one model, so that they agree on structure.
namespace velloran {

enum class ParagraphRule {
    BlankLines,  // a paragraph runs to the next blank line; its lines keep their breaks
    LineBreaks,  // every line is a paragraph of its own
};

enum class Preset { StandardManuscript, ReadingCopy, Ebook };

// "Standard manuscript", "Reading copy", "Ebook".
std::string_view PresetName(Preset preset);
// The preset of that name (letter case of A to Z ignored), or nothing.
std::optional<Preset> PresetNamed(std::string_view name);

struct Block {
    enum class Kind { Paragraph, SceneBreak };
    Kind kind = Kind::Paragraph;
    // UTF-8; a paragraph of several lines has CR LF between them, as the document has. A scene
    // break holds its line as written.
    std::string_view text;
};

struct Chapter {
    std::size_t section = 0;  // its index in the document
    std::string_view title;   // the marker line without "[S]" and the blanks after it, UTF-8
    std::vector<Block> blocks;
};

// Who wrote it and how to reach them, and how the book is to look.
struct ExportChoices {
    Preset preset = Preset::StandardManuscript;
    ParagraphRule paragraphs = ParagraphRule::BlankLines;
    std::string author;   // UTF-8
    std::string surname;  // for the running header; the author's last word when empty
    std::string contact;  // UTF-8, lines cut at "\n"
    std::string language = "en";
    bool courier = false;       // the manuscript in Courier rather than Times New Roman
    std::string coverImage;     // a JPEG or PNG file for the ebook's cover; none when empty
    std::string title;          // instead of section 0's first line, when not empty
    std::string fallbackTitle;  // when section 0 has no first line (the file's name)
};

struct Manuscript {
    std::string title;               // UTF-8
    std::vector<Block> frontMatter;  // section 0 after its first line
    bool hasFrontMatter = false;     // section 0 was chosen
    std::vector<Chapter> chapters;
    std::size_t words = 0;  // of the chosen sections, counted as the statistics count
    ExportChoices choices;
    // Holds the UTF-8 text the views point into when the document's own bytes are not UTF-8.
    std::shared_ptr<const std::string> storage;

    std::string Surname() const;
    // "about 1,200 words": the words rounded to the nearest hundred, at least a hundred.
    std::string RoundedWords() const;
    // Paragraphs and breaks of every chapter and the front matter, for progress.
    std::size_t BlockCount() const;
};

// The sections chosen from a list such as "0,2-5,9" (indices as the section list shows them);
// throws Error for a list that is not one, or names a section beyond last.
std::vector<bool> ParseSectionList(std::string_view list, std::size_t last);

// text is the document's lines each followed by CR LF, in its own encoding; the views of the
// result point into it (or into its storage) and must not outlive it. chosen, when not empty,
// says for each section whether it is exported.
Manuscript BuildManuscript(std::string_view text, Encoding encoding, const ExportChoices& choices,
                           const std::vector<bool>& chosen = {});

// A line that only marks a break between scenes: "#", "***" or "* * *", blanks around allowed.
bool IsSceneBreak(std::string_view line);

// The text shown for a scene break: "#" in a manuscript, else the line as written.
std::string_view SceneBreakText(const Manuscript& m, const Block& b);

// The lines of a paragraph, cut at CR LF.
template <typename F>
void ForEachParagraphLine(std::string_view text, F&& f) {
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find("\r\n", start);
        f(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) {
            return;
        }
        start = end + 2;
    }
}

// Called as work goes on with what is done of the whole; returns false to stop, which makes the
// export throw ExportCanceled and leave nothing behind.
using ExportProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

}  // namespace velloran
