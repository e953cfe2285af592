#include "SectionEditor.h"

#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextBlock>
#include <algorithm>
#include <array>
#include <cstring>

#include "core/Codepage.h"
#include "core/Lines.h"

namespace {

constexpr char16_t kParagraphSeparator = 0x2029;
constexpr char16_t kLineSeparator = 0x2028;

const std::array<char16_t, 256>& ByteToChar() {
    static const auto table = [] {
        std::array<char16_t, 256> t{};
        for (int b = 0; b < 256; ++b) {
            t[static_cast<std::size_t>(b)] =
                velloran::codepage::ToUnicode(static_cast<unsigned char>(b));
        }
        return t;
    }();
    return table;
}

// "?" for every character the code page cannot hold, so encoding is one look-up per character.
const std::array<unsigned char, 65536>& CharToByte() {
    static const auto table = [] {
        std::array<unsigned char, 65536> t;
        t.fill('?');
        for (int b = 0; b < 256; ++b) {
            t[velloran::codepage::ToUnicode(static_cast<unsigned char>(b))] =
                static_cast<unsigned char>(b);
        }
        return t;
    }();
    return table;
}

bool Held(char16_t c) {
    return c == u'?' || CharToByte()[c] != '?';
}

bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Characters the code page cannot hold become "?" (a surrogate pair is one character); with
// breaks, every form of line break becomes '\n' first.
QString HeldText(QStringView text, bool breaks) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (breaks &&
            (c == u'\r' || c == u'\n' || c == kParagraphSeparator || c == kLineSeparator)) {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
            out.append(u'\n');
        } else if (Held(c)) {
            out.append(QChar(c));
        } else {
            if (IsHighSurrogate(c) && i + 1 < text.size() &&
                IsLowSurrogate(text[i + 1].unicode())) {
                ++i;
            }
            out.append(u'?');
        }
    }
    return out;
}

// Every form of line break as CR LF, as the editor gives its text back.
std::string CrLfBytes(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    velloran::ForEachLogicalLine(bytes, [&](std::string_view line) {
        out.append(line);
        out.append("\r\n");
    });
    if (!bytes.empty() && bytes.back() != '\r' && bytes.back() != '\n') {
        out.resize(out.size() - 2);  // the last line had no break
    }
    return out;
}

bool AllHeld(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return Held(c.unicode()); });
}

}  // namespace

SectionEditor::SectionEditor(int tag, QWidget* parent) : TextArea(parent), tag_(tag) {
    setObjectName(QStringLiteral("SectionEditor%1").arg(tag));
    setProperty("tag", tag);
    connect(document(), &QTextDocument::contentsChange, this, &SectionEditor::FollowChange);
}

QString SectionEditor::TextFromBytes(std::string_view bytes) {
    const auto& table = ByteToChar();
    QString out(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    char16_t* const begin = reinterpret_cast<char16_t*>(out.data());
    char16_t* d = begin;
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == '\r') {
            if (i + 1 < n && bytes[i + 1] == '\n') {
                ++i;
            }
            *d++ = u'\n';
        } else if (b == '\n') {
            *d++ = u'\n';
        } else {
            *d++ = table[b];
        }
    }
    out.truncate(d - begin);
    return out;
}

std::string SectionEditor::BytesFromText(QStringView raw) {
    const auto& table = CharToByte();
    const char16_t* p = reinterpret_cast<const char16_t*>(raw.data());
    const char16_t* const end = p + raw.size();
    const auto breaks = std::count_if(
        p, end, [](char16_t c) { return c == kParagraphSeparator || c == kLineSeparator; });
    std::string out(static_cast<std::size_t>(raw.size() + breaks), '\0');
    char* d = out.data();
    for (; p != end; ++p) {
        const char16_t c = *p;
        if (c == kParagraphSeparator || c == kLineSeparator) {
            *d++ = '\r';
            *d++ = '\n';
        } else {
            if (IsHighSurrogate(c) && p + 1 != end && IsLowSurrogate(p[1])) {
                ++p;
            }
            *d++ = static_cast<char>(table[c]);
        }
    }
    out.resize(static_cast<std::size_t>(d - out.data()));
    return out;
}

