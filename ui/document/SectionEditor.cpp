#include "ui/document/SectionEditor.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QImage>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cmath>

#include "core/document/Codepage.h"
#include "core/document/Encoding.h"
#include "core/document/Lines.h"
#include "core/spelling/SpellingService.h"
#include "core/spelling/Words.h"
#include "ui/platform/Guard.h"

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

// A line longer than this is no prose: it is left unchecked rather than read at every keystroke.
constexpr int kLongestCheckedLine = 64 * 1024;
constexpr std::size_t kMostSuggestions = 8;

// For each byte offset of a line, the code unit where its character starts.
std::vector<int> UnitsAt(std::string_view bytes, Encoding encoding) {
    std::vector<int> at(bytes.size() + 1);
    int units = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        at[i] = units;
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (encoding == Encoding::Windows1252) {
            ++units;
        } else if (!velloran::IsContinuation(b)) {
            units += b >= 0xF0 ? 2 : 1;
        }
    }
    at[bytes.size()] = units;
    return at;
}

// The misspelled words of a block, as ranges within it. Kept beside the block rather than as
// formats of its layout: Qt 6 takes a change of formats for a change of the whole block and
// repaints the whole screen for it, at every keystroke in a line with a mark.
struct BlockMarks : QTextBlockUserData {
    QList<std::pair<int, int>> ranges;  // start, length
};

const QList<std::pair<int, int>>& MarksAt(const QTextBlock& block) {
    static const QList<std::pair<int, int>> none;
    const auto* data = static_cast<const BlockMarks*>(block.userData());
    return data ? data->ranges : none;
}

// The red wavy line, up and down over three pixels in four, long enough for most words.
constexpr int kWaveLength = 1024;
const QImage& WaveStrip() {
    static const QImage strip = [] {
        QImage image(kWaveLength, 3, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        const QRgb red = qRgb(220, 0, 0);
        for (int x = 0; x < kWaveLength; ++x) {
            image.setPixel(x, x % 4 == 3 ? 1 : x % 4, red);
        }
        return image;
    }();
    return strip;
}

// A red wavy line from x1 to x2 a little below the baseline at y, copied from a strip drawn
// once: drawn as a polyline a word, the waves of a line of typos took longer than its text.
void DrawWave(QPainter& p, qreal x1, qreal x2, qreal y) {
    const int top = static_cast<int>(std::round(y)) - 1;
    for (int x = static_cast<int>(std::round(x1)), end = static_cast<int>(std::round(x2)); x < end;
         x += kWaveLength) {
        p.drawImage(QPoint(x, top), WaveStrip(), QRect(0, 0, std::min(kWaveLength, end - x), 3));
    }
}

}  // namespace

SectionEditor::SectionEditor(int tag, QWidget* parent) : TextArea(parent), tag_(tag) {
    setObjectName(QStringLiteral("SectionEditor%1").arg(tag));
    setProperty("tag", tag);
    connect(document(), &QTextDocument::contentsChange, this, &SectionEditor::FollowChange);
    markTimer_ = new QTimer(this);
    markTimer_->setSingleShot(true);
    markTimer_->setInterval(0);
    connect(markTimer_, &QTimer::timeout, this, &SectionEditor::MarkShown);
    connect(document(), &QTextDocument::contentsChange, this,
            [this](int position, int /*removed*/, int added) {
                const QTextDocument* doc = document();
                const bool linesChanged =
                    doc->blockCount() != std::exchange(blockCount_, doc->blockCount());
                if (settingBytes_ || !spelling_) {
                    MarkSoon();
                    return;
                }
                typing_ = true;
                if (linesChanged) {
                    // Block numbers moved: what waited for answers is counted afresh.
                    justEdited_ = true;
                    waitingFrom_ = -1;
                    waitingTo_ = -1;
                    MarkSoon();
                    return;
                }
                const QTextBlock first = doc->findBlock(position);
                const QTextBlock last = doc->findBlock(position + added);
                if (first == last && first == textCursor().block() && isVisible()) {
                    // A keystroke: its line is marked at once, so that the word being typed is
                    // known before the caret is followed.
                    bool touched = false;
                    MarkBlock(first, true, &touched);
                    if (!touched) {
                        typing_ = false;
                    }
                    return;
                }
                // Only the lines the edit touched have new words; the others keep their marks.
                justEdited_ = true;
                MarkLines(first.blockNumber(), last.blockNumber());
            });
    connect(this, &QPlainTextEdit::cursorPositionChanged, this, &SectionEditor::FollowCaret);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &SectionEditor::MarkSoon);
}

