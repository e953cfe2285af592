// EPUB 3 for readers, and HTML for the browser, from the same XHTML.
#include <sodium.h>

#include <ctime>

#include "core/export/WriterParts.h"
#include "core/storage/FileIO.h"

namespace velloran::exporting {
namespace {

constexpr std::string_view kXhtml = "http://www.w3.org/1999/xhtml";
constexpr std::string_view kOps = "http://www.idpf.org/2007/ops";

// Blanks and tabs are kept as written; a chapter's lines broken where the document breaks them.
constexpr std::string_view kStyle =
    "body { font-family: serif; line-height: 1.4; margin: 0 5%; }\n"
    "p { margin: 0; text-indent: 1.5em; text-align: justify; white-space: pre-wrap; }\n"
    "h1, h2 { text-align: center; margin: 3em 0 1.5em; font-weight: normal; "
    "white-space: pre-wrap; }\n"
    "h1.title { margin-top: 30%; font-size: 2em; }\n"
    "p.author { text-align: center; text-indent: 0; margin-bottom: 3em; }\n"
    "p.scene { text-align: center; text-indent: 0; margin: 1em 0; }\n"
    "section.chapter { page-break-before: always; break-before: page; }\n";

void Paragraph(XmlWriter& x, const Manuscript& m, const Block& b) {
    if (b.kind == Block::Kind::SceneBreak) {
        x.Start("p").Attribute("class", "scene").Text(SceneBreakText(m, b)).End();
        return;
    }
    x.Start("p");
    bool first = true;
    ForEachParagraphLine(b.text, [&](std::string_view line) {
        if (!first) {
            x.Start("br").End();
        }
        first = false;
        x.Text(line);
    });
    x.End();
}

void Head(XmlWriter& x, const Manuscript& m, std::string_view title, bool epub) {
    x.Start("html").Attribute("xmlns", kXhtml);
    if (epub) {
        x.Attribute("xmlns:epub", kOps);
    }
    x.Attribute("lang", m.choices.language).Attribute("xml:lang", m.choices.language);
    x.Start("head");
    if (!epub) {
        x.Start("meta").Attribute("charset", "utf-8").End();
    }
    x.Element("title", title);
    if (epub) {
        x.Start("link").Attribute("rel", "stylesheet").Attribute("type", "text/css");
        x.Attribute("href", "style.css").End();
    } else {
        x.Element("style", kStyle);
    }
    x.End().Start("body");
}

void TitleBlock(XmlWriter& x, const Manuscript& m) {
    x.Start("h1").Attribute("class", "title").Text(m.title).End();
    if (!m.choices.author.empty()) {
        x.Start("p").Attribute("class", "author").Text("by " + m.choices.author).End();
    }
}

std::string ChapterFile(std::size_t index) {
    return "chapter-" + std::to_string(index + 1) + ".xhtml";
}

// A name that stays the book's own from one export to the next: a UUID made from its title
// and author.
std::string BookId(const Manuscript& m) {
    unsigned char hash[16];
    const std::string seed = m.title + '\0' + m.choices.author;
    crypto_generichash(hash, sizeof hash, reinterpret_cast<const unsigned char*>(seed.data()),
                       seed.size(), nullptr, 0);
    hash[6] = static_cast<unsigned char>((hash[6] & 0x0F) | 0x40);
    hash[8] = static_cast<unsigned char>((hash[8] & 0x3F) | 0x80);
    static constexpr char kHex[] = "0123456789abcdef";
    std::string id = "urn:uuid:";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            id += '-';
        }
        id += kHex[hash[i] >> 4];
        id += kHex[hash[i] & 15];
    }
    return id;
}

std::string Now() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

struct Cover {
    std::string bytes;
    std::string name;
    std::string type;
};

std::optional<Cover> ReadCover(const Manuscript& m) {
    if (m.choices.coverImage.empty()) {
        return std::nullopt;
    }
    auto bytes = ReadWholeFile(m.choices.coverImage, 64u << 20);
    if (!bytes) {
        throw Error(Format("Cannot open file %s", m.choices.coverImage));
    }
    if (bytes->starts_with("\xFF\xD8\xFF")) {
        return Cover{std::move(*bytes), "cover.jpg", "image/jpeg"};
    }
    if (bytes->starts_with("\x89PNG\r\n\x1A\n")) {
        return Cover{std::move(*bytes), "cover.png", "image/png"};
    }
    throw Error(Format("The cover %s is neither a JPEG nor a PNG image", m.choices.coverImage));
}

}  // namespace