QString SectionEditor::Representable(QStringView text) {
    return HeldText(text, true);
}

void SectionEditor::SetBytes(std::string_view bytes) {
    settingBytes_ = true;
    setPlainText(TextFromBytes(bytes));
    settingBytes_ = false;
    mirror_ = CrLfBytes(bytes);
    mirrorChars_ = document()->characterCount() - 1;
}

// The document reports a change as a start and the characters removed and added there, counts
// that may run past the text (its implicit last break) or that a compound change (a clear, a
// whole new text) reports in several steps against its end state. So only the start and the
// added characters, cut to the text, are taken as given; the characters removed follow from the
// lengths before and after. Text before the start is unchanged, so the byte offset of the start
// is the same in the old bytes as in the new text.
void SectionEditor::FollowChange(int position, int /*removed*/, int added) {
    if (settingBytes_) {
        return;
    }
    const qsizetype length = document()->characterCount() - 1;
    const qsizetype start = std::clamp<qsizetype>(position, 0, length);
    qsizetype now = std::clamp<qsizetype>(added, 0, length - start);
    qsizetype before = now + mirrorChars_ - length;
    if (before < 0) {
        now -= before;
        before = 0;
    }
    if (start > mirrorChars_ || now > length - start) {
        const std::size_t old = mirror_.size();
        mirror_ = Bytes();  // never reported so far; the text itself still tells
        mirrorChars_ = length;
        if (onBytesChanged) {
            onBytesChanged(0, old, mirror_);
        }
        return;
    }
    const auto from = static_cast<std::size_t>(ToCrLf(static_cast<int>(start)));
    // The old bytes of `before` characters, a CR LF break being one.
    std::size_t to = from;
    for (qsizetype left = before; left > 0 && to < mirror_.size();) {
        const void* cr = std::memchr(mirror_.data() + to, '\r', mirror_.size() - to);
        const std::size_t run =
            (cr ? static_cast<std::size_t>(static_cast<const char*>(cr) - mirror_.data())
                : mirror_.size()) -
            to;
        if (run >= static_cast<std::size_t>(left)) {
            to += static_cast<std::size_t>(left);
            break;
        }
        to += run;
        left -= static_cast<qsizetype>(run) + 1;
        to += (to + 1 < mirror_.size() && mirror_[to + 1] == '\n') ? 2 : 1;
    }
    QTextCursor c(document());
    c.setPosition(static_cast<int>(start));
    c.setPosition(static_cast<int>(start + now), QTextCursor::KeepAnchor);
    const std::string inserted = BytesFromText(c.selectedText());
    mirror_.replace(from, to - from, inserted);
    mirrorChars_ = length;
    if (onBytesChanged) {
        onBytesChanged(from, to - from, inserted);
    }
}

std::string SectionEditor::Bytes() const {
    return BytesFromText(document()->toRawText());
}

QString SectionEditor::FirstLine() const {
    QString line = document()->firstBlock().text();
    const auto cut = line.indexOf(QChar(kLineSeparator));
    if (cut >= 0) {
        line.truncate(cut);
    }
    return line;
}

// Line separators never enter the text (Shift+Enter and pasting make paragraph breaks), so the
// breaks before a position are the block separators before it, and its block number counts them.
int SectionEditor::ToCrLf(int qtPos) const {
    const int last = document()->characterCount() - 1;
    qtPos = std::clamp(qtPos, 0, last);
    return qtPos + document()->findBlock(qtPos).blockNumber();
}

