#include "core/export/Export.h"

#include <algorithm>
#include <memory>

#include "core/export/WriterParts.h"
#include "core/storage/DocumentFile.h"

namespace velloran {
namespace exporting {

void Ticker::Tick() {
    ++done_;
    // Often enough for a progress bar, seldom enough to cost nothing.
    if (progress_ && (done_ & 255) == 0 && !progress_(done_, total_)) {
        throw ExportCanceled();
    }
}

void Ticker::Done() {
    if (progress_ && !progress_(total_, total_)) {
        throw ExportCanceled();
    }
}

Step Walk::Next() {
    while (true) {
        switch (phase_) {
            case 0:
                phase_ = 1;
                return {Step::Kind::Begin};
            case 1:
                if (block_ < m_.frontMatter.size()) {
                    return {Step::Kind::Front, nullptr, 0, &m_.frontMatter[block_++]};
                }
                phase_ = 2;
                block_ = 0;
                break;
            case 2:
                if (chapter_ == m_.chapters.size()) {
                    phase_ = 4;
                    return {Step::Kind::End};
                }
                phase_ = 3;
                block_ = 0;
                return {Step::Kind::Heading, &m_.chapters[chapter_], chapter_};
            case 3: {
                const Chapter& c = m_.chapters[chapter_];
                if (block_ < c.blocks.size()) {
                    return {Step::Kind::Body, &c, chapter_, &c.blocks[block_++]};
                }
                ++chapter_;
                phase_ = 2;
                break;
            }
            default:
                return {Step::Kind::Done};
        }
    }
}

ZipProducer XmlSteps(Ticker& ticker, std::function<bool(XmlWriter&)> step) {
    struct State {
        std::string* target = nullptr;
        std::unique_ptr<XmlWriter> xml;
    };
    auto state = std::make_shared<State>();
    state->xml = std::make_unique<XmlWriter>(
        [s = state.get()](std::string_view bytes) { s->target->append(bytes); });
    return [state, &ticker, step = std::move(step)](std::string& out) {
        state->target = &out;
        const std::size_t enough = out.size() + (1 << 16);
        while (out.size() < enough) {
            if (!step(*state->xml)) {
                state->xml->Finish();
                return false;
            }
            ticker.Tick();
            state->xml->Drain();
        }
        return true;
    };
}

ZipProducer XmlProducer(const Manuscript& m, Ticker& ticker,
                        std::function<void(XmlWriter&, const Step&)> write) {
    auto walk = std::make_shared<Walk>(m);
    return XmlSteps(ticker, [walk, write = std::move(write)](XmlWriter& x) {
        const Step step = walk->Next();
        if (step.kind == Step::Kind::Done) {
            return false;
        }
        write(x, step);
        return true;
    });
}

std::string XmlString(const std::function<void(XmlWriter&)>& write) {
    std::string out;
    XmlWriter xml([&](std::string_view bytes) { out.append(bytes); });
    xml.Declaration();
    write(xml);
    xml.Finish();
    return out;
}

std::string ChapterLabel(const Chapter& c) {
    return c.title.empty() ? "Section " + std::to_string(c.section) : std::string(c.title);
}

namespace {

// Plain text: each chapter's title on a line of its own, then its lines as written, blank lines
// between paragraphs.
void WriteBlocksAsText(OutputFile& out, const std::vector<Block>& blocks, Ticker& ticker) {
    for (const Block& b : blocks) {
        ForEachParagraphLine(b.text, [&](std::string_view line) {
            out.Write(line);
            out.Write("\n");
        });
        out.Write("\n");
        ticker.Tick();
    }
}

// Markdown takes characters of its own syntax as markup: those are escaped so that the text
// shows as written. Leading blanks would make code blocks, so they are written as references.
void WriteMarkdownLine(OutputFile& out, std::string_view line) {
    std::string s;
    s.reserve(line.size() + 8);
    std::size_t i = 0;
    for (; i < line.size() && (line[i] == ' ' || line[i] == '\t'); ++i) {
        s += line[i] == ' ' ? "&#32;" : "&#9;";
    }
    const std::size_t first = i;
    for (; i < line.size(); ++i) {
        const char c = line[i];
        const bool atStart = i == first;
        switch (c) {
            case '\\':
            case '`':
            case '*':
            case '_':
            case '[':
            case ']':
            case '<':
            case '>':
            case '&':
            case '|':
            case '~':
                s += '\\';
                break;
            case '#':
            case '+':
            case '-':
            case '=':
                if (atStart) {
                    s += '\\';
                }
                break;
            case '.':
            case ')':
                // "1." or "1)" at the start of a line begins a numbered list.
                if (i > first && std::all_of(line.begin() + static_cast<std::ptrdiff_t>(first),
                                             line.begin() + static_cast<std::ptrdiff_t>(i),
                                             [](char d) { return d >= '0' && d <= '9'; })) {
                    s += '\\';
                }
                break;
            default:
                break;
        }
        s += c;
    }
    out.Write(s);
}

}  // namespace

void WriteText(const Manuscript& m, OutputFile& out, Ticker& ticker) {
    if (m.hasFrontMatter) {
        out.Write(m.title);
        out.Write("\n\n");
        WriteBlocksAsText(out, m.frontMatter, ticker);
    }
    for (const Chapter& c : m.chapters) {
        out.Write(c.title);
        out.Write("\n\n");
        ticker.Tick();
        WriteBlocksAsText(out, c.blocks, ticker);
    }
}

void WriteMarkdown(const Manuscript& m, OutputFile& out, Ticker& ticker) {
    auto blocks = [&](const std::vector<Block>& list) {
        for (const Block& b : list) {
            if (b.kind == Block::Kind::SceneBreak) {
                // A thematic break, which every reader of Markdown draws as one.
                out.Write("* * *\n\n");
            } else {
                bool first = true;
                ForEachParagraphLine(b.text, [&](std::string_view line) {
                    if (!first) {
                        out.Write("\\\n");
                    }
                    first = false;
                    WriteMarkdownLine(out, line);
                });
                out.Write("\n\n");
            }
            ticker.Tick();
        }
    };
    out.Write("---\ntitle: \"");
    for (char c : m.title) {
        if (c == '"' || c == '\\') {
            out.Write("\\");
        }
        out.Write(std::string_view(&c, 1));
    }
    out.Write("\"\n");
    if (!m.choices.author.empty()) {
        out.Write("author: \"");
        for (char c : m.choices.author) {
            if (c == '"' || c == '\\') {
                out.Write("\\");
            }
            out.Write(std::string_view(&c, 1));
        }
        out.Write("\"\n");
    }
    out.Write("lang: " + m.choices.language + "\n---\n\n");
    if (m.hasFrontMatter) {
        blocks(m.frontMatter);
    }
    for (const Chapter& c : m.chapters) {
        out.Write("# ");
        WriteMarkdownLine(out, c.title);
        out.Write("\n\n");
        ticker.Tick();
        blocks(c.blocks);
    }
}

}  // namespace exporting

std::optional<ExportFormat> ExportFormatNamed(std::string_view name) {
    std::string n(name);
    for (char& c : n) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
    }
    static constexpr std::pair<std::string_view, ExportFormat> kNames[] = {
        {"docx", ExportFormat::Docx},   {"odt", ExportFormat::Odt},
        {"epub", ExportFormat::Epub},   {"html", ExportFormat::Html},
        {"md", ExportFormat::Markdown}, {"markdown", ExportFormat::Markdown},
        {"txt", ExportFormat::Text},    {"text", ExportFormat::Text},
        {"pdf", ExportFormat::Pdf},
    };
    for (const auto& [key, format] : kNames) {
        if (key == n) {
            return format;
        }
    }
    return std::nullopt;
}

