#include "Search.h"

#include <algorithm>
#include <array>
#include <cstring>

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

// Finds match starts in [from, limit] in ascending order. Candidates come from memchr over the
// one or two bytes that fold to the needle's first byte; each byte keeps its own cursor, so the
// text is scanned once per byte however many candidates fail, and nothing is allocated per
// position.
class Matcher {
  public:
    // needle is non-empty and no longer than text.
    Matcher(std::string_view text, std::string_view needle)
        : text_(text),
          scanEnd_(text.size() - needle.size() + 1),
          first_(static_cast<char>(Up(needle[0]))),
          second_(FoldLower(first_)) {
        upperRest_.reserve(needle.size() - 1);
        for (char c : needle.substr(1)) {
            upperRest_.push_back(static_cast<char>(Up(c)));
        }
    }

    // The first match at or after from, or npos.
    std::size_t Next(std::size_t from) {
        while (from < scanEnd_) {
            std::size_t p = Candidate(from);
            if (p == npos) {
                return npos;
            }
            if (RestMatches(p)) {
                return p;
            }
            from = p + 1;
        }
        return npos;
    }

    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  private:
    std::size_t Find(char byte, std::size_t from) const {
        const void* hit = std::memchr(text_.data() + from, byte, scanEnd_ - from);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data()) : npos;
    }

    std::size_t Candidate(std::size_t from) {
        if (!primed_) {
            nextFirst_ = Find(first_, from);
            nextSecond_ = first_ == second_ ? npos : Find(second_, from);
            primed_ = true;
        }
        if (nextFirst_ != npos && nextFirst_ < from) {
            nextFirst_ = Find(first_, from);
        }
        if (first_ == second_) {
            return nextFirst_;
        }
        if (nextSecond_ != npos && nextSecond_ < from) {
            nextSecond_ = Find(second_, from);
        }
        return std::min(nextFirst_, nextSecond_);
    }

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
    std::size_t scanEnd_;  // one past the last position where a match can start
    char first_;
    char second_;
    std::size_t nextFirst_ = npos;
    std::size_t nextSecond_ = npos;
    bool primed_ = false;
};

}  // namespace

std::size_t CountMatches(std::string_view text, std::string_view searchText) {
    const std::size_t n = searchText.size();
    if (n == 0) {
        return text.size() + 1;
    }
    if (n > text.size()) {
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
    Matcher m(text, searchText);
    std::size_t count = 0;
    for (std::size_t p = m.Next(0); p != Matcher::npos; p = m.Next(p + 1)) {
        ++count;
    }
    return count;
}

std::optional<Selection> FindNextMatch(std::string_view text, Selection current,
                                       std::string_view searchText) {
    const std::size_t n = searchText.size();
    if (n == 0 || n > text.size()) {
        return std::nullopt;
    }
    const std::size_t limit = text.size() - n;
    if (current.start > limit || (current.length > 0 && current.start == limit)) {
        return std::nullopt;
    }
    const std::size_t from = current.length > 0 ? current.start + 1 : current.start;
    Matcher m(text, searchText);
    const std::size_t p = m.Next(from);
    if (p == Matcher::npos) {
        return std::nullopt;
    }
    return Selection{p, n};
}

std::vector<std::string> SearchAllRows(const SectionSlots& slots, const SectionList& list,
                                       std::string_view searchText) {
    // The list never holds more entries than there are slots; the bound keeps a stray entry
    // from reading past them.
    const int count = std::min(list.Count(), kSectionCount);
    std::vector<std::string> rows;
    rows.reserve(static_cast<std::size_t>(std::max(count, 0)));
    std::string scratch;
    for (int k = 0; k < count; ++k) {
        rows.push_back(std::to_string(CountMatches(slots.ReadSlot(k, scratch), searchText)) +
                       "    " + list.Title(k));
    }
    return rows;
}

}  // namespace velloran
