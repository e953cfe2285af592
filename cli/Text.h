#pragma once

#include <string>
#include <string_view>

#include "core/document/Encoding.h"

namespace velloran::cli {

// The one place where document text meets the terminal, the command line and JSON. A document
// is bytes in its own encoding, found as the editor finds it: UTF-8, or Windows-1252 read as a
// one-to-one table over all 256 byte values. Without --utf8, text goes out and comes in as the
// document's bytes, so that pipes stay byte-exact; with it, a Windows-1252 document's text goes
// through the table to and from UTF-8, and a UTF-8 document's is already that. JSON is always
// UTF-8, so that every byte has exactly one character and none is lost.
class TextForm {
  public:
    TextForm(bool utf8, Encoding encoding) : utf8_(utf8), encoding_(encoding) {}

    // Document text for the terminal.
    std::string Out(std::string_view documentText) const;
    // Text given on the terminal or the command line (what names it in messages), as
    // document bytes. Throws UsageError when the text must be UTF-8 and is not: with --utf8,
    // and for a UTF-8 document, whose characters no other bytes could match.
    std::string In(std::string_view given, std::string_view what) const;
    // Document text for JSON, as UTF-8.
    std::string ForJson(std::string_view documentText) const;

  private:
    bool Converts() const { return utf8_ && encoding_ == Encoding::Windows1252; }

    bool utf8_;
    Encoding encoding_;
};

}  // namespace velloran::cli
