#pragma once

#include <memory>
#include <string>

#include "core/export/Manuscript.h"

class QGuiApplication;

namespace velloran {

// The manuscript as PDF at path, fonts embedded and text selectable, written beside and renamed
// over it as saves are. Needs a QGuiApplication (see PrintingApplication). Throws Error "Cannot
// create file %s" or ExportCanceled.
void ExportPdf(const Manuscript& m, const std::string& path, const ExportProgress& progress = {});

// For a program without windows: a QGuiApplication on the offscreen platform, unless one runs.
std::unique_ptr<QGuiApplication> PrintingApplication();

}  // namespace velloran
