#include "ui/document/DocumentWindow.h"

#include <QFont>
#include <QKeyEvent>
#include <QPalette>
#include <QResizeEvent>
#include <algorithm>
#include <utility>

#include "core/spelling/SpellingService.h"
#include "ui/document/ShownText.h"
#include "ui/platform/Colours.h"
#include "ui/platform/Geometry.h"
#include "ui/platform/Platform.h"

using velloran::kLastSlot;
using velloran::kSectionCount;
using velloran::state;
using velloran::ui::PlacesWindows;

namespace {

// Neighbouring sections always differ in colour; the cycle starts again at 18 and 36.
constexpr std::array<std::array<int, 3>, 18> kSectionColors = {{
    {208, 192, 192},
    {192, 208, 192},
    {192, 192, 208},
    {208, 208, 192},
    {208, 192, 208},
    {192, 208, 208},
    {224, 192, 192},
    {192, 224, 192},
    {192, 192, 224},
    {224, 224, 192},
    {224, 192, 224},
    {192, 224, 224},
    {224, 208, 208},
    {208, 224, 208},
    {208, 208, 224},
    {224, 224, 208},
    {224, 208, 224},
    {208, 224, 224},
}};

int Slot(int k) {
    return std::clamp(k, 0, kLastSlot);
}

std::size_t Index(int k) {
    return static_cast<std::size_t>(k);
}

}  // namespace

DocumentWindow::DocumentWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    FormCreate();
}

DocumentWindow::~DocumentWindow() {
    // Its thread may be telling this window of answers: it ends first.
    spelling_.reset();
}

void DocumentWindow::UseSpelling(const std::optional<velloran::spelling::Dictionary>& dictionary,
                                 const std::string& personalPath) {
    for (SectionEditor* ed : editors_) {
        ed->SetSpelling(nullptr);
    }
    spelling_.reset();
    if (dictionary) {
        spelling_ = std::make_unique<velloran::spelling::SpellingService>(
            *dictionary, personalPath, [this] {
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        for (SectionEditor* ed : editors_) {
                            ed->MarkAnswered();
                        }
                    },
                    Qt::QueuedConnection);
            });
    }
    for (SectionEditor* ed : editors_) {
        ed->SetSpelling(spelling_.get());
    }
}

void DocumentWindow::MarkShownEditors() {
    for (SectionEditor* ed : editors_) {
        ed->MarkSoon();
    }
}

QColor DocumentWindow::SectionColor(int k) {
    const auto& c = kSectionColors[Index(k % 18)];
    return QColor(c[0], c[1], c[2]);
}

void DocumentWindow::FormCreate() {
    setObjectName(QStringLiteral("TForm2"));
    setWindowTitle(QStringLiteral("Program Description"));
    velloran::ui::PlaceOuter(this, QRect(kDesignLeft, kDesignTop, kDesignWidth, kDesignHeight));

    QFont font(QStringLiteral("Courier New"));
    font.setPointSize(10);
    auto& st = state();
    for (int k = 0; k < kSectionCount; ++k) {
        auto* ed = new SectionEditor(k, this);
        // What is typed into a document not read yet takes the locale's encoding.
        ed->SetBytes({}, st.DocumentEncoding);
        editors_[Index(k)] = ed;
        ed->setGeometry(0, 0, 200, 200);
        filled_[Index(k)] = true;
        holdsText_[Index(k)] = true;
        ed->setGeometry(rect());
        ed->setEnabled(true);
        ed->hide();
        ed->setPalette(velloran::ui::FixedColours(ed->palette(), QPalette::Base, SectionColor(k)));
        ed->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        ed->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        ed->setFont(font);
        ed->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        ed->moveCursor(QTextCursor::Start);
        connect(ed, &QPlainTextEdit::textChanged, this, &DocumentWindow::SectionEditorChange);
        ed->onBytesChanged = [this, k](std::size_t position, std::size_t removed,
                                       std::string_view inserted) {
            if (observer_) {
                observer_->SlotEdited(k, position, removed, inserted);
            }
            if (onSectionEdited) {
                onSectionEdited(k);
            }
        };
        connect(ed, &SectionEditor::clicked, this, &DocumentWindow::SectionEditorClick);
        ed->onWordsAccepted = [this] { MarkShownEditors(); };
        connect(ed, &SectionEditor::keyDown, this, [this, ed](int key, Qt::KeyboardModifiers m) {
            if (onEditorKeyDown) {
                onEditorKeyDown(key, m, ed);
            }
        });
        connect(ed, &SectionEditor::keyUp, this, [this, ed](int key, Qt::KeyboardModifiers m) {
            if (onEditorKeyUp) {
                onEditorKeyUp(key, m, ed);
            }
        });
    }
    editors_[0]->show();

    st.LastSection = 0;
    st.Panel1Section = 0;
    st.Panel2Section = 0;
    st.ActiveSection = 0;
    st.Modified = false;
    st.FontFace = "Courier New";
    st.FontSize = 10;
    st.WordWrap = true;
}

