#include "ui/tools/SearchWindow.h"

#include <QFont>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <algorithm>

#include "core/document/Error.h"
#include "core/document/State.h"
#include "core/tools/Search.h"
#include "ui/document/DocumentWindow.h"
#include "ui/document/ShownText.h"
#include "ui/platform/Geometry.h"
#include "ui/platform/Guard.h"

using velloran::state;

namespace {

constexpr const char* kCannotFocus = "Cannot focus a disabled or invisible window";

}  // namespace

SearchWindow::SearchWindow(DocumentWindow* documentWindow, const velloran::SectionList* list,
                           QWidget* parent)
    : QWidget(parent, Qt::Window), documentWindow_(documentWindow), list_(list) {
    setObjectName(QStringLiteral("TForm6"));
    setWindowTitle(QStringLiteral("Search"));
    velloran::ui::PlaceOuter(this, QRect(kDesignLeft, kDesignTop, kDesignWidth, kDesignHeight));

    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);
    Edit1 = new QLineEdit(QStringLiteral("Edit1"), this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setFont(font);
    Edit1->setGeometry(8, 8, width() - 16, 24);

    Button1 = new QPushButton(QStringLiteral("Search"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(8, 44, 88, 28);
    Button2 = new QPushButton(QStringLiteral("Search All"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(104, 44, 88, 28);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));

    connect(Button1, &QPushButton::clicked, this, &SearchWindow::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &SearchWindow::Button2Click);
    // Every change of the selection shows its section, by mouse or by the arrow keys; a click on
    // the row already selected shows it again after the panes changed elsewhere.
    connect(ListBox1, &QListWidget::currentRowChanged, this, &SearchWindow::ListBox1Click);
    connect(ListBox1, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* item) { ListBox1Click(ListBox1->row(item)); });
    FormResize();
}

void SearchWindow::ShowAt(const QWidget* beside) {
    velloran::ui::ShowAtRightEdgeOf(this, beside);
}

void SearchWindow::TakeSearchText() {
    state().SearchText = velloran::ui::DocumentBytes(Edit1->text());
}

void SearchWindow::Button1Click() {
    velloran::ui::Guarded(this, [this] {
        TakeSearchText();
        FindNext();
    });
}

bool SearchWindow::FindNext() {
    if (!documentWindow_->isVisible() || !documentWindow_->isEnabled()) {
        throw velloran::Error(kCannotFocus);
    }
    documentWindow_->activateWindow();
    SectionEditor* editor =
        documentWindow_->SectionEditors(std::clamp(state().ActiveSection, 0, velloran::kLastSlot));
    if (!editor->isVisible() || !editor->isEnabled()) {
        throw velloran::Error(kCannotFocus);
    }
    editor->setFocus(Qt::OtherFocusReason);

    const std::string& searchText = state().SearchText;
    if (searchText.empty()) {
        return false;
    }
    const velloran::Selection current = editor->ByteSelection();
    const auto hit =
        velloran::FindNextMatch(editor->ByteView(), current, searchText, editor->TextEncoding());
    if (hit) {
        editor->SelectBytes(*hit);
        return true;
    }
    if (current.length > 0) {
        editor->SelectBytes({current.start, 0});
    }
    return false;
}

void SearchWindow::Button2Click() {
    velloran::ui::Guarded(this, [this] {
        {
            // Refilling the list is no selection by the user.
            const QSignalBlocker block(ListBox1);
            ListBox1->clear();
        }
        TakeSearchText();
        const auto rows = velloran::SearchAllRows(*documentWindow_, *list_, state().SearchText,
                                                  state().DocumentEncoding);
        const QSignalBlocker block(ListBox1);
        for (const auto& row : rows) {
            ListBox1->addItem(velloran::ui::ShownTitle(row));
        }
    });
}

void SearchWindow::ListBox1Click(int row) {
    // Rows are not renewed when the sections change: a row past the last section would show an
    // editor left over from an earlier split, whose text no save writes.
    if (row < 0 || row >= ListBox1->count() || row > state().LastSection) {
        return;
    }
    velloran::ui::Guarded(this, [&] { documentWindow_->SelectSection(row); });
}

void SearchWindow::FormResize() {
    Edit1->setGeometry(Edit1->x(), Edit1->y(), std::max(0, width() - 16), Edit1->height());
    ListBox1->setGeometry(0, kListTop, width(), std::max(0, height() - kListTop));
}

void SearchWindow::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    FormResize();
}
