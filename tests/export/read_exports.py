#!/usr/bin/python3
"""Reads the exports of one document with each format's own tools and checks them against
what the test expects: python3-docx, python3-odf, epubcheck, poppler's pdftotext and pdffonts,
and pandoc for Markdown and HTML.

Usage: read_exports.py EXPECTED.json STEM
where STEM.docx, STEM.odt, STEM.epub, STEM.pdf, STEM.md and STEM.html are the exports. Exits 1 with the faults found.
"""
import json
import re
import subprocess
import sys
import zipfile

import docx
from odf import teletype, text as odftext
from odf.opendocument import load

faults = []


def fault(message):
    faults.append(message)


def in_order(where, found, expected):
    """Each expected piece occurs in found, after the one before it."""
    at = 0
    for piece in expected:
        i = found.find(piece, at)
        if i < 0:
            fault(f"{where}: {piece!r} is missing (or out of order) in {found[:400]!r}...")
            return
        at = i + len(piece)


def check_docx(path, e):
    d = docx.Document(path)
    headings = [p.text for p in d.paragraphs if p.style.name == "Heading 1"]
    if headings != e["headings"]:
        fault(f"docx headings {headings!r} != {e['headings']!r}")
    body = "\n".join(p.text for p in d.paragraphs)
    in_order("docx", body, e["paragraphs"])
    for p in e["paragraphs"]:
        if "\n" not in p and not any(x.text == p for x in d.paragraphs):
            fault(f"docx: no paragraph is exactly {p!r}")
    if e.get("manuscript"):
        s = d.sections[0]
        header = "".join(p.text for p in s.header.paragraphs)
        want = e["surname"] + " / " + e["title"] + " / "
        if not header.startswith(want):
            fault(f"docx header {header!r} does not start with {want!r}")
        if "PAGE" not in s.header._element.xml:
            fault("docx header has no PAGE field")
        if not s.different_first_page_header_footer:
            fault("docx title page shows the header")
        if e.get("words") and e["words"] not in body:
            fault(f"docx title page lacks {e['words']!r}")
        if d.paragraphs[-1].text != "END":
            fault("docx does not end with END")
    if d.core_properties.title != e["title"]:
        fault(f"docx title {d.core_properties.title!r}")


def check_odt(path, e):
    with zipfile.ZipFile(path) as z:
        first = z.infolist()[0]
        if first.filename != "mimetype" or first.compress_type != zipfile.ZIP_STORED:
            fault("odt: mimetype is not the first entry, stored")
    d = load(path)
    headings = [teletype.extractText(h) for h in d.getElementsByType(odftext.H)]
    if headings != e["headings"]:
        fault(f"odt headings {headings!r} != {e['headings']!r}")
    paras = [teletype.extractText(p) for p in d.text.getElementsByType(odftext.P)]
    in_order("odt", "\n".join(paras), e["paragraphs"])


def check_epub(path, e):
    r = subprocess.run(["java", "-XX:TieredStopAtLevel=1", "-jar",
                        "/usr/share/java/epubcheck.jar", path],
                       capture_output=True, text=True)
    out = r.stdout + r.stderr
    if r.returncode != 0 or "No errors or warnings detected" not in out:
        fault("epubcheck: " + out)
    with zipfile.ZipFile(path) as z:
        first = z.infolist()[0]
        if first.filename != "mimetype" or first.compress_type != zipfile.ZIP_STORED:
            fault("epub: mimetype is not the first entry, stored")


def pdftotext(path):
    return subprocess.run(["pdftotext", "-enc", "UTF-8", path, "-"], capture_output=True,
                          text=True, check=True).stdout


def check_pdf(path, e):
    found = pdftotext(path)
    # pdftotext breaks lines where the layout does and opens wide gaps at tabs.
    flat = re.sub(r"\s+", " ", found)
    want = [re.sub(r"\s+", " ", p) for p in e["pdf"]]
    in_order("pdf", flat, want)
    fonts = subprocess.run(["pdffonts", path], capture_output=True, text=True, check=True).stdout
    rows = fonts.splitlines()[2:]
    if not rows:
        fault("pdffonts lists no font")
    for row in rows:
        cols = row.split()
        # name type... emb sub uni object ID: emb is the fifth column from the end.
        if cols[-5] != "yes":
            fault("pdf font not embedded: " + row)
    for family in e.get("pdfFonts", []):
        if family not in fonts:
            fault(f"pdf lacks the font {family}: {fonts}")


def flat(text):
    return re.sub(r"\s+", " ", text).strip()


def pandoc_headings(blocks):
    """The text of every heading, in order, within sections and divisions too."""
    out = []

    def inline(items):
        t = ""
        for i in items:
            if i["t"] == "Str":
                t += i["c"]
            elif i["t"] in ("Space", "SoftBreak", "LineBreak"):
                t += " "
            elif isinstance(i.get("c"), list):
                t += inline([x for x in i["c"] if isinstance(x, dict)] +
                            [y for x in i["c"] if isinstance(x, list) for y in x
                             if isinstance(y, dict)])
        return t

    for b in blocks:
        if b["t"] == "Header":
            out.append(inline(b["c"][2]))
        elif b["t"] == "Div":
            out.extend(pandoc_headings(b["c"][1]))
    return out


def check_with_pandoc(path, reader, e):
    """Markdown and HTML as pandoc reads them: the chapters' headings and every paragraph."""
    def run(to):
        return subprocess.run(["pandoc", "--from", reader, "--to", to, path],
                              capture_output=True, text=True, check=True).stdout
    headings = pandoc_headings(json.loads(run("json"))["blocks"])
    in_order(reader + " headings", "\n".join(headings) + "\n",
             [h + "\n" for h in e["headings"] if h])
    # A scene break is a rule in Markdown, which pandoc draws as a line of dashes; "END" closes
    # the manuscript's pages alone.
    wanted = [flat(p) for p in e["paragraphs"]
              if p != "END" and not (reader.startswith("markdown") and p == "#")]
    in_order(reader, flat(run("plain")), wanted)


def main():
    e = json.load(open(sys.argv[1], encoding="utf-8"))
    stem = sys.argv[2]
    check_docx(stem + ".docx", e)
    check_odt(stem + ".odt", e)
    check_pdf(stem + ".pdf", e)
    check_epub(stem + ".epub", e)
    # Without "smart", quotes stay the characters written rather than becoming pandoc's own.
    check_with_pandoc(stem + ".md", "markdown-smart", e)
    check_with_pandoc(stem + ".html", "html", e)
    for f in faults:
        print(f)
    sys.exit(1 if faults else 0)


main()
