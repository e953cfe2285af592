#include "ui/tools/HistoryWindow.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTextCursor>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "core/document/Error.h"
#include "core/document/State.h"
#include "core/history/HistoryKeeper.h"
#include "core/history/WordDiff.h"
#include "ui/document/DocumentWindow.h"
#include "ui/document/SectionEditor.h"
#include "ui/document/ShownText.h"
#include "ui/platform/Geometry.h"
#include "ui/platform/Guard.h"

using velloran::state;

namespace {

// Rows beyond these show their words only: each count costs a read and a comparison.
constexpr std::size_t kCountedRows = 100;

bool Changed(const velloran::Version& v, int k) {
    return std::find(v.changed.begin(), v.changed.end(), k) != v.changed.end();
}

// A section's text in the encoding of the document as it is now.
std::string InEncoding(const std::string& bytes, velloran::Encoding from, velloran::Encoding to) {
    if (from == to) {
        return bytes;
    }
    return SectionEditor::BytesFromText(SectionEditor::TextFromBytes(bytes, from), to);
}

QString Signed(std::size_t added, std::size_t removed) {
    return QStringLiteral("+%1 \u2212%2").arg(added).arg(removed);
}

// The old text in one editor, the new one in the other, each with its own marks: struck out
// where words went, underlined where they came; not by colour alone.
void ShowDiff(QPlainTextEdit* then, QPlainTextEdit* now, const velloran::TextDiff& diff,
              velloran::Encoding encoding) {
    then->clear();
    now->clear();
    QTextCursor a(then->document());
    QTextCursor b(now->document());
    QTextCharFormat plain;
    QTextCharFormat deleted;
    deleted.setFontStrikeOut(true);
    deleted.setBackground(QColor(220, 60, 60, 90));
    QTextCharFormat inserted;
    inserted.setFontUnderline(true);
    inserted.setBackground(QColor(60, 170, 60, 90));
    for (const velloran::DiffPiece& piece : diff.pieces) {
        const QString text = SectionEditor::TextFromBytes(piece.text, encoding);
        switch (piece.kind) {
            case velloran::DiffKind::Same:
                a.insertText(text, plain);
                b.insertText(text, plain);
                break;
            case velloran::DiffKind::Deleted:
                a.insertText(text, deleted);
                break;
            case velloran::DiffKind::Inserted:
                b.insertText(text, inserted);
                break;
        }
    }
    then->moveCursor(QTextCursor::Start);
    now->moveCursor(QTextCursor::Start);
}

}  // namespace

HistoryWindow::HistoryWindow(DocumentWindow* documentWindow, QWidget* parent)
    : QWidget(parent, Qt::Window), documentWindow_(documentWindow) {
    setObjectName(QStringLiteral("HistoryWindow"));
    setWindowTitle(QStringLiteral("History"));
    velloran::ui::PlaceOuter(this, QRect(QPoint(120, 80), QSize(kDesignWidth, kDesignHeight)));

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->setWordWrap(true);

    ListView1 = new QTreeWidget(this);
    ListView1->setObjectName(QStringLiteral("ListView1"));
    ListView1->setAccessibleName(QStringLiteral("Versions of the section"));
    ListView1->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Event"),
                                QStringLiteral("Words"), QStringLiteral("Changed")});
    ListView1->setRootIsDecorated(false);
    ListView1->setUniformRowHeights(true);
    ListView1->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

    auto makeText = [this](const char* name, const char* accessible) {
        auto* edit = new QPlainTextEdit(this);
        edit->setObjectName(QString::fromLatin1(name));
        edit->setAccessibleName(QString::fromLatin1(accessible));
        edit->setReadOnly(true);
        // Read-only, yet selectable and copied by keyboard too.
        edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        return edit;
    };
    Memo1 = makeText("Memo1", "The version chosen");
    Memo2 = makeText("Memo2", "The section now");
    // Scrolled together, at the same share of each text.
    auto follow = [](QPlainTextEdit* from, QPlainTextEdit* to) {
        connect(from->verticalScrollBar(), &QScrollBar::valueChanged, to, [from, to](int value) {
            QScrollBar* mine = from->verticalScrollBar();
            QScrollBar* theirs = to->verticalScrollBar();
            const QSignalBlocker block(theirs);
            theirs->setValue(mine->maximum() > 0
                                 ? static_cast<int>(static_cast<qint64>(value) * theirs->maximum() /
                                                    mine->maximum())
                                 : 0);
        });
    };
    follow(Memo1, Memo2);
    follow(Memo2, Memo1);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Label2->setWordWrap(true);

    RestoreSection = new QPushButton(QStringLiteral("&Restore this section"), this);
    RestoreSection->setObjectName(QStringLiteral("RestoreSection"));
    RestoreDocument = new QPushButton(QStringLiteral("Restore &whole document"), this);
    RestoreDocument->setObjectName(QStringLiteral("RestoreDocument"));
    UndoRestore = new QPushButton(QStringLiteral("&Undo Restore"), this);
    UndoRestore->setObjectName(QStringLiteral("UndoRestore"));
    UndoRestore->setEnabled(false);
    auto guarded = [this](void (HistoryWindow::*handler)()) {
        return [this, handler] { velloran::ui::Guarded(this, [&] { (this->*handler)(); }); };
    };
    connect(RestoreSection, &QPushButton::clicked, this,
            guarded(&HistoryWindow::RestoreSectionClick));
    connect(RestoreDocument, &QPushButton::clicked, this,
            guarded(&HistoryWindow::RestoreDocumentClick));
    connect(UndoRestore, &QPushButton::clicked, this, guarded(&HistoryWindow::UndoRestoreClick));

    auto* texts = new QSplitter(Qt::Horizontal, this);
    texts->addWidget(Memo1);
    texts->addWidget(Memo2);
    auto* upper = new QSplitter(Qt::Vertical, this);
    upper->addWidget(ListView1);
    upper->addWidget(texts);
    upper->setStretchFactor(1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(RestoreSection);
    buttons->addWidget(RestoreDocument);
    buttons->addWidget(UndoRestore);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(upper, 1);
    layout->addWidget(Label2);
    layout->addLayout(buttons);
    setTabOrder(ListView1, Memo1);
    setTabOrder(Memo1, Memo2);
    setTabOrder(Memo2, RestoreSection);
    setTabOrder(RestoreSection, RestoreDocument);
    setTabOrder(RestoreDocument, UndoRestore);

    connect(ListView1, &QTreeWidget::currentItemChanged, this,
            [this] { velloran::ui::Guarded(this, [&] { Compare(); }); });
}

