#include "core/tools/Pattern.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "core/document/Codepage.h"
#include "core/document/Error.h"
#include "core/tools/Search.h"

namespace velloran {

namespace {

// Runaway backtracking ends at these rather than freezing the editor: a match that needs more
// is said to be too complex. Every ordinary pattern on any line a writer has stays far below.
constexpr std::uint32_t kMatchLimit = 5'000'000;
constexpr PCRE2_SIZE kHeapLimitKiB = 64 * 1024;
constexpr PCRE2_SIZE kJitStackStart = 32 * 1024;
constexpr PCRE2_SIZE kJitStackMost = 8 * 1024 * 1024;

PCRE2_SPTR Units(std::string_view s) {
    return reinterpret_cast<PCRE2_SPTR>(s.data());
}

bool HasHighBytes(std::string_view s) {
    std::size_t i = 0;
    // Eight bytes a step: most texts have none, and every byte must be looked at to know.
    for (std::uint64_t eight; i + 8 <= s.size(); i += 8) {
        std::memcpy(&eight, s.data() + i, 8);
        if ((eight & 0x8080808080808080u) != 0) {
            return true;
        }
    }
    return std::any_of(s.begin() + static_cast<std::ptrdiff_t>(i), s.end(),
                       [](char c) { return (c & 0x80) != 0; });
}

// A literal text as a pattern that matches it alone: every ASCII character but letters and
// digits as a code, so that nothing in it is taken for syntax.
std::string EscapeLiteral(std::string_view utf8) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(utf8.size() * 2);
    for (char c : utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80 || (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') ||
            (b >= 'a' && b <= 'z')) {
            out.push_back(c);
        } else {
            out += "\\x{";
            out.push_back(kHex[b >> 4]);
            out.push_back(kHex[b & 15]);
            out.push_back('}');
        }
    }
    return out;
}

std::string ErrorText(int code) {
    PCRE2_UCHAR buffer[256];
    const int n = pcre2_get_error_message(code, buffer, sizeof buffer);
    if (n < 0) {
        return "error " + std::to_string(code);
    }
    return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}

// Whether text is nothing but text to PCRE2, taken as it is (escaped) or as a pattern, and
// ignoring case folds as A to Z alone fold: "k" and "s" have Unicode's Kelvin sign and long s.
bool IsPlainText(std::string_view text, bool pattern, bool caseless) {
    static constexpr std::string_view kPlainPunctuation = " _-,'\"!@%&=:;<>/~`#";
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (caseless && (c == 'k' || c == 'K' || c == 's' || c == 'S')) {
            return false;
        }
        const bool ok = letter || (c >= '0' && c <= '9') ||
                        (pattern ? kPlainPunctuation.find(c) != std::string_view::npos
                                 : c >= 0x20 && c <= 0x7E);
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool IsLimit(int rc) {
    return rc == PCRE2_ERROR_MATCHLIMIT || rc == PCRE2_ERROR_DEPTHLIMIT ||
           rc == PCRE2_ERROR_HEAPLIMIT || rc == PCRE2_ERROR_JIT_STACKLIMIT ||
           rc == PCRE2_ERROR_NOMEMORY;
}

}  // namespace

struct Pattern::Compiled {
    // The search window's own matching: the text as given, folding A to Z.
    std::string needle;
    Encoding encoding = Encoding::Utf8;
    pcre2_code* code = nullptr;
    pcre2_match_context* context = nullptr;
    pcre2_jit_stack* stack = nullptr;
    std::size_t groups = 1;
    // A pattern that is text alone, of characters whose case Unicode folds as it folds A to Z,
    // is looked for as text, many times faster than through PCRE2; with Whole words PCRE2 then
    // only judges each place found.
    std::string literal;
    bool literalCaseless = false;
    bool wholeWords = false;

