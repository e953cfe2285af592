#pragma once

// What the editor and its spelling helper (velloran-speller) say to each other over a socket:
// frames of a 4-byte little-endian length and that many bytes. The helper first answers its
// start with kReady and the scripts the dictionary covers, or kRefused and why; then each
// request with its answer. Neither side trusts a length beyond its limit.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velloran::spelling::protocol {

inline constexpr char kReady = 'R';
inline constexpr char kRefused = 'E';
inline constexpr char kCheck = 'C';  // word -> one byte, 1 when correct
// words, each length-prefixed -> one byte a word
inline constexpr char kCheckAll = 'K';
inline constexpr std::size_t kMostBatch = 256;
inline constexpr char kSuggest = 'S';  // 4 bytes most, word -> count, then each length-prefixed
inline constexpr char kAdd = 'A';      // word -> nothing

inline constexpr std::size_t kMostFrame = std::size_t{1} << 20;
// Longer words are no words a dictionary knows: never sent.
inline constexpr std::size_t kMostWord = 1024;
inline constexpr std::size_t kMostSuggestions = 64;

inline void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}

// Reads the 4-byte length at the front of in, and moves past it.
inline std::optional<std::uint32_t> TakeU32(std::string_view& in) {
    if (in.size() < 4) {
        return std::nullopt;
    }
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        v |= std::uint32_t{static_cast<unsigned char>(in[static_cast<std::size_t>(i)])} << (8 * i);
    }
    in.remove_prefix(4);
    return v;
}

inline std::string Framed(std::string_view payload) {
    std::string out;
    out.reserve(payload.size() + 4);
    PutU32(out, static_cast<std::uint32_t>(payload.size()));
    out.append(payload);
    return out;
}

}  // namespace velloran::spelling::protocol