void HistoryWindow::Attach(velloran::HistoryKeeper* keeper, velloran::Session* session,
                           std::function<void()> reload) {
    keeper_ = keeper;
    session_ = session;
    reload_ = std::move(reload);
}

void HistoryWindow::ShowSection(int k, const QWidget* beside) {
    section_ = std::clamp(k, 0, velloran::kLastSlot);
    velloran::ui::ShowAtRightEdgeOf(this, beside);
    raise();
    activateWindow();
    Fill();
    ListView1->setFocus();
}

void HistoryWindow::Refresh() {
    if (isVisible() && keeper_ && keeper_->Told() != shownTold_) {
        Fill();
    }
}

void HistoryWindow::Fill() {
    versions_.clear();
    {
        const QSignalBlocker block(ListView1);
        ListView1->clear();
    }
    Memo1->clear();
    Memo2->clear();
    Label2->clear();
    const QString title = velloran::ui::ShownTitle(
        section_ == 0 ? std::string_view("Before the first section")
                      : documentWindow_->ReadSlot(section_).substr(
                            0, documentWindow_->ReadSlot(section_).find('\r')));
    Label1->setText(QStringLiteral("Section %1: %2").arg(section_).arg(title));
    if (!keeper_ || !session_) {
        return;
    }
    shownTold_ = keeper_->Told();
    QString why;
    keeper_->UseStore(*session_, [&](velloran::HistoryStore* store, const std::string& note) {
        if (!store) {
            why = QString::fromStdString(note.empty() ? "No history is kept of this document."
                                                      : note);
            return;
        }
        const auto& all = store->Versions();
        const auto k = static_cast<std::size_t>(section_);
        for (auto v = all.rbegin(); v != all.rend(); ++v) {
            if (k < v->sections.size() && (Changed(*v, section_) || v + 1 == all.rend())) {
                versions_.push_back(*v);
            }
        }
        std::optional<std::string> newer;
        for (std::size_t i = 0; i < versions_.size(); ++i) {
            const velloran::Version& v = versions_[i];
            QString event = QString::fromLatin1(velloran::EventName(v.event));
            if (!v.kept.empty()) {
                event += QStringLiteral(" \u2014 kept as \u201c%1\u201d")
                             .arg(QString::fromStdString(v.kept));
            }
            auto* row = new QTreeWidgetItem(
                {QDateTime::fromSecsSinceEpoch(v.time).toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                 event, QString::number(v.sections[k].words), QString()});
            ListView1->addTopLevelItem(row);
        }
        // What each version changed against the one listed before it, newest counted first.
        for (std::size_t i = 0; i < versions_.size() && i < kCountedRows; ++i) {
            const std::string text = store->SectionText(versions_[i], k);
            if (i > 0 && newer) {
                const velloran::TextDiff d = velloran::DiffWords(text, *newer);
                ListView1->topLevelItem(static_cast<int>(i - 1))
                    ->setText(3, Signed(d.wordsAdded, d.wordsRemoved));
            }
            newer = text;
        }
    });
    if (!why.isEmpty()) {
        Label1->setText(why);
    }
    RestoreSection->setEnabled(!versions_.empty());
    RestoreDocument->setEnabled(!versions_.empty());
    if (!versions_.empty()) {
        ListView1->setCurrentItem(ListView1->topLevelItem(0));
    }
}

