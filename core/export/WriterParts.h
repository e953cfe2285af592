#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/export/Export.h"
#include "core/export/Manuscript.h"
#include "core/export/Xml.h"
#include "core/export/Zip.h"

// What the writers of the exported formats share.
namespace velloran::exporting {

// Counts the steps of a writer and tells the progress callback now and then.
class Ticker {
  public:
    Ticker(const ExportProgress& progress, std::uint64_t total)
        : progress_(progress), total_(total) {}
    // Throws ExportCanceled when the callback says stop.
    void Tick();
    void Done();

  private:
    const ExportProgress& progress_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
};

// One step of a walk through the book: its beginning, each block of the front matter, each
// chapter's heading and blocks, its end.
struct Step {
    enum class Kind { Begin, Front, Heading, Body, End, Done };
    Kind kind = Kind::Begin;
    const Chapter* chapter = nullptr;
    std::size_t chapterIndex = 0;
    const Block* block = nullptr;
};

class Walk {
  public:
    explicit Walk(const Manuscript& m) : m_(m) {}
    Step Next();
    // Steps from Begin to End, for progress.
    static std::uint64_t Steps(const Manuscript& m) { return m.BlockCount() + 2; }

  private:
    const Manuscript& m_;
    int phase_ = 0;
    std::size_t chapter_ = 0;
    std::size_t block_ = 0;
};

// An XML document written a step at a time: step writes one and returns false once none is left
// (having written nothing), when every element still open is closed.
ZipProducer XmlSteps(Ticker& ticker, std::function<bool(XmlWriter&)> step);

// An XML document written a step of the walk at a time, for an entry made while the archive is
// written (or a file written as it is made). write is handed every step but Done.
ZipProducer XmlProducer(const Manuscript& m, Ticker& ticker,
                        std::function<void(XmlWriter&, const Step&)> write);

// A small XML document made whole.
std::string XmlString(const std::function<void(XmlWriter&)>& write);

// The heading a chapter shows: its title, or "Section N" when the marker line gave none.
std::string ChapterLabel(const Chapter& c);

// The pieces of a line between its tabs: f(piece) for each, tab() between them.
template <typename F, typename T>
void ForEachTabPiece(std::string_view line, F&& f, T&& tab) {
    std::size_t start = 0;
    while (true) {
        const std::size_t t = line.find('\t', start);
        f(line.substr(start, t == std::string_view::npos ? std::string_view::npos : t - start));
        if (t == std::string_view::npos) {
            return;
        }
        tab();
        start = t + 1;
    }
}

void WriteDocx(const Manuscript& m, OutputFile& out, Ticker& ticker);
void WriteOdt(const Manuscript& m, OutputFile& out, Ticker& ticker);
void WriteEpub(const Manuscript& m, OutputFile& out, Ticker& ticker);
void WriteHtml(const Manuscript& m, OutputFile& out, Ticker& ticker);
void WriteMarkdown(const Manuscript& m, OutputFile& out, Ticker& ticker);
void WriteText(const Manuscript& m, OutputFile& out, Ticker& ticker);

}  // namespace velloran::exporting
