#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velloran::cli {

// Builds one JSON value as compact text. Strings are given as UTF-8.
class JsonWriter {
  public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    // The name of the next member of an object.
    JsonWriter& Key(std::string_view name);
    JsonWriter& String(std::string_view utf8);
    JsonWriter& Number(std::size_t value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    const std::string& Text() const { return out_; }

  private:
    void BeforeValue();
    std::string out_;
    // For each open object or array: whether it has no member yet.
    std::vector<bool> empty_;
    bool afterKey_ = false;
};

// Appends text as a JSON string literal: quotes and backslashes escaped, and every control
// character, which JSON does not allow as it is.
void AppendJsonString(std::string& out, std::string_view utf8);

}  // namespace velloran::cli
