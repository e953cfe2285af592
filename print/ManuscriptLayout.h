#pragma once

#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QTextDocument>
#include <memory>

#include "core/export/Manuscript.h"

// The manuscript laid out in pages by the toolkit's text layout, the same for PDF, the printer
// and its preview: the text as it stands (blanks, tabs and line breaks kept), chapters on pages
// of their own, and in a manuscript the running header on every page after the title page.
namespace velloran {

class ManuscriptLayout {
  public:
    // Lays m out for device, whose page layout it sets: a US letter page with one-inch margins.
    ManuscriptLayout(const Manuscript& m, QPagedPaintDevice& device);
    ~ManuscriptLayout();

    int PageCount() const;
    // Paints page (from 0) with painter, which paints on the device.
    void PaintPage(QPainter& painter, int page) const;
    // Every page, the device given a new page between them; progress is told after each page.
    void PaintAll(QPainter& painter, const ExportProgress& progress = {}) const;

  private:
    const Manuscript& m_;
    QPagedPaintDevice& device_;
    std::unique_ptr<QTextDocument> body_;
    std::unique_ptr<QTextDocument> header_;
    QRectF bodyRect_;  // in device pixels
    QRectF headerRect_;
    bool titlePage_ = false;
};

}  // namespace velloran
