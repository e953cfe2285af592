#include "core/export/Import.h"

#include <libxml/xmlreader.h>
#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include "core/document/Encoding.h"
#include "core/document/Error.h"
#include "core/document/Lines.h"
#include "core/document/Sections.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"

namespace velloran {
namespace {

constexpr std::size_t kMostMarkers = 50;

struct Para {
    int level = 0;     // 0 for text, else a heading's level
    std::string text;  // lines cut at "\n"
};

Error NotOfFormat(const std::string& path, std::string_view format, std::string_view why) {
    return Error("Cannot import " + path + ": it is not a " + std::string(format) + " file",
                 std::string(why));
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    return out;
}

// One entry of a ZIP archive in memory, refused beyond limit so that a small archive cannot
// unpack into more than a document may hold.
class ZipReader {
  public:
    ZipReader(const std::string& bytes, const std::string& path, std::string_view format)
        : path_(path), format_(format) {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
        if (source) {
            archive_ = zip_open_from_source(source, ZIP_RDONLY, &error);
            if (!archive_) {
                zip_source_free(source);
            }
        }
        if (!archive_) {
            const std::string why = zip_error_strerror(&error);
            zip_error_fini(&error);
            throw NotOfFormat(path_, format_, why);
        }
    }
    ~ZipReader() { zip_discard(archive_); }
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    std::optional<std::string> Entry(const char* name, std::size_t limit) {
        zip_file_t* f = zip_fopen(archive_, name, 0);
        if (!f) {
            return std::nullopt;
        }
        std::string out;
        char piece[1 << 16];
        while (true) {
            const zip_int64_t n = zip_fread(f, piece, sizeof piece);
            if (n < 0) {
                zip_fclose(f);
                throw NotOfFormat(path_, format_, std::string(name) + " is damaged");
            }
            if (n == 0) {
                break;
            }
            if (out.size() + static_cast<std::size_t>(n) > limit) {
                zip_fclose(f);
                throw Error("Cannot import " + path_ +
                            ": its text is larger than a document may be");
            }
            out.append(piece, static_cast<std::size_t>(n));
        }
        zip_fclose(f);
        return out;
    }

  private:
    zip_t* archive_ = nullptr;
    std::string path_;
    std::string_view format_;
};

// A pull reader over XML in memory, without entities from outside or the network.
class XmlReader {
  public:
    XmlReader(const std::string& xml, const std::string& path, std::string_view format)
        : path_(path), format_(format) {
        reader_ = xmlReaderForMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                     XML_PARSE_NONET | XML_PARSE_NOCDATA);
        if (!reader_ || xml.size() > static_cast<std::size_t>(INT32_MAX)) {
            throw NotOfFormat(path_, format_, "its XML cannot be read");
        }
    }
    ~XmlReader() { xmlFreeTextReader(reader_); }
    XmlReader(const XmlReader&) = delete;
    XmlReader& operator=(const XmlReader&) = delete;

    bool Next() {
        const int r = xmlTextReaderRead(reader_);
        if (r < 0) {
            throw NotOfFormat(path_, format_, "its XML is not well-formed");
        }
        return r == 1;
    }
    // Leaves the current element's content unread.
    void SkipSubtree() {
        if (xmlTextReaderIsEmptyElement(reader_) == 1) {
            return;
        }
        const int depth = xmlTextReaderDepth(reader_);
        while (Next()) {
            if (xmlTextReaderDepth(reader_) == depth &&
                xmlTextReaderNodeType(reader_) == XML_READER_TYPE_END_ELEMENT) {
                return;
            }
        }
    }
    int Type() const { return xmlTextReaderNodeType(reader_); }
    bool IsStart() const { return Type() == XML_READER_TYPE_ELEMENT; }
    bool IsEnd() const {
        return Type() == XML_READER_TYPE_END_ELEMENT ||
               (IsStart() && xmlTextReaderIsEmptyElement(reader_) == 1);
    }
    bool IsText() const {
        return Type() == XML_READER_TYPE_TEXT || Type() == XML_READER_TYPE_SIGNIFICANT_WHITESPACE ||
               Type() == XML_READER_TYPE_WHITESPACE;
    }
    std::string_view Name() const {
        const xmlChar* n = xmlTextReaderConstLocalName(reader_);
        return n ? reinterpret_cast<const char*>(n) : "";
    }
    std::string Value() const {
        const xmlChar* v = xmlTextReaderConstValue(reader_);
        return v ? reinterpret_cast<const char*>(v) : "";
    }
    std::string Attribute(const char* localName, const char* ns) const {
        xmlChar* v =
            xmlTextReaderGetAttributeNs(reader_, reinterpret_cast<const xmlChar*>(localName),
                                        reinterpret_cast<const xmlChar*>(ns));
        std::string out = v ? reinterpret_cast<const char*>(v) : "";
        xmlFree(v);
        return out;
    }

