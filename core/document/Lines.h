#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace velloran {

// The first CR or LF in [p, end), or end.
inline const char* FindBreak(const char* p, const char* end) {
#ifdef __SSE2__
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    for (; end - p >= 16; p += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int hits =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chunk, cr), _mm_cmpeq_epi8(chunk, lf)));
        if (hits != 0) {
            return p + __builtin_ctz(static_cast<unsigned>(hits));
        }
    }
#endif
    while (p != end && *p != '\r' && *p != '\n') {
        ++p;
    }
    return p;
}

// The CR and LF bytes in text: every logical line but the last ends at one or two of them.
std::size_t CountBreakBytes(std::string_view text);

// True when text is lines each followed by CR LF, with no other CR or LF: then the text alone
// tells its lines, and *lines is set to their number.
bool IsCrLfText(std::string_view text, std::size_t* lines);

// Calls f(line) for each logical line of text: cut at CR LF, a lone CR or a lone LF, with no
// extra empty line for a final break. An empty text has no lines.
template <typename F>
void ForEachLogicalLine(std::string_view text, F&& f) {
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p != end) {
        const char* q = FindBreak(p, end);
        f(std::string_view(p, static_cast<std::size_t>(q - p)));
        if (q == end) {
            break;
        }
        if (*q == '\r' && q + 1 != end && q[1] == '\n') {
            ++q;
        }
        p = q + 1;
    }
}

std::vector<std::string_view> LogicalLines(std::string_view text);

}  // namespace velloran
