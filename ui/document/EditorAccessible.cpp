#include "ui/document/EditorAccessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "ui/document/SectionEditor.h"

namespace velloran::ui {
namespace {

class EditorAccessible : public QAccessibleWidget,
                         public QAccessibleTextInterface,
                         public QAccessibleEditableTextInterface {
  public:
    explicit EditorAccessible(SectionEditor* editor)
        : QAccessibleWidget(editor, QAccessible::EditableText) {}

    SectionEditor* Editor() const { return static_cast<SectionEditor*>(widget()); }

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        if (t == QAccessible::EditableTextInterface) {
            return static_cast<QAccessibleEditableTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name) {
            const QString own = widget()->accessibleName();
            return own.isEmpty() ? Editor()->AccessibleName() : own;
        }
        if (t == QAccessible::Value) {
            return Editor()->toPlainText();
        }
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.multiLine = true;
        s.editable = !Editor()->isReadOnly();
        s.readOnly = Editor()->isReadOnly();
        s.selectableText = true;
        return s;
    }

    // Scroll bars are no content of the text.
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    // ---- text
    void selection(int selectionIndex, int* startOffset, int* endOffset) const override {
        const QTextCursor c = Editor()->textCursor();
        if (selectionIndex == 0 && c.hasSelection()) {
            *startOffset = c.selectionStart();
            *endOffset = c.selectionEnd();
        } else {
            *startOffset = *endOffset = 0;
        }
    }
    int selectionCount() const override { return Editor()->textCursor().hasSelection() ? 1 : 0; }
    void addSelection(int startOffset, int endOffset) override {
        setSelection(0, startOffset, endOffset);
    }
    void removeSelection(int selectionIndex) override {
        if (selectionIndex == 0) {
            QTextCursor c = Editor()->textCursor();
            c.clearSelection();
            Editor()->setTextCursor(c);
        }
    }
    void setSelection(int selectionIndex, int startOffset, int endOffset) override {
        if (selectionIndex != 0) {
            return;
        }
        QTextCursor c = Editor()->textCursor();
        c.setPosition(Clamped(startOffset));
        c.setPosition(Clamped(endOffset), QTextCursor::KeepAnchor);
        Editor()->setTextCursor(c);
    }
    int cursorPosition() const override { return Editor()->textCursor().position(); }
    void setCursorPosition(int position) override {
        QTextCursor c = Editor()->textCursor();
        c.setPosition(Clamped(position));
        Editor()->setTextCursor(c);
    }
    QString text(int startOffset, int endOffset) const override {
        const QString all = Editor()->toPlainText();
        startOffset = std::clamp(startOffset, 0, static_cast<int>(all.size()));
        endOffset = std::clamp(endOffset, startOffset, static_cast<int>(all.size()));
        return all.mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return Editor()->document()->characterCount() - 1; }
    QRect characterRect(int offset) const override {
        QTextCursor c(Editor()->document());
        c.setPosition(Clamped(offset));
        QRect r = Editor()->cursorRect(c);
        const QChar ch = Editor()->document()->characterAt(c.position());
        r.setWidth(std::max(1, QFontMetrics(Editor()->font()).horizontalAdvance(ch)));
        return QRect(Editor()->viewport()->mapToGlobal(r.topLeft()), r.size());
    }
    int offsetAtPoint(const QPoint& point) const override {
        const QPoint at = Editor()->viewport()->mapFromGlobal(point);
        if (!Editor()->viewport()->rect().contains(at)) {
            return -1;
        }
        return Editor()->cursorForPosition(at).position();
    }
    void scrollToSubstring(int startIndex, int endIndex) override {
        setSelection(0, startIndex, endIndex);
        Editor()->ensureCursorVisible();
    }
    // A misspelled word is told as such in both the forms screen readers look for.
    QString attributes(int offset, int* startOffset, int* endOffset) const override {
        const bool marked = Editor()->MarkedAt(Clamped(offset), startOffset, endOffset);
        return marked ? QStringLiteral(
                            "invalid:spelling;text-underline-style:wave;"
                            "text-underline-color:rgb(220,0,0);")
                      : QString();
    }

    // ---- editing, only where typing would edit
    void deleteText(int startOffset, int endOffset) override {
        replaceText(startOffset, endOffset, {});
    }
    void insertText(int offset, const QString& text) override { replaceText(offset, offset, text); }
    void replaceText(int startOffset, int endOffset, const QString& text) override {
        if (Editor()->isReadOnly() || !Editor()->TakesInput()) {
            return;
        }
        QTextCursor c = Editor()->textCursor();
        c.setPosition(Clamped(startOffset));
        c.setPosition(Clamped(endOffset), QTextCursor::KeepAnchor);
        c.insertText(SectionEditor::Representable(text, Editor()->TextEncoding()));
        Editor()->setTextCursor(c);
    }

  private:
    int Clamped(int position) const { return std::clamp(position, 0, characterCount()); }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (className == QLatin1String(SectionEditor::staticMetaObject.className())) {
        return new EditorAccessible(static_cast<SectionEditor*>(object));
    }
    return nullptr;
}

}  // namespace

void InstallEditorAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(&Factory);
        return true;
    }();
    (void)installed;
}

}  // namespace velloran::ui
