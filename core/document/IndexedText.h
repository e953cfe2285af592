#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Encoding.h"

namespace velloran {

// A place in a text, in three measures: its byte offset; its position in characters as the
// editor's own rules count them (see Encoding; a CR LF line break is two); and its position in
// UTF-16 code units with a line break as one, as the toolkit's text documents count.
struct TextPlace {
    std::size_t bytes = 0;
    std::size_t chars = 0;
    std::size_t units = 0;
    friend bool operator==(const TextPlace&, const TextPlace&) = default;
};

// The bytes of an editor's text, kept in step with its changes, with places marked every few
// kilobytes: turning one measure into another reads a few kilobytes at most, and a change
// shifts the marks after it, however long the text. The text's line breaks are CR LF, the only
// CR and LF bytes in it. A measure that falls inside a character, or between the CR and the LF
// of a break, stands for the place before it; one beyond the end for the end.
class IndexedText {
  public:
    void Assign(std::string bytes, Encoding encoding);
    // Bytes [from, to), both places before a character, become whole characters.
    void Replace(std::size_t from, std::size_t to, std::string_view with);

    std::string_view Bytes() const { return bytes_; }
    Encoding TextEncoding() const { return encoding_; }
    const TextPlace& End() const { return end_; }

    TextPlace AtBytes(std::size_t bytes) const { return Seek(bytes, &TextPlace::bytes); }
    TextPlace AtChars(std::size_t chars) const { return Seek(chars, &TextPlace::chars); }
    TextPlace AtUnits(std::size_t units) const { return Seek(units, &TextPlace::units); }

  private:
    static constexpr std::size_t kSpacing = 4096;

    TextPlace Seek(std::size_t target, std::size_t TextPlace::*measure) const;
    // Moves p over the bytes up to `to`, appending a mark to marks at the first place before
    // a character once kSpacing bytes have passed since the last one.
    void Advance(TextPlace& p, std::size_t to, std::vector<TextPlace>& marks) const;
    bool IsCharStart(std::size_t at) const;

    std::string bytes_;
    Encoding encoding_ = Encoding::Windows1252;
    // Ascending, the first at the start; never more than twice kSpacing bytes apart.
    std::vector<TextPlace> marks_{TextPlace{}};
    TextPlace end_;
};

}  // namespace velloran
