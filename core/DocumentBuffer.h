#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velloran {

// The ordered list of a whole document's lines (bytes, no terminators). The bytes live in one
// block; a file read is kept as read and its lines are spans into it, so a read costs no copy.
class DocumentBuffer {
  public:
    std::size_t LineCount() const { return spans_.size(); }
    bool Empty() const { return spans_.empty(); }
    std::string_view Line(std::size_t i) const {
        return {bytes_.data() + spans_[i].begin, spans_[i].size};
    }
    // The bytes of line i, to be changed in place without changing their number.
    std::span<char> MutableLine(std::size_t i) {
        return {bytes_.data() + spans_[i].begin, spans_[i].size};
    }

    void Clear();
    void Reserve(std::size_t bytes, std::size_t lines);
    void Append(std::string_view line);
    // Replaces the content with the logical lines of text.
    void AssignText(std::string text);
    std::vector<std::string> Lines() const;

    // Bytes held for lines, terminators excluded.
    std::size_t ByteCount() const { return lineBytes_; }

  private:
    struct Span {
        std::size_t begin;
        std::size_t size;
    };
    std::string bytes_;
    std::vector<Span> spans_;
    std::size_t lineBytes_ = 0;
};

}  // namespace velloran
