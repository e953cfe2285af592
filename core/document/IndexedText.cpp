#include "core/document/IndexedText.h"

#include <algorithm>

namespace velloran {

namespace {

bool BeforeByte(std::size_t bytes, const TextPlace& p) {
    return bytes < p.bytes;
}

}  // namespace

// Each byte adds to the measures on its own: a character's first byte counts the character
// (and a four-byte one two code units), its other bytes nothing, and the LF of a CR LF no code
// unit, so that the break is one.
bool IndexedText::IsCharStart(std::size_t at) const {
    if (at >= bytes_.size()) {
        return true;
    }
    const auto c = static_cast<unsigned char>(bytes_[at]);
    if (c == '\n' && at > 0 && bytes_[at - 1] == '\r') {
        return false;
    }
    return encoding_ == Encoding::Windows1252 || !IsContinuation(c);
}

namespace {

inline void Step(TextPlace& p, const unsigned char* b, bool utf8) {
    const std::size_t k = p.bytes++;
    const unsigned char c = b[k];
    const bool follows = utf8 && IsContinuation(c);
    const bool lfOfBreak = c == '\n' && k > 0 && b[k - 1] == '\r';
    p.chars += static_cast<std::size_t>(!follows);
    p.units += (follows || lfOfBreak) ? 0 : (utf8 && c >= 0xF0 ? 2 : 1);
}

}  // namespace

void IndexedText::Advance(TextPlace& p, std::size_t to, std::vector<TextPlace>& marks) const {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes_.data());
    const bool utf8 = encoding_ == Encoding::Utf8;
    std::size_t last = marks.empty() ? p.bytes : marks.back().bytes;
    while (p.bytes < to) {
        if (p.bytes - last >= kSpacing && IsCharStart(p.bytes)) {
            marks.push_back(p);
            last = p.bytes;
        }
        Step(p, b, utf8);
    }
}

void IndexedText::Assign(std::string bytes, Encoding encoding) {
    bytes_ = std::move(bytes);
    encoding_ = encoding;
    marks_.assign(1, TextPlace{});
    end_ = TextPlace{};
    Advance(end_, bytes_.size(), marks_);
}

TextPlace IndexedText::Seek(std::size_t target, std::size_t TextPlace::*measure) const {
    if (target >= end_.*measure) {
        return end_;
    }
    const auto after =
        std::upper_bound(marks_.begin(), marks_.end(), target,
                         [measure](std::size_t t, const TextPlace& p) { return t < p.*measure; });
    TextPlace p = *(after - 1);
    TextPlace best = p;
    const auto* b = reinterpret_cast<const unsigned char*>(bytes_.data());
    const bool utf8 = encoding_ == Encoding::Utf8;
    while (p.bytes < bytes_.size()) {
        if (IsCharStart(p.bytes)) {
            if (p.*measure > target) {
                return best;
            }
            best = p;
            if (p.*measure == target) {
                return p;
            }
        }
        Step(p, b, utf8);
    }
    return best;
}

void IndexedText::Replace(std::size_t from, std::size_t to, std::string_view with) {
    // Marks up to `from` stay; those between go; those after `to` move by what changed.
    const auto first = static_cast<std::size_t>(
        std::upper_bound(marks_.begin(), marks_.end(), from, BeforeByte) - marks_.begin() - 1);
    const auto next = static_cast<std::size_t>(
        std::upper_bound(marks_.begin(), marks_.end(), to, BeforeByte) - marks_.begin());
    const TextPlace oldTo = AtBytes(to);
    bytes_.replace(from, to - from, with);

    std::vector<TextPlace> fresh;
    TextPlace p = marks_[first];
    fresh.push_back(p);
    Advance(p, from + with.size(), fresh);
    const TextPlace newTo = p;
    auto moved = [&](TextPlace q) {
        q.bytes = q.bytes - oldTo.bytes + newTo.bytes;
        q.chars = q.chars - oldTo.chars + newTo.chars;
        q.units = q.units - oldTo.units + newTo.units;
        return q;
    };
    for (std::size_t k = next; k < marks_.size(); ++k) {
        marks_[k] = moved(marks_[k]);
    }
    end_ = moved(end_);
    // Typing in one place lengthens the stretch up to the next mark: it is marked anew once
    // it is long.
    const std::size_t stretchEnd = next < marks_.size() ? marks_[next].bytes : end_.bytes;
    if (stretchEnd - fresh.back().bytes > 2 * kSpacing) {
        Advance(p, stretchEnd, fresh);
    }
    marks_.erase(marks_.begin() + static_cast<std::ptrdiff_t>(first),
                 marks_.begin() + static_cast<std::ptrdiff_t>(next));
    marks_.insert(marks_.begin() + static_cast<std::ptrdiff_t>(first), fresh.begin(), fresh.end());
}

}  // namespace velloran