  private:
    xmlTextReaderPtr reader_ = nullptr;
    std::string path_;
    std::string_view format_;
};

constexpr const char* kW = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr const char* kText = "urn:oasis:names:tc:opendocument:xmlns:text:1.0";

// "Heading 3", "heading 3", "Heading3" -> 3.
int HeadingLevelOfName(std::string_view name) {
    const std::string n = Lower(name);
    if (!n.starts_with("heading")) {
        return 0;
    }
    std::string_view rest = std::string_view(n).substr(7);
    if (!rest.empty() && rest.front() == ' ') {
        rest.remove_prefix(1);
    }
    if (rest.size() == 1 && rest[0] >= '1' && rest[0] <= '9') {
        return rest[0] - '0';
    }
    return 0;
}

std::map<std::string, int> DocxHeadingStyles(const std::optional<std::string>& styles,
                                             const std::string& path) {
    std::map<std::string, int> levels;
    if (!styles) {
        return levels;
    }
    XmlReader r(*styles, path, "DOCX");
    std::string id;
    while (r.Next()) {
        if (!r.IsStart()) {
            continue;
        }
        if (r.Name() == "style") {
            id = r.Attribute("styleId", kW);
            if (const int level = HeadingLevelOfName(id)) {
                levels[id] = level;
            }
        } else if (r.Name() == "name" && !id.empty()) {
            if (const int level = HeadingLevelOfName(r.Attribute("val", kW))) {
                levels[id] = level;
            }
        } else if (r.Name() == "outlineLvl" && !id.empty()) {
            const std::string v = r.Attribute("val", kW);
            if (v.size() == 1 && v[0] >= '0' && v[0] <= '8') {
                levels[id] = v[0] - '0' + 1;
            }
        }
    }
    return levels;
}

std::vector<Para> ReadDocx(const std::string& bytes, const std::string& path) {
    ZipReader zip(bytes, path, "DOCX");
    const std::size_t limit = DocumentSizeLimit() * 8;
    const std::optional<std::string> document = zip.Entry("word/document.xml", limit);
    if (!document) {
        throw NotOfFormat(path, "DOCX", "it holds no word/document.xml");
    }
    const std::map<std::string, int> styles =
        DocxHeadingStyles(zip.Entry("word/styles.xml", limit), path);
    std::vector<Para> paras;
    XmlReader r(*document, path, "DOCX");
    bool inParagraph = false;
    bool inText = false;
    Para p;
    while (r.Next()) {
        const std::string_view name = r.Name();
        if (r.IsStart()) {
            if (name == "p") {
                p = Para{};
                inParagraph = !r.IsEnd();
                if (!inParagraph) {
                    continue;
                }
            } else if (!inParagraph) {
                continue;
            } else if (name == "pStyle") {
                const std::string id = r.Attribute("val", kW);
                const auto it = styles.find(id);
                p.level = it != styles.end() ? it->second : HeadingLevelOfName(id);
            } else if (name == "outlineLvl") {
                const std::string v = r.Attribute("val", kW);
                if (v.size() == 1 && v[0] >= '0' && v[0] <= '8') {
                    p.level = v[0] - '0' + 1;
                }
            } else if (name == "t") {
                inText = !r.IsEnd();
            } else if (name == "tab") {
                p.text += '\t';
            } else if (name == "br" || name == "cr") {
                p.text += '\n';
            } else if (name == "del" || name == "instrText" || name == "footnoteReference") {
                r.SkipSubtree();
            }
        } else if (r.IsEnd()) {
            if (name == "t") {
                inText = false;
            } else if (name == "p" && inParagraph) {
                inParagraph = false;
                paras.push_back(std::move(p));
            }
        } else if (inText && r.IsText()) {
            p.text += r.Value();
        }
    }
    return paras;
}

std::vector<Para> ReadOdt(const std::string& bytes, const std::string& path) {
    ZipReader zip(bytes, path, "ODT");
    const std::optional<std::string> content = zip.Entry("content.xml", DocumentSizeLimit() * 8);
    if (!content) {
        throw NotOfFormat(path, "ODT", "it holds no content.xml");
    }
    std::vector<Para> paras;
    XmlReader r(*content, path, "ODT");
    bool inParagraph = false;
    Para p;
    while (r.Next()) {
        const std::string_view name = r.Name();
        if (r.IsStart()) {
            if (name == "note" || name == "annotation" || name == "tracked-changes") {
                r.SkipSubtree();
            } else if ((name == "p" || name == "h") && !inParagraph) {
                p = Para{};
                if (name == "h") {
                    const std::string level = r.Attribute("outline-level", kText);
                    p.level = level.size() == 1 && level[0] >= '1' && level[0] <= '9'
                                  ? level[0] - '0'
                                  : 1;
                }
                if (r.IsEnd()) {
                    continue;
                }
                inParagraph = true;
            } else if (!inParagraph) {
                continue;
            } else if (name == "s") {
                const std::string c = r.Attribute("c", kText);
                const int n = c.empty() ? 1 : std::clamp(std::atoi(c.c_str()), 1, 1 << 16);
                p.text.append(static_cast<std::size_t>(n), ' ');
            } else if (name == "tab") {
                p.text += '\t';
            } else if (name == "line-break") {
                p.text += '\n';
            }
        } else if (r.IsEnd()) {
            if ((name == "p" || name == "h") && inParagraph) {
                inParagraph = false;
                paras.push_back(std::move(p));
            }
        } else if (inParagraph && r.IsText()) {
            p.text += r.Value();
        }
    }
    return paras;
}

// Lines of a text file as the document reading cuts them.
std::vector<std::string_view> FileLines(std::string_view bytes) {
    return LogicalLines(bytes);
}

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) {
        s.remove_suffix(1);
    }
    return s;
}

