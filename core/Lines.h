#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>
#include <vector>

namespace velloran {

// Calls f(line) for each logical line of text: cut at CR LF, a lone CR or a lone LF, with no
// extra empty line for a final break. An empty text has no lines.
template <typename F>
void ForEachLogicalLine(std::string_view text, F&& f) {
    const char* p = text.data();
    const char* const end = p + text.size();
    // The next CR and the next LF, each found by memchr and looked for again only once passed,
    // so the text is scanned about once whatever the mix of line ends.
    auto find = [end](const char* from, char c) {
        const void* hit = std::memchr(from, c, static_cast<std::size_t>(end - from));
        return hit ? static_cast<const char*>(hit) : end;
    };
    const char* cr = find(p, '\r');
    const char* lf = find(p, '\n');
    while (p != end) {
        if (cr < p) {
            cr = find(p, '\r');
        }
        if (lf < p) {
            lf = find(p, '\n');
        }
        const char* q = cr < lf ? cr : lf;
        f(std::string_view(p, static_cast<std::size_t>(q - p)));
        if (q == end) {
            break;
        }
        if (q == cr && q + 1 != end && q[1] == '\n') {
            ++q;
        }
        p = q + 1;
    }
}

std::vector<std::string_view> LogicalLines(std::string_view text);

}  // namespace velloran
