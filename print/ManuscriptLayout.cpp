#include "print/ManuscriptLayout.h"

#include <QAbstractTextDocumentLayout>
#include <QPageSize>
#include <QTextBlock>
#include <QTextCursor>

#include "core/export/Export.h"

namespace velloran {
namespace {

constexpr double kUnitsPerInch = 96;

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A paragraph's lines stay lines: the toolkit's line separator between them.
QString ParagraphText(std::string_view text) {
    QString out;
    bool first = true;
    ForEachParagraphLine(text, [&](std::string_view line) {
        if (!first) {
            out += QChar::LineSeparator;
        }
        first = false;
        out += Q(line);
    });
    return out;
}

class Builder {
  public:
    Builder(QTextDocument& doc, const QTextCharFormat& text) : cursor_(&doc), text_(text) {}

    void Block(const QTextBlockFormat& format, const QString& text,
               const QTextCharFormat* chars = nullptr) {
        const QTextCharFormat& c = chars ? *chars : text_;
        if (first_) {
            cursor_.setBlockFormat(format);
            cursor_.setBlockCharFormat(c);
            first_ = false;
        } else {
            cursor_.insertBlock(format, c);
        }
        cursor_.insertText(text, c);
    }

  private:
    QTextCursor cursor_;
    QTextCharFormat text_;
    bool first_ = true;
};

}  // namespace

ManuscriptLayout::ManuscriptLayout(const Manuscript& m, QPagedPaintDevice& device)
    : m_(m), device_(device) {
    device_.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait,
                                      QMarginsF(0, 0, 0, 0), QPageLayout::Point));
    // Laid out at 96 units an inch, as the toolkit's own printing does, and scaled to the device
    // when painted: lengths set in the formats keep their size on any device.
    const double inch = kUnitsPerInch;
    const double width = 8.5 * inch;
    const double height = 11 * inch;
    bodyRect_ = QRectF(inch, inch, width - 2 * inch, height - 2 * inch);
    headerRect_ = QRectF(inch, 0.5 * inch, width - 2 * inch, 0.45 * inch);
    const bool ms = m.choices.preset == Preset::StandardManuscript;
    titlePage_ = ms && m.hasFrontMatter;

    QFont font(ms && m.choices.courier ? "Courier New" : "Times New Roman");
    font.setPointSizeF(ms ? 12 : 11);
    font.setStyleHint(ms && m.choices.courier ? QFont::TypeWriter : QFont::Serif);

    body_ = std::make_unique<QTextDocument>();
    body_->setDocumentMargin(0);
    body_->setDefaultFont(font);
    body_->setPageSize(bodyRect_.size());
    header_ = std::make_unique<QTextDocument>();
    header_->setDocumentMargin(0);
    header_->setDefaultFont(font);
    header_->setTextWidth(headerRect_.width());

    QTextCharFormat text;
    text.setFont(font);
    QTextBlockFormat paragraph;
    paragraph.setLineHeight(ms ? 200 : 115, QTextBlockFormat::ProportionalHeight);
    paragraph.setTextIndent(ms ? 0.5 * inch : 0.25 * inch);
    paragraph.setAlignment(ms ? Qt::AlignLeft : Qt::AlignJustify);
    QTextBlockFormat centred = paragraph;
    centred.setTextIndent(0);
    centred.setAlignment(Qt::AlignHCenter);
    QTextBlockFormat heading = centred;
    heading.setPageBreakPolicy(QTextFormat::PageBreak_AlwaysBefore);
    // A third of the way down the page in a manuscript.
    heading.setTopMargin(ms ? height / 3 - inch : inch);
    heading.setBottomMargin(ms ? 0 : 0.3 * inch);
    heading.setHeadingLevel(1);
    QTextCharFormat headingText = text;
    if (!ms) {
        QFont big = font;
        big.setPointSizeF(16);
        big.setBold(true);
        headingText.setFont(big);
    }

    Builder b(*body_, text);
    if (m.hasFrontMatter) {
        if (ms) {
            QTextBlockFormat contact = centred;
            contact.setAlignment(Qt::AlignLeft);
            contact.setLineHeight(100, QTextBlockFormat::ProportionalHeight);
            contact.setTabPositions({QTextOption::Tab(bodyRect_.width(), QTextOption::RightTab)});
            b.Block(contact, Q(m.choices.author) + '\t' + Q(m.RoundedWords()));
            ForEachParagraphLine(m.choices.contact, [&](std::string_view line) {
                if (!line.empty()) {
                    b.Block(contact, Q(line));
                }
            });
        }
        QTextBlockFormat title = centred;
        title.setTopMargin(ms ? bodyRect_.height() * 0.3 : bodyRect_.height() * 0.25);
        QTextCharFormat titleText = text;
        if (!ms) {
            QFont big = font;
            big.setPointSizeF(24);
            titleText.setFont(big);
        }
        b.Block(title, Q(m.title), &titleText);
        if (!m.choices.author.empty()) {
            b.Block(centred, "by " + Q(m.choices.author));
        }
    }
    auto blocks = [&](const std::vector<velloran::Block>& list) {
        for (const velloran::Block& block : list) {
            if (block.kind == velloran::Block::Kind::SceneBreak) {
                b.Block(centred, Q(SceneBreakText(m, block)));
            } else {
                b.Block(paragraph, ParagraphText(block.text));
            }
        }
    };
    blocks(m.frontMatter);
    for (const Chapter& c : m.chapters) {
        b.Block(heading, Q(c.title), &headingText);
        blocks(c.blocks);
    }
    if (ms) {
        b.Block(centred, "END");
    }
}

ManuscriptLayout::~ManuscriptLayout() = default;

int ManuscriptLayout::PageCount() const {
    return body_->pageCount();
}

void ManuscriptLayout::PaintPage(QPainter& painter, int page) const {
    const double pageHeight = bodyRect_.height();
    painter.save();
    const double scale = device_.logicalDpiX() / kUnitsPerInch;
    painter.scale(scale, scale);
    painter.translate(bodyRect_.left(), bodyRect_.top() - page * pageHeight);
    const QRectF clip(0, page * pageHeight, bodyRect_.width(), pageHeight);
    painter.setClipRect(clip);
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = clip;
    body_->documentLayout()->draw(&painter, context);
    painter.restore();

    if (m_.choices.preset != Preset::StandardManuscript || (titlePage_ && page == 0)) {
        return;
    }
    // "Surname / TITLE / page", the title shown in capitals and kept as written.
    header_->clear();
    QTextCursor cursor(header_.get());
    QTextBlockFormat right;
    right.setAlignment(Qt::AlignRight);
    cursor.setBlockFormat(right);
    QTextCharFormat plain;
    plain.setFont(header_->defaultFont());
    QTextCharFormat capitals = plain;
    capitals.setFontCapitalization(QFont::AllUppercase);
    cursor.insertText(Q(m_.Surname()) + " / ", plain);
    cursor.insertText(Q(m_.title), capitals);
    cursor.insertText(" / " + QString::number(page + 1), plain);
    painter.save();
    painter.scale(scale, scale);
    painter.translate(headerRect_.topLeft());
    header_->drawContents(&painter);
    painter.restore();
}

void ManuscriptLayout::PaintAll(QPainter& painter, const ExportProgress& progress) const {
    const int pages = PageCount();
    for (int page = 0; page < pages; ++page) {
        if (page > 0) {
            device_.newPage();
        }
        PaintPage(painter, page);
        if (progress &&
            !progress(static_cast<std::uint64_t>(page + 1), static_cast<std::uint64_t>(pages))) {
            throw ExportCanceled();
        }
    }
}

}  // namespace velloran
