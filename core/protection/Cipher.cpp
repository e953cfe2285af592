#include "core/protection/Cipher.h"

#include <algorithm>

namespace velloran {
namespace {

template <bool kAdd>
void Apply(std::span<char> line, std::string_view key, KeyIndex& index) {
    const std::size_t length = key.size();
    if (length == 0) {
        return;
    }
    std::size_t r = index.r;
    const auto* k = reinterpret_cast<const unsigned char*>(key.data());
    for (char& c : line) {
        auto b = static_cast<unsigned char>(c);
        unsigned char kb = k[r - 1];
        c = static_cast<char>(kAdd ? static_cast<unsigned char>(b + kb)
                                   : static_cast<unsigned char>(b - kb));
        r = (r == length) ? 1 : r + 1;
    }
    index.r = r;
}

bool LowerEquals(char c, char lower) {
    return c == lower || c == static_cast<char>(lower - 'a' + 'A');
}

}  // namespace

void EncipherLine(std::span<char> line, std::string_view key, KeyIndex& index) {
    Apply<true>(line, key, index);
}

void DecipherLine(std::span<char> line, std::string_view key, KeyIndex& index) {
    Apply<false>(line, key, index);
}

std::size_t DecipherBuffer(Session& s) {
    KeyIndex index;
    std::size_t breaks = 0;
    for (std::size_t i = 0; i < s.buffer.LineCount(); ++i) {
        const std::span<char> line = s.buffer.MutableLine(i);
        DecipherLine(line, s.st.CipherKey, index);
        breaks += static_cast<std::size_t>(
            std::count_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }));
    }
    s.st.Enciphered = true;
    s.st.DecipheredBreaks = breaks;
    return breaks;
}

std::string EncipheredName(std::string_view path) {
    if (path.size() < 3) {
        return "vle";
    }
    return std::string(path.substr(0, path.size() - 3)) + "vle";
}

bool IsEncipheredName(std::string_view path) {
    if (path.size() < 4) {
        return false;
    }
    auto end = path.substr(path.size() - 4);
    return end[0] == '.' && LowerEquals(end[1], 'v') && LowerEquals(end[2], 'l') &&
           LowerEquals(end[3], 'e');
}

bool AskKey(Session& s) {
    PromptResult answer = s.dialogs.AskKeyPrompt(KeyText::CodePage);
    if (answer.result == ModalResult::OK) {
        s.st.CipherKey = answer.text;
        s.st.Enciphered = true;
    }
    return s.st.Enciphered;
}

bool NeedsCipher(Session& s) {
    return (IsEncipheredName(s.st.FileName) || s.st.Enciphered) && AskKey(s);
}

bool ReadsBack(std::string_view line) {
    return std::none_of(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; });
}

bool ReadsBack(const DocumentBuffer& lines) {
    for (std::size_t i = 0; i < lines.LineCount(); ++i) {
        if (!ReadsBack(lines.Line(i))) {
            return false;
        }
    }
    return true;
}

}  // namespace velloran
