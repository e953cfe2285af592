#include "core/document/Encoding.h"

#include <langinfo.h>
#include <locale.h>
#include <strings.h>

#include <array>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace velloran {

Encoding LocaleEncoding() {
    // A locale object of its own reads the environment as setlocale would, without changing
    // the locale of the program.
    const locale_t locale = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) {
        return Encoding::Windows1252;
    }
    const char* codeset = ::nl_langinfo_l(CODESET, locale);
    const bool utf8 =
        codeset && (::strcasecmp(codeset, "UTF-8") == 0 || ::strcasecmp(codeset, "UTF8") == 0);
    ::freelocale(locale);
    return utf8 ? Encoding::Utf8 : Encoding::Windows1252;
}

std::size_t DecodeUtf8(std::string_view bytes, std::size_t at, char32_t& ch) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    std::size_t more;
    char32_t c;
    if (lead < 0x80) {
        ch = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (bytes.size() - at <= more) {
        return 0;
    }
    for (std::size_t j = 1; j <= more; ++j) {
        const auto cont = static_cast<unsigned char>(bytes[at + j]);
        if (!IsContinuation(cont)) {
            return 0;
        }
        c = (c << 6) | (cont & 0x3F);
    }
    // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
    static constexpr char32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (c < kLeast[more] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
        return 0;
    }
    ch = c;
    return more + 1;
}

bool IsUtf8(std::string_view bytes) {
    char32_t ch;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t n = DecodeUtf8(bytes, i, ch);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

namespace {

bool gVectors = true;

constexpr bool BreaksInEditor(char32_t ch) {
    return ch == 0x2028 || ch == 0x2029 || ch == 0xFDD0 || ch == 0xFDD1;
}

ByteForm FormByteByByte(std::string_view bytes) {
    bool high = false;
    char32_t ch;
    for (std::size_t i = 0; i < bytes.size();) {
        // Eight ASCII bytes at a time.
        std::uint64_t eight;
        if (bytes.size() - i >= 8 &&
            (std::memcpy(&eight, bytes.data() + i, 8), (eight & 0x8080808080808080u) == 0)) {
            i += 8;
            continue;
        }
        const std::size_t n = DecodeUtf8(bytes, i, ch);
        if (n == 0 || BreaksInEditor(ch)) {
            return ByteForm::Other;
        }
        high = high || n > 1;
        i += n;
    }
    return high ? ByteForm::Utf8 : ByteForm::Ascii;
}

#if defined(__x86_64__) || defined(__i386__)

// The validation of Keiser and Lemire ("Validating UTF-8 in less than one instruction per
// byte", 2021): each byte is judged with the three before it, through three table look-ups of
// half bytes that flag every error of two consecutive bytes, and a check that the bytes two
// and three after a lead of three and four bytes are continuations.
constexpr std::uint8_t kTooShort = 1 << 0;  // a lead or ASCII, then a lead or ASCII
constexpr std::uint8_t kTooLong = 1 << 1;   // ASCII, then a continuation
constexpr std::uint8_t kOverlong3 = 1 << 2;
constexpr std::uint8_t kTooLarge = 1 << 3;
constexpr std::uint8_t kSurrogate = 1 << 4;
constexpr std::uint8_t kOverlong2 = 1 << 5;
constexpr std::uint8_t kTooLarge1000 = 1 << 6;
constexpr std::uint8_t kOverlong4 = 1 << 6;
constexpr std::uint8_t kTwoConts = 1 << 7;
constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

// The three look-up tables, by the high half of a byte and the low half of the byte before it,
// and by the high half of a byte, each in both halves of a vector.
struct Tables {
    std::array<std::uint8_t, 16> byte1High;
    std::array<std::uint8_t, 16> byte1Low;
    std::array<std::uint8_t, 16> byte2High;
};
constexpr Tables kTables = {
    {kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTwoConts,
     kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
     kTooShort | kOverlong3 | kSurrogate, kTooShort | kTooLarge | kTooLarge1000 | kOverlong4},
    {kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,
     kCarry | kTooLarge, kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
     kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
     kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
     kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
     kCarry | kTooLarge | kTooLarge1000 | kSurrogate, kCarry | kTooLarge | kTooLarge1000,
     kCarry | kTooLarge | kTooLarge1000},
    {kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
     kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4,
     kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge,
     kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge,
     kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge, kTooShort, kTooShort, kTooShort,
     kTooShort},
};

#define VELLORAN_AVX2 [[gnu::target("avx2"), gnu::always_inline]] inline

VELLORAN_AVX2 __m256i Load(const unsigned char* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
VELLORAN_AVX2 __m256i Bytes(int b) {
    return _mm256_set1_epi8(static_cast<char>(b));
}
VELLORAN_AVX2 __m256i High4(__m256i v) {
    return _mm256_and_si256(_mm256_srli_epi16(v, 4), Bytes(0x0F));
}
VELLORAN_AVX2 __m256i Equal(__m256i v, int b) {
    return _mm256_cmpeq_epi8(v, Bytes(b));
}
VELLORAN_AVX2 __m256i BothHalves(const std::array<std::uint8_t, 16>& t) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(t.data())));
}

