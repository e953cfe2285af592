#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velloran {

// Bytes that several holders share and none changes: the file as read, which the document buffer
// and the sections not yet in an editor both point into.
using SharedBytes = std::shared_ptr<const std::string>;

// The ordered list of a whole document's lines (bytes, no terminators). The bytes live in one
// block; a file read is kept as read, so a read costs no copy. Lines stored with CR LF after
// them can be handed on as whole blocks. A block that is lines each followed by CR LF, and
// nothing else, tells its lines by itself: the span of each line is only worked out when a line
// is asked for one by one. The block can be shared (Bytes); a change to the buffer then works on
// a copy of its own, so that the buffer never changes what another holder sees.
class DocumentBuffer {
  public:
    std::size_t LineCount() const { return indexed_ ? spans_.size() : lineCount_; }
    bool Empty() const { return LineCount() == 0; }
    std::string_view Line(std::size_t i) const {
        Index();
        return {bytes_->data() + spans_[i].begin, spans_[i].size};
    }
    // The bytes of line i, to be changed in place without changing their number.
    std::span<char> MutableLine(std::size_t i) {
        Index();
        return {Own().data() + spans_[i].begin, spans_[i].size};
    }

    void Clear();
    void Append(std::string_view line);
    // Appends the logical lines of text.
    void AppendText(std::string_view text);
    // Replaces the content with the logical lines of text.
    void AssignText(std::string text);

    // The block every line lies in, to be shared; the buffer leaves it as it is from now on.
    SharedBytes Bytes() const { return bytes_; }
    // The whole content as one piece, every line followed by CR LF, when it is stored that way.
    std::optional<std::string_view> CrLfText() const;

    // The end of the longest run of lines from `from` (at most `to`) stored one after the other,
    // each followed by CR LF; Block gives those lines with their CR LF as one piece.
    std::size_t CrLfRunEnd(std::size_t from, std::size_t to) const;
    std::string_view Block(std::size_t from, std::size_t end) const;

    // Calls f with pieces that together are lines [from, to) each followed by CR LF, in as
    // few pieces as the storage allows.
    template <typename F>
    void ForEachCrLfPiece(std::size_t from, std::size_t to, F&& f) const {
        if (!indexed_ && from == 0 && to == lineCount_) {
            if (!bytes_->empty()) {
                f(std::string_view(*bytes_));
            }
            return;
        }
        for (std::size_t i = from; i < to;) {
            if (std::size_t end = CrLfRunEnd(i, to); end > i) {
                f(Block(i, end));
                i = end;
            } else {
                f(Line(i));
                f(std::string_view("\r\n"));
                ++i;
            }
        }
    }
    std::vector<std::string> Lines() const;

    // Bytes held for lines, terminators excluded.
    std::size_t ByteCount() const { return lineBytes_; }

  private:
    // The block, copied first when another holder shares it.
    std::string& Own();
    // Works out the span of every line, once.
    void Index() const;
    void IndexLines(std::size_t from) const;
    bool FollowedByCrLf(std::size_t i) const {
        std::size_t e = spans_[i].begin + spans_[i].size;
        return e + 1 < bytes_->size() && (*bytes_)[e] == '\r' && (*bytes_)[e + 1] == '\n';
    }
    struct Span {
        std::size_t begin;
        std::size_t size;
    };
    std::shared_ptr<std::string> bytes_ = std::make_shared<std::string>();
    // With indexed_ false the block is lines each followed by CR LF, lineCount_ of them.
    mutable bool indexed_ = false;
    std::size_t lineCount_ = 0;
    mutable std::vector<Span> spans_;
    std::size_t lineBytes_ = 0;
};

}  // namespace velloran
