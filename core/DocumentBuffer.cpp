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
    lineBytes_ += line.size();
}

void DocumentBuffer::AssignText(std::string text) {
    spans_.clear();
    lineBytes_ = 0;
    bytes_ = std::move(text);
    const char* base = bytes_.data();
    ForEachLogicalLine(bytes_, [&](std::string_view line) {
        spans_.push_back({static_cast<std::size_t>(line.data() - base), line.size()});
        lineBytes_ += line.size();
    });
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