// A backslash before ASCII punctuation only keeps it from being markup.
std::string Unescaped(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size() &&
            std::ispunct(static_cast<unsigned char>(line[i + 1]))) {
            out += line[++i];
        } else if (line.substr(i).starts_with("&#32;")) {
            out += ' ';
            i += 4;
        } else if (line.substr(i).starts_with("&#9;")) {
            out += '\t';
            i += 3;
        } else {
            out += c;
        }
    }
    return out;
}

std::vector<Para> ReadMarkdown(std::string_view bytes, std::string& title) {
    std::vector<std::string_view> lines = FileLines(bytes);
    std::size_t i = 0;
    // A block of metadata at the top gives the title.
    if (!lines.empty() && lines[0] == "---") {
        for (std::size_t j = 1; j < lines.size(); ++j) {
            if (lines[j] == "---" || lines[j] == "...") {
                for (std::size_t k = 1; k < j; ++k) {
                    if (lines[k].starts_with("title:")) {
                        std::string_view t = TrimBlanks(lines[k].substr(6));
                        if (t.size() >= 2 && (t.front() == '"' || t.front() == '\'') &&
                            t.back() == t.front()) {
                            t = t.substr(1, t.size() - 2);
                        }
                        title = Unescaped(t);
                    }
                }
                i = j + 1;
                break;
            }
        }
    }
    std::vector<Para> paras;
    Para p;
    bool open = false;
    bool fenced = false;
    auto close = [&] {
        if (open) {
            paras.push_back(std::move(p));
            p = Para{};
            open = false;
        }
    };
    for (; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const std::string_view t = TrimBlanks(line);
        if (t.starts_with("```") || t.starts_with("~~~")) {
            fenced = !fenced;
        }
        if (!fenced && t.empty()) {
            close();
            continue;
        }
        std::size_t hashes = 0;
        while (hashes < t.size() && t[hashes] == '#') {
            ++hashes;
        }
        const bool indented = line.size() - TrimBlanks(line).size() >= 4 || line.starts_with('\t');
        if (!fenced && !indented && hashes >= 1 && hashes <= 6 &&
            (hashes == t.size() || t[hashes] == ' ' || t[hashes] == '\t')) {
            close();
            std::string_view h = TrimBlanks(t.substr(hashes));
            while (!h.empty() && h.back() == '#') {
                h.remove_suffix(1);
            }
            paras.push_back({static_cast<int>(hashes), Unescaped(TrimBlanks(h))});
            continue;
        }
        // A line of "=" or "-" under a single line of text makes that line a heading.
        if (!fenced && open && p.text.find('\n') == std::string::npos && !t.empty() &&
            (t.find_first_not_of('=') == std::string_view::npos ||
             (t.find_first_not_of('-') == std::string_view::npos && t.size() >= 2))) {
            p.level = t[0] == '=' ? 1 : 2;
            close();
            continue;
        }
        std::string text = fenced ? std::string(line) : Unescaped(line);
        if (!fenced && text.ends_with('\\')) {
            text.pop_back();  // a hard line break
        }
        if (open) {
            p.text += '\n';
        }
        p.text += text;
        open = true;
    }
    close();
    return paras;
}

// Characters the editor's text turns into line breaks are line breaks here too, so that the
// document reads back as UTF-8.
std::string Lines(std::string_view text, char joiner) {
    std::string out;
    out.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        char32_t c = 0;
        const std::size_t n = DecodeUtf8(text, at, c);
        if (n == 0) {
            out += text[at++];
            continue;
        }
        if (c == '\r' || c == '\n' || c == 0x2028 || c == 0x2029) {
            out += joiner;
        } else if (c == 0xFDD0 || c == 0xFDD1) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(text.substr(at, n));
        }
        at += n;
    }
    return out;
}