std::string_view DocumentWindow::ReadSlot(int k) const {
    if (!holdsText_[Index(k)]) {
        return store_.Text(k);
    }
    const SectionEditor* ed = editors_[Index(k)];
    Q_ASSERT(ed->ByteView() == ed->Bytes());
    return ed->ByteView();
}

void DocumentWindow::SetSlotText(int k, std::string text) {
    store_.SetSlotText(k, std::move(text));
    if (observer_) {
        observer_->SlotReplaced(k, store_.Block(k), store_.Text(k));
    }
    TextStored(k);
    // Filling an editor notifies like an edit; the operations that fill set the flag afterwards.
    state().Modified = true;
}

void DocumentWindow::SetSections(const velloran::SharedBytes& block,
                                 std::span<const std::string_view> texts) {
    store_.SetSections(block, texts);
    if (observer_) {
        observer_->SlotsReplaced(block, texts);
    }
    for (std::size_t k = 0; k < texts.size(); ++k) {
        TextStored(static_cast<int>(k));
    }
}

void DocumentWindow::MergeSlotText(int k, std::string_view text) {
    if (!holdsText_[Index(k)]) {
        SetSlotText(k, std::string(text));
        return;
    }
    editors_[Index(k)]->ReplaceBytes(text);
}

void DocumentWindow::TextStored(int k) {
    holdsText_[Index(k)] = false;
    storedEncodings_[Index(k)] = state().DocumentEncoding;
    SectionEditor* ed = editors_[Index(k)];
    if (!ed->isHidden()) {
        Filled(k);
    } else if (!ed->document()->isEmpty()) {
        ed->SetBytes({}, storedEncodings_[Index(k)]);
    }
}

SectionEditor* DocumentWindow::Filled(int k) const {
    SectionEditor* ed = editors_[Index(k)];
    if (!holdsText_[Index(k)]) {
        auto& st = state();
        const bool modified = st.Modified;
        ed->SetBytes(store_.Text(k), storedEncodings_[Index(k)]);
        st.Modified = modified;
        // An editor keeps line breaks of every form as CR LF: edits count from its bytes.
        if (observer_ && ed->ByteView() != store_.Text(k)) {
            auto block = std::make_shared<const std::string>(ed->ByteView());
            observer_->SlotReplaced(k, block, *block);
        }
        store_.Release(k);
        holdsText_[Index(k)] = true;
    }
    return ed;
}

void DocumentWindow::SectionEditorChange() {
    state().Modified = true;
}

void DocumentWindow::SectionEditorClick(int tag) {
    const int before = std::exchange(state().ActiveSection, tag);
    if (observer_ && tag != before) {
        observer_->ViewChanged();
    }
}

void DocumentWindow::SelectSection(int a) {
    if (a < 0 || a > kLastSlot) {
        return;
    }
    auto& st = state();
    if (st.PanelMode == 2 || st.PanelMode == 3) {
        if (a == st.Panel1Section || a == st.Panel2Section) {
            BringForward();
            return;
        }
        st.Panel2Section = a;
    } else {
        if (a == st.Panel1Section) {
            BringForward();
            return;
        }
        st.Panel2Section = st.Panel1Section;
        st.Panel1Section = a;
    }
    st.ActiveSection = a;
    LayoutPanels();
}

