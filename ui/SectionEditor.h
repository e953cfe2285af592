#pragma once

#include <QString>
#include <QStringView>
#include <functional>
#include <string>
#include <string_view>

#include "ui/TextArea.h"

// The editor of one section slot, and the one place where editor text meets the core's bytes.
// Bytes are shown through the code page one to one; positions the editor's own algorithms use
// (search, caret, selection) count a line break as two characters, CR LF, so that they are byte
// offsets into Bytes().
// An editor placed in a window takes keys, pastes, drops and input-method text only while it is
// shown: a section whose editor a layout hid never changes, whatever still sends it input.
class SectionEditor : public TextArea {
    Q_OBJECT

  public:
    explicit SectionEditor(int tag, QWidget* parent = nullptr);

    int Tag() const { return tag_; }
    // False for an editor that its window does not show.
    bool TakesInput() const { return isWindow() || isVisible(); }

    // Bytes with CR LF, a lone CR or a lone LF as line breaks. Starts the undo history afresh.
    void SetBytes(std::string_view bytes);
    // The whole text as bytes, CR LF after each line.
    std::string Bytes() const;
    // The same bytes, kept in step with every change of the text, so that reading them copies
    // nothing: what the search and every other reader of the section scan.
    std::string_view ByteView() const { return mirror_; }
    // The first line of the text, empty when there is none.
    QString FirstLine() const;
    // Told of every change of the bytes after it was made: at position, `removed` bytes gave way
    // to inserted. Not for SetBytes, which starts the text afresh. Must not throw.
    std::function<void(std::size_t position, std::size_t removed, std::string_view inserted)>
        onBytesChanged;

    // Conversions between Qt positions and positions that count a line break as two characters.
    // A position between the CR and the LF of a break stands for the end of that line.
    int ToCrLf(int qtPos) const;
    int FromCrLf(int crlfPos) const;

    int CaretPos() const;
    void SetCaretPos(int crlfPos);
    int SelStart() const;
    int SelLength() const;
    // Selects length characters from start, the caret at the end, and scrolls it into view.
    void Select(int crlfStart, int crlfLength);

    // The one-pass conversions behind SetBytes and Bytes.
    static QString TextFromBytes(std::string_view bytes);
    static std::string BytesFromText(QStringView raw);
    // Characters the code page cannot hold become "?", line breaks of any form become '\n'.
    static QString Representable(QStringView text);

  signals:
    // Sent before the editor handles the key, which it then handles as usual.
    void keyDown(int key, Qt::KeyboardModifiers modifiers);
    void keyUp(int key, Qt::KeyboardModifiers modifiers);
    void clicked(int tag);

  protected:
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void inputMethodEvent(QInputMethodEvent* e) override;
    void insertFromMimeData(const QMimeData* source) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

  private:
    // Brings the bytes in step with a change the document reports.
    void FollowChange(int position, int removed, int added);

    int tag_;
    std::string mirror_;
    // Characters of the text that mirror_ stands for.
    qsizetype mirrorChars_ = 0;
    bool settingBytes_ = false;
};
