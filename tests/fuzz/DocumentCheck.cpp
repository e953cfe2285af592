#include <string>
#include <vector>

#include "Checks.h"
#include "core/document/Encoding.h"
#include "core/document/Error.h"
#include "core/document/Host.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
#include "core/tools/Check.h"
#include "core/tools/Statistics.h"

namespace velloran::fuzz {
namespace {

const char* Check(std::string_view bytes) {
    const std::string input = ScratchFolder() + "/input.vlp";
    const std::string output = ScratchFolder() + "/output.vlp";
    if (!WriteFileBytes(input, bytes)) {
        return "the input file could not be written";
    }

    ResetState();
    PlainSession p;
    ReadDocument(input, p.buffer);
    const std::vector<std::string> read = p.buffer.Lines();
    if (read != Lines(bytes)) {
        return "reading does not cut the lines at CR LF, CR and LF";
    }

    SplitSections(p.session);
    const State& st = p.session.st;
    if (st.LastSection < 0 || st.LastSection > kLastSlot || p.list.Count() != st.LastSection + 1) {
        return "the split does not list one title per section";
    }
    if (p.list.Title(0) != (read.empty() ? std::string() : read[0])) {
        return "the first title is not the first line";
    }
    for (int k = 1; k <= st.LastSection; ++k) {
        if (!IsMarkerLine(p.list.Title(k))) {
            return "a title after the first is not a marker line";
        }
    }

    SetDetectionVectors(false);
    const ByteForm byteByByte = FormOf(bytes);
    SetDetectionVectors(true);
    if (FormOf(bytes) != byteByByte) {
        return "detection reading many bytes at a time tells another form than byte by byte";
    }
    if (DetectEncoding(bytes) != st.DocumentEncoding ||
        BuildStatistics(CountDocumentSections(bytes, st.DocumentEncoding)) !=
            BuildStatistics(p.sections, st.LastSection, st.DocumentEncoding)) {
        return "the statistics counted in the file's bytes are not those of its sections";
    }

    JoinSections(p.session);
    const std::vector<std::string> expected = read.empty() ? std::vector<std::string>{""} : read;
    if (p.buffer.Lines() != expected) {
        return "the join of the split is not the lines read";
    }

    WriteDocument(output, p.buffer);
    std::string written;
    for (const std::string& line : expected) {
        written += line;
        written += "\r\n";
    }
    if (ReadWholeFile(output) != written) {
        return "the written file is not every line followed by CR LF";
    }
    if (velloran::CheckDocument(bytes, false, nullptr).SaveChangesBytes() != (written != bytes)) {
        return "the check does not tell whether a save changes the file";
    }
    DocumentBuffer back;
    ReadDocument(output, back);
    if (back.Lines() != expected) {
        return "the written file does not read back as the same lines";
    }
    return nullptr;
}

}  // namespace

const char* CheckDocument(const std::uint8_t* data, std::size_t size) {
    try {
        return Check(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const Error&) {
        return "reading or writing a file in the scratch folder failed";
    }
}

}  // namespace velloran::fuzz