// The tables, and what the blocks read so far hold: errors, and the bytes, or-ed together.
struct Avx2Scan {
    __m256i byte1High;
    __m256i byte1Low;
    __m256i byte2High;
    __m256i errors;
    __m256i high;
};

// The 32 bytes that end n bytes before input, n of them taken from the block before it.
template <int n>
VELLORAN_AVX2 __m256i Before(__m256i input, __m256i previous) {
    return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(previous, input, 0x21), 16 - n);
}

// Checks the block input, whose bytes before are those of the block previous.
VELLORAN_AVX2 void ScanBlock(__m256i input, __m256i previous, Avx2Scan& s) {
    const __m256i prev1 = Before<1>(input, previous);
    const __m256i prev2 = Before<2>(input, previous);
    const __m256i prev3 = Before<3>(input, previous);
    const __m256i special = _mm256_and_si256(
        _mm256_and_si256(_mm256_shuffle_epi8(s.byte1High, High4(prev1)),
                         _mm256_shuffle_epi8(s.byte1Low, _mm256_and_si256(prev1, Bytes(0x0F)))),
        _mm256_shuffle_epi8(s.byte2High, High4(input)));
    // The look-ups see pairs of bytes; that the third byte after a lead of three or four, and
    // the fourth after a lead of four, are continuations is checked apart.
    const __m256i third = _mm256_subs_epu8(prev2, Bytes(0xE0 - 0x80));
    const __m256i fourth = _mm256_subs_epu8(prev3, Bytes(0xF0 - 0x80));
    const __m256i must23 = _mm256_and_si256(_mm256_or_si256(third, fourth), Bytes(0x80));
    // U+2028 and U+2029 (E2 80 A8/A9), U+FDD0 and U+FDD1 (EF B7 90/91), seen at their last byte.
    const __m256i lastPair = _mm256_and_si256(input, Bytes(0xFE));
    const __m256i separators = _mm256_and_si256(
        _mm256_and_si256(Equal(prev2, 0xE2), Equal(prev1, 0x80)), Equal(lastPair, 0xA8));
    const __m256i frameMarks = _mm256_and_si256(
        _mm256_and_si256(Equal(prev2, 0xEF), Equal(prev1, 0xB7)), Equal(lastPair, 0x90));
    s.errors = _mm256_or_si256(s.errors, _mm256_or_si256(_mm256_xor_si256(must23, special),
                                                         _mm256_or_si256(separators, frameMarks)));
    s.high = _mm256_or_si256(s.high, input);
}

VELLORAN_AVX2 bool Failed(const Avx2Scan& s) {
    return !_mm256_testz_si256(s.errors, s.errors);
}

#undef VELLORAN_AVX2

[[gnu::target("avx2")]] ByteForm FormAvx2(const unsigned char* p, std::size_t n) {
    constexpr std::size_t kBlock = 32;
    Avx2Scan s{BothHalves(kTables.byte1High), BothHalves(kTables.byte1Low),
               BothHalves(kTables.byte2High), _mm256_setzero_si256(), _mm256_setzero_si256()};
    // Before the text come zero bytes, ASCII, and after it too, so that a sequence cut short at
    // the end fails where its next byte should be.
    __m256i previous = _mm256_setzero_si256();
    std::size_t i = 0;
    // Two blocks a step; ASCII after ASCII cannot be wrong, the common case in most texts.
    for (; i + 2 * kBlock <= n; i += 2 * kBlock) {
        const __m256i first = Load(p + i);
        const __m256i second = Load(p + i + kBlock);
        if (_mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(first, second), previous)) != 0) {
            ScanBlock(first, previous, s);
            ScanBlock(second, first, s);
            if ((i & 4095) == 0 && Failed(s)) {
                return ByteForm::Other;
            }
        }
        previous = second;
    }
    if (i + kBlock <= n) {
        const __m256i input = Load(p + i);
        ScanBlock(input, previous, s);
        previous = input;
        i += kBlock;
    }
    alignas(32) unsigned char tail[kBlock] = {};
    if (n > i) {  // an empty text may have no data at all
        std::memcpy(tail, p + i, n - i);
    }
    ScanBlock(Load(tail), previous, s);
    if (Failed(s)) {
        return ByteForm::Other;
    }
    return _mm256_movemask_epi8(s.high) != 0 ? ByteForm::Utf8 : ByteForm::Ascii;
}

#endif

}  // namespace

void SetDetectionVectors(bool use) {
    gVectors = use;
}

ByteForm FormOf(std::string_view bytes) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && gVectors) {
        return FormAvx2(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
#endif
    return FormByteByByte(bytes);
}

Encoding EncodingFor(ByteForm form) {
    switch (form) {
        case ByteForm::Utf8:
            return Encoding::Utf8;
        case ByteForm::Other:
            return Encoding::Windows1252;
        case ByteForm::Ascii:
            break;
    }
    return LocaleEncoding();
}

std::size_t CountChars(std::string_view text, Encoding encoding) {
    if (encoding == Encoding::Windows1252) {
        return text.size();
    }
    std::size_t continuations = 0;
    for (char c : text) {
        continuations += static_cast<std::size_t>(IsContinuation(static_cast<unsigned char>(c)));
    }
    return text.size() - continuations;
}

}  // namespace velloran
