#include "settings/ExportSettings.h"

#include <cstdlib>

#include "core/document/Error.h"
#include "core/storage/StateFolder.h"
#include "settings/ProfileFile.h"

namespace velloran {
namespace {

// A path that a section header cannot hold keeps no choices of its own.
std::optional<std::string> DocumentSection(const std::string& document) {
    if (document.empty() || document.find_first_of("]\r\n") != std::string::npos) {
        return std::nullopt;
    }
    return "Document " + document;
}

// "en_US.UTF-8" -> "en-US"; "C" and "POSIX" -> "en".
std::string LocaleTag() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value && *value) {
            std::string tag(value);
            tag = tag.substr(0, tag.find_first_of(".@"));
            if (tag == "C" || tag == "POSIX" || tag.size() < 2) {
                return "en";
            }
            for (char& c : tag) {
                if (c == '_') {
                    c = '-';
                }
            }
            return tag;
        }
    }
    return "en";
}

void Write(const std::string& section, const char* key, const std::string& value,
           const std::string& path) {
    if (!WriteProfileString(section, key, value, path)) {
        throw Error(Format(kUnableToWrite, path));
    }
}

}  // namespace

std::string ExportSettingsPath() {
    std::string base = UserFolder("XDG_CONFIG_HOME", ".config");
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    return (base == "/" ? base : base + "/") + "velloran/export.ini";
}

DocumentExportChoices LoadDocumentExportChoices(const std::string& document) {
    DocumentExportChoices d;
    const auto section = DocumentSection(document);
    if (!section) {
        return d;
    }
    const std::string path = ExportSettingsPath();
    d.preset = PresetNamed(ReadProfileString(*section, "Preset", "", path));
    const std::string rule = ReadProfileString(*section, "Paragraphs", "", path);
    if (rule == "BlankLines") {
        d.paragraphs = ParagraphRule::BlankLines;
    } else if (rule == "LineBreaks") {
        d.paragraphs = ParagraphRule::LineBreaks;
    }
    d.format = ReadProfileString(*section, "Format", "", path);
    d.sections = ReadProfileString(*section, "Sections", "", path);
    d.title = ReadProfileString(*section, "Title", "", path);
    d.cover = ReadProfileString(*section, "Cover", "", path);
    return d;
}

ExportChoices LoadExportChoices(const std::string& document) {
    const std::string path = ExportSettingsPath();
    ExportChoices c;
    c.author = ReadProfileString(kExportSection, "Author", "", path);
    c.surname = ReadProfileString(kExportSection, "Surname", "", path);
    for (int i = 1; i <= kContactLines; ++i) {
        const std::string line =
            ReadProfileString(kExportSection, "Contact" + std::to_string(i), "", path);
        if (!line.empty()) {
            c.contact += (c.contact.empty() ? "" : "\r\n") + line;
        }
    }
    c.language = ReadProfileString(kExportSection, "Language", LocaleTag(), path);
    c.courier = ReadProfileString(kExportSection, "Font", "", path) == "Courier";
    const DocumentExportChoices d = LoadDocumentExportChoices(document);
    c.preset = d.preset.value_or(c.preset);
    c.paragraphs = d.paragraphs.value_or(c.paragraphs);
    c.title = d.title;
    c.coverImage = d.cover;
    return c;
}

void SaveDocumentExportChoices(const std::string& document, const DocumentExportChoices& d) {
    const auto section = DocumentSection(document);
    if (!section) {
        return;
    }
    const std::string path = ExportSettingsPath();
    Write(*section, "Preset", d.preset ? std::string(PresetName(*d.preset)) : "", path);
    Write(*section, "Paragraphs",
          !d.paragraphs                                ? ""
          : *d.paragraphs == ParagraphRule::LineBreaks ? "LineBreaks"
                                                       : "BlankLines",
          path);
    Write(*section, "Format", d.format, path);
    Write(*section, "Sections", d.sections, path);
    Write(*section, "Title", d.title, path);
    Write(*section, "Cover", d.cover, path);
}

void SaveExportWriter(const ExportChoices& c) {
    const std::string path = ExportSettingsPath();
    Write(kExportSection, "Author", c.author, path);
    Write(kExportSection, "Surname", c.surname, path);
    std::size_t at = 0;
    for (int i = 1; i <= kContactLines; ++i) {
        std::string line;
        if (at <= c.contact.size()) {
            const std::size_t end = c.contact.find("\r\n", at);
            line = c.contact.substr(at, end == std::string::npos ? std::string::npos : end - at);
            at = end == std::string::npos ? c.contact.size() + 1 : end + 2;
        }
        Write(kExportSection, ("Contact" + std::to_string(i)).c_str(), line, path);
    }
    Write(kExportSection, "Language", c.language, path);
    Write(kExportSection, "Font", c.courier ? "Courier" : "Times New Roman", path);
}

}  // namespace velloran
