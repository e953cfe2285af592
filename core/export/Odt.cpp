// The OpenDocument text format: content, styles and metadata in a ZIP package.
#include "core/export/WriterParts.h"

namespace velloran::exporting {
namespace {

constexpr std::pair<std::string_view, std::string_view> kNamespaces[] = {
    {"xmlns:office", "urn:oasis:names:tc:opendocument:xmlns:office:1.0"},
    {"xmlns:style", "urn:oasis:names:tc:opendocument:xmlns:style:1.0"},
    {"xmlns:text", "urn:oasis:names:tc:opendocument:xmlns:text:1.0"},
    {"xmlns:fo", "urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"},
    {"xmlns:svg", "urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0"},
    {"xmlns:meta", "urn:oasis:names:tc:opendocument:xmlns:meta:1.0"},
    {"xmlns:dc", "http://purl.org/dc/elements/1.1/"},
};

void Root(XmlWriter& x, std::string_view name) {
    x.Start(name);
    for (const auto& [prefix, uri] : kNamespaces) {
        x.Attribute(prefix, uri);
    }
    x.Attribute("office:version", "1.2");
}

bool Ms(const Manuscript& m) {
    return m.choices.preset == Preset::StandardManuscript;
}

std::string Font(const Manuscript& m) {
    return Ms(m) && m.choices.courier ? "Courier New" : "Times New Roman";
}

// ODF collapses blanks: the second of a run, and one at the start of a line, are written as
// counted spaces; tabs and line breaks as elements.
void Spans(XmlWriter& x, std::string_view text) {
    bool firstLine = true;
    ForEachParagraphLine(text, [&](std::string_view line) {
        if (!firstLine) {
            x.Start("text:line-break").End();
        }
        firstLine = false;
        ForEachTabPiece(
            line,
            [&](std::string_view piece) {
                std::size_t i = 0;
                while (i < piece.size()) {
                    std::size_t j = piece.find(' ', i);
                    if (j == std::string_view::npos) {
                        x.Text(piece.substr(i));
                        return;
                    }
                    std::size_t k = piece.find_first_not_of(' ', j);
                    if (k == std::string_view::npos) {
                        k = piece.size();
                    }
                    std::size_t counted = k - j;
                    x.Text(piece.substr(i, j - i));
                    if (j > 0) {
                        x.Text(" ");
                        --counted;
                    }
                    if (counted > 0) {
                        x.Start("text:s").Attribute("text:c", std::to_string(counted)).End();
                    }
                    i = k;
                }
            },
            [&] { x.Start("text:tab").End(); });
    });
}

void Para(XmlWriter& x, std::string_view style, std::string_view text) {
    x.Start("text:p").Attribute("text:style-name", style);
    Spans(x, text);
    x.End();
}

void ParagraphStyle(XmlWriter& x, std::string_view name, std::string_view display,
                    const std::function<void()>& properties,
                    const std::function<void()>& textProperties = {}) {
    x.Start("style:style").Attribute("style:name", name).Attribute("style:display-name", display);
    x.Attribute("style:family", "paragraph");
    if (name != "Standard") {
        x.Attribute("style:parent-style-name", "Standard");
    }
    x.Start("style:paragraph-properties");
    properties();
    x.End();
    if (textProperties) {
        x.Start("style:text-properties");
        textProperties();
        x.End();
    }
    x.End();
}

std::string Styles(const Manuscript& m) {
    const bool ms = Ms(m);
    return XmlString([&](XmlWriter& x) {
        Root(x, "office:document-styles");
        x.Start("office:font-face-decls").Start("style:font-face");
        x.Attribute("style:name", Font(m)).Attribute("svg:font-family", "'" + Font(m) + "'");
        x.Attribute("style:font-family-generic", ms && m.choices.courier ? "modern" : "roman");
        x.End().End();
        x.Start("office:styles");
        x.Start("style:default-style").Attribute("style:family", "paragraph");
        x.Start("style:paragraph-properties").Attribute("fo:line-height", ms ? "200%" : "115%");
        x.End();
        x.Start("style:text-properties").Attribute("style:font-name", Font(m));
        x.Attribute("fo:font-size", ms ? "12pt" : "11pt");
        x.Attribute("style:font-name-asian", Font(m)).Attribute("style:font-name-complex", Font(m));
        x.Attribute("fo:language", m.choices.language.substr(0, m.choices.language.find('-')));
        x.End().End();
        ParagraphStyle(x, "Standard", "Standard", [&] {
            x.Attribute("fo:text-indent", ms ? "0.5in" : "0.25in");
            if (!ms) {
                x.Attribute("fo:text-align", "justify");
            }
        });
        ParagraphStyle(
            x, "Heading_20_1", "Heading 1",
            [&] {
                x.Attribute("fo:break-before", "page").Attribute("fo:text-indent", "0in");
                x.Attribute("fo:margin-top", ms ? "2.67in" : "1in");
                x.Attribute("fo:text-align", "center").Attribute("fo:keep-with-next", "always");
            },
            [&] {
                if (!ms) {
                    x.Attribute("fo:font-size", "16pt").Attribute("fo:font-weight", "bold");
                }
            });
        ParagraphStyle(
            x, "Title", "Title",
            [&] {
                x.Attribute("fo:margin-top", ms ? "3in" : "2in").Attribute("fo:text-indent", "0in");
                x.Attribute("fo:text-align", "center");
            },
            [&] {
                if (!ms) {
                    x.Attribute("fo:font-size", "24pt");
                }
            });
        ParagraphStyle(x, "Author", "Author", [&] {
            x.Attribute("fo:text-indent", "0in").Attribute("fo:text-align", "center");
        });
        ParagraphStyle(x, "Contact", "Contact", [&] {
            x.Attribute("fo:text-indent", "0in").Attribute("fo:line-height", "100%");
        });
        ParagraphStyle(x, "Scene_20_Break", "Scene Break", [&] {
            x.Attribute("fo:text-indent", "0in").Attribute("fo:text-align", "center");
        });
        ParagraphStyle(x, "Header", "Header", [&] {
            x.Attribute("fo:text-indent", "0in").Attribute("fo:text-align", "end");
            x.Attribute("fo:line-height", "100%");
        });
        x.Start("style:style").Attribute("style:name", "Capitals");
        x.Attribute("style:family", "text").Start("style:text-properties");
        x.Attribute("fo:text-transform", "uppercase").End().End();
        x.End();

        x.Start("office:automatic-styles").Start("style:page-layout");
        x.Attribute("style:name", "Page").Start("style:page-layout-properties");
        x.Attribute("fo:page-width", "8.5in").Attribute("fo:page-height", "11in");
        x.Attribute("fo:margin-top", ms ? "0.5in" : "1in").Attribute("fo:margin-bottom", "1in");
        x.Attribute("fo:margin-left", "1in").Attribute("fo:margin-right", "1in").End();
        if (ms) {
            x.Start("style:header-style").Start("style:header-footer-properties");
            x.Attribute("fo:min-height", "0.3in").Attribute("fo:margin-bottom", "0.2in");
            x.End().End();
        }
        x.End().End();

        x.Start("office:master-styles");
        x.Start("style:master-page").Attribute("style:name", "Standard");
        x.Attribute("style:page-layout-name", "Page");
        if (ms) {
            x.Start("style:header").Start("text:p").Attribute("text:style-name", "Header");
            x.Text(m.Surname() + " / ");
            x.Start("text:span").Attribute("text:style-name", "Capitals");
            Spans(x, m.title);
            x.End().Text(" / ");
            x.Start("text:page-number").Attribute("text:select-page", "current").Text("1").End();
            x.End().End();
        }
        x.End();
        x.Start("style:master-page").Attribute("style:name", "First_20_Page");
        x.Attribute("style:display-name", "First Page").Attribute("style:page-layout-name", "Page");
        x.Attribute("style:next-style-name", "Standard").End();
        x.End();
        x.End();
    });
}

void TitlePage(XmlWriter& x, const Manuscript& m) {
    bool first = true;
    // The first paragraph puts the title page on a page of its own kind, without the header.
    auto style = [&](std::string_view s) {
        if (first) {
            first = false;
            return std::string("First") + std::string(s);
        }
        return std::string(s);
    };
    if (Ms(m)) {
        x.Start("text:p").Attribute("text:style-name", style("Contact"));
        Spans(x, m.choices.author);
        x.Start("text:tab").End();
        x.Text(m.RoundedWords()).End();
        ForEachParagraphLine(m.choices.contact, [&](std::string_view line) {
            if (!line.empty()) {
                Para(x, "Contact", line);
            }
        });
    }
    Para(x, style("Title"), m.title);
    if (!m.choices.author.empty()) {
        Para(x, "Author", "by " + m.choices.author);
    }
}

void AutomaticStyles(XmlWriter& x) {
    x.Start("office:automatic-styles");
    for (std::string_view parent : {"Contact", "Title"}) {
        x.Start("style:style").Attribute("style:name", "First" + std::string(parent));
        x.Attribute("style:family", "paragraph").Attribute("style:parent-style-name", parent);
        x.Attribute("style:master-page-name", "First_20_Page");
        if (parent == "Contact") {
            // The count of words at the right margin.
            x.Start("style:paragraph-properties").Start("style:tab-stops").Start("style:tab-stop");
            x.Attribute("style:position", "6.5in").Attribute("style:type", "right");
            x.End().End().End();
        }
        x.End();
    }
    x.End();
}

void WriteStep(XmlWriter& x, const Manuscript& m, const Step& step) {
    switch (step.kind) {
        case Step::Kind::Begin:
            x.Declaration();
            Root(x, "office:document-content");
            AutomaticStyles(x);
            x.Start("office:body").Start("office:text");
            if (m.hasFrontMatter) {
                TitlePage(x, m);
            }
            break;
        case Step::Kind::Front:
        case Step::Kind::Body:
            if (step.block->kind == Block::Kind::SceneBreak) {
                Para(x, "Scene_20_Break", SceneBreakText(m, *step.block));
            } else {
                Para(x, "Standard", step.block->text);
            }
            break;
        case Step::Kind::Heading:
            x.Start("text:h").Attribute("text:style-name", "Heading_20_1");
            x.Attribute("text:outline-level", "1");
            Spans(x, step.chapter->title);
            x.End();
            break;
        case Step::Kind::End:
            if (Ms(m)) {
                Para(x, "Scene_20_Break", "END");
            }
            break;
        case Step::Kind::Done:
            break;
    }
}

}  // namespace

void WriteOdt(const Manuscript& m, OutputFile& out, Ticker& ticker) {
    ZipBuilder zip;
    zip.AddStored("mimetype", "application/vnd.oasis.opendocument.text");
    zip.Add("META-INF/manifest.xml", XmlString([&](XmlWriter& x) {
                x.Start("manifest:manifest")
                    .Attribute("xmlns:manifest",
                               "urn:oasis:names:tc:opendocument:xmlns:manifest:1.0")
                    .Attribute("manifest:version", "1.2");
                auto entry = [&](std::string_view path, std::string_view type) {
                    x.Start("manifest:file-entry").Attribute("manifest:full-path", path);
                    if (path == "/") {
                        x.Attribute("manifest:version", "1.2");
                    }
                    x.Attribute("manifest:media-type", type).End();
                };
                entry("/", "application/vnd.oasis.opendocument.text");
                entry("content.xml", "text/xml");
                entry("styles.xml", "text/xml");
                entry("meta.xml", "text/xml");
                x.End();
            }));
    zip.Add("meta.xml", XmlString([&](XmlWriter& x) {
                Root(x, "office:document-meta");
                x.Start("office:meta").Element("dc:title", m.title);
                if (!m.choices.author.empty()) {
                    x.Element("meta:initial-creator", m.choices.author);
                    x.Element("dc:creator", m.choices.author);
                }
                x.Element("dc:language", m.choices.language);
                x.End().End();
            }));
    zip.Add("styles.xml", Styles(m));
    zip.AddProduced("content.xml", XmlProducer(m, ticker, [&m](XmlWriter& x, const Step& step) {
                        WriteStep(x, m, step);
                    }));
    zip.Finish(out);
}

}  // namespace velloran::exporting
