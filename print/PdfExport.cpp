#include "print/PdfExport.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPdfWriter>

#include "core/document/Error.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
#include "print/ManuscriptLayout.h"

namespace velloran {

void ExportPdf(const Manuscript& m, const std::string& path, const ExportProgress& progress) {
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(300);
        writer.setTitle(QString::fromStdString(m.title));
        writer.setCreator("Velloran Editor");
        ManuscriptLayout layout(m, writer);
        QPainter painter;
        if (!painter.begin(&writer)) {
            throw Error(Format(kCannotCreate, path));
        }
        try {
            layout.PaintAll(painter, progress);
        } catch (...) {
            painter.end();
            throw;
        }
        painter.end();
    }
    const WriteResult written = ReplaceFile(path, [&](OutputFile& out) {
        out.Write(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    });
    if (!written) {
        throw Error(Format(kCannotCreate, path), written.Reason());
    }
}

std::unique_ptr<QGuiApplication> PrintingApplication() {
    if (QCoreApplication::instance()) {
        return nullptr;
    }
    // No window is shown: the offscreen platform lays text out with the system's fonts.
    static int argc = 3;
    static char name[] = "velloran-cli";
    static char option[] = "-platform";
    static char platform[] = "offscreen";
    static char* argv[] = {name, option, platform, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace velloran
