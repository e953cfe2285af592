// The word processor's own format: WordprocessingML parts in a ZIP package.
#include <string>

#include "core/export/WriterParts.h"

namespace velloran::exporting {
namespace {

constexpr std::string_view kW = "http://schemas.openxmlformats.org/wordprocessingml/2006/main";
constexpr std::string_view kR =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kRel = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view kOfficeRel =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

// Twips: a point is 20, an inch 1440. A US letter page with one-inch margins.
constexpr int kPageWidth = 12240;
constexpr int kPageHeight = 15840;
constexpr int kMargin = 1440;

bool Manuscript_(const Manuscript& m) {
    return m.choices.preset == Preset::StandardManuscript;
}

void Val(XmlWriter& x, std::string_view element, std::string_view value) {
    x.Start(element).Attribute("w:val", value).End();
}

void Spacing(XmlWriter& x, int before, int line) {
    x.Start("w:spacing").Attribute("w:before", std::to_string(before)).Attribute("w:after", "0");
    x.Attribute("w:line", std::to_string(line)).Attribute("w:lineRule", "auto").End();
}

void Indent(XmlWriter& x, int firstLine) {
    x.Start("w:ind").Attribute("w:firstLine", std::to_string(firstLine)).End();
}

// Text as runs: tabs as tab elements, runs of blanks kept, lines of a paragraph broken.
void Runs(XmlWriter& x, std::string_view text, bool caps = false) {
    bool firstLine = true;
    ForEachParagraphLine(text, [&](std::string_view line) {
        x.Start("w:r");
        if (caps) {
            x.Start("w:rPr").Start("w:caps").End().End();
        }
        if (!firstLine) {
            x.Start("w:br").End();
        }
        firstLine = false;
        ForEachTabPiece(
            line,
            [&](std::string_view piece) {
                if (!piece.empty()) {
                    x.Start("w:t").Attribute("xml:space", "preserve").Text(piece).End();
                }
            },
            [&] { x.Start("w:tab").End(); });
        x.End();
    });
}

void Paragraph(XmlWriter& x, std::string_view style, std::string_view text) {
    x.Start("w:p").Start("w:pPr");
    Val(x, "w:pStyle", style);
    x.End();
    Runs(x, text);
    x.End();
}

std::string Fonts(const Manuscript& m) {
    if (Manuscript_(m) && m.choices.courier) {
        return "Courier New";
    }
    return "Times New Roman";
}

void Style(XmlWriter& x, std::string_view id, std::string_view name,
           const std::function<void()>& pPr, const std::function<void()>& rPr = {}) {
    x.Start("w:style").Attribute("w:type", "paragraph").Attribute("w:styleId", id);
    Val(x, "w:name", name);
    if (id != "Normal") {
        Val(x, "w:basedOn", "Normal");
        Val(x, "w:next", "Normal");
        Val(x, "w:qFormat", "1");
    }
    x.Start("w:pPr");
    pPr();
    x.End();
    if (rPr) {
        x.Start("w:rPr");
        rPr();
        x.End();
    }
    x.End();
}

std::string Styles(const Manuscript& m) {
    const bool ms = Manuscript_(m);
    const int line = ms ? 480 : 276;
    const std::string size = ms ? "24" : "22";
    return XmlString([&](XmlWriter& x) {
        x.Start("w:styles").Attribute("xmlns:w", kW);
        x.Start("w:docDefaults").Start("w:rPrDefault").Start("w:rPr");
        const std::string font = Fonts(m);
        x.Start("w:rFonts").Attribute("w:ascii", font).Attribute("w:hAnsi", font);
        x.Attribute("w:cs", font).Attribute("w:eastAsia", font).End();
        Val(x, "w:sz", size);
        Val(x, "w:szCs", size);
        x.Start("w:lang").Attribute("w:val", m.choices.language).End();
        x.End().End().Start("w:pPrDefault").Start("w:pPr");
        Spacing(x, 0, line);
        x.End().End().End();
        Style(x, "Normal", "Normal", [&] {
            Indent(x, ms ? 720 : 360);
            if (!ms) {
                Val(x, "w:jc", "both");
            }
        });
        // A chapter starts on a new page, a third of the way down in a manuscript.
        Style(
            x, "Heading1", "heading 1",
            [&] {
                x.Start("w:keepNext").End();
                x.Start("w:pageBreakBefore").End();
                Spacing(x, ms ? 3840 : 1440, line);
                x.Start("w:ind").Attribute("w:firstLine", "0").End();
                Val(x, "w:jc", "center");
                Val(x, "w:outlineLvl", "0");
            },
            [&] {
                if (!ms) {
                    x.Start("w:b").End();
                    Val(x, "w:sz", "32");
                }
            });
        Style(
            x, "Title", "Title",
            [&] {
                Spacing(x, ms ? 4320 : 2880, line);
                x.Start("w:ind").Attribute("w:firstLine", "0").End();
                Val(x, "w:jc", "center");
            },
            [&] {
                if (!ms) {
                    Val(x, "w:sz", "48");
                }
            });
        Style(x, "Author", "Author", [&] {
            x.Start("w:ind").Attribute("w:firstLine", "0").End();
            Val(x, "w:jc", "center");
        });
        Style(x, "Contact", "Contact", [&] {
            Spacing(x, 0, 240);
            x.Start("w:tabs").Start("w:tab").Attribute("w:val", "right");
            x.Attribute("w:pos", std::to_string(kPageWidth - 2 * kMargin)).End().End();
            x.Start("w:ind").Attribute("w:firstLine", "0").End();
        });
        Style(x, "SceneBreak", "Scene Break", [&] {
            x.Start("w:ind").Attribute("w:firstLine", "0").End();
            Val(x, "w:jc", "center");
        });
        Style(x, "Header", "header", [&] {
            Spacing(x, 0, 240);
            x.Start("w:ind").Attribute("w:firstLine", "0").End();
            Val(x, "w:jc", "right");
        });
        x.End();
    });
}

// "Surname / TITLE / page": the title shown in capitals, kept as written.
std::string Header(const Manuscript& m) {
    return XmlString([&](XmlWriter& x) {
        x.Start("w:hdr").Attribute("xmlns:w", kW).Start("w:p").Start("w:pPr");
        Val(x, "w:pStyle", "Header");
        x.End();
        Runs(x, m.Surname() + " / ");
        Runs(x, m.title, true);
        Runs(x, " / ");
        x.Start("w:r").Start("w:fldChar").Attribute("w:fldCharType", "begin").End().End();
        x.Start("w:r").Start("w:instrText").Attribute("xml:space", "preserve");
        x.Text(" PAGE ").End().End();
        x.Start("w:r").Start("w:fldChar").Attribute("w:fldCharType", "separate").End().End();
        x.Start("w:r").Element("w:t", "1").End();
        x.Start("w:r").Start("w:fldChar").Attribute("w:fldCharType", "end").End().End();
        x.End().End();
    });
}

std::string EmptyHeader() {
    return XmlString(
        [&](XmlWriter& x) { x.Start("w:hdr").Attribute("xmlns:w", kW).Start("w:p").End().End(); });
}

void TitlePage(XmlWriter& x, const Manuscript& m) {
    if (Manuscript_(m)) {
        // The author and contact at the top left, the rounded count of words at the right.
        x.Start("w:p").Start("w:pPr");
        Val(x, "w:pStyle", "Contact");
        x.End();
        Runs(x, m.choices.author);
        x.Start("w:r").Start("w:tab").End().End();
        Runs(x, m.RoundedWords());
        x.End();
        ForEachParagraphLine(m.choices.contact, [&](std::string_view line) {
            if (!line.empty()) {
                Paragraph(x, "Contact", line);
            }
        });
    }
    Paragraph(x, "Title", m.title);
    if (!m.choices.author.empty()) {
        Paragraph(x, "Author", "by " + m.choices.author);
    }
}

void SectionProperties(XmlWriter& x, const Manuscript& m) {
    x.Start("w:sectPr");
    if (Manuscript_(m)) {
        x.Start("w:headerReference").Attribute("w:type", "default").Attribute("r:id", "rIdHeader");
        x.End();
        x.Start("w:headerReference").Attribute("w:type", "first").Attribute("r:id", "rIdFirst");
        x.End();
    }
    x.Start("w:pgSz").Attribute("w:w", std::to_string(kPageWidth));
    x.Attribute("w:h", std::to_string(kPageHeight)).End();
    const std::string margin = std::to_string(kMargin);
    x.Start("w:pgMar").Attribute("w:top", margin).Attribute("w:right", margin);
    x.Attribute("w:bottom", margin).Attribute("w:left", margin).Attribute("w:header", "720");
    x.Attribute("w:footer", "720").Attribute("w:gutter", "0").End();
    if (Manuscript_(m)) {
        x.Start("w:titlePg").End();
    }
    x.End();
}

void WriteStep(XmlWriter& x, const Manuscript& m, const Step& step) {
    switch (step.kind) {
        case Step::Kind::Begin:
            x.Declaration();
            x.Start("w:document").Attribute("xmlns:w", kW).Attribute("xmlns:r", kR);
            x.Start("w:body");
            if (m.hasFrontMatter) {
                TitlePage(x, m);
            }
            break;
        case Step::Kind::Front:
        case Step::Kind::Body:
            if (step.block->kind == Block::Kind::SceneBreak) {
                Paragraph(x, "SceneBreak", SceneBreakText(m, *step.block));
            } else {
                Paragraph(x, "Normal", step.block->text);
            }
            break;
        case Step::Kind::Heading:
            Paragraph(x, "Heading1", step.chapter->title);
            break;
        case Step::Kind::End:
            if (Manuscript_(m)) {
                Paragraph(x, "SceneBreak", "END");
            }
            SectionProperties(x, m);
            break;
        case Step::Kind::Done:
            break;
    }
}

void Relationship(XmlWriter& x, std::string_view id, std::string_view type,
                  std::string_view target) {
    x.Start("Relationship").Attribute("Id", id).Attribute("Type", type);
    x.Attribute("Target", target).End();
}

void Override(XmlWriter& x, std::string_view part, std::string_view type) {
    x.Start("Override").Attribute("PartName", part).Attribute("ContentType", type).End();
}

}  // namespace

void WriteDocx(const Manuscript& m, OutputFile& out, Ticker& ticker) {
    constexpr std::string_view kWml =
        "application/vnd.openxmlformats-officedocument.wordprocessingml.";
    const bool ms = Manuscript_(m);
    ZipBuilder zip;
    zip.Add("[Content_Types].xml", XmlString([&](XmlWriter& x) {
                x.Start("Types").Attribute(
                    "xmlns", "http://schemas.openxmlformats.org/package/2006/content-types");
                x.Start("Default").Attribute("Extension", "rels");
                x.Attribute("ContentType",
                            "application/vnd.openxmlformats-package.relationships+xml");
                x.End();
                x.Start("Default").Attribute("Extension", "xml");
                x.Attribute("ContentType", "application/xml").End();
                Override(x, "/word/document.xml", std::string(kWml) + "document.main+xml");
                Override(x, "/word/styles.xml", std::string(kWml) + "styles+xml");
                if (ms) {
                    Override(x, "/word/header1.xml", std::string(kWml) + "header+xml");
                    Override(x, "/word/header2.xml", std::string(kWml) + "header+xml");
                }
                Override(x, "/docProps/core.xml",
                         "application/vnd.openxmlformats-package.core-properties+xml");
                x.End();
            }));
    zip.Add("_rels/.rels", XmlString([&](XmlWriter& x) {
                x.Start("Relationships").Attribute("xmlns", kRel);
                Relationship(x, "rId1", std::string(kOfficeRel) + "officeDocument",
                             "word/document.xml");
                Relationship(
                    x, "rId2",
                    "http://schemas.openxmlformats.org/package/2006/relationships/metadata/"
                    "core-properties",
                    "docProps/core.xml");
                x.End();
            }));
    zip.Add("docProps/core.xml", XmlString([&](XmlWriter& x) {
                x.Start("cp:coreProperties")
                    .Attribute("xmlns:cp",
                               "http://schemas.openxmlformats.org/package/2006/metadata/"
                               "core-properties")
                    .Attribute("xmlns:dc", "http://purl.org/dc/elements/1.1/");
                x.Element("dc:title", m.title);
                if (!m.choices.author.empty()) {
                    x.Element("dc:creator", m.choices.author);
                }
                x.Element("dc:language", m.choices.language);
                x.End();
            }));
    zip.Add("word/_rels/document.xml.rels", XmlString([&](XmlWriter& x) {
                x.Start("Relationships").Attribute("xmlns", kRel);
                Relationship(x, "rIdStyles", std::string(kOfficeRel) + "styles", "styles.xml");
                if (ms) {
                    Relationship(x, "rIdHeader", std::string(kOfficeRel) + "header", "header1.xml");
                    Relationship(x, "rIdFirst", std::string(kOfficeRel) + "header", "header2.xml");
                }
                x.End();
            }));
    zip.Add("word/styles.xml", Styles(m));
    if (ms) {
        zip.Add("word/header1.xml", Header(m));
        zip.Add("word/header2.xml", EmptyHeader());
    }
    zip.AddProduced(
        "word/document.xml",
        XmlProducer(m, ticker, [&m](XmlWriter& x, const Step& step) { WriteStep(x, m, step); }));
    zip.Finish(out);
}

}  // namespace velloran::exporting
