#include "SectionEditor.h"

#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QTextBlock>
#include <algorithm>
#include <array>

#include "core/document/Codepage.h"
#include "core/document/Encoding.h"
#include "core/document/Lines.h"

namespace {

using velloran::Encoding;

constexpr char16_t kParagraphSeparator = 0x2029;
constexpr char16_t kLineSeparator = 0x2028;

// Word wrap looks back over the whole run for a break at each line it lays out: quadratic in a
// run without blanks, so that one wrapped line of a few megabytes of a single word would hang
// the window for minutes. Prose never holds a run this long; a text that does wraps anywhere.
constexpr std::size_t kLongestWrappedRun = 16 * 1024;

bool Blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether bytes [from, to) and the bytes around them make a run without blanks too long to wrap
// at word boundaries; reads no further than it must.
bool HasLongRun(std::string_view bytes, std::size_t from, std::size_t to) {
    std::size_t run = 0;
    for (std::size_t at = from; at > 0 && !Blank(bytes[at - 1]) && run < kLongestWrappedRun; --at) {
        ++run;
    }
    for (std::size_t at = from; at < bytes.size() && run < kLongestWrappedRun; ++at) {
        if (Blank(bytes[at])) {
            if (at >= to) {
                return false;
            }
            run = 0;
        } else {
            ++run;
        }
    }
    return run >= kLongestWrappedRun;
}

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

bool IsBreak(char16_t c) {
    return c == kParagraphSeparator || c == kLineSeparator;
}
bool IsHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}
bool IsSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}
bool IsPairAt(QStringView text, qsizetype i) {
    return IsHighSurrogate(text[i].unicode()) && i + 1 < text.size() &&
           IsLowSurrogate(text[i + 1].unicode());
}

// A character other than half a surrogate pair, which only UTF-8 holds whole.
bool Held(char16_t c, Encoding encoding) {
    if (encoding == Encoding::Utf8) {
        return !IsSurrogate(c);
    }
    return c == u'?' || CharToByte()[c] != '?';
}

// Characters the encoding cannot hold become "?" (a surrogate pair is one character); with
// breaks, every form of line break becomes '\n' first.
QString HeldText(QStringView text, bool breaks, Encoding encoding) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (breaks && (c == u'\r' || c == u'\n' || IsBreak(c))) {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
            out.append(u'\n');
        } else if (IsPairAt(text, i)) {
            if (encoding == Encoding::Utf8) {
                out.append(text.mid(i, 2));
            } else {
                out.append(u'?');
            }
            ++i;
        } else {
            out.append(Held(c, encoding) ? QChar(c) : QChar(u'?'));
        }
    }
    return out;
}

bool AllHeld(QStringView text, Encoding encoding) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (encoding == Encoding::Utf8 && IsPairAt(text, i)) {
            ++i;
        } else if (!Held(text[i].unicode(), encoding)) {
            return false;
        }
    }
    return true;
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

QString TextFromWindows1252(std::string_view bytes) {
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

// No more code units than bytes: a sequence of n bytes is one unit, or two for n = 4.
QString TextFromUtf8(std::string_view bytes) {
    QString out(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    char16_t* const begin = reinterpret_cast<char16_t*>(out.data());
    char16_t* d = begin;
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b == '\r') {
            i += (i + 1 < n && bytes[i + 1] == '\n') ? 2 : 1;
            *d++ = u'\n';
        } else if (b < 0x80) {
            *d++ = b == '\n' ? u'\n' : static_cast<char16_t>(b);
            ++i;
        } else {
            char32_t ch;
            const std::size_t length = velloran::DecodeUtf8(bytes, i, ch);
            if (length == 0) {
                // A document's text is whole; only a title cut to be shown might not be.
                *d++ = 0xFFFD;
                ++i;
            } else if (ch >= 0x10000) {
                *d++ = static_cast<char16_t>(0xD800 + ((ch - 0x10000) >> 10));
                *d++ = static_cast<char16_t>(0xDC00 + ((ch - 0x10000) & 0x3FF));
                i += length;
            } else {
                *d++ = static_cast<char16_t>(ch);
                i += length;
            }
        }
    }
    out.truncate(d - begin);
    return out;
}

