#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace velloran {

// Calls f(line) for each logical line of text: cut at CR LF, a lone CR or a lone LF, with no
// extra empty line for a final break. An empty text has no lines.
template <typename F>
void ForEachLogicalLine(std::string_view text, F&& f) {
    const char* p = text.data();
    const char* end = p + text.size();
    while (p != end) {
        const char* q = p;
        while (q != end && *q != '\r' && *q != '\n') {
            ++q;
        }
        f(std::string_view(p, static_cast<std::size_t>(q - p)));
        if (q == end) {
            break;
        }
        if (*q == '\r' && q + 1 != end && q[1] == '\n') {
            ++q;
        }
        p = q + 1;
    }
}

std::vector<std::string_view> LogicalLines(std::string_view text);

}  // namespace velloran