const velloran::Version* HistoryWindow::Chosen() const {
    const int i = ListView1->indexOfTopLevelItem(ListView1->currentItem());
    return i >= 0 && static_cast<std::size_t>(i) < versions_.size()
               ? &versions_[static_cast<std::size_t>(i)]
               : nullptr;
}

std::optional<std::vector<std::string>> HistoryWindow::TextsOf(const velloran::Version& v,
                                                               bool all) {
    std::vector<std::string> texts;
    std::string why;
    keeper_->UseStore(*session_, [&](velloran::HistoryStore* store, const std::string& note) {
        if (!store) {
            why = note;
            return;
        }
        const velloran::Encoding now = state().DocumentEncoding;
        for (std::size_t k = all ? 0 : static_cast<std::size_t>(section_);
             k < (all ? v.sections.size() : static_cast<std::size_t>(section_) + 1); ++k) {
            texts.push_back(InEncoding(store->SectionText(v, k), v.encoding, now));
        }
    });
    if (!why.empty()) {
        throw velloran::Error(why);
    }
    return texts;
}

void HistoryWindow::Compare() {
    const velloran::Version* v = Chosen();
    if (!v) {
        return;
    }
    std::vector<std::string> then = *TextsOf(*v, false);
    const std::string_view now = documentWindow_->ReadSlot(section_);
    const velloran::TextDiff diff = velloran::DiffWords(then.front(), now);
    ShowDiff(Memo1, Memo2, diff, state().DocumentEncoding);
    QString said =
        diff.pieces.size() <= 1 &&
                (diff.pieces.empty() || diff.pieces.front().kind == velloran::DiffKind::Same)
            ? QStringLiteral("The section is as it was in this version.")
            : QStringLiteral("Since this version: %1 words added, %2 removed%3.")
                  .arg(diff.wordsAdded)
                  .arg(diff.wordsRemoved)
                  .arg(diff.byLines ? QStringLiteral(" (compared by lines)") : QString());
    // The document-wide view: which other sections this version has otherwise.
    QStringList others;
    keeper_->UseStore(*session_, [&](velloran::HistoryStore* store, const std::string&) {
        if (!store) {
            return;
        }
        const int last = std::max(state().LastSection, static_cast<int>(v->sections.size()) - 1);
        for (int k = 0; k <= last; ++k) {
            const auto i = static_cast<std::size_t>(k);
            if (k != section_ &&
                (i >= v->sections.size() || k > state().LastSection ||
                 store->HashOf(documentWindow_->ReadSlot(k)) != v->sections[i].hash)) {
                others << QString::number(k);
            }
        }
    });
    said += others.isEmpty() ? QStringLiteral(" No other section differs.")
                             : QStringLiteral(" Other sections that differ: %1.")
                                   .arg(others.join(QStringLiteral(", ")));
    Label2->setText(said);
}

void HistoryWindow::RestoreSectionClick() {
    const velloran::Version* v = Chosen();
    if (!v) {
        return;
    }
    if (section_ > state().LastSection) {
        throw velloran::Error(
            "This section is no longer in the document: restore the whole "
            "document to bring it back.");
    }
    std::vector<std::string> texts = *TextsOf(*v, false);
    const std::string_view now = documentWindow_->ReadSlot(section_);
    // Another title is a marker line changed: the list follows once the document is cut anew.
    const bool retitled = now.substr(0, now.find('\r')) !=
                          std::string_view(texts.front()).substr(0, texts.front().find('\r'));
    std::optional<int> count;
    if (retitled) {
        count = state().LastSection + 1;
    }
    undo_ = SectionsStep::Apply(*documentWindow_, {{section_, std::move(texts.front())}}, reload_,
                                count);
    Restored();
    UndoRestore->setEnabled(true);
    Compare();
}

void HistoryWindow::RestoreDocumentClick() {
    const velloran::Version* v = Chosen();
    if (!v) {
        return;
    }
    std::vector<std::string> texts = *TextsOf(*v, true);
    std::vector<std::pair<int, std::string>> changes;
    for (std::size_t k = 0; k < texts.size(); ++k) {
        const int slot = static_cast<int>(k);
        if (slot > state().LastSection || documentWindow_->ReadSlot(slot) != texts[k]) {
            changes.emplace_back(slot, std::move(texts[k]));
        }
    }
    std::optional<int> count;
    if (static_cast<int>(texts.size()) != state().LastSection + 1) {
        count = static_cast<int>(texts.size());
    }
    undo_ = SectionsStep::Apply(*documentWindow_, std::move(changes), reload_, count);
    Restored();
    UndoRestore->setEnabled(true);
    Fill();
}

void HistoryWindow::Restored() {
    // A moment of its own, kept even if the writer goes on to undo it.
    if (session_) {
        session_->Versioned(velloran::VersionEvent::Restored);
    }
}

void HistoryWindow::UndoRestoreClick() {
    if (!undo_) {
        return;
    }
    SectionsStep undo = std::move(*undo_);
    undo_.reset();
    UndoRestore->setEnabled(false);
    undo.Undo(*documentWindow_, reload_);
    Fill();
}
