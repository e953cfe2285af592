#pragma once

#include <optional>
#include <string>

#include "core/export/Manuscript.h"

// Who writes and how each document is exported, kept in $XDG_CONFIG_HOME/velloran/export.ini
// apart from QMV.ini: section "Export" for the writer (Author, Surname, Contact1 to Contact6,
// Language, Font), a section "Document PATH" for each document's own choices (Preset,
// Paragraphs, Format, Sections, Title, Cover).
namespace velloran {

inline constexpr char kExportSection[] = "Export";
inline constexpr int kContactLines = 6;

struct DocumentExportChoices {
    std::optional<Preset> preset;
    std::optional<ParagraphRule> paragraphs;
    std::string format;    // "docx", ...; empty when none was chosen
    std::string sections;  // a list such as "1-12"; empty for all
    std::string title;
    std::string cover;
    bool operator==(const DocumentExportChoices&) const = default;
};

// $XDG_CONFIG_HOME/velloran/export.ini, by default ~/.config/velloran/export.ini.
std::string ExportSettingsPath();

// The writer's details and the document's choices (document: its absolute path) over the
// defaults of choices; language, when not set, from the locale ("en" for the C locale).
ExportChoices LoadExportChoices(const std::string& document);
DocumentExportChoices LoadDocumentExportChoices(const std::string& document);

// Writes the document's choices, replacing the file only once it is whole. Throws Error "Unable
// to write to %s" with the file's path.
void SaveDocumentExportChoices(const std::string& document, const DocumentExportChoices& c);
// The same for the writer's details.
void SaveExportWriter(const ExportChoices& c);

}  // namespace velloran
