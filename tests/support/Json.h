#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace velloran::testing {

// A strict reader of JSON text (RFC 8259), for checking what a program writes. Strings come back
// as UTF-8; numbers as their text, which is enough to compare counts.
struct Json {
    struct Number {
        std::string text;
    };
    using Array = std::vector<Json>;
    using Object = std::map<std::string, Json>;
    std::variant<std::nullptr_t, bool, Number, std::string, Array, Object> value;

    const Json& operator[](const std::string& key) const { return std::get<Object>(value).at(key); }
    const Json& operator[](std::size_t i) const { return std::get<Array>(value).at(i); }
    std::size_t Size() const {
        return std::holds_alternative<Array>(value) ? std::get<Array>(value).size()
                                                    : std::get<Object>(value).size();
    }
    const std::string& Str() const { return std::get<std::string>(value); }
    std::uint64_t Uint() const { return std::stoull(std::get<Number>(value).text); }
    bool Bool() const { return std::get<bool>(value); }
    bool IsNull() const { return std::holds_alternative<std::nullptr_t>(value); }

    // Nothing when text is not exactly one JSON value, with white space around it at most.
    static std::optional<Json> Parse(std::string_view text) {
        Reader r{text};
        std::optional<Json> v = r.Value();
        r.Space();
        if (!v || r.at != text.size()) {
            return std::nullopt;
        }
        return v;
    }

  private:
    struct Reader {
        std::string_view s;
        std::size_t at = 0;

        void Space() {
            while (at < s.size() &&
                   (s[at] == ' ' || s[at] == '\t' || s[at] == '\n' || s[at] == '\r')) {
                ++at;
            }
        }
        bool Take(std::string_view word) {
            if (s.substr(at, word.size()) != word) {
                return false;
            }
            at += word.size();
            return true;
        }
        std::optional<Json> Value() {
            Space();
            if (at >= s.size()) {
                return std::nullopt;
            }
            const char c = s[at];
            if (c == '{') {
                return Members();
            }
            if (c == '[') {
                return Elements();
            }
            if (c == '"') {
                auto str = String();
                return str ? std::optional<Json>(Json{*str}) : std::nullopt;
            }
            if (Take("true")) {
                return Json{true};
            }
            if (Take("false")) {
                return Json{false};
            }
            if (Take("null")) {
                return Json{nullptr};
            }
            return NumberValue();
        }
        std::optional<Json> Members() {
            ++at;
            Object object;
            Space();
            if (Take("}")) {
                return Json{object};
            }
            for (;;) {
                Space();
                auto key = at < s.size() && s[at] == '"' ? String() : std::nullopt;
                Space();
                if (!key || !Take(":")) {
                    return std::nullopt;
                }
                auto v = Value();
                if (!v || !object.emplace(*key, *v).second) {
                    return std::nullopt;
                }
                Space();
                if (Take("}")) {
                    return Json{object};
                }
                if (!Take(",")) {
                    return std::nullopt;
                }
            }
        }
        std::optional<Json> Elements() {
            ++at;
            Array array;
            Space();
            if (Take("]")) {
                return Json{array};
            }
            for (;;) {
                auto v = Value();
                if (!v) {
                    return std::nullopt;
                }
                array.push_back(*v);
                Space();
                if (Take("]")) {
                    return Json{array};
                }
                if (!Take(",")) {
                    return std::nullopt;
                }
            }
        }
        std::optional<Json> NumberValue() {
            const std::size_t from = at;
            Take("-");
            auto digits = [&] {
                const std::size_t d = at;
                while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
                    ++at;
                }
                return at - d;
            };
            const std::size_t whole = digits();
            if (whole == 0 || (whole > 1 && s[at - whole] == '0')) {
                return std::nullopt;
            }
            if (Take(".") && digits() == 0) {
                return std::nullopt;
            }
            if (at < s.size() && (s[at] == 'e' || s[at] == 'E')) {
                ++at;
                if (!Take("+")) {
                    Take("-");
                }
                if (digits() == 0) {
                    return std::nullopt;
                }
            }
            return Json{Number{std::string(s.substr(from, at - from))}};
        }
        static void AppendUtf8(std::string& out, std::uint32_t c) {
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
            } else if (c < 0x800) {
                out.push_back(static_cast<char>(0xC0 | (c >> 6)));
                out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            } else if (c < 0x10000) {
                out.push_back(static_cast<char>(0xE0 | (c >> 12)));
                out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            } else {
                out.push_back(static_cast<char>(0xF0 | (c >> 18)));
                out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
                out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            }
        }
        std::optional<std::uint32_t> Hex4() {
            if (s.size() - at < 4) {
                return std::nullopt;
            }
            std::uint32_t v = 0;
            for (int i = 0; i < 4; ++i) {
                const char h = s[at++];
                v <<= 4;
                if (h >= '0' && h <= '9') {
                    v |= static_cast<std::uint32_t>(h - '0');
                } else if (h >= 'a' && h <= 'f') {
                    v |= static_cast<std::uint32_t>(h - 'a' + 10);
                } else if (h >= 'A' && h <= 'F') {
                    v |= static_cast<std::uint32_t>(h - 'A' + 10);
                } else {
                    return std::nullopt;
                }
            }
            return v;
        }
        // The string at `at`, which must be valid UTF-8 with no raw control character.
        std::optional<std::string> String() {
            ++at;
            std::string out;
            while (at < s.size()) {
                const auto c = static_cast<unsigned char>(s[at]);
                if (c == '"') {
                    ++at;
                    return out;
                }
                if (c < 0x20) {
                    return std::nullopt;
                }
                if (c == '\\') {
                    if (++at >= s.size()) {
                        return std::nullopt;
                    }
                    const char e = s[at++];
                    static constexpr std::string_view kFrom = "\"\\/bfnrt";
                    static constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
                    if (auto i = kFrom.find(e); i != std::string_view::npos) {
                        out.push_back(kTo[i]);
                        continue;
                    }
                    if (e != 'u') {
                        return std::nullopt;
                    }
                    auto u = Hex4();
                    if (!u) {
                        return std::nullopt;
                    }
                    if (*u >= 0xD800 && *u <= 0xDBFF) {
                        if (!Take("\\u")) {
                            return std::nullopt;
                        }
                        auto low = Hex4();
                        if (!low || *low < 0xDC00 || *low > 0xDFFF) {
                            return std::nullopt;
                        }
                        *u = 0x10000 + ((*u - 0xD800) << 10) + (*low - 0xDC00);
                    } else if (*u >= 0xDC00 && *u <= 0xDFFF) {
                        return std::nullopt;
                    }
                    AppendUtf8(out, *u);
                    continue;
                }
                // One UTF-8 character, checked for its form.
                const std::size_t more = c < 0x80 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
                if ((c >= 0x80 && c < 0xC2) || c > 0xF4 || s.size() - at <= more) {
                    return std::nullopt;
                }
                for (std::size_t j = 1; j <= more; ++j) {
                    if ((static_cast<unsigned char>(s[at + j]) & 0xC0) != 0x80) {
                        return std::nullopt;
                    }
                }
                out.append(s.substr(at, more + 1));
                at += more + 1;
            }
            return std::nullopt;
        }
    };
};

}  // namespace velloran::testing