std::string_view ExportExtension(ExportFormat format) {
    static constexpr std::string_view kExtensions[] = {"docx", "odt", "epub", "html",
                                                       "md",   "txt", "pdf"};
    return kExtensions[static_cast<int>(format)];
}

void WriteExport(const Manuscript& m, ExportFormat format, OutputFile& out,
                 const ExportProgress& progress) {
    using namespace exporting;
    Ticker ticker(progress, Walk::Steps(m));
    switch (format) {
        case ExportFormat::Docx:
            WriteDocx(m, out, ticker);
            break;
        case ExportFormat::Odt:
            WriteOdt(m, out, ticker);
            break;
        case ExportFormat::Epub:
            WriteEpub(m, out, ticker);
            break;
        case ExportFormat::Html:
            WriteHtml(m, out, ticker);
            break;
        case ExportFormat::Markdown:
            WriteMarkdown(m, out, ticker);
            break;
        case ExportFormat::Text:
            WriteText(m, out, ticker);
            break;
        case ExportFormat::Pdf:
            throw Error("PDF is laid out by the print library, not written here");
    }
    ticker.Done();
}

void ExportToFile(const Manuscript& m, ExportFormat format, const std::string& path,
                  const ExportProgress& progress) {
    const WriteResult written =
        ReplaceFile(path, [&](OutputFile& out) { WriteExport(m, format, out, progress); });
    if (!written) {
        throw Error(Format(kCannotCreate, path), written.Reason());
    }
}

}  // namespace velloran
