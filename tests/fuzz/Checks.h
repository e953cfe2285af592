#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The invariants the fuzzers hold the editor to. Each check takes one input and returns nullptr
// when the invariant holds, or what was broken. The fuzzers and the replay test share them, so
// that every saved input is checked again in every build.
namespace velloran::fuzz {

// Document bytes: a split and a join give back the lines read, and writing them reads back; the
// statistics counted in the bytes are those of the sections, and the check tells whether a save
// changes the file.
const char* CheckDocument(const std::uint8_t* data, std::size_t size);
// Byte 0 is the key length, then the key, then the document: enciphering round-trips, and the
// saving's readability check agrees with an actual write and read.
const char* CheckCipher(const std::uint8_t* data, std::size_t size);
// Section, key and value on the first three lines, then the profile file (none when fewer than
// three lines): reading never fails, a write reads back and changes no other line.
const char* CheckProfile(const std::uint8_t* data, std::size_t size);
// The integer reader against a reference written from the rules.
const char* CheckProfileInt(const std::uint8_t* data, std::size_t size);
// The input as a sealed file: opened or refused, never more; then byte 0 a chunk size, bytes 1
// and 2 a place, the rest plain bytes: sealed, they open to themselves, and neither a changed
// byte at that place nor a cut there opens.
const char* CheckSeal(const std::uint8_t* data, std::size_t size);
// A Hunspell dictionary, the .aff up to the first NUL byte and the .dic after it (a small one
// when there is none), checked with and asked for suggestions through the spelling helper:
// whatever it does to Hunspell, this process goes on, the helper is started again at most once,
// and once spelling is off nothing is marked and no helper is left running.
const char* CheckDictionary(const std::uint8_t* data, std::size_t size);

// A private folder for the files a check writes, on a memory file system where there is one;
// removed when the process ends.
const std::string& ScratchFolder();

// The input's lines cut at CR LF, CR and LF, with their line breaks; the last may have none.
std::vector<std::string_view> RawLines(std::string_view text);
// The same lines without their line breaks.
std::vector<std::string> Lines(std::string_view text);

bool WriteFileBytes(const std::string& path, std::string_view bytes);

}  // namespace velloran::fuzz