std::string MarkerLine(std::string_view title) {
    std::string line = "[S] " + std::string(title);
    if (line.size() < 6) {
        line.resize(6, ' ');  // shorter, it would not open a section
    }
    return line;
}

ImportResult Assemble(std::vector<Para>& paras, std::optional<int> level,
                      const std::string& title) {
    ImportResult r;
    for (const Para& p : paras) {
        if (p.level > 0) {
            r.levels.insert(p.level);
        }
    }
    r.level = level ? *level : r.levels.empty() ? 0 : *r.levels.begin();
    std::string& out = r.text;
    auto line = [&](std::string_view l) {
        if (IsMarkerLine(l)) {
            out += ' ';
            ++r.guardedLines;
        }
        out.append(l);
        out += "\r\n";
    };
    if (!title.empty()) {
        line(Lines(title, ' '));
        out += "\r\n";
    }
    for (Para& p : paras) {
        if (p.level > 0 && p.level == r.level) {
            ++r.markers;
            if (r.markers > kMostMarkers) {
                ++r.beyondLast;
            }
            out += MarkerLine(Lines(TrimBlanks(p.text), ' '));
            out += "\r\n\r\n";
            continue;
        }
        const std::string text = Lines(p.text, '\n');
        if (TrimBlanks(text).empty()) {
            continue;
        }
        std::size_t start = 0;
        while (start <= text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos) {
                end = text.size();
            }
            line(std::string_view(text).substr(start, end - start));
            start = end + 1;
        }
        out += "\r\n";
    }
    // No blank line after the last paragraph.
    if (out.ends_with("\r\n\r\n")) {
        out.resize(out.size() - 2);
    }
    return r;
}

}  // namespace

std::optional<ImportFormat> ImportFormatOf(const std::string& path) {
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.') {
        return std::nullopt;
    }
    const std::string ext = Lower(std::string_view(path).substr(dot + 1));
    if (ext == "docx") {
        return ImportFormat::Docx;
    }
    if (ext == "odt") {
        return ImportFormat::Odt;
    }
    if (ext == "md" || ext == "markdown") {
        return ImportFormat::Markdown;
    }
    if (ext == "txt" || ext == "text") {
        return ImportFormat::Text;
    }
    return std::nullopt;
}

ImportResult ImportDocument(const std::string& path, std::optional<int> level) {
    const std::optional<ImportFormat> format = ImportFormatOf(path);
    if (!format) {
        throw Error("Cannot import " + path +
                    ": only .docx, .odt, .md and .txt files are imported");
    }
    std::optional<std::string> bytes = ReadWholeFile(path, DocumentSizeLimit());
    if (!bytes) {
        throw Error(Format(kCannotOpen, path));
    }
    std::vector<Para> paras;
    std::string title;
    switch (*format) {
        case ImportFormat::Docx:
            paras = ReadDocx(*bytes, path);
            break;
        case ImportFormat::Odt:
            paras = ReadOdt(*bytes, path);
            break;
        case ImportFormat::Markdown:
            paras = ReadMarkdown(*bytes, title);
            break;
        case ImportFormat::Text: {
            // Plain text is a document already: its lines, marker lines included, as written.
            ImportResult r;
            for (std::string_view l : FileLines(*bytes)) {
                r.text.append(l);
                r.text += "\r\n";
                r.markers += IsMarkerLine(l) ? 1 : 0;
            }
            r.beyondLast = r.markers > kMostMarkers ? r.markers - kMostMarkers : 0;
            return r;
        }
    }
    ImportResult r = Assemble(paras, level, title);
    if (r.text.size() > DocumentSizeLimit()) {
        throw Error("Cannot import " + path + ": its text is larger than a document may be");
    }
    return r;
}

std::string ImportNotes(const ImportResult& r) {
    std::string notes;
    if (r.level == 0 && r.markers == 0) {
        notes += "No headings were found: the text is all in section 0.\n";
    } else if (r.markers == 0) {
        notes += "No headings of level " + std::to_string(r.level) +
                 " were found: the text is all in section 0.\n";
    }
    if (r.beyondLast > 0) {
        notes += std::to_string(r.beyondLast) + (r.beyondLast == 1 ? " heading" : " headings") +
                 " after the fiftieth stay lines of section 50, as a document holds at most 50 "
                 "sections after section 0.\n";
    }
    if (r.guardedLines > 0) {
        notes += std::to_string(r.guardedLines) +
                 (r.guardedLines == 1 ? " line begins" : " lines begin") +
                 " with \"[S]\" and would open a section: a blank was put before it.\n";
    }
    return notes;
}

}  // namespace velloran
