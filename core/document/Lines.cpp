#include "core/document/Lines.h"

#include <algorithm>
#include <cstdint>

namespace velloran {

std::size_t CountBreakBytes(std::string_view text) {
    // Byte-wide counts over blocks of 255 let the compiler vectorise the loop.
    std::size_t count = 0;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t base = 0; base < text.size(); base += 255) {
        const std::size_t len = std::min<std::size_t>(text.size() - base, 255);
        unsigned char block = 0;
        for (std::size_t i = 0; i < len; ++i) {
            block += static_cast<unsigned char>((p[base + i] == '\r') + (p[base + i] == '\n'));
        }
        count += block;
    }
    return count;
}

bool IsCrLfText(std::string_view text, std::size_t* lines) {
    if (!text.empty() && text.back() != '\n') {
        return false;
    }
    // Every LF must stand just after a CR and every CR just before an LF: the LF positions are
    // the CR positions moved on by one.
    const char* p = text.data();
    const char* const end = p + text.size();
    std::size_t count = 0;
    std::uint64_t carry = 0;
#ifdef __SSE2__
    // 64 bytes a step, as one bit per byte; LFs are also counted in byte lanes, each lane
    // emptied into count before it can overflow.
    const __m128i crs = _mm_set1_epi8('\r');
    const __m128i lfs = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    __m128i lanes = zero;
    int steps = 0;
    auto empty = [&] {
        const __m128i sums = _mm_sad_epu8(lanes, zero);
        count += static_cast<std::size_t>(_mm_cvtsi128_si64(sums)) +
                 static_cast<std::size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
        lanes = zero;
        steps = 0;
    };
    for (; end - p >= 64; p += 64) {
        std::uint64_t cr = 0;
        std::uint64_t lf = 0;
        for (int part = 0; part < 4; ++part) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * part));
            const __m128i lfAt = _mm_cmpeq_epi8(chunk, lfs);
            cr |= static_cast<std::uint64_t>(
                      static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, crs))))
                  << (16 * part);
            lf |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(lfAt)))
                  << (16 * part);
            lanes = _mm_sub_epi8(lanes, lfAt);
        }
        if (lf != ((cr << 1) | carry)) {
            return false;
        }
        carry = cr >> 63;
        if (++steps == 63) {
            empty();
        }
    }
    empty();
#endif
    for (; p != end; ++p) {
        const bool lf = *p == '\n';
        if (lf != (carry != 0)) {
            return false;
        }
        carry = *p == '\r' ? 1 : 0;
        count += lf ? 1 : 0;
    }
    if (carry != 0) {
        return false;
    }
    *lines = count;
    return true;
}

std::vector<std::string_view> LogicalLines(std::string_view text) {
    std::vector<std::string_view> lines;
    ForEachLogicalLine(text, [&](std::string_view line) { lines.push_back(line); });
    return lines;
}

}  // namespace velloran
