#include "DocumentBuffer.h"

#include "Lines.h"

namespace velloran {

void DocumentBuffer::Clear() {
    bytes_.clear();
    bytes_.shrink_to_fit();
    spans_.clear();
    spans_.shrink_to_fit();
    lineBytes_ = 0;
}

void DocumentBuffer::Reserve(std::size_t bytes, std::size_t lines) {
    bytes_.reserve(bytes);
    spans_.reserve(lines);
}

void DocumentBuffer::Append(std::string_view line) {
    spans_.push_back({bytes_.size(), line.size()});
    bytes_.append(line);
    bytes_.append("\r\n");
    lineBytes_ += line.size();
}

void DocumentBuffer::IndexLines(std::size_t from) {
    const char* base = bytes_.data();
    ForEachLogicalLine(std::string_view(bytes_).substr(from), [&](std::string_view line) {
        spans_.push_back({static_cast<std::size_t>(line.data() - base), line.size()});
        lineBytes_ += line.size();
    });
}

void DocumentBuffer::AppendText(std::string_view text) {
    const std::size_t from = bytes_.size();
    bytes_.append(text);
    IndexLines(from);
}

void DocumentBuffer::AssignText(std::string text) {
    spans_.clear();
    lineBytes_ = 0;
    bytes_ = std::move(text);
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
    return std::string_view(bytes_).substr(
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