void SectionEditor::SetSpelling(velloran::spelling::SpellingService* spelling) {
    spelling_ = spelling;
    typing_ = false;
    MarkSoon();
}

void SectionEditor::MarkSoon() {
    markAll_ = true;
    if (isVisible() && !markTimer_->isActive()) {
        markTimer_->start();
    }
}

void SectionEditor::MarkAnswered() {
    if (waitingFrom_ >= 0) {
        MarkLines(std::exchange(waitingFrom_, -1), std::exchange(waitingTo_, -1));
    }
}

void SectionEditor::MarkLines(int from, int to) {
    if (from > to) {
        std::swap(from, to);
    }
    dirtyFrom_ = dirtyFrom_ < 0 ? from : std::min(dirtyFrom_, from);
    dirtyTo_ = std::max(dirtyTo_, to);
    if (isVisible() && !markTimer_->isActive()) {
        markTimer_->start();
    }
}

void SectionEditor::showEvent(QShowEvent* e) {
    TextArea::showEvent(e);
    MarkSoon();
}

void SectionEditor::resizeEvent(QResizeEvent* e) {
    TextArea::resizeEvent(e);
    MarkSoon();
}

void SectionEditor::FollowCaret() {
    if (justEdited_ || !typing_) {
        return;
    }
    const int caret = textCursor().position();
    if (caret < typedStart_ || caret > typedEnd_) {
        typing_ = false;
        const QTextDocument* doc = document();
        const int typed = doc->findBlock(typedStart_).blockNumber();
        MarkLines(typed, typed);
        MarkLines(textCursor().blockNumber(), textCursor().blockNumber());
    }
}

std::vector<SectionEditor::Mark> SectionEditor::MarksOf(const QTextBlock& block, bool exempt,
                                                        bool* touched) {
    std::vector<Mark> marks;
    if (!spelling_ || block.length() > kLongestCheckedLine) {
        return marks;
    }
    const Encoding encoding = TextEncoding();
    const std::string bytes = BytesFromText(block.text(), encoding);
    const std::vector<int> units = UnitsAt(bytes, encoding);
    const int caret = textCursor().position() - block.position();
    for (const auto& w : velloran::spelling::Words(bytes, encoding)) {
        const int start = units[w.start];
        const int end = units[w.End()];
        // A word the caret only stands before was not typed: a blank or a mark was.
        if (exempt && caret > start && caret <= end) {
            typedStart_ = block.position() + start;
            typedEnd_ = block.position() + end;
            *touched = true;
            continue;
        }
        std::string word = velloran::spelling::WordUtf8(
            std::string_view(bytes).substr(w.start, w.length), encoding);
        const auto verdict = spelling_->Check(word);
        if (verdict == velloran::spelling::SpellingService::Verdict::Misspelled) {
            marks.push_back({block.position() + start, block.position() + end, std::move(word)});
        } else if (verdict == velloran::spelling::SpellingService::Verdict::Unknown) {
            const int n = block.blockNumber();
            waitingFrom_ = waitingFrom_ < 0 ? n : std::min(waitingFrom_, n);
            waitingTo_ = std::max(waitingTo_, n);
        }
    }
    return marks;
}

void SectionEditor::MarkBlock(const QTextBlock& block, bool exempt, bool* touched) {
    QList<std::pair<int, int>> ranges;
    for (const Mark& m : MarksOf(block, exempt, touched)) {
        ranges.append({m.start - block.position(), m.end - m.start});
    }
    if (MarksAt(block) == ranges) {
        return;
    }
    auto* data = static_cast<BlockMarks*>(block.userData());
    if (!data) {
        data = new BlockMarks;
        QTextBlock(block).setUserData(data);  // the block owns it
    }
    data->ranges = std::move(ranges);
    // Only the block is painted again; within an edit Qt paints the edited line itself too.
    viewport()->update(blockBoundingGeometry(block).translated(contentOffset()).toAlignedRect());
}

