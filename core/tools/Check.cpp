#include "core/tools/Check.h"

#include <algorithm>

#include "core/document/Sections.h"
#include "core/protection/Cipher.h"

namespace velloran {

DocumentCheck CheckDocument(std::string_view bytes, bool enciphered, const std::string* key) {
    DocumentCheck check;
    check.empty = bytes.empty();
    check.textChecked = !enciphered || key != nullptr;
    check.cipherChecked = enciphered && key != nullptr;
    KeyIndex index;
    std::string deciphered;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t end = std::min(bytes.find_first_of("\r\n", i), bytes.size());
        const std::size_t line = ++check.lines;
        std::string_view text = bytes.substr(i, end - i);
        if (check.cipherChecked) {
            deciphered.assign(text);
            DecipherLine(deciphered, *key, index);
            text = deciphered;
            if (!ReadsBack(text)) {
                check.linesDecipheringToBreaks.push_back(line);
            }
        }
        if (check.textChecked) {
            if (IsMarkerLine(text) && ++check.markers > static_cast<std::size_t>(kLastSlot)) {
                check.markersAfterFiftieth.push_back(line);
            }
            if (const auto nuls =
                    static_cast<std::size_t>(std::count(text.begin(), text.end(), '\0'))) {
                check.nulBytes += nuls;
                check.firstNulLine = check.firstNulLine ? check.firstNulLine : line;
            }
        }
        if (end == bytes.size()) {
            check.missingFinalBreak = true;
            break;
        }
        if (bytes[end] == '\n') {
            ++check.lfEnds;
            check.firstLfLine = check.firstLfLine ? check.firstLfLine : line;
            i = end + 1;
        } else if (end + 1 < bytes.size() && bytes[end + 1] == '\n') {
            ++check.crLfEnds;
            i = end + 2;
        } else {
            ++check.crEnds;
            check.firstCrLine = check.firstCrLine ? check.firstCrLine : line;
            i = end + 1;
        }
    }
    return check;
}

}  // namespace velloran
