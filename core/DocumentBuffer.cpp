#include "DocumentBuffer.h"

#include <algorithm>

#include "LargeMemory.h"
#include "Lines.h"

namespace velloran {

std::string& DocumentBuffer::Own() {
    if (bytes_.use_count() > 1) {
        auto own = std::make_shared<std::string>();
        ReserveLarge(*own, bytes_->capacity());
        own->append(*bytes_);
        bytes_ = std::move(own);
    }
    return *bytes_;
}

void DocumentBuffer::Clear() {
    bytes_ = std::make_shared<std::string>();
    spans_.clear();
    spans_.shrink_to_fit();
    lineBytes_ = 0;
}

void DocumentBuffer::Reserve(std::size_t bytes, std::size_t lines) {
    ReserveLarge(Own(), bytes);
    spans_.reserve(lines);
}

void DocumentBuffer::Append(std::string_view line) {
    std::string& bytes = Own();
    spans_.push_back({bytes.size(), line.size()});
    bytes.append(line);
    bytes.append("\r\n");
    lineBytes_ += line.size();
}

void DocumentBuffer::IndexLines(std::size_t from) {
    const std::string_view text = std::string_view(*bytes_).substr(from);
    // Every line but the last ends at a CR or an LF, so their number bounds the lines: the spans
    // are reserved once instead of being copied as they grow.
    const std::size_t breaks = static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; }));
    if (const std::size_t needed = spans_.size() + breaks + 1; needed > spans_.capacity()) {
        spans_.reserve(std::max(needed, 2 * spans_.capacity()));
    }
    const char* base = bytes_->data();
    ForEachLogicalLine(text, [&](std::string_view line) {
        spans_.push_back({static_cast<std::size_t>(line.data() - base), line.size()});
        lineBytes_ += line.size();
    });
}

void DocumentBuffer::AppendText(std::string_view text) {
    std::string& bytes = Own();
    const std::size_t from = bytes.size();
    bytes.append(text);
    IndexLines(from);
}

void DocumentBuffer::AssignText(std::string text) {
    spans_.clear();
    lineBytes_ = 0;
    bytes_ = std::make_shared<std::string>(std::move(text));
    IndexLines(0);
}

std::size_t DocumentBuffer::CrLfRunEnd(std::size_t from, std::size_t to) const {
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
    const std::size_t begin = spans_[from].begin;
    return std::string_view(*bytes_).substr(
        begin, spans_[end - 1].begin + spans_[end - 1].size + 2 - begin);
}

std::vector<std::string> DocumentBuffer::Lines() const {
    std::vector<std::string> out;
    out.reserve(spans_.size());
    for (std::size_t i = 0; i < spans_.size(); ++i) {
        out.emplace_back(Line(i));
    }
    return out;
}

}  // namespace velloran
