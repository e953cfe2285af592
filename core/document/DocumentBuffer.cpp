#include "core/document/DocumentBuffer.h"

#include <algorithm>

#include "core/document/Lines.h"

namespace velloran {

std::string& DocumentBuffer::Own() {
    if (bytes_.use_count() > 1) {
        auto own = std::make_shared<std::string>();
        own->reserve(bytes_->capacity());
        own->append(*bytes_);
        bytes_ = std::move(own);
    }
    return *bytes_;
}

void DocumentBuffer::Clear() {
    bytes_ = std::make_shared<std::string>();
    indexed_ = false;
    lineCount_ = 0;
    spans_.clear();
    spans_.shrink_to_fit();
    lineBytes_ = 0;
}

void DocumentBuffer::Index() const {
    if (!indexed_) {
        indexed_ = true;
        spans_.clear();
        spans_.reserve(lineCount_);
        const char* base = bytes_->data();
        ForEachLogicalLine(*bytes_, [&](std::string_view line) {
            spans_.push_back({static_cast<std::size_t>(line.data() - base), line.size()});
        });
    }
}

void DocumentBuffer::Append(std::string_view line) {
    Index();
    std::string& bytes = Own();
    spans_.push_back({bytes.size(), line.size()});
    bytes.append(line);
    bytes.append("\r\n");
    lineBytes_ += line.size();
}

void DocumentBuffer::IndexLines(std::size_t from) const {
    const std::string_view text = std::string_view(*bytes_).substr(from);
    // Every line but the last ends at a CR or an LF, so their number bounds the lines: the spans
    // are reserved once instead of being copied as they grow.
    if (const std::size_t needed = spans_.size() + CountBreakBytes(text) + 1;
        needed > spans_.capacity()) {
        spans_.reserve(std::max(needed, 2 * spans_.capacity()));
    }
    const char* base = bytes_->data();
    ForEachLogicalLine(text, [&](std::string_view line) {
        spans_.push_back({static_cast<std::size_t>(line.data() - base), line.size()});
    });
}

void DocumentBuffer::AppendText(std::string_view text) {
    std::size_t lines = 0;
    if (!indexed_ && IsCrLfText(text, &lines)) {
        Own().append(text);
        lineCount_ += lines;
        lineBytes_ += text.size() - 2 * lines;
        return;
    }
    Index();
    std::string& bytes = Own();
    const std::size_t from = bytes.size();
    const std::size_t before = spans_.size();
    bytes.append(text);
    IndexLines(from);
    for (std::size_t i = before; i < spans_.size(); ++i) {
        lineBytes_ += spans_[i].size;
    }
}

void DocumentBuffer::AssignText(std::string text) {
    Clear();
    bytes_ = std::make_shared<std::string>(std::move(text));
    if (IsCrLfText(*bytes_, &lineCount_)) {
        lineBytes_ = bytes_->size() - 2 * lineCount_;
        return;
    }
    indexed_ = true;
    IndexLines(0);
    for (const Span& span : spans_) {
        lineBytes_ += span.size;
    }
}

std::optional<std::string_view> DocumentBuffer::CrLfText() const {
    if (!indexed_) {
        return std::string_view(*bytes_);
    }
    // Spanned lines are in that form when they lie one after the other from the start, each
    // followed by CR LF, and none holds a break byte of its own.
    const std::size_t n = spans_.size();
    std::size_t lines = 0;
    if (IsCrLfText(*bytes_, &lines) && lines == n &&
        (n == 0 || (spans_[0].begin == 0 && CrLfRunEnd(0, n) == n))) {
        return std::string_view(*bytes_);
    }
    return std::nullopt;
}

std::size_t DocumentBuffer::CrLfRunEnd(std::size_t from, std::size_t to) const {
    Index();
    std::size_t j = from;
    while (j < to && FollowedByCrLf(j) &&
           (j == from || spans_[j].begin == spans_[j - 1].begin + spans_[j - 1].size + 2)) {
        ++j;
    }
    return j;
}

std::string_view DocumentBuffer::Block(std::size_t from, std::size_t end) const {
    if (from == end) {
        return {};
    }
    Index();
    const std::size_t begin = spans_[from].begin;
    return std::string_view(*bytes_).substr(
        begin, spans_[end - 1].begin + spans_[end - 1].size + 2 - begin);
}

std::vector<std::string> DocumentBuffer::Lines() const {
    Index();
    std::vector<std::string> out;
    out.reserve(spans_.size());
    for (std::size_t i = 0; i < spans_.size(); ++i) {
        out.emplace_back(Line(i));
    }
    return out;
}

}  // namespace velloran