void WriteEpub(const Manuscript& m, OutputFile& out, Ticker& ticker) {
    const std::optional<Cover> cover = ReadCover(m);
    ZipBuilder zip;
    zip.AddStored("mimetype", "application/epub+zip");
    zip.Add("META-INF/container.xml", XmlString([&](XmlWriter& x) {
                x.Start("container").Attribute("version", "1.0");
                x.Attribute("xmlns", "urn:oasis:names:tc:opendocument:xmlns:container");
                x.Start("rootfiles").Start("rootfile");
                x.Attribute("full-path", "OEBPS/content.opf");
                x.Attribute("media-type", "application/oebps-package+xml").End().End().End();
            }));
    const bool titlePage = m.hasFrontMatter;
    zip.Add("OEBPS/content.opf", XmlString([&](XmlWriter& x) {
                x.Start("package").Attribute("xmlns", "http://www.idpf.org/2007/opf");
                x.Attribute("version", "3.0").Attribute("unique-identifier", "book-id");
                x.Attribute("xml:lang", m.choices.language);
                x.Start("metadata").Attribute("xmlns:dc", "http://purl.org/dc/elements/1.1/");
                x.Start("dc:identifier").Attribute("id", "book-id").Text(BookId(m)).End();
                x.Element("dc:title", m.title);
                x.Element("dc:language", m.choices.language);
                if (!m.choices.author.empty()) {
                    x.Element("dc:creator", m.choices.author);
                }
                x.Start("meta").Attribute("property", "dcterms:modified").Text(Now()).End();
                x.End().Start("manifest");
                auto item = [&](std::string_view id, std::string_view href, std::string_view type,
                                std::string_view properties = {}) {
                    x.Start("item").Attribute("id", id).Attribute("href", href);
                    x.Attribute("media-type", type);
                    if (!properties.empty()) {
                        x.Attribute("properties", properties);
                    }
                    x.End();
                };
                item("nav", "nav.xhtml", "application/xhtml+xml", "nav");
                item("style", "style.css", "text/css");
                if (cover) {
                    item("cover", cover->name, cover->type, "cover-image");
                }
                if (titlePage) {
                    item("title-page", "title.xhtml", "application/xhtml+xml");
                }
                for (std::size_t i = 0; i < m.chapters.size(); ++i) {
                    item("chapter-" + std::to_string(i + 1), ChapterFile(i),
                         "application/xhtml+xml");
                }
                x.End().Start("spine");
                if (titlePage) {
                    x.Start("itemref").Attribute("idref", "title-page").End();
                }
                for (std::size_t i = 0; i < m.chapters.size(); ++i) {
                    x.Start("itemref").Attribute("idref", "chapter-" + std::to_string(i + 1));
                    x.End();
                }
                x.End().End();
            }));
    zip.Add("OEBPS/style.css", std::string(kStyle));
    zip.Add("OEBPS/nav.xhtml", XmlString([&](XmlWriter& x) {
                x.Doctype("html");
                Head(x, m, m.title, true);
                x.Start("nav").Attribute("epub:type", "toc").Attribute("id", "toc");
                x.Element("h1", "Contents").Start("ol");
                if (titlePage) {
                    x.Start("li").Start("a").Attribute("href", "title.xhtml").Text(m.title);
                    x.End().End();
                }
                for (std::size_t i = 0; i < m.chapters.size(); ++i) {
                    x.Start("li").Start("a").Attribute("href", ChapterFile(i));
                    x.Text(ChapterLabel(m.chapters[i])).End().End();
                }
                x.End().End();
            }));
    if (cover) {
        zip.Add("OEBPS/" + cover->name, cover->bytes);
    }
    if (titlePage) {
        auto at = std::make_shared<std::size_t>(0);
        zip.AddProduced("OEBPS/title.xhtml", XmlSteps(ticker, [&m, at](XmlWriter& x) {
                            if (*at == 0) {
                                x.Declaration("html");
                                Head(x, m, m.title, true);
                                x.Start("section").Attribute("epub:type", "titlepage");
                                TitleBlock(x, m);
                            } else if (*at <= m.frontMatter.size()) {
                                Paragraph(x, m, m.frontMatter[*at - 1]);
                            } else {
                                return false;
                            }
                            ++*at;
                            return true;
                        }));
    }
    for (std::size_t i = 0; i < m.chapters.size(); ++i) {
        const Chapter& c = m.chapters[i];
        auto at = std::make_shared<std::size_t>(0);
        zip.AddProduced("OEBPS/" + ChapterFile(i), XmlSteps(ticker, [&m, &c, at](XmlWriter& x) {
                            if (*at == 0) {
                                x.Declaration("html");
                                Head(x, m, ChapterLabel(c), true);
                                x.Start("section").Attribute("epub:type", "chapter");
                                x.Element("h1", c.title);
                            } else if (*at <= c.blocks.size()) {
                                Paragraph(x, m, c.blocks[*at - 1]);
                            } else {
                                return false;
                            }
                            ++*at;
                            return true;
                        }));
    }
    zip.Finish(out);
}

void WriteHtml(const Manuscript& m, OutputFile& out, Ticker& ticker) {
    ZipProducer produce = XmlProducer(m, ticker, [&m](XmlWriter& x, const Step& step) {
        switch (step.kind) {
            case Step::Kind::Begin:
                x.Doctype("html");
                Head(x, m, m.title, false);
                if (m.hasFrontMatter) {
                    TitleBlock(x, m);
                }
                break;
            case Step::Kind::Front:
            case Step::Kind::Body:
                Paragraph(x, m, *step.block);
                break;
            case Step::Kind::Heading:
                if (step.chapterIndex > 0) {
                    x.End();
                }
                x.Start("section").Attribute("class", "chapter").Element("h2", step.chapter->title);
                break;
            default:
                break;
        }
    });
    std::string piece;
    bool more = true;
    while (more) {
        more = produce(piece);
        out.Write(piece);
        piece.clear();
    }
}

}  // namespace velloran::exporting
