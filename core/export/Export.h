#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/document/Error.h"
#include "core/export/Manuscript.h"
#include "core/storage/FileIO.h"

namespace velloran {

enum class ExportFormat { Docx, Odt, Epub, Html, Markdown, Text, Pdf };

// "docx", "odt", "epub", "html", "md" (or "markdown"), "txt" (or "text"), "pdf"; letter case
// of A to Z ignored.
std::optional<ExportFormat> ExportFormatNamed(std::string_view name);
// The file name extension, without the dot.
std::string_view ExportExtension(ExportFormat format);

// The export was stopped by its progress callback; nothing was written.
class ExportCanceled : public Error {
  public:
    ExportCanceled() : Error("The export was canceled") {}
};

// Writes the manuscript in the format to out. Every format but PDF, which the toolkit lays out.
void WriteExport(const Manuscript& m, ExportFormat format, OutputFile& out,
                 const ExportProgress& progress = {});

// Writes the export to path as a save writes a document: beside it first, renamed over it once
// whole, so that a failed or canceled export leaves the old file and nothing else. Throws Error
// "Cannot create file %s" with the system's reason, or ExportCanceled.
void ExportToFile(const Manuscript& m, ExportFormat format, const std::string& path,
                  const ExportProgress& progress = {});

}  // namespace velloran
