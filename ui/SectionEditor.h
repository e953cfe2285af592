#pragma once

#include <QString>
#include <QStringView>
#include <functional>
#include <string>
#include <string_view>

#include "core/document/Encoding.h"
#include "core/document/IndexedText.h"
#include "core/tools/Search.h"
#include "ui/TextArea.h"

// The editor of one section slot, and the one place where editor text meets the core's bytes:
// bytes are read and written in the encoding the editor was filled in, the document's, which
// holds every byte. Positions the editor's own algorithms use (search, caret, selection) count
// characters of that encoding, a line break as two, CR LF.
// An editor placed in a window takes keys, pastes, drops and input-method text only while it is
// shown: a section whose editor a layout hid never changes, whatever still sends it input.
class SectionEditor : public TextArea {
    Q_OBJECT

  public:
    // Starts empty, in Windows-1252 until SetBytes gives it the document's encoding.
    explicit SectionEditor(int tag, QWidget* parent = nullptr);

    int Tag() const { return tag_; }
    // False for an editor that its window does not show.
    bool TakesInput() const { return isWindow() || isVisible(); }

    // Bytes with CR LF, a lone CR or a lone LF as line breaks, in an encoding that the editor
    // keeps for what is typed from now on. Starts the undo history afresh.
    void SetBytes(std::string_view bytes, velloran::Encoding encoding);
    velloran::Encoding TextEncoding() const { return text_.TextEncoding(); }
    // The whole text as bytes, CR LF after each line.
    std::string Bytes() const;
    // The same bytes, kept in step with every change of the text, so that reading them copies
    // nothing: what the search and every other reader of the section scan.
    std::string_view ByteView() const { return text_.Bytes(); }
    // The first line of the text, empty when there is none.
    QString FirstLine() const;
    // Told of every change of the bytes after it was made: at position, `removed` bytes gave way
    // to inserted. Not for SetBytes, which starts the text afresh. Must not throw.
    std::function<void(std::size_t position, std::size_t removed, std::string_view inserted)>
        onBytesChanged;

    // Conversions between Qt positions and positions in characters, a line break counting two.
    // A position between the CR and the LF of a break stands for the end of that line.
    int ToCrLf(int qtPos) const;
    int FromCrLf(int crlfPos) const;

    int CaretPos() const;
    void SetCaretPos(int crlfPos);
    int SelStart() const;
    int SelLength() const;
    // Selects length characters from start, the caret at the end, and scrolls it into view.
    void Select(int crlfStart, int crlfLength);
    // The selection, and selecting, in byte offsets into ByteView().
    velloran::Selection ByteSelection() const;
    void SelectBytes(velloran::Selection bytes);

    // The one-pass conversions behind SetBytes and Bytes.
    static QString TextFromBytes(std::string_view bytes, velloran::Encoding encoding);
    static std::string BytesFromText(QStringView raw, velloran::Encoding encoding);
    // Characters the encoding cannot hold become "?", line breaks of any form become '\n'.
    static QString Representable(QStringView text, velloran::Encoding encoding);

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
    // Wraps anywhere when the bytes hold a run without blanks that touches [from, to) and is
    // too long to wrap at word boundaries; afresh decides again for a whole new text.
    void WrapAnywhereFor(std::string_view bytes, std::size_t from, std::size_t to, bool afresh);

    int tag_;
    // The text's bytes: Qt positions of the text are its code units.
    velloran::IndexedText text_;
    bool settingBytes_ = false;
};