void SectionEditor::paintEvent(QPaintEvent* e) {
    TextArea::paintEvent(e);
    if (!spelling_) {
        return;
    }
    QPainter p(viewport());
    p.setClipRegion(e->region());
    const QPointF offset = contentOffset();
    const int bottom = e->rect().bottom();
    for (QTextBlock b = firstVisibleBlock(); b.isValid(); b = b.next()) {
        const QRectF r = blockBoundingGeometry(b).translated(offset);
        if (r.top() > bottom) {
            break;
        }
        const QTextLayout* layout = b.layout();
        if (!b.isVisible() || !layout || r.bottom() < e->rect().top()) {
            continue;
        }
        const QPointF origin = r.topLeft() + layout->position();
        for (const auto& [start, length] : MarksAt(b)) {
            // A word wrapped anywhere is underlined on each of its lines.
            for (int at = start, end = std::min(start + length, b.length() - 1); at < end;) {
                const QTextLine line = layout->lineForTextPosition(at);
                if (!line.isValid()) {
                    break;
                }
                const int to = std::min(end, line.textStart() + line.textLength());
                const qreal y = origin.y() + line.y() + line.ascent() +
                                std::min<qreal>(2.0, line.descent() / 2 + 0.5);
                DrawWave(p, origin.x() + line.cursorToX(at), origin.x() + line.cursorToX(to), y);
                if (to <= at) {
                    break;
                }
                at = to;
            }
        }
    }
}

// Only blocks near the screen are read, so that neither a long section nor a keystroke in it
// costs more than a screen of words; the rest is checked as it scrolls into view.
void SectionEditor::MarkShown() {
    if (!isVisible()) {
        return;
    }
    justEdited_ = false;
    const bool all = std::exchange(markAll_, false);
    const int dirtyFrom = std::exchange(dirtyFrom_, -1);
    const int dirtyTo = std::exchange(dirtyTo_, -1);
    QTextBlock first = firstVisibleBlock();
    int shown = 0;
    const QPointF offset = contentOffset();
    const int height = viewport()->height();
    for (QTextBlock b = first; b.isValid(); b = b.next()) {
        if (blockBoundingGeometry(b).translated(offset).top() > height) {
            break;
        }
        ++shown;
    }
    for (int i = 0; i < shown && first.previous().isValid(); ++i) {
        first = first.previous();
    }
    const int caretBlock = textCursor().blockNumber();
    bool touched = false;
    QTextBlock b = first;
    int count = 3 * shown + 1;
    if (!all) {
        // Edited lines alone, as far as they are near the screen.
        const int last = first.blockNumber() + count - 1;
        const int from = std::max(dirtyFrom, first.blockNumber());
        const int to = std::min(dirtyTo, last);
        if (dirtyFrom < 0 || from > to) {
            return;
        }
        b = document()->findBlockByNumber(from);
        count = to - from + 1;
        // The caret's word is judged only where its line is read.
        touched = caretBlock < from || caretBlock > to;
    }
    for (int i = 0; i < count && b.isValid(); ++i, b = b.next()) {
        MarkBlock(b, typing_ && b.blockNumber() == caretBlock, &touched);
    }
    if (!touched) {
        typing_ = false;  // the caret is past the word, or the edit made none
    }
}

QStringList SectionEditor::MarkedWords() const {
    QStringList out;
    for (QTextBlock b = document()->begin(); b.isValid(); b = b.next()) {
        if (!b.layout()) {
            continue;
        }
        for (const auto& [start, length] : MarksAt(b)) {
            out.append(b.text().mid(start, length));
        }
    }
    return out;
}

