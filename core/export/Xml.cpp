#include "core/export/Xml.h"

#include <libxml/xmlwriter.h>

#include "core/document/Encoding.h"
#include "core/document/Error.h"

namespace velloran {
namespace {

xmlTextWriterPtr W(void* p) {
    return static_cast<xmlTextWriterPtr>(p);
}

const xmlChar* X(const std::string& s) {
    return reinterpret_cast<const xmlChar*>(s.c_str());
}

bool XmlChar(char32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c != 0xFFFE && c != 0xFFFF);
}

// Most text is already what XML can hold: checked in one pass, it is not copied character by
// character.
bool HoldsOnlyXml(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x20 && b != 0x9 && b != 0xA && b != 0xD) {
            return false;
        }
        if (b == 0xEF && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(text[i + 2]) & 0xFE) == 0xBE) {
            return false;
        }
    }
    return IsUtf8(text);
}

}  // namespace

std::string XmlSafe(std::string_view text) {
    if (HoldsOnlyXml(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const auto b = static_cast<unsigned char>(text[at]);
        if (b >= 0x20 && b < 0x80) {
            out.push_back(static_cast<char>(b));
            ++at;
            continue;
        }
        char32_t c = 0;
        const std::size_t n = DecodeUtf8(text, at, c);
        if (n == 0 || !XmlChar(c)) {
            out.append("\xEF\xBF\xBD");
            at += n == 0 ? 1 : n;
        } else {
            out.append(text.substr(at, n));
            at += n;
        }
    }
    return out;
}

XmlWriter::XmlWriter(std::function<void(std::string_view)> sink) : sink_(std::move(sink)) {
    buffer_ = xmlBufferCreate();
    writer_ = buffer_ ? xmlNewTextWriterMemory(static_cast<xmlBufferPtr>(buffer_), 0) : nullptr;
    if (!writer_) {
        if (buffer_) {
            xmlBufferFree(static_cast<xmlBufferPtr>(buffer_));
        }
        throw std::bad_alloc();
    }
}

XmlWriter::~XmlWriter() {
    xmlFreeTextWriter(W(writer_));
    xmlBufferFree(static_cast<xmlBufferPtr>(buffer_));
}

void XmlWriter::Check(int result) {
    if (result < 0) {
        throw Error("The XML of the export could not be written");
    }
}

void XmlWriter::Declaration(std::string_view doctype) {
    Check(xmlTextWriterStartDocument(W(writer_), "1.0", "UTF-8", nullptr));
    if (!doctype.empty()) {
        Check(
            xmlTextWriterWriteDTD(W(writer_), X(std::string(doctype)), nullptr, nullptr, nullptr));
    }
}

void XmlWriter::Doctype(std::string_view doctype) {
    Check(xmlTextWriterWriteDTD(W(writer_), X(std::string(doctype)), nullptr, nullptr, nullptr));
}

XmlWriter& XmlWriter::Start(std::string_view name) {
    Check(xmlTextWriterStartElement(W(writer_), X(std::string(name))));
    return *this;
}

XmlWriter& XmlWriter::Attribute(std::string_view name, std::string_view value) {
    Check(xmlTextWriterWriteAttribute(W(writer_), X(std::string(name)), X(XmlSafe(value))));
    return *this;
}

XmlWriter& XmlWriter::Text(std::string_view text) {
    Check(xmlTextWriterWriteString(W(writer_), X(XmlSafe(text))));
    return *this;
}

XmlWriter& XmlWriter::End() {
    Check(xmlTextWriterEndElement(W(writer_)));
    return *this;
}

XmlWriter& XmlWriter::Element(std::string_view name, std::string_view text) {
    return Start(name).Text(text).End();
}

void XmlWriter::Drain() {
    Check(xmlTextWriterFlush(W(writer_)));
    auto* b = static_cast<xmlBufferPtr>(buffer_);
    const int n = xmlBufferLength(b);
    if (n > 0) {
        sink_(std::string_view(reinterpret_cast<const char*>(xmlBufferContent(b)),
                               static_cast<std::size_t>(n)));
        xmlBufferEmpty(b);
    }
}

void XmlWriter::Finish() {
    Check(xmlTextWriterEndDocument(W(writer_)));
    Drain();
}

}  // namespace velloran
