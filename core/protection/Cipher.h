#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "core/document/DocumentBuffer.h"
#include "core/document/Host.h"

namespace velloran {

// The running position in the key, 1 to its length. One pass over a document (a save, a backup
// copy, a deciphering) starts a fresh one and carries it across lines and sections.
struct KeyIndex {
    std::size_t r = 1;
};

// Adds the key bytes to the line's bytes, modulo 256, advancing the running index.
void EncipherLine(std::span<char> line, std::string_view key, KeyIndex& index);
inline void EncipherLine(std::string& line, std::string_view key, KeyIndex& index) {
    EncipherLine(std::span<char>(line.data(), line.size()), key, index);
}
void DecipherLine(std::span<char> line, std::string_view key, KeyIndex& index);

// Deciphers every buffer line in place with CipherKey and one running index; marks the
// document enciphered. The bytes it turned into CR or LF, also kept as DecipheredBreaks.
std::size_t DecipherBuffer(Session& s);

// The path with its last three characters replaced by "vle".
std::string EncipheredName(std::string_view path);
// True when the path ends in ".vle", in any case.
bool IsEncipheredName(std::string_view path);

// The key prompt: a confirmed prompt sets CipherKey and Enciphered. Returns Enciphered.
bool AskKey(Session& s);
// True when the document is, or is named as, enciphered and the key prompt returns true.
bool NeedsCipher(Session& s);

// An enciphered line reads back as the same line only when no CR or LF byte came out of it.
bool ReadsBack(std::string_view line);
bool ReadsBack(const DocumentBuffer& lines);

}  // namespace velloran
