#pragma once

#include <algorithm>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "core/Cipher.h"

namespace velloran::testing {

// Documents that exercise the rules by which a document is cut: marker lines and near misses,
// every line-end form, blanks, tabs, NUL and bytes above 127, with or without a final break.
struct NamedDocument {
    std::string name;
    std::string bytes;
};

inline std::string MarkerLines(int count, std::string_view end = "\r\n") {
    std::string out;
    for (int i = 1; i <= count; ++i) {
        out += "[S] Part " + std::to_string(i);
        out += end;
        out += "text of part " + std::to_string(i);
        out += end;
    }
    return out;
}

inline std::vector<NamedDocument> SampleDocuments() {
    using namespace std::string_literals;
    return {
        {"Empty", ""},
        {"OneLineNoBreak", "just one line"},
        {"OnlyABreak", "\r\n"},
        {"NoMarkers", "First line here\r\n\r\nlast  one \r\n"},
        {"MarkerOnFirstLine", "[S] One\r\nalpha beta\r\n[s]two\r\ngamma\r\n"},
        {"NearMisses", "pre\r\n[S] a\r\n [S] Title\r\n[T] Title\r\n[S]xyz\r\n"},
        {"EveryLineEndForm", "a\r\nb\nc\rd\n\re\r\r\nf[S] no\n[S] Yes\rtail"},
        {"HighBytesAndNul", "caf\xe9 \x80\x81\x8d\x8f\x90\x9d\xff\r\n[S] \xc4rger\r\nx\0y\r\n"s},
        {"FiftyOneMarkers", MarkerLines(51)},
        {"SixtyMarkersLf", "intro\n" + MarkerLines(60, "\n")},
        {"BlanksAndTabs", "  lead\ttab  \r\n\t\r\n   \r\n[S] \t \r\n"},
    };
}

inline std::string RandomDocument(std::mt19937& rng) {
    static const char* const kLines[] = {"[S] Chapter",
                                         "[s]xyz",
                                         "[S] a",
                                         " [S] Title",
                                         "[T] Other",
                                         "[S]\xe4\xf6\xfc!",
                                         "plain words here",
                                         "",
                                         "  two  blanks ",
                                         "tab\tword",
                                         "caf\xe9 \x80\x9d",
                                         "[",
                                         "x[S] inside",
                                         "[S] Chapter [S] twice"};
    static const char* const kEnds[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\n\r", "\r\r\n"};
    std::uniform_int_distribution<int> line(0, std::size(kLines) - 1);
    std::uniform_int_distribution<int> end(0, std::size(kEnds) - 1);
    std::uniform_int_distribution<int> length(0, 90);
    std::string doc;
    const int lines = length(rng) * (rng() % 4 == 0 ? 20 : 1);
    for (int i = 0; i < lines; ++i) {
        doc += kLines[line(rng)];
        if (rng() % 7 == 0) {
            doc.append(static_cast<std::size_t>(length(rng)), static_cast<char>('a' + rng() % 3));
        }
        if (rng() % 50 == 0) {
            doc.push_back('\0');
        }
        doc += kEnds[end(rng)];
    }
    if (!doc.empty() && rng() % 3 == 0) {
        doc.resize(doc.size() - 1);
    }
    return doc;
}

// The document enciphered line by line in place, its line ends left as they are.
inline std::string EncipherInPlace(std::string bytes, const std::string& key) {
    KeyIndex index;
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t end = std::min(bytes.find_first_of("\r\n", i), bytes.size());
        EncipherLine(std::span<char>(bytes.data() + i, end - i), key, index);
        i = end + 1;
    }
    return bytes;
}

}  // namespace velloran::testing
