#pragma once

#include <cstddef>
#include <string_view>

namespace velloran {

// How a document's bytes stand for characters, decided for each document as it is read and the
// one bridge between its bytes and everything that shows or takes its text. Either way every
// byte reads and saves back unchanged: Windows-1252 is one character per byte (see codepage),
// and a document is only taken as UTF-8 when all of it is.
//
// Characters are what positions and counts are made of: in UTF-8 a code point, so that a
// character beyond U+FFFF is one character and a leading byte-order mark is one character too
// (U+FEFF, kept as the document's own bytes); in Windows-1252 a byte. A line break CR LF is two.
enum class Encoding { Windows1252, Utf8 };

// The character set of the user's locale, as setlocale(LC_CTYPE, "") would take it from
// LC_ALL, LC_CTYPE and LANG: UTF-8 when its codeset is, Windows-1252 for any other, and for a
// locale that is not installed (the C locale is what would be in force).
Encoding LocaleEncoding();

// What detection tells of bytes.
enum class ByteForm {
    Ascii,  // no byte above 127
    Utf8,   // UTF-8 that the editor holds as it is, with a byte above 127
    Other,  // anything else above 127
};

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF, no sequence cut
// short) is Utf8 unless it holds a character that the toolkit's text turns into a line break
// (U+2028, U+2029, U+FDD0, U+FDD1): such a document could not be saved as it was read, so it
// is Other, which keeps its bytes.
ByteForm FormOf(std::string_view bytes);

// The encoding of bytes of that form: UTF-8, Windows-1252, or for ASCII alone (and a document
// that has no bytes yet) the locale's.
Encoding EncodingFor(ByteForm form);
inline Encoding DetectEncoding(std::string_view bytes) {
    return EncodingFor(FormOf(bytes));
}

// Detection reads 32 bytes a step where the processor can. Tests turn that off to check the
// byte-by-byte reading it falls back to elsewhere.
void SetDetectionVectors(bool use);

// Strict UTF-8, as above, whatever characters it holds.
bool IsUtf8(std::string_view bytes);

inline bool IsContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// The length of the strict UTF-8 sequence at bytes[at], its code point in ch; 0 when none
// starts there.
std::size_t DecodeUtf8(std::string_view bytes, std::size_t at, char32_t& ch);

// The characters of text in that encoding, a CR LF counting two.
std::size_t CountChars(std::string_view text, Encoding encoding);

}  // namespace velloran