    ~Compiled() {
        pcre2_jit_stack_free(stack);
        pcre2_match_context_free(context);
        pcre2_code_free(code);
    }
};

Pattern::Pattern(std::string_view text, FindOptions options, Encoding encoding)
    : text_(text), options_(options), encoding_(encoding), compiled_(std::make_unique<Compiled>()) {
    if (options.Plain()) {
        compiled_->needle = text_;
        compiled_->encoding = encoding;
        return;
    }
    const std::string utf8 =
        encoding == Encoding::Windows1252 ? codepage::ToUtf8(text) : std::string(text);
    const std::string source = options.regex ? utf8 : EscapeLiteral(utf8);
    std::uint32_t flags = PCRE2_UTF | PCRE2_UCP | PCRE2_MULTILINE;
    if (!options.matchCase) {
        flags |= PCRE2_CASELESS;
    }
    pcre2_compile_context* cc = pcre2_compile_context_create(nullptr);
    if (!cc) {
        throw Error(Format(kPatternInvalid, "there is not enough memory"));
    }
    // A line ends at CR LF as at a lone CR or LF, so "$" stands before the whole break.
    pcre2_set_newline(cc, PCRE2_NEWLINE_ANYCRLF);
    pcre2_set_bsr(cc, PCRE2_BSR_ANYCRLF);
    if (options.wholeWords) {
        pcre2_set_compile_extra_options(cc, PCRE2_EXTRA_MATCH_WORD);
    }
    int error = 0;
    PCRE2_SIZE offset = 0;
    compiled_->code = pcre2_compile(Units(source), source.size(), flags, &error, &offset, cc);
    pcre2_compile_context_free(cc);
    if (!compiled_->code) {
        std::string why = ErrorText(error);
        if (options.regex) {
            const std::size_t at = std::min<std::size_t>(offset, source.size());
            why += " (at character " +
                   std::to_string(
                       CountChars(std::string_view(source).substr(0, at), Encoding::Utf8) + 1) +
                   ")";
        }
        throw Error(Format(kPatternInvalid, why));
    }
    if (IsPlainText(utf8, options.regex, !options.matchCase)) {
        compiled_->literal = utf8;
        compiled_->literalCaseless = !options.matchCase;
        compiled_->wholeWords = options.wholeWords;
        compiled_->encoding = encoding;
    }
    // Where the processor has no JIT the interpreter does the same, more slowly.
    const bool jit = pcre2_jit_compile(compiled_->code, PCRE2_JIT_COMPLETE) == 0;
    compiled_->context = pcre2_match_context_create(nullptr);
    if (!compiled_->context) {
        throw Error(Format(kPatternInvalid, "there is not enough memory"));
    }
    pcre2_set_match_limit(compiled_->context, kMatchLimit);
    pcre2_set_heap_limit(compiled_->context, kHeapLimitKiB);
    if (jit) {
        compiled_->stack = pcre2_jit_stack_create(kJitStackStart, kJitStackMost, nullptr);
        if (compiled_->stack) {
            pcre2_jit_stack_assign(compiled_->context, nullptr, compiled_->stack);
        }
    }
    std::uint32_t captures = 0;
    pcre2_pattern_info(compiled_->code, PCRE2_INFO_CAPTURECOUNT, &captures);
    compiled_->groups = captures + 1;
}

Pattern::~Pattern() = default;
Pattern::Pattern(Pattern&&) noexcept = default;
Pattern& Pattern::operator=(Pattern&&) noexcept = default;

std::size_t Pattern::GroupCount() const {
    return compiled_->groups;
}

std::optional<std::size_t> Pattern::GroupNumber(std::string_view name) const {
    if (!compiled_->code) {
        return std::nullopt;
    }
    const std::string utf8 =
        encoding_ == Encoding::Windows1252 ? codepage::ToUtf8(name) : std::string(name);
    const int n = pcre2_substring_number_from_name(compiled_->code, Units(utf8));
    if (n < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(n);
}

// ---- matching

struct MatchCursor::State {
    const Pattern::Compiled& c;
    std::string_view text;
    // What PCRE2 reads: the text itself, or a Windows-1252 text with a byte above 127 in UTF-8.
    std::string converted;
    std::string_view subject;
    bool mapped = false;
    pcre2_match_data* data = nullptr;
    std::size_t next = 0;
    bool lastEmpty = false;
    bool done = false;
    bool literal = false;
    // A subject offset and the text offset it stands for; offsets are asked for in nearly
    // ascending order, so each is counted from the last.
    std::size_t anchorSubject = 0;
    std::size_t anchorText = 0;

    State(const Pattern::Compiled& compiled, std::string_view t) : c(compiled), text(t) {}
    ~State() { pcre2_match_data_free(data); }

    // Every Windows-1252 byte is one character, so the bytes of a text offset are the leading
    // bytes of UTF-8 before it.
    std::size_t TextOffset(std::size_t at) {
        if (!mapped) {
            return at;
        }
        auto lead = [&](std::size_t i) {
            return !IsContinuation(static_cast<unsigned char>(subject[i]));
        };
        while (anchorSubject < at) {
            anchorText += lead(anchorSubject) ? 1 : 0;
            ++anchorSubject;
        }
        while (anchorSubject > at) {
            --anchorSubject;
            anchorText -= lead(anchorSubject) ? 1 : 0;
        }
        return anchorText;
    }

    // One character on from next, a CR LF being one.
    void StepOn() {
        if (next + 1 < subject.size() && subject[next] == '\r' && subject[next + 1] == '\n') {
            next += 2;
            return;
        }
        ++next;
        while (next < subject.size() && IsContinuation(static_cast<unsigned char>(subject[next]))) {
            ++next;
        }
    }

    bool BetweenCrAndLf(std::size_t at) const {
        return at > 0 && at < text.size() && text[at - 1] == '\r' && text[at] == '\n';
    }

    std::optional<Match> NextPlain() {
        const std::size_t n = c.needle.size();
        const auto found = FindNextMatch(text, {next, 0}, c.needle, c.encoding);
        if (!found) {
            done = true;
            return std::nullopt;
        }
        Match m;
        m.groups.push_back(Match::Span{found->start, n});
        std::size_t start = found->start;
        std::size_t end = start + n;
        start -= BetweenCrAndLf(start) ? 1 : 0;
        end += BetweenCrAndLf(end) ? 1 : 0;
        m.span = {start, end - start};
        next = end;
        return m;
    }

    std::optional<Match> NextLiteral() {
        const std::string& literal = c.literal;
        for (;;) {
            std::size_t p = std::string_view::npos;
            if (c.literalCaseless) {
                if (const auto found = FindNextMatch(text, {next, 0}, literal, c.encoding)) {
                    p = found->start;
                }
            } else if (next <= text.size()) {
                p = text.find(literal, next);
            }
            if (p == std::string_view::npos) {
                done = true;
                return std::nullopt;
            }
            next = p + literal.size();
            if (c.wholeWords) {
                // Judged where it stands, with the characters before it in view.
                const int rc = pcre2_match(c.code, Units(subject), subject.size(), p,
                                           PCRE2_ANCHORED | PCRE2_NO_UTF_CHECK, data, c.context);
                if (rc == PCRE2_ERROR_NOMATCH) {
                    next = p + 1;
                    continue;
                }
                if (rc < 0) {
                    throw Error(IsLimit(rc) ? std::string(kPatternTooComplex)
                                            : Format(kPatternInvalid, ErrorText(rc)));
                }
            }
            Match m;
            m.span = {p, literal.size()};
            m.groups.assign(c.groups, std::nullopt);
            m.groups[0] = m.span;
            return m;
        }
    }

    std::optional<Match> NextRegex() {
        for (;;) {
            if (next > subject.size()) {
                done = true;
                return std::nullopt;
            }
            // The subject was checked once (MatchCursor): a check at every call would read the
            // rest of the text again each time.
            const std::uint32_t options =
                PCRE2_NO_UTF_CHECK |
                (lastEmpty ? PCRE2_NOTEMPTY_ATSTART | PCRE2_ANCHORED : std::uint32_t{0});
            const int rc =
                pcre2_match(c.code, Units(subject), subject.size(), next, options, data, c.context);
            if (rc == PCRE2_ERROR_NOMATCH) {
                if (!lastEmpty) {
                    done = true;
                    return std::nullopt;
                }
                lastEmpty = false;
                StepOn();
                continue;
            }
            if (rc < 0) {
                if (IsLimit(rc)) {
                    throw Error(std::string(kPatternTooComplex));
                }
                throw Error(Format(kPatternInvalid, ErrorText(rc)));
            }
            const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(data);
            const std::size_t s = ov[0];
            // \K in a lookahead can put the end before the start: taken as the start.
            const std::size_t e = std::max<std::size_t>(ov[0], ov[1]);
            lastEmpty = s == e;
            next = e;
            Match m;
            const std::size_t groups =
                std::min<std::size_t>(static_cast<std::size_t>(rc), c.groups);
            m.groups.resize(c.groups);
            for (std::size_t g = 0; g < groups; ++g) {
                if (ov[2 * g] == PCRE2_UNSET) {
                    continue;
                }
                const std::size_t gs = TextOffset(ov[2 * g]);
                const std::size_t ge = TextOffset(std::max(ov[2 * g], ov[2 * g + 1]));
                m.groups[g] = Match::Span{gs, ge - gs};
            }
            std::size_t start = m.groups[0]->start;
            std::size_t end = start + m.groups[0]->length;
            if (start == end) {
                // No caret stands between CR and LF: nothing can be put there.
                if (BetweenCrAndLf(start)) {
                    continue;
                }
            } else {
                start -= BetweenCrAndLf(start) ? 1 : 0;
                if (BetweenCrAndLf(end)) {
                    ++end;
                    ++next;
                }
            }
            m.span = {start, end - start};
            return m;
        }
    }
};

MatchCursor::MatchCursor(const Pattern& pattern, std::string_view text, std::size_t from)
    : state_(std::make_unique<State>(*pattern.compiled(), text)) {
    State& st = *state_;
    st.subject = text;
    st.next = std::min(from, text.size());
    if (!st.c.code) {
        return;
    }
    // PCRE2 reads UTF-8 alone: a Windows-1252 text with a byte above 127 is read through the
    // code page, and so is a text that is not UTF-8 after all, so that no byte can lead PCRE2
    // astray.
    st.literal = !st.c.literal.empty();
    if (st.literal && !st.c.wholeWords) {
        return;  // looked for in the text as it is, PCRE2 never reading it
    }
    const bool utf8 = pattern.encoding() == Encoding::Utf8
                          ? FormOf(text) != ByteForm::Other || IsUtf8(text)
                          : !HasHighBytes(text);
    st.literal = st.literal && utf8;
    if (!utf8) {
        st.converted = codepage::ToUtf8(text);
        st.subject = st.converted;
        st.mapped = true;
        std::size_t at = 0;
        for (char b : text.substr(0, st.next)) {
            const char16_t c = codepage::ToUnicode(static_cast<unsigned char>(b));
            at += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        }
        st.anchorText = st.next;
        st.anchorSubject = at;
        st.next = at;
    }
    st.data = pcre2_match_data_create_from_pattern(st.c.code, nullptr);
    if (!st.data) {
        throw Error(Format(kPatternInvalid, "there is not enough memory"));
    }
}

MatchCursor::~MatchCursor() = default;

std::optional<Match> MatchCursor::Next() {
    State& st = *state_;
    if (st.done) {
        return std::nullopt;
    }
    if (!st.c.code) {
        return st.NextPlain();
    }
    return st.literal ? st.NextLiteral() : st.NextRegex();
}

std::optional<Match> FindNextMatch(const Pattern& pattern, std::string_view text,
                                   Selection current) {
    std::size_t from = std::min(current.start, text.size());
    if (current.length > 0) {
        if (from == text.size()) {
            return std::nullopt;
        }
        ++from;
        while (pattern.encoding() == Encoding::Utf8 && from < text.size() &&
               IsContinuation(static_cast<unsigned char>(text[from]))) {
            ++from;
        }
    }
    MatchCursor cursor(pattern, text, from);
    return cursor.Next();
}

std::optional<Match> MatchAt(const Pattern& pattern, std::string_view text, Selection selection) {
    if (selection.start > text.size()) {
        return std::nullopt;
    }
    MatchCursor cursor(pattern, text, selection.start);
    auto m = cursor.Next();
    if (m && m->span.start == selection.start && m->span.length == selection.length) {
        return m;
    }
    return std::nullopt;
}

// ---- replacing

Replacement::Replacement(std::string_view text, const Pattern& pattern) {
    if (!pattern.options().regex) {
        pieces_.push_back({std::string(text)});
        return;
    }
    const std::size_t groups = pattern.GroupCount();
    std::string literal;
    auto group = [&](std::size_t g) {
        if (g >= groups) {
            throw Error(Format(kNoSuchGroup, "group " + std::to_string(g)));
        }
        pieces_.push_back({std::move(literal)});
        literal.clear();
        pieces_.push_back({{}, g, true});
    };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char after = i + 1 < text.size() ? text[i + 1] : '\0';
        if (c == '$' && after == '$') {
            literal.push_back('$');
            ++i;
        } else if (c == '$' && after == '&') {
            group(0);
            ++i;
        } else if (c == '$' && digit(after)) {
            // "$12" is group 12 where the pattern has one, else group 1 and a "2".
            std::size_t g = static_cast<std::size_t>(after - '0');
            ++i;
            if (i + 1 < text.size() && digit(text[i + 1])) {
                const std::size_t two = g * 10 + static_cast<std::size_t>(text[i + 1] - '0');
                if (two < groups) {
                    g = two;
                    ++i;
                }
            }
            group(g);
        } else if (c == '$' && after == '{' && text.find('}', i + 2) != std::string_view::npos) {
            const std::size_t close = text.find('}', i + 2);
            const std::string_view name = text.substr(i + 2, close - i - 2);
            if (!name.empty() && std::all_of(name.begin(), name.end(), digit)) {
                std::size_t g = groups;
                std::from_chars(name.data(), name.data() + name.size(), g);
                if (g >= groups) {
                    throw Error(Format(kNoSuchGroup, "group " + std::string(name)));
                }
                group(g);
            } else if (const auto g = pattern.GroupNumber(name)) {
                group(*g);
            } else {
                throw Error(Format(kNoSuchGroup, "the group \"" + std::string(name) + "\""));
            }
            i = close;
        } else if (c == '\\' && digit(after)) {
            group(static_cast<std::size_t>(after - '0'));
            ++i;
        } else if (c == '\\' && after == '\\') {
            literal.push_back('\\');
            ++i;
        } else if (c == '\\' && after == 'n') {
            literal += "\r\n";
            ++i;
        } else if (c == '\\' && after == 't') {
            literal.push_back('\t');
            ++i;
        } else {
            literal.push_back(c);
        }
    }
    pieces_.push_back({std::move(literal)});
}

std::string Replacement::For(std::string_view text, const Match& match) const {
    std::string out;
    for (const Piece& p : pieces_) {
        if (!p.isGroup) {
            out += p.literal;
        } else if (p.group < match.groups.size() && match.groups[p.group]) {
            out += text.substr(match.groups[p.group]->start, match.groups[p.group]->length);
        }
    }
    return out;
}

}  // namespace velloran
