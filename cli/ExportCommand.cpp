#include "cli/ExportCommand.h"

#include <cstdio>

#include "cli/Commands.h"
#include "core/document/Error.h"
#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/export/Export.h"
#include "core/export/Import.h"
#include "core/protection/Protection.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
#include "core/storage/Paths.h"
#include "settings/ExportSettings.h"

#ifdef VELLORAN_PRINT
#include <QGuiApplication>

#include "print/PdfExport.h"
#endif

namespace velloran::cli {
namespace {

// "dir/Book.vlp" -> "dir/Book.docx".
std::string BesideWithExtension(const std::string& path, std::string_view extension) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    const std::string stem =
        dot != std::string::npos && (slash == std::string::npos || dot > slash + 1)
            ? path.substr(0, dot)
            : path;
    return stem + "." + std::string(extension);
}

std::string FileStem(const std::string& path) {
    std::string name = FileNamePart(path);
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool SameFile(const std::string& a, const std::string& b) {
    const auto x = IdentityOf(a);
    const auto y = IdentityOf(b);
    return x && y && *x == *y;
}

}  // namespace

int ExportCommand(const Arguments& a) {
    const std::string& path = a.operands[0];
    const std::optional<ExportFormat> format = ExportFormatNamed(*a.to);
    if (!format) {
        throw UsageError("--to takes docx, odt, epub, pdf, html, md or txt, not '" + *a.to + "'");
    }
#ifndef VELLORAN_PRINT
    if (*format == ExportFormat::Pdf) {
        throw UsageError("this velloran-cli was built without the toolkit that lays out PDF");
    }
#endif
    const std::string absolute = AbsolutePath(path);
    ExportChoices choices = LoadExportChoices(absolute);
    if (a.preset) {
        const auto preset = PresetNamed(*a.preset);
        if (!preset) {
            throw UsageError(
                "--preset takes \"Standard manuscript\", \"Reading copy\" or \"Ebook\", "
                "not '" +
                *a.preset + "'");
        }
        choices.preset = *preset;
    }
    if (a.paragraphs) {
        choices.paragraphs =
            *a.paragraphs == "line" ? ParagraphRule::LineBreaks : ParagraphRule::BlankLines;
    }
    if (a.cover) {
        if (*format != ExportFormat::Epub) {
            throw UsageError("--cover applies to --to epub alone: only an ebook has a cover");
        }
        choices.coverImage = *a.cover;
    }
    choices.fallbackTitle = FileStem(path);

    // Every export format holds the text in clear: a protected document is only written out so
    // when the writer says it may be, before any key is asked for.
    const Protection protection = ProtectionOfName(path);
    if (protection != Protection::Plain && !a.clear) {
        throw Refusal(path + (protection == Protection::Sealed ? " is sealed" : " is enciphered") +
                      ": an export holds its text in clear; give --clear to write it so");
    }
    if (protection == Protection::Enciphered && a.keySource == KeySource::None) {
        throw UsageError(path + " is enciphered: give --key, --key-fd or --key-file to export it");
    }
    const std::string out =
        a.output ? *a.output : BesideWithExtension(path, ExportExtension(*format));
    if (SameFile(out, path) || out == path) {
        throw Refusal("the export would be written over the document itself: give -o OUT");
    }

    PlainSession p;
    ReadForCommand(a, path, p);
    std::string joined;
    std::string_view text;
    if (const auto whole = p.buffer.CrLfText()) {
        text = *whole;
    } else {
        p.buffer.ForEachCrLfPiece(0, p.buffer.LineCount(),
                                  [&](std::string_view piece) { joined.append(piece); });
        text = joined;
    }
    const Encoding encoding = DetectEncoding(text);
    std::vector<bool> chosen;
    const std::string list =
        a.sections ? *a.sections : LoadDocumentExportChoices(absolute).sections;
    if (!list.empty()) {
        try {
            chosen = ParseSectionList(list, SectionTexts(text).size() - 1);
        } catch (const Error& e) {
            throw UsageError(e.what());
        }
    }
    const Manuscript m = BuildManuscript(text, encoding, choices, chosen);
    if (*format == ExportFormat::Pdf) {
#ifdef VELLORAN_PRINT
        const auto application = PrintingApplication();
        ExportPdf(m, out);
#endif
    } else {
        ExportToFile(m, *format, out);
    }
    return 0;
}

int ImportCommand(const Arguments& a) {
    const std::string& path = a.operands[0];
    const std::string& out = *a.output;
    if (ProtectionOfName(out) != Protection::Plain) {
        throw UsageError(
            "import makes a plain document: name it .vlp, then seal or encipher it "
            "in the editor");
    }
    if (!ImportFormatOf(path)) {
        throw UsageError("import reads .docx, .odt, .md and .txt files, not " + path);
    }
    if (FileExists(out) && !a.force) {
        throw Refusal(out + " exists: give --force to write over it");
    }
    if (SameFile(out, path)) {
        throw Refusal("the document would be written over the file it is made from");
    }
    const ImportResult r = ImportDocument(path, a.level);
    const WriteResult written = ReplaceFile(out, [&](OutputFile& file) { file.Write(r.text); });
    if (!written) {
        throw Error(Format(kCannotCreate, out), written.Reason());
    }
    std::string notes = ImportNotes(r);
    std::size_t at = 0;
    while (at < notes.size()) {
        const std::size_t end = notes.find('\n', at);
        std::fprintf(stderr, "velloran-cli: %s\n", notes.substr(at, end - at).c_str());
        at = end + 1;
    }
    return 0;
}

}  // namespace velloran::cli
