#pragma once

#include <cstddef>
#include <optional>
#include <set>
#include <string>

// A word processor's file, Markdown or plain text made a new document: the headings of one level
// become sections, the text plain paragraphs between blank lines.
namespace velloran {

enum class ImportFormat { Docx, Odt, Markdown, Text };

// By the file's extension (.docx, .odt, .md or .markdown, .txt; letter case ignored).
std::optional<ImportFormat> ImportFormatOf(const std::string& path);

struct ImportResult {
    std::string text;         // the new document, lines each followed by CR LF
    std::set<int> levels;     // the heading levels found, 1 the top
    int level = 0;            // the level made sections; 0 when there are no headings
    std::size_t markers = 0;  // marker lines written
    // Headings of the level after the fiftieth, which stay lines of section 50 as reading keeps
    // them.
    std::size_t beyondLast = 0;
    // Lines of text that would have opened a section, kept from doing so by a blank before them.
    std::size_t guardedLines = 0;
};

// level: the heading level that opens sections; by default the top level in use. Throws Error
// "Cannot open file %s" for a file that cannot be read, and a clear message for one that is not
// of its format.
ImportResult ImportDocument(const std::string& path, std::optional<int> level = std::nullopt);

// What the import did that the writer should know, one sentence a line; none when nothing.
std::string ImportNotes(const ImportResult& r);

}  // namespace velloran