QMenu* SectionEditor::CreateContextMenu(QPoint at) {
    QMenu* menu = createStandardContextMenu(at);
    if (!spelling_) {
        return menu;
    }
    const QTextCursor place = cursorForPosition(at);
    const QTextBlock block = place.block();
    std::optional<Mark> word;
    bool touched = false;
    for (Mark& m : MarksOf(block, false, &touched)) {
        if (place.position() >= m.start && place.position() <= m.end) {
            word = std::move(m);
            break;
        }
    }
    if (!word) {
        return menu;
    }
    QAction* before = menu->actions().isEmpty() ? nullptr : menu->actions().constFirst();
    const Encoding encoding = TextEncoding();
    std::vector<QString> suggestions;
    for (const std::string& s : spelling_->Suggest(word->word, kMostSuggestions)) {
        bool replaced = false;
        auto bytes = encoding == Encoding::Utf8 ? std::optional<std::string>(s)
                                                : velloran::codepage::FromUtf8(s, &replaced);
        if (bytes && !replaced) {
            suggestions.push_back(TextFromBytes(*bytes, encoding));
        }
    }
    const int start = word->start;
    const int end = word->end;
    for (const QString& s : suggestions) {
        auto* action = new QAction(s, menu);
        action->setObjectName(QStringLiteral("SpellSuggestion"));
        connect(action, &QAction::triggered, this, [this, start, end, s] {
            // One edit, undone as one.
            QTextCursor c = textCursor();
            c.beginEditBlock();
            c.setPosition(start);
            c.setPosition(end, QTextCursor::KeepAnchor);
            c.insertText(s);
            c.endEditBlock();
            setTextCursor(c);
        });
        menu->insertAction(before, action);
    }
    if (suggestions.empty()) {
        auto* none = new QAction(QStringLiteral("(no suggestions)"), menu);
        none->setEnabled(false);
        menu->insertAction(before, none);
    }
    menu->insertSeparator(before);
    auto* add = new QAction(QStringLiteral("Add to Dictionary"), menu);
    add->setObjectName(QStringLiteral("SpellAddToDictionary"));
    const std::string utf8 = word->word;
    connect(add, &QAction::triggered, this, [this, utf8] {
        velloran::ui::Guarded(this, [&] { spelling_->AddToDictionary(utf8); });
        if (onWordsAccepted) {
            onWordsAccepted();
        }
        MarkSoon();
    });
    menu->insertAction(before, add);
    auto* ignore = new QAction(QStringLiteral("Ignore"), menu);
    ignore->setObjectName(QStringLiteral("SpellIgnore"));
    connect(ignore, &QAction::triggered, this, [this, utf8] {
        spelling_->Ignore(utf8);
        if (onWordsAccepted) {
            onWordsAccepted();
        }
        MarkSoon();
    });
    menu->insertAction(before, ignore);
    menu->insertSeparator(before);
    return menu;
}

void SectionEditor::contextMenuEvent(QContextMenuEvent* e) {
    QMenu* menu = CreateContextMenu(e->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(e->globalPos());
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

void SectionEditor::ReplaceBytes(std::string_view bytes) {
    const std::string_view old = ByteView();
    // The lines both texts begin and end with stay; a line starts at the text's start or after
    // an LF, which in either encoding is a character of its own.
    std::size_t prefix = 0;
    for (std::size_t i = 0, n = std::min(old.size(), bytes.size()); i < n && old[i] == bytes[i];
         ++i) {
        if (old[i] == '\n') {
            prefix = i + 1;
        }
    }
    std::size_t suffix = 0;
    const std::size_t most = std::min(old.size(), bytes.size()) - prefix;
    for (std::size_t i = 0; i < most && old[old.size() - 1 - i] == bytes[bytes.size() - 1 - i];
         ++i) {
        const std::size_t at = i + 1;  // a suffix of `at` bytes
        if (at == old.size() - prefix || old[old.size() - 1 - at] == '\n') {
            if (at == bytes.size() - prefix || bytes[bytes.size() - 1 - at] == '\n') {
                suffix = at;
            }
        }
    }
    if (prefix == old.size() && prefix == bytes.size()) {
        return;
    }
    const int from = static_cast<int>(text_.AtBytes(prefix).units);
    const int to = static_cast<int>(text_.AtBytes(old.size() - suffix).units);
    const QString inserted =
        TextFromBytes(bytes.substr(prefix, bytes.size() - suffix - prefix), TextEncoding());
    const int vertical = verticalScrollBar()->value();
    const int horizontal = horizontalScrollBar()->value();
    QTextCursor c(document());
    c.beginEditBlock();
    c.setPosition(from);
    c.setPosition(to, QTextCursor::KeepAnchor);
    c.insertText(inserted);
    c.endEditBlock();
    verticalScrollBar()->setValue(vertical);
    horizontalScrollBar()->setValue(horizontal);
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
