#pragma once

#include <string>
#include <string_view>

namespace velloran::cli {

// The one place where document text meets the terminal, the command line and JSON. A document
// is bytes in its code page, Windows-1252 read as a one-to-one table over all 256 byte values.
// Without --utf8, text goes out and comes in as those bytes, so that pipes stay byte-exact;
// with it, through the table to and from UTF-8. JSON is always UTF-8, through the table, so
// that every byte has exactly one character and none is lost.
class TextForm {
  public:
    explicit TextForm(bool utf8) : utf8_(utf8) {}

    // Document text for the terminal.
    std::string Out(std::string_view documentText) const;
    // Text given on the terminal or the command line (what names it in messages), as
    // document bytes. Throws UsageError when UTF-8 was asked for and the text is not UTF-8.
    std::string In(std::string_view given, std::string_view what) const;
    // Document text for JSON, as UTF-8.
    static std::string ForJson(std::string_view documentText);

  private:
    bool utf8_;
};

}  // namespace velloran::cli