void DocumentWindow::LayoutPanels() {
    const auto& st = state();
    const int p1 = Slot(st.Panel1Section);
    const int p2 = Slot(st.Panel2Section);
    const int mode = (st.PanelMode == 2 || st.PanelMode == 3) ? st.PanelMode : 1;
    velloran::ui::SetCaption(this, Filled(p1)->FirstLine());

    // Work out the outcome first and change only what differs, so that the editor that stays
    // on screen is neither hidden nor laid out again.
    const int cw = width();
    const int ch = height();
    std::array<QRect, kSectionCount> bounds;
    std::array<bool, kSectionCount> shown{};
    bounds.fill(rect());
    filled_.fill(true);
    if (mode == 1) {
        shown[Index(p1)] = true;
    } else {
        const QRect first = mode == 2 ? QRect(0, 0, cw, std::max(0, ch / 2 - 5))
                                      : QRect(0, 0, std::max(0, cw / 2 - 5), ch);
        const QRect second = mode == 2 ? QRect(0, ch / 2, cw, std::max(0, ch / 2 - 5))
                                       : QRect(cw / 2, 0, std::max(0, cw / 2 - 5), ch);
        // With both panes on one section its editor ends in the second pane.
        bounds[Index(p1)] = first;
        bounds[Index(p2)] = second;
        for (int k : {p1, p2}) {
            filled_[Index(k)] = false;
            shown[Index(k)] = true;
        }
    }
    for (int k = 0; k < kSectionCount; ++k) {
        SectionEditor* ed = editors_[Index(k)];
        if (!shown[Index(k)] && !ed->isHidden()) {
            HideEditor(ed);
        }
    }
    for (int k = 0; k < kSectionCount; ++k) {
        SectionEditor* ed = editors_[Index(k)];
        if (ed->geometry() != bounds[Index(k)]) {
            ed->setGeometry(bounds[Index(k)]);
        }
        if (shown[Index(k)] && ed->isHidden()) {
            Filled(k)->show();
        }
    }
    laidMode_ = mode;
    laidPane1_ = p1;
    laidPane2_ = p2;

    // Closing the window only hides it; without this nothing would bring the text back.
    if (isHidden()) {
        show();
    }
    BringForward();
    if (observer_) {
        observer_->ViewChanged();
    }
}

void DocumentWindow::BringForward() {
    // Where the windows cannot be placed side by side, this one may stand behind the list, and
    // the section just chosen would change out of sight. Elsewhere it stays where it is, and the
    // list keeps the focus for the arrow keys.
    if (PlacesWindows() || isHidden()) {
        return;
    }
    raise();
    activateWindow();
}

void DocumentWindow::HideEditor(SectionEditor* ed) {
    // Left to itself the toolkit keeps the focus, and every later key, in the hidden editor,
    // where it would change a section nobody sees. The window takes the focus first, and the
    // editor shown next does not get it: typing there needs a click into it.
    QWidget* focus = focusWidget();
    if (focus && (focus == ed || ed->isAncestorOf(focus))) {
        setFocus(Qt::OtherFocusReason);
    }
    ed->hide();
}

void DocumentWindow::keyPressEvent(QKeyEvent* e) {
    // Keys an editor leaves to its window arrive here too, and were handled there already.
    if (focusWidget() == this && onWindowKeyDown) {
        onWindowKeyDown(e->key());
    }
    QWidget::keyPressEvent(e);
}

void DocumentWindow::FormResize() {
    const int cw = width();
    const int ch = height();
    SectionEditor* first = editors_[Index(laidPane1_)];
    SectionEditor* second = editors_[Index(laidPane2_)];
    if (laidMode_ == 2) {
        first->setGeometry(first->x(), first->y(), cw, std::max(0, ch / 2 - 5));
        second->setGeometry(second->x(), ch / 2, cw, std::max(0, ch / 2 - 5));
    } else if (laidMode_ == 3) {
        first->setGeometry(first->x(), first->y(), std::max(0, cw / 2 - 5), ch);
        second->setGeometry(cw / 2, second->y(), std::max(0, cw / 2 - 5), ch);
    }
}

void DocumentWindow::resizeEvent(QResizeEvent* e) {
    QWidget::resizeEvent(e);
    for (int k = 0; k < kSectionCount; ++k) {
        if (filled_[Index(k)]) {
            editors_[Index(k)]->setGeometry(rect());
        }
    }
    FormResize();
}

void DocumentWindow::ApplyFormat() {
    const auto& st = state();
    // The settings file's text is Windows-1252, whatever the document's encoding.
    QFont font(SectionEditor::TextFromBytes(st.FontFace, velloran::Encoding::Windows1252));
    // A size of zero or less would leave Qt's own default in place with a warning.
    font.setPointSize(st.FontSize > 0 ? st.FontSize : 10);
    const auto wrap = st.WordWrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap;
    const auto horizontal = st.WordWrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn;
    for (SectionEditor* ed : editors_) {
        ed->setFont(font);
        ed->setLineWrapMode(wrap);
        ed->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        ed->setHorizontalScrollBarPolicy(horizontal);
    }
}
