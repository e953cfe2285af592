#pragma once

#include <algorithm>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "core/document/Encoding.h"
#include "core/protection/Cipher.h"

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
        {"Utf8Text",
         "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac\r\n[S] \xc5\x81\xc3\xb3"
         "d\xc5\xba \xf0\x9f\x98\x80\r\nna\xc3\xafve  words\r\n"},
        {"Utf8ByteOrderMark", "\xef\xbb\xbf[S] First\r\n\xd1\x8f \xce\xac\n[S] Second\r\n"},
    };
}

// Documents by which an encoding is told, and what each is found to be.
enum class Found { Utf8, Cp1252, Locale };
struct EncodingSample {
    const char* name;
    std::string bytes;
    Found found;
};

inline std::vector<EncodingSample> EncodingSamples() {
    using namespace std::string_literals;
    return {
        {"Utf8WithAccents",
         "Caf\xc3\xa9 na\xc3\xafve, \xc5\x82\xc3\xb3"
         "d\xc5\xba\r\n",
         Found::Utf8},
        {"Utf8BeyondTheBasicPlane", "smile \xf0\x9f\x98\x80\r\n", Found::Utf8},
        {"Utf8HighestCharacter", "\xf4\x8f\xbf\xbf", Found::Utf8},
        {"ByteOrderMark", "\xef\xbb\xbf[S] Title\r\nplain\r\n", Found::Utf8},
        {"ByteOrderMarkThenCp1252",
         "\xef\xbb\xbf"
         "caf\xe9\r\n",
         Found::Cp1252},
        {"Cp1252EAcute", "caf\xe9\r\n", Found::Cp1252},
        {"Cp1252EuroAndQuotes", "\x80 5 \x93quoted\x94\r\n", Found::Cp1252},
        {"LoneContinuation", "a\x80z", Found::Cp1252},
        {"OverlongTwoBytes", "\xc0\xaf", Found::Cp1252},
        {"OverlongThreeBytes", "\xe0\x80\xaf", Found::Cp1252},
        {"OverlongFourBytes", "\xf0\x80\x80\xaf", Found::Cp1252},
        {"TruncatedAtTheEnd", "caf\xc3", Found::Cp1252},
        {"TruncatedBeforeAscii", "\xe6\x97x", Found::Cp1252},
        {"TruncatedBeforeALead", "\xf0\x9f\x98\xc3\xa9", Found::Cp1252},
        {"Surrogate", "\xed\xa0\x80", Found::Cp1252},
        {"AboveUnicode", "\xf4\x90\x80\x80", Found::Cp1252},
        {"LeadNeverUsed", "\xf8\x88\x80\x80\x80", Found::Cp1252},
        {"LineSeparatorCharacter", "one\xe2\x80\xa8two", Found::Cp1252},
        {"ParagraphSeparatorCharacter", "one\xe2\x80\xa9two", Found::Cp1252},
        {"FrameMarkCharacter", "\xef\xb7\x91", Found::Cp1252},
        {"AsciiOnly", "[S] Plain\r\ntext\0only\r\n"s, Found::Locale},
        {"Empty", "", Found::Locale},
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
                                         "[S] Chapter [S] twice",
                                         "caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac",
                                         "[S] \xf0\x9f\x98\x80 \xef\xbb\xbf"};
    static const char* const kEnds[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\n\r", "\r\r\n"};
    std::uniform_int_distribution<int> line(0, std::size(kLines) - 1);
    std::uniform_int_distribution<int> end(0, std::size(kEnds) - 1);
    std::uniform_int_distribution<int> length(0, 90);
    std::string doc;
    // Half of them UTF-8 throughout.
    const bool utf8 = rng() % 2 == 0;
    const int lines = length(rng) * (rng() % 4 == 0 ? 20 : 1);
    for (int i = 0; i < lines; ++i) {
        const char* text = kLines[line(rng)];
        while (utf8 && !IsUtf8(text)) {
            text = kLines[line(rng)];
        }
        doc += text;
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
