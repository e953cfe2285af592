#pragma once

#include <functional>
#include <string>
#include <string_view>

// XML written through libxml2's text writer, handed on in pieces so that a large document never
// stands whole in memory.
namespace velloran {

class XmlWriter {
  public:
    // sink receives the bytes written, in order, whenever Drain or Finish is called.
    explicit XmlWriter(std::function<void(std::string_view)> sink);
    ~XmlWriter();
    XmlWriter(const XmlWriter&) = delete;
    XmlWriter& operator=(const XmlWriter&) = delete;

    // The XML declaration; doctype, when given, a document type declaration after it
    // ("html" gives <!DOCTYPE html>).
    void Declaration(std::string_view doctype = {});
    // The document type declaration alone, as HTML has it.
    void Doctype(std::string_view doctype);
    XmlWriter& Start(std::string_view name);
    XmlWriter& Attribute(std::string_view name, std::string_view value);
    // UTF-8 text, escaped; characters XML cannot hold (controls other than tab and line
    // breaks, U+FFFE, U+FFFF) become U+FFFD.
    XmlWriter& Text(std::string_view text);
    XmlWriter& End();
    // An element holding only text.
    XmlWriter& Element(std::string_view name, std::string_view text);
    void Drain();
    // Closes every open element and hands on the rest.
    void Finish();

  private:
    void Check(int result);
    void* writer_;
    void* buffer_;
    std::function<void(std::string_view)> sink_;
};

// The text with the characters XML cannot hold made U+FFFD.
std::string XmlSafe(std::string_view text);

}  // namespace velloran