int SectionEditor::FromCrLf(int crlfPos) const {
    const QTextDocument* doc = document();
    crlfPos = std::max(crlfPos, 0);
    auto start = [&](int n) { return doc->findBlockByNumber(n).position() + n; };
    int lo = 0;
    int hi = doc->blockCount() - 1;
    while (lo < hi) {
        const int mid = lo + (hi - lo + 1) / 2;
        if (start(mid) <= crlfPos) {
            lo = mid;
        } else {
            hi = mid - 1;
        }
    }
    const QTextBlock block = doc->findBlockByNumber(lo);
    const int offset = std::min(crlfPos - start(lo), block.length() - 1);
    return block.position() + offset;
}

int SectionEditor::CaretPos() const {
    return ToCrLf(textCursor().position());
}

void SectionEditor::SetCaretPos(int crlfPos) {
    Select(crlfPos, 0);
}

int SectionEditor::SelStart() const {
    return ToCrLf(textCursor().selectionStart());
}

int SectionEditor::SelLength() const {
    const QTextCursor c = textCursor();
    return ToCrLf(c.selectionEnd()) - ToCrLf(c.selectionStart());
}

void SectionEditor::Select(int crlfStart, int crlfLength) {
    QTextCursor c = textCursor();
    c.setPosition(FromCrLf(crlfStart));
    c.setPosition(FromCrLf(crlfStart + crlfLength), QTextCursor::KeepAnchor);
    setTextCursor(c);
    ensureCursorVisible();
}

void SectionEditor::keyPressEvent(QKeyEvent* e) {
    if (!TakesInput()) {
        e->accept();
        return;
    }
    emit keyDown(e->key(), e->modifiers());
    if (!TakesInput()) {
        // The key stepped to another section and hid this editor: it is not for this one.
        e->accept();
        return;
    }
    const bool lineSeparator = e->matches(QKeySequence::InsertLineSeparator);
    if (lineSeparator || !AllHeld(e->text())) {
        // Shift+Enter would insert a line separator, which a save cannot tell from a paragraph
        // break; both become the ordinary break the rest of the editor counts on.
        const auto modifiers = lineSeparator
                                   ? e->modifiers() & ~(Qt::ShiftModifier | Qt::MetaModifier)
                                   : e->modifiers();
        QKeyEvent held(e->type(), e->key(), modifiers, e->nativeScanCode(), e->nativeVirtualKey(),
                       e->nativeModifiers(), HeldText(e->text(), false), e->isAutoRepeat(),
                       static_cast<quint16>(e->count()));
        QPlainTextEdit::keyPressEvent(&held);
        e->setAccepted(held.isAccepted());
        return;
    }
    QPlainTextEdit::keyPressEvent(e);
}

void SectionEditor::keyReleaseEvent(QKeyEvent* e) {
    emit keyUp(e->key(), e->modifiers());
    QPlainTextEdit::keyReleaseEvent(e);
}

void SectionEditor::inputMethodEvent(QInputMethodEvent* e) {
    if (!TakesInput()) {
        e->accept();
        return;
    }
    if (AllHeld(e->commitString())) {
        QPlainTextEdit::inputMethodEvent(e);
        return;
    }
    QInputMethodEvent held(e->preeditString(), e->attributes());
    held.setCommitString(HeldText(e->commitString(), false), e->replacementStart(),
                         e->replacementLength());
    QPlainTextEdit::inputMethodEvent(&held);
    e->setAccepted(held.isAccepted());
}

void SectionEditor::dragEnterEvent(QDragEnterEvent* e) {
    if (!TakesInput()) {
        e->ignore();
        return;
    }
    TextArea::dragEnterEvent(e);
}

void SectionEditor::dropEvent(QDropEvent* e) {
    if (!TakesInput()) {
        e->ignore();
        return;
    }
    TextArea::dropEvent(e);
}

// Pasting comes here, and a drop after its own steps.
void SectionEditor::insertFromMimeData(const QMimeData* source) {
    if (!TakesInput() || !source->hasText()) {
        return;
    }
    QMimeData held;
    held.setText(Representable(source->text()));
    QPlainTextEdit::insertFromMimeData(&held);
}

void SectionEditor::mousePressEvent(QMouseEvent* e) {
    emit clicked(tag_);
    QPlainTextEdit::mousePressEvent(e);
}
