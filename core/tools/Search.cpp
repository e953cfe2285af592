#include "core/tools/Search.h"

#include <algorithm>
#include <array>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace velloran {

namespace {

constexpr std::array<unsigned char, 256> MakeUpperTable() {
    std::array<unsigned char, 256> table{};
    for (int i = 0; i < 256; ++i) {
        table[static_cast<std::size_t>(i)] =
            static_cast<unsigned char>(FoldUpper(static_cast<char>(i)));
    }
    return table;
}

constexpr std::array<unsigned char, 256> kUpper = MakeUpperTable();

inline unsigned char Up(char c) {
    return kUpper[static_cast<unsigned char>(c)];
}

// Finds match starts in ascending order. Candidates are the positions whose first and last
// bytes fold to the needle's first and last bytes, tested 16 positions at a time, so that a
// common first letter alone does not stop the scan at every word; each candidate is then
// checked whole.
class Matcher {
  public:
    // needle is non-empty and no longer than text.
    Matcher(std::string_view text, std::string_view needle)
        : text_(text),
          last_(needle.size() - 1),
          scanEnd_(text.size() - needle.size() + 1),
          first_(static_cast<char>(Up(needle.front()))),
          lastByte_(static_cast<char>(Up(needle.back()))) {
        upperRest_.reserve(needle.size() - 1);
        for (char c : needle.substr(1)) {
            upperRest_.push_back(static_cast<char>(Up(c)));
        }
    }

    // The first match at or after from, or npos.
    std::size_t Next(std::size_t from) const {
        std::size_t p = from;
#ifdef __SSE2__
        const __m128i firstUpper = _mm_set1_epi8(first_);
        const __m128i firstLower = _mm_set1_epi8(FoldLower(first_));
        const __m128i lastUpper = _mm_set1_epi8(lastByte_);
        const __m128i lastLower = _mm_set1_epi8(FoldLower(lastByte_));
        for (; p + 16 <= scanEnd_; p += 16) {
            const __m128i starts = Load(p);
            const __m128i ends = Load(p + last_);
            const __m128i hits = _mm_and_si128(
                _mm_or_si128(_mm_cmpeq_epi8(starts, firstUpper),
                             _mm_cmpeq_epi8(starts, firstLower)),
                _mm_or_si128(_mm_cmpeq_epi8(ends, lastUpper), _mm_cmpeq_epi8(ends, lastLower)));
            for (auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits)); mask != 0;
                 mask &= mask - 1) {
                const std::size_t at = p + static_cast<std::size_t>(__builtin_ctz(mask));
                if (RestMatches(at)) {
                    return at;
                }
            }
        }
#endif
        for (; p < scanEnd_; ++p) {
            if (Up(text_[p]) == static_cast<unsigned char>(first_) && RestMatches(p)) {
                return p;
            }
        }
        return npos;
    }

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  private:
#ifdef __SSE2__
    __m128i Load(std::size_t at) const {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(text_.data() + at));
    }
#endif

    bool RestMatches(std::size_t p) const {
        const char* s = text_.data() + p + 1;
        for (std::size_t j = 0; j < upperRest_.size(); ++j) {
            if (Up(s[j]) != static_cast<unsigned char>(upperRest_[j])) {
                return false;
            }
        }
        return true;
    }

    std::string_view text_;
    std::string upperRest_;
    std::size_t last_;     // the needle's last position
    std::size_t scanEnd_;  // one past the last position where a match can start
    char first_;
    char lastByte_;
};

bool Matchable(std::string_view searchText, Encoding encoding) {
    return encoding == Encoding::Windows1252 || IsUtf8(searchText);
}

}  // namespace

std::size_t CountMatches(std::string_view text, std::string_view searchText, Encoding encoding) {
    const std::size_t n = searchText.size();
    if (n == 0) {
        return CountChars(text, encoding) + 1;
    }
    if (n > text.size() || !Matchable(searchText, encoding)) {
        return 0;
    }
    if (n == 1) {
        // Counting bytes directly vectorises far better than stepping through candidates.
        const char upper = FoldUpper(searchText[0]);
        const char lower = FoldLower(upper);
        std::size_t count = 0;
        for (char c : text) {
            count += static_cast<std::size_t>(c == upper) +
                     static_cast<std::size_t>(c == lower && lower != upper);
        }
        return count;
    }
    const Matcher m(text, searchText);
    std::size_t count = 0;
    for (std::size_t p = m.Next(0); p != Matcher::npos; p = m.Next(p + 1)) {
        ++count;
    }
    return count;
}

std::optional<Selection> FindNextMatch(std::string_view text, Selection current,
                                       std::string_view searchText, Encoding encoding) {
    const std::size_t n = searchText.size();
    if (n == 0 || n > text.size() || !Matchable(searchText, encoding)) {
        return std::nullopt;
    }
    const std::size_t limit = text.size() - n;
    if (current.start > limit || (current.length > 0 && current.start == limit)) {
        return std::nullopt;
    }
    const std::size_t from = current.length > 0 ? current.start + 1 : current.start;
    const Matcher m(text, searchText);
    const std::size_t p = m.Next(from);
    if (p == Matcher::npos) {
        return std::nullopt;
    }
    return Selection{p, n};
}

std::vector<std::string> SearchAllRows(const SectionSlots& slots, const SectionList& list,
                                       std::string_view searchText, Encoding encoding) {
    // The list never holds more entries than there are slots; the bound keeps a stray entry
    // from reading past them.
    const int count = std::min(list.Count(), kSectionCount);
    std::vector<std::string> rows;
    rows.reserve(static_cast<std::size_t>(std::max(count, 0)));
    for (int k = 0; k < count; ++k) {
        rows.push_back(std::to_string(CountMatches(slots.ReadSlot(k), searchText, encoding)) +
                       "    " + list.Title(k));
    }
    return rows;
}

}  // namespace velloran
