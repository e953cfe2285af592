#pragma once

#include <QString>
#include <QStringList>
#include <QStringView>
#include <QTextBlock>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Encoding.h"
#include "core/document/IndexedText.h"
#include "core/tools/Search.h"
#include "ui/document/TextArea.h"

class QMenu;
class QTimer;

namespace velloran::spelling {
class SpellingService;
}

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
    // Makes the text bytes (in the editor's encoding) as one step of the undo history, changing
    // only the lines that differ, so that the caret and the scroll position stay where the text
    // around them did; reported through onBytesChanged as typing is.
    void ReplaceBytes(std::string_view bytes);
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

    // Marks misspelled words with a red wavy underline, as far as the text is on screen (and a
    // screen before and after it), when it is first shown, scrolled or changed; nullptr checks
    // nothing. Marks are drawn over the text: they change no character, no undo step, no caret.
    // The word being typed is marked once the caret leaves it.
    void SetSpelling(velloran::spelling::SpellingService* spelling);
    // Checks again what is on screen, soon: the answers or the words accepted have changed.
    void MarkSoon();
    // Checks again the lines whose words had no answer yet: answers have come.
    void MarkAnswered();
    // The words marked now, in the order of the text; for tests.
    QStringList MarkedWords() const;
    // The context menu at a point of the viewport: for a marked word its suggestions, "Add to
    // Dictionary" and "Ignore", then the editor's own entries. The caller owns it.
    QMenu* CreateContextMenu(QPoint at);
    // Told after a word was added to the dictionary or ignored, which every editor must show.
    std::function<void()> onWordsAccepted;

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
    void contextMenuEvent(QContextMenuEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

  private:
    struct Mark {
        int start;  // Qt positions in the document
        int end;
        std::string word;  // UTF-8
    };
    void MarkShown();
    // The misspelled words of a block, in Qt positions within it; the word being typed left out.
    std::vector<Mark> MarksOf(const QTextBlock& block, bool exempt, bool* touched);
    // Underlines the misspelled words of a block, laying it out again only when they changed.
    void MarkBlock(const QTextBlock& block, bool exempt, bool* touched);
    void FollowCaret();
    // Checks lines from to to again soon (block numbers), the rest keeping their marks.
    void MarkLines(int from, int to);
    // Brings the bytes in step with a change the document reports.
    void FollowChange(int position, int removed, int added);
    // Wraps anywhere when the bytes hold a run without blanks that touches [from, to) and is
    // too long to wrap at word boundaries; afresh decides again for a whole new text.
    void WrapAnywhereFor(std::string_view bytes, std::size_t from, std::size_t to, bool afresh);

    int tag_;
    // The text's bytes: Qt positions of the text are its code units.
    velloran::IndexedText text_;
    bool settingBytes_ = false;

    velloran::spelling::SpellingService* spelling_ = nullptr;
    QTimer* markTimer_ = nullptr;
    // The word being typed, not marked while the caret stays in it: its place in the document.
    bool typing_ = false;
    bool justEdited_ = false;
    bool markAll_ = false;
    int dirtyFrom_ = -1;
    int dirtyTo_ = -1;
    // The lines with words still waiting for an answer (block numbers).
    int waitingFrom_ = -1;
    int waitingTo_ = -1;
    int blockCount_ = 1;
    int typedStart_ = -1;
    int typedEnd_ = -1;
};
