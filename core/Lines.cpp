#include "Lines.h"

namespace velloran {

std::vector<std::string_view> LogicalLines(std::string_view text) {
    std::vector<std::string_view> lines;
    ForEachLogicalLine(text, [&](std::string_view line) { lines.push_back(line); });
    return lines;
}

}  // namespace velloran
