#include <charconv>
#include <optional>
#include <string_view>

#include "Checks.h"
#include "settings/ProfileFile.h"

namespace velloran::fuzz {
namespace {

// The integer rules, written afresh: blanks are spaces and tabs, as everywhere in the file.
std::optional<std::int32_t> Reference(std::string_view t) {
    while (!t.empty() && (t[0] == ' ' || t[0] == '\t')) {
        t.remove_prefix(1);
    }
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"}) {
        if (t.starts_with(prefix)) {
            const std::string_view digits = t.substr(prefix.size());
            if (digits.empty() || digits.size() > 8) {
                return std::nullopt;
            }
            std::uint32_t value = 0;
            const auto [end, error] =
                std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
            if (error != std::errc{} || end != digits.data() + digits.size()) {
                return std::nullopt;
            }
            return static_cast<std::int32_t>(value);
        }
    }
    bool negative = false;
    if (!t.empty() && (t[0] == '+' || t[0] == '-')) {
        negative = t[0] == '-';
        t.remove_prefix(1);
    }
    if (t.empty() || t.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    t.remove_prefix(std::min(t.find_first_not_of('0'), t.size()));
    const std::string_view limit = negative ? "2147483648" : "2147483647";
    if (t.size() > limit.size() || (t.size() == limit.size() && t > limit)) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (char c : t) {
        value = value * 10 + (c - '0');
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace

const char* CheckProfileInt(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::int32_t> expected = Reference(text);
    // Two fallbacks, so that a value read is told apart from a fallback that happens to equal it.
    for (int fallback : {12345, -98765}) {
        if (ParseProfileInt(text, fallback) != expected.value_or(fallback)) {
            return "the integer reader disagrees with the rules";
        }
    }
    return nullptr;
}

}  // namespace velloran::fuzz