std::string BytesFromWindows1252(QStringView raw) {
    const auto& table = CharToByte();
    const char16_t* p = reinterpret_cast<const char16_t*>(raw.data());
    const char16_t* const end = p + raw.size();
    const auto breaks = std::count_if(p, end, IsBreak);
    std::string out(static_cast<std::size_t>(raw.size() + breaks), '\0');
    char* d = out.data();
    for (; p != end; ++p) {
        const char16_t c = *p;
        if (IsBreak(c)) {
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

// Measured first, then written, so that a long text is not held twice over.
std::string BytesFromUtf8(QStringView raw) {
    const char16_t* const begin = reinterpret_cast<const char16_t*>(raw.data());
    const char16_t* const end = begin + raw.size();
    auto pairAt = [end](const char16_t* p) {
        return IsHighSurrogate(*p) && p + 1 != end && IsLowSurrogate(p[1]);
    };
    std::size_t size = 0;
    for (const char16_t* p = begin; p != end; ++p) {
        const char16_t c = *p;
        if (c < 0x80 || IsBreak(c)) {
            size += IsBreak(c) ? 2 : 1;
        } else if (c < 0x800) {
            size += 2;
        } else if (pairAt(p)) {
            size += 4;
            ++p;
        } else {
            size += IsSurrogate(c) ? 1 : 3;
        }
    }
    std::string out(size, '\0');
    char* d = out.data();
    auto put = [&d](unsigned v) { *d++ = static_cast<char>(v); };
    for (const char16_t* p = begin; p != end; ++p) {
        const char16_t c = *p;
        if (IsBreak(c)) {
            put('\r');
            put('\n');
        } else if (c < 0x80) {
            put(c);
        } else if (c < 0x800) {
            put(0xC0 | (c >> 6));
            put(0x80 | (c & 0x3F));
        } else if (pairAt(p)) {
            const char32_t ch =
                0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(p[1]) - 0xDC00);
            put(0xF0 | (ch >> 18));
            put(0x80 | ((ch >> 12) & 0x3F));
            put(0x80 | ((ch >> 6) & 0x3F));
            put(0x80 | (ch & 0x3F));
            ++p;
        } else if (IsSurrogate(c)) {
            put('?');
        } else {
            put(0xE0 | (c >> 12));
            put(0x80 | ((c >> 6) & 0x3F));
            put(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

SectionEditor::SectionEditor(int tag, QWidget* parent) : TextArea(parent), tag_(tag) {
    setObjectName(QStringLiteral("SectionEditor%1").arg(tag));
    setProperty("tag", tag);
    connect(document(), &QTextDocument::contentsChange, this, &SectionEditor::FollowChange);
}

QString SectionEditor::TextFromBytes(std::string_view bytes, Encoding encoding) {
    return encoding == Encoding::Utf8 ? TextFromUtf8(bytes) : TextFromWindows1252(bytes);
}

std::string SectionEditor::BytesFromText(QStringView raw, Encoding encoding) {
    return encoding == Encoding::Utf8 ? BytesFromUtf8(raw) : BytesFromWindows1252(raw);
}

QString SectionEditor::Representable(QStringView text, Encoding encoding) {
    return HeldText(text, true, encoding);
}

void SectionEditor::SetBytes(std::string_view bytes, Encoding encoding) {
    WrapAnywhereFor(bytes, 0, bytes.size(), true);
    settingBytes_ = true;
    setPlainText(TextFromBytes(bytes, encoding));
    settingBytes_ = false;
    text_.Assign(CrLfBytes(bytes), encoding);
}

// The document reports a change as a start and the characters removed and added there, counts
// that may run past the text (its implicit last break) or that a compound change (a clear, a
// whole new text) reports in several steps against its end state. So only the start and the
// added characters, cut to the text, are taken as given; the characters removed follow from the
// lengths before and after. Text outside the change is the same before and after it, so a
// position there is the same place in the old bytes as in the new text.
void SectionEditor::FollowChange(int position, int /*removed*/, int added) {
    if (settingBytes_) {
        return;
    }
    const QTextDocument* doc = document();
    const auto length = static_cast<std::size_t>(doc->characterCount() - 1);
    const std::size_t known = text_.End().units;
    std::size_t start = std::min(static_cast<std::size_t>(std::max(position, 0)), length);
    std::size_t now = std::min(static_cast<std::size_t>(std::max(added, 0)), length - start);
    // The units removed: as many as were added, less what the text grew by.
    if (now + known < length) {
        now = length - known;
    }
    if (start > known || now > length - start) {
        // Never reported so far; the text itself still tells.
        const std::size_t old = text_.Bytes().size();
        text_.Assign(Bytes(), TextEncoding());
        if (onBytesChanged) {
            onBytesChanged(0, old, text_.Bytes());
        }
        return;
    }
    std::size_t oldEnd = start + now + known - length;
    std::size_t newEnd = start + now;
    // A change that cuts a surrogate pair (only a program can place the caret inside one), in
    // the old text or in the new, is widened to the whole pair, so that it replaces whole
    // characters by whole characters.
    auto splitsPair = [doc, length](std::size_t at) {
        return at > 0 && at < length &&
               doc->characterAt(static_cast<int>(at - 1)).isHighSurrogate() &&
               doc->characterAt(static_cast<int>(at)).isLowSurrogate();
    };
    for (bool widened = true; widened;) {
        widened = false;
        if (text_.AtUnits(start).units < start || splitsPair(start)) {
            --start;
            widened = true;
        }
        if (text_.AtUnits(oldEnd).units < oldEnd || splitsPair(newEnd)) {
            ++oldEnd;
            ++newEnd;
            widened = true;
        }
    }
    const velloran::TextPlace from = text_.AtUnits(start);
    const velloran::TextPlace to = text_.AtUnits(oldEnd);
    QTextCursor c(document());
    c.setPosition(static_cast<int>(start));
    c.setPosition(static_cast<int>(newEnd), QTextCursor::KeepAnchor);
    const std::string inserted = BytesFromText(c.selectedText(), TextEncoding());
    text_.Replace(from.bytes, to.bytes, inserted);
    WrapAnywhereFor(text_.Bytes(), from.bytes, from.bytes + inserted.size(), false);
    if (onBytesChanged) {
        onBytesChanged(from.bytes, to.bytes - from.bytes, inserted);
    }
}

// Set before the toolkit lays the text out: the change is reported first.
void SectionEditor::WrapAnywhereFor(std::string_view bytes, std::size_t from, std::size_t to,
                                    bool afresh) {
    const bool anywhere = wordWrapMode() == QTextOption::WrapAnywhere;
    if (anywhere && !afresh) {
        return;  // until the next fill: runs only grow so long by pasting
    }
    const bool wanted = HasLongRun(bytes, from, to);
    if (wanted != anywhere) {
        setWordWrapMode(wanted ? QTextOption::WrapAnywhere
                               : QTextOption::WrapAtWordBoundaryOrAnywhere);
    }
}

std::string SectionEditor::Bytes() const {
    return BytesFromText(document()->toRawText(), TextEncoding());
}

QString SectionEditor::FirstLine() const {
    QString line = document()->firstBlock().text();
    const auto cut = line.indexOf(QChar(kLineSeparator));
    if (cut >= 0) {
        line.truncate(cut);
    }
    return line;
}

int SectionEditor::ToCrLf(int qtPos) const {
    return static_cast<int>(text_.AtUnits(static_cast<std::size_t>(std::max(qtPos, 0))).chars);
}

int SectionEditor::FromCrLf(int crlfPos) const {
    return static_cast<int>(text_.AtChars(static_cast<std::size_t>(std::max(crlfPos, 0))).units);
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

velloran::Selection SectionEditor::ByteSelection() const {
    const QTextCursor c = textCursor();
    const std::size_t start = text_.AtUnits(static_cast<std::size_t>(c.selectionStart())).bytes;
    const std::size_t end = text_.AtUnits(static_cast<std::size_t>(c.selectionEnd())).bytes;
    return {start, end - start};
}

void SectionEditor::SelectBytes(velloran::Selection bytes) {
    QTextCursor c = textCursor();
    c.setPosition(static_cast<int>(text_.AtBytes(bytes.start).units));
    c.setPosition(static_cast<int>(text_.AtBytes(bytes.start + bytes.length).units),
                  QTextCursor::KeepAnchor);
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
    if (lineSeparator || !AllHeld(e->text(), TextEncoding())) {
        // Shift+Enter would insert a line separator, which a save cannot tell from a paragraph
        // break; both become the ordinary break the rest of the editor counts on.
        const auto modifiers = lineSeparator
                                   ? e->modifiers() & ~(Qt::ShiftModifier | Qt::MetaModifier)
                                   : e->modifiers();
        QKeyEvent held(e->type(), e->key(), modifiers, e->nativeScanCode(), e->nativeVirtualKey(),
                       e->nativeModifiers(), HeldText(e->text(), false, TextEncoding()),
                       e->isAutoRepeat(), static_cast<quint16>(e->count()));
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
    if (AllHeld(e->commitString(), TextEncoding())) {
        QPlainTextEdit::inputMethodEvent(e);
        return;
    }
    QInputMethodEvent held(e->preeditString(), e->attributes());
    held.setCommitString(HeldText(e->commitString(), false, TextEncoding()), e->replacementStart(),
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
    held.setText(Representable(source->text(), TextEncoding()));
    QPlainTextEdit::insertFromMimeData(&held);
}

void SectionEditor::mousePressEvent(QMouseEvent* e) {
    emit clicked(tag_);
    QPlainTextEdit::mousePressEvent(e);
}
