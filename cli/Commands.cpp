#include "cli/Commands.h"

#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "cli/ExportCommand.h"
#include "cli/HistoryCommand.h"
#include "cli/Json.h"
#include "cli/Key.h"
#include "cli/ReplaceCommand.h"
#include "cli/Text.h"
#include "core/commands/Saving.h"
#include "core/document/Error.h"
#include "core/document/Lines.h"
#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/merge/Merge.h"
#include "core/progress/ProgressFigures.h"
#include "core/progress/ProgressLog.h"
#include "core/protection/Cipher.h"
#include "core/protection/Protection.h"
#include "core/protection/Seal.h"
#include "core/protection/SealedDocument.h"
#include "core/spelling/Dictionaries.h"
#include "core/spelling/PersonalDictionary.h"
#include "core/spelling/SpellerProcess.h"
#include "core/spelling/Words.h"
#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"
#include "core/storage/Paths.h"
#include "core/tools/Check.h"
#include "core/tools/Search.h"
#include "core/tools/Statistics.h"
#include "settings/ProgressSettings.h"
#include "settings/SpellingSettings.h"

namespace velloran::cli {
namespace {

// Writes what produce gives to path, crash-safe like a save (with access, when given), or to
// standard output.
void Deliver(const std::optional<std::string>& path,
             const std::function<void(OutputFile&)>& produce,
             const std::optional<FileAccess>& access = std::nullopt) {
    if (path) {
        if (const WriteResult written = ReplaceFile(*path, produce, access); !written) {
            throw Error(Format(kCannotCreate, *path), written.Reason());
        }
        return;
    }
    OutputFile out(STDOUT_FILENO);
    produce(out);
    if (!out.Flush()) {
        throw Error(Format(kUnableToWrite, "standard output"));
    }
}

void DeliverLines(const std::optional<std::string>& path, const DocumentBuffer& lines,
                  const std::optional<FileAccess>& access = std::nullopt) {
    Deliver(
        path,
        [&](OutputFile& out) {
            lines.ForEachCrLfPiece(0, lines.LineCount(),
                                   [&](std::string_view piece) { out.Write(piece); });
        },
        access);
}

// The plain text of an enciphered or sealed document is private in a new file. A file it
// replaces keeps its permission bits and group, as a save keeps them, but shows no more than
// the document read: its text was no more open to others there.
FileAccess PlainTextAccess(const std::string& document, const std::string& output) {
    const auto read = AccessOf(document);
    if (const auto old = AccessOf(output)) {
        return {old->mode & (read ? read->mode : 0600), old->group};
    }
    return {0600 & NewFileMode(), std::nullopt};
}

std::optional<FileAccess> PlainTextAccess(const Arguments& a) {
    if (!a.output) {
        return std::nullopt;
    }
    return PlainTextAccess(a.operands[0], *a.output);
}

void DeliverJson(const JsonWriter& json) {
    Deliver(std::nullopt, [&](OutputFile& out) {
        out.Write(json.Text());
        out.Write("\n");
    });
}

// The editor deciphers a document named as enciphered when it opens it; here that takes a key
// option, so that no script waits on a prompt it did not ask for.
bool Deciphers(const Arguments& a, const std::string& path) {
    if (ProtectionOfName(path) != Protection::Enciphered) {
        return false;
    }
    if (a.keySource == KeySource::None && ::isatty(STDERR_FILENO)) {
        std::fprintf(stderr,
                     "velloran-cli: %s is enciphered; give --key, --key-fd or --key-file to read "
                     "its text\n",
                     path.c_str());
    }
    return a.keySource != KeySource::None;
}

// The plain bytes of a sealed document. A key typed on the terminal that does not open it is
// said and asked for again, as the editor does, three times at most; a key from a descriptor or
// a file is not given again, so it fails at once.
// held, when given, is a key read before, tried first, and takes the key that is tried.
std::string Unsealed(const Arguments& a, const std::string& path, std::string* held = nullptr) {
    const bool typed = a.keySource == KeySource::None || a.keySource == KeySource::Terminal;
    int tries = 0;
    auto plain = UnsealFile(
        path,
        [&](const SealHeader& header, bool previousWrong) {
            if (previousWrong) {
                if (!typed || ++tries == 3) {
                    throw Refusal(Format(kWrongKey, path));
                }
                std::fprintf(stderr, "velloran-cli: %s\n", Format(kWrongKey, path).c_str());
            }
            std::string passphrase =
                held && !held->empty() && !previousWrong ? *held : ReadKey(a, false);
            auto key = SealKey::Derive(passphrase, header.salt, header.params);
            if (held) {
                Wipe(*held);
                *held = passphrase;
            }
            Wipe(passphrase);
            return key;
        },
        nullptr, DocumentSizeLimit());
    return std::move(plain.value());
}

}  // namespace

void ReadForCommand(const Arguments& a, const std::string& path, PlainSession& p) {
    if (ProtectionOfName(path) == Protection::Sealed) {
        std::string plain = Unsealed(a, path);
        p.buffer.AssignText(std::move(plain));
    } else {
        ReadDocument(path, p.buffer);
        if (Deciphers(a, path)) {
            p.session.st.CipherKey = ReadCipherKey(a, false);
            DecipherBuffer(p.session);
        }
    }
}

namespace {

// The document as the editor opens it: read, unsealed when it is named as sealed, deciphered
// when it is named as enciphered and a key is given, and cut into sections.
void Open(const Arguments& a, const std::string& path, PlainSession& p) {
    ReadForCommand(a, path, p);
    SplitSections(p.session);
}

// Another program shortening a mapped file raises SIGBUS when the lost bytes are touched: that
// is reported as the unreadable file it has become.
std::string gMappedFailure;

extern "C" void ReportShortenedFile(int) {
    [[maybe_unused]] ssize_t ignored =
        ::write(STDERR_FILENO, gMappedFailure.data(), gMappedFailure.size());
    ::_exit(3);
}

MappedFile Map(const std::string& path) {
    gMappedFailure = "velloran-cli: " + Format(kCannotOpen, path) + "\n";
    struct sigaction action {};
    action.sa_handler = ReportShortenedFile;
    ::sigaction(SIGBUS, &action, nullptr);
    return MapDocument(path);
}

int Stats(const Arguments& a) {
    const std::string& path = a.operands[0];
    std::vector<SectionCounts> counts;
    PlainSession p;
    std::optional<MappedFile> mapped;
    Encoding encoding;
    if (ProtectionOfName(path) == Protection::Sealed || Deciphers(a, path)) {
        Open(a, path, p);
        encoding = p.session.st.DocumentEncoding;
        for (int k = 0; k <= p.session.st.LastSection; ++k) {
            counts.push_back(CountSection(p.sections.texts[static_cast<std::size_t>(k)], encoding));
        }
    } else {
        // Counted in the file's own bytes: the same rows, without copying a large file twice.
        mapped.emplace(Map(path));
        encoding = DetectEncoding(mapped->Bytes());
        counts = CountDocumentSections(mapped->Bytes(), encoding);
    }
    const TextForm text(a.utf8, encoding);

    if (a.json) {
        JsonWriter json;
        SectionCounts total;
        json.BeginObject().Key("sections").BeginArray();
        for (std::size_t k = 0; k < counts.size(); ++k) {
            const SectionCounts& c = counts[k];
            json.BeginObject().Key("index").Number(k);
            json.Key("lines").Number(c.lines).Key("words").Number(c.words);
            json.Key("chars").Number(c.chars).Key("title").String(text.ForJson(c.title));
            json.EndObject();
            total.lines += c.lines;
            total.words += c.words;
            total.chars += c.chars;
        }
        json.EndArray().Key("totals").BeginObject();
        json.Key("lines").Number(total.lines).Key("words").Number(total.words);
        json.Key("chars").Number(total.chars).EndObject().EndObject();
        DeliverJson(json);
        return 0;
    }
    const std::vector<std::string> report = BuildStatistics(counts);
    Deliver(std::nullopt, [&](OutputFile& out) {
        for (const std::string& line : report) {
            out.Write(text.Out(line));
            out.Write(a.crlf ? "\r\n" : "\n");
        }
    });
    return 0;
}

int Titles(const Arguments& a) {
    PlainSession p;
    Open(a, a.operands[0], p);
    const std::vector<std::string>& titles = p.list.titles;
    const TextForm text(a.utf8, p.session.st.DocumentEncoding);
    if (a.json) {
        JsonWriter json;
        json.BeginObject().Key("titles").BeginArray();
        for (const std::string& title : titles) {
            json.String(text.ForJson(title));
        }
        json.EndArray().EndObject();
        DeliverJson(json);
        return 0;
    }
    Deliver(std::nullopt, [&](OutputFile& out) {
        for (std::size_t k = 0; k < titles.size(); ++k) {
            if (a.numbered) {
                out.Write(std::to_string(k));
                out.Write("\t");
            }
            out.Write(text.Out(titles[k]));
            out.Write("\n");
        }
    });
    return 0;
}

int Count(const Arguments& a) {
    if (a.utf8 && !IsUtf8(a.operands[0])) {
        // Said before a sealed document asks for its key.
        throw UsageError("TEXT is not valid UTF-8");
    }
    PlainSession p;
    Open(a, a.operands[1], p);
    const Encoding encoding = p.session.st.DocumentEncoding;
    const TextForm text(a.utf8, encoding);
    const std::string searchText = text.In(a.operands[0], "TEXT");
    if (a.json) {
        JsonWriter json;
        std::size_t total = 0;
        json.BeginObject().Key("text").String(text.ForJson(searchText));
        json.Key("sections").BeginArray();
        for (int k = 0; k < p.list.Count(); ++k) {
            const std::size_t n = CountMatches(p.sections.ReadSlot(k), searchText, encoding);
            total += n;
            json.BeginObject().Key("index").Number(static_cast<std::size_t>(k));
            json.Key("count").Number(n).Key("title").String(text.ForJson(p.list.Title(k)));
            json.EndObject();
        }
        json.EndArray().Key("total").Number(total).EndObject();
        DeliverJson(json);
        return 0;
    }
    const std::vector<std::string> rows = SearchAllRows(p.sections, p.list, searchText, encoding);
    Deliver(std::nullopt, [&](OutputFile& out) {
        for (const std::string& row : rows) {
            out.Write(text.Out(row));
            out.Write("\n");
        }
    });
    return 0;
}

int Show(const Arguments& a) {
    const std::string& path = a.operands[0];
    const std::string& index = a.operands[1];
    int k = -1;
    const auto [end, error] = std::from_chars(index.data(), index.data() + index.size(), k);
    if (error != std::errc() || end != index.data() + index.size() || k < 0) {
        throw UsageError("K is a section number, not '" + index + "'");
    }
    PlainSession p;
    Open(a, path, p);
    const int last = p.session.st.LastSection;
    if (k > last) {
        throw UsageError(path + " has no section " + index + ": its sections are 0 to " +
                         std::to_string(last));
    }
    const TextForm text(a.utf8, p.session.st.DocumentEncoding);
    Deliver(std::nullopt, [&](OutputFile& out) {
        ForEachLogicalLine(p.sections.texts[static_cast<std::size_t>(k)],
                           [&](std::string_view line) {
                               out.Write(text.Out(line));
                               out.Write("\r\n");
                           });
    });
    return 0;
}

// "line 5" or "lines 5, 9, 12", at most ten line numbers and "..." for the rest.
std::string Lines(const std::vector<std::size_t>& lines) {
    std::string out = lines.size() == 1 ? "line " : "lines ";
    for (std::size_t i = 0; i < lines.size() && i < 10; ++i) {
        out += (i ? ", " : "") + std::to_string(lines[i]);
    }
    return lines.size() > 10 ? out + ", ..." : out;
}

std::string Counted(std::size_t n, std::string_view one, std::string_view many) {
    return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

std::string DecipheredBreaks(const std::vector<std::size_t>& lines) {
    return Lines(lines) + (lines.size() == 1 ? " deciphers" : " decipher") +
           " to a line break, which cuts a line in two: the key may be wrong, or the file was "
           "damaged when it was enciphered";
}

void LineNumberOrNull(JsonWriter& json, std::size_t line) {
    line ? json.Number(line) : json.Null();
}

void LineNumbers(JsonWriter& json, const std::vector<std::size_t>& lines) {
    json.BeginArray();
    for (std::size_t line : lines) {
        json.Number(line);
    }
    json.EndArray();
}

int CheckCommand(const Arguments& a) {
    const std::string& path = a.operands[0];
    // A sealed document is sealed anew at every save, so its file's bytes always change: what
    // is checked is the bytes sealed inside, against what a save would seal.
    const Protection protection = ProtectionOfName(path);
    const bool sealed = protection == Protection::Sealed;
    const bool enciphered = protection == Protection::Enciphered;
    std::optional<MappedFile> mapped;
    std::string plain;
    if (sealed) {
        plain = Unsealed(a, path);
    } else {
        mapped.emplace(Map(path));
    }
    std::optional<std::string> key;
    if (enciphered && a.keySource != KeySource::None) {
        key = ReadCipherKey(a, false);
    }
    const DocumentCheck c =
        CheckDocument(sealed ? plain : mapped->Bytes(), enciphered, key ? &*key : nullptr);
    const int status = c.SaveChangesBytes() ? 1 : 0;

    if (a.json) {
        JsonWriter json;
        json.BeginObject().Key("saveChangesBytes").Bool(c.SaveChangesBytes());
        json.Key("sealed").Bool(sealed);
        json.Key("lines").Number(c.lines).Key("empty").Bool(c.empty);
        json.Key("missingFinalBreak").Bool(c.missingFinalBreak);
        json.Key("lineEnds").BeginObject();
        json.Key("crlf").Number(c.crLfEnds).Key("lf").Number(c.lfEnds).Key("cr").Number(c.crEnds);
        json.Key("firstLfLine");
        LineNumberOrNull(json, c.firstLfLine);
        json.Key("firstCrLine");
        LineNumberOrNull(json, c.firstCrLine);
        json.EndObject();
        json.Key("textChecked").Bool(c.textChecked).Key("markers").Number(c.markers);
        json.Key("markersAfterFiftieth");
        LineNumbers(json, c.markersAfterFiftieth);
        json.Key("nulBytes").Number(c.nulBytes).Key("firstNulLine");
        LineNumberOrNull(json, c.firstNulLine);
        json.Key("cipherChecked").Bool(c.cipherChecked).Key("linesDecipheringToBreaks");
        LineNumbers(json, c.linesDecipheringToBreaks);
        json.EndObject();
        DeliverJson(json);
        return status;
    }

    std::vector<std::string> found;
    if (c.lfEnds > 0) {
        found.push_back(Counted(c.lfEnds, "line end is", "line ends are") +
                        " LF alone, the first after line " + std::to_string(c.firstLfLine) +
                        "; a save writes CR LF");
    }
    if (c.crEnds > 0) {
        found.push_back(Counted(c.crEnds, "line end is", "line ends are") +
                        " CR alone, the first after line " + std::to_string(c.firstCrLine) +
                        "; a save writes CR LF");
    }
    if (c.missingFinalBreak) {
        found.emplace_back("the last line has no line break; a save adds CR LF");
    }
    if (c.empty) {
        found.emplace_back("the file is empty; a save writes one empty line (CR LF)");
    }
    if (!c.markersAfterFiftieth.empty()) {
        found.push_back(Counted(c.markersAfterFiftieth.size(), "marker", "markers") +
                        " after the fiftieth, at " + Lines(c.markersAfterFiftieth) +
                        ", open no section and stay in section 50");
    }
    if (c.nulBytes > 0) {
        found.push_back(Counted(c.nulBytes, "NUL byte", "NUL bytes") + ", the first in line " +
                        std::to_string(c.firstNulLine) +
                        ": a save keeps NUL bytes, but many programs stop reading at one");
    }
    if (!c.linesDecipheringToBreaks.empty()) {
        found.push_back(DecipheredBreaks(c.linesDecipheringToBreaks));
    }
    if (!c.textChecked) {
        found.emplace_back(
            "the text is not checked: the document is enciphered and no key was given");
    }
    Deliver(std::nullopt, [&](OutputFile& out) {
        for (const std::string& line : found) {
            out.Write(line);
            out.Write("\n");
        }
        out.Write(status ? "A save would change " : "A save keeps every byte of ");
        out.Write(sealed ? "the document sealed in " : "");
        out.Write(path);
        out.Write(".\n");
    });
    return status;
}

int Decipher(const Arguments& a) {
    PlainSession p;
    ReadDocument(a.operands[0], p.buffer);
    p.session.st.CipherKey = ReadCipherKey(a, false);
    DecipherBuffer(p.session);
    std::vector<std::size_t> broken;
    for (std::size_t i = 0; i < p.buffer.LineCount(); ++i) {
        if (!ReadsBack(p.buffer.Line(i))) {
            broken.push_back(i + 1);
        }
    }
    if (!broken.empty()) {
        std::fprintf(stderr, "velloran-cli: %s\n", DecipheredBreaks(broken).c_str());
    }
    DeliverLines(a.output, p.buffer, PlainTextAccess(a));
    if (a.output) {
        KeepWrittenVersion(*a.output, SideKey{}, p.buffer);
    }
    return 0;
}

int Encipher(const Arguments& a) {
    DocumentBuffer lines;
    ReadDocument(a.operands[0], lines);
    const std::string key = ReadCipherKey(a, true);
    if (key.empty()) {
        throw UsageError("an empty key would leave the document as it is: give a key");
    }
    KeyIndex index;
    for (std::size_t i = 0; i < lines.LineCount(); ++i) {
        const std::span<char> line = lines.MutableLine(i);
        EncipherLine(line, key, index);
        if (!ReadsBack(std::string_view(line.data(), line.size()))) {
            throw Refusal(std::string(kKeyCannotEncipher));
        }
    }
    DeliverLines(a.output, lines);
    return 0;
}

// Seals the document's lines, each followed by CR LF, as a save of a ".vls" document does.
int Seal(const Arguments& a) {
    DocumentBuffer lines;
    ReadDocument(a.operands[0], lines);
    std::string passphrase = ReadKey(a, true);
    if (passphrase.empty()) {
        throw UsageError(std::string(kEmptySealKey));
    }
    const auto key = SealKey::Derive(passphrase, SealingParams());
    Wipe(passphrase);
    if (a.output && ProtectionOfName(*a.output) != Protection::Sealed) {
        std::fprintf(stderr,
                     "velloran-cli: %s is not a sealed (.vls) name: the editor will open it as a "
                     "plain document\n",
                     a.output->c_str());
    }
    auto seal = [&](SealWriter& writer) {
        lines.ForEachCrLfPiece(0, lines.LineCount(),
                               [&](std::string_view piece) { writer.Write(piece); });
    };
    if (a.output) {
        WriteSealedFile(*a.output, *key, seal);
        SideKey side;
        side.kind = SideKey::Kind::DocumentKey;
        side.documentKey = key;
        KeepWrittenVersion(*a.output, side, lines);
        return 0;
    }
    Deliver(std::nullopt, [&](OutputFile& out) {
        SealWriter writer(*key, [&](std::string_view sealed) { out.Write(sealed); });
        seal(writer);
        writer.Finish();
    });
    return 0;
}

int Unseal(const Arguments& a) {
    std::string plain = Unsealed(a, a.operands[0]);
    Deliver(
        a.output, [&](OutputFile& out) { out.Write(plain); }, PlainTextAccess(a));
    if (a.output) {
        KeepWrittenVersion(*a.output, SideKey{}, plain);
    }
    Wipe(plain);
    return 0;
}

const char* HowName(SectionMerge how) {
    switch (how) {
        case SectionMerge::Unchanged:
            return "unchanged";
        case SectionMerge::Ours:
            return "ours";
        case SectionMerge::Theirs:
            return "theirs";
        case SectionMerge::Same:
            return "alike";
        case SectionMerge::Merged:
            return "merged";
        case SectionMerge::Conflict:
            return "conflict";
        case SectionMerge::AddedOurs:
            return "added in ours";
        case SectionMerge::AddedTheirs:
            return "added in theirs";
        case SectionMerge::KeptOurs:
            return "kept from ours";
        case SectionMerge::KeptTheirs:
            return "kept from theirs";
    }
    return "";
}

// The one key of a merge, read once however many of its documents need it: a key descriptor
// holds it once. The merged text is protected with it again.
struct MergeKey {
    std::string given;
    // The first document read that was sealed or enciphered: its plain text is as private.
    std::optional<std::string> protectedInput;
    MergeKey() = default;
    MergeKey(const MergeKey&) = delete;
    MergeKey& operator=(const MergeKey&) = delete;
    ~MergeKey() { Wipe(given); }

    const std::string& Given(const Arguments& a, bool confirm) {
        if (given.empty()) {
            given = ReadKey(a, confirm);
        }
        return given;
    }
    std::string CipherKey(const Arguments& a, bool confirm) {
        // Keys stay in the code page, whatever the document's encoding turns out to be.
        return TextForm(a.utf8, Encoding::Windows1252).In(Given(a, confirm), "the key");
    }
};

// The text of a document as the editor opens it, lines each followed by CR LF.
std::string DocumentText(const Arguments& a, const std::string& path, MergeKey& key) {
    PlainSession p;
    if (ProtectionOfName(path) == Protection::Sealed) {
        p.buffer.AssignText(Unsealed(a, path, &key.given));
        key.protectedInput = key.protectedInput.value_or(path);
    } else {
        ReadDocument(path, p.buffer);
        if (Deciphers(a, path)) {
            p.session.st.CipherKey = key.CipherKey(a, false);
            DecipherBuffer(p.session);
            key.protectedInput = key.protectedInput.value_or(path);
        }
    }
    std::string text;
    p.buffer.ForEachCrLfPiece(0, p.buffer.LineCount(),
                              [&](std::string_view piece) { text.append(piece); });
    return text;
}

// The merged text to the output as its name says it is kept: sealed or enciphered with the key
// in use (a ".vls" of plain text would be called damaged, a ".vle" read as scrambled), and plain
// text of a protected document as private as that.
// The history of a plain output keeps what was written; a protected one's would need its key
// derived once more, and is kept by the editor when it next saves it.
void KeepMergedVersion(const Arguments& a, const std::string& merged) {
    if (a.output && ProtectionOfName(*a.output) == Protection::Plain) {
        KeepWrittenVersion(*a.output, SideKey{}, merged);
    }
}

void DeliverMerged(const Arguments& a, const std::string& merged, MergeKey& key) {
    if (!a.output) {
        Deliver(std::nullopt, [&](OutputFile& out) { out.Write(merged); });
        return;
    }
    const std::string& output = *a.output;
    const Protection protection = ProtectionOfName(output);
    if (protection != Protection::Plain && key.given.empty() && a.keySource == KeySource::None) {
        throw UsageError(output +
                         (protection == Protection::Sealed ? " is a sealed (.vls)"
                                                           : " is an enciphered (.vle)") +
                         " name, and no key is in use to protect the merged text with: give "
                         "--key, --key-fd or --key-file, or another name");
    }
    switch (protection) {
        case Protection::Sealed: {
            const std::string& passphrase = key.Given(a, true);
            if (passphrase.empty()) {
                throw UsageError(std::string(kEmptySealKey));
            }
            const auto sealKey = SealKey::Derive(passphrase, SealingParams());
            WriteSealedFile(output, *sealKey, [&](SealWriter& w) { w.Write(merged); });
            return;
        }
        case Protection::Enciphered: {
            std::string cipherKey = key.CipherKey(a, true);
            if (cipherKey.empty()) {
                throw UsageError("an empty key would leave the document as it is: give a key");
            }
            DocumentBuffer lines;
            lines.AssignText(merged);
            KeyIndex index;
            for (std::size_t i = 0; i < lines.LineCount(); ++i) {
                const std::span<char> line = lines.MutableLine(i);
                EncipherLine(line, cipherKey, index);
                if (!ReadsBack(std::string_view(line.data(), line.size()))) {
                    Wipe(cipherKey);
                    throw Refusal(std::string(kKeyCannotEncipher));
                }
            }
            Wipe(cipherKey);
            DeliverLines(output, lines);
            return;
        }
        case Protection::Plain:
            break;
    }
    std::optional<FileAccess> access;
    if (key.protectedInput) {
        access = PlainTextAccess(*key.protectedInput, output);
    }
    Deliver(
        output, [&](OutputFile& out) { out.Write(merged); }, access);
}

int Merge(const Arguments& a) {
    MergeKey key;
    const MergeVersion base = MergeVersion::OfText(DocumentText(a, a.operands[0], key));
    const MergeVersion ours = MergeVersion::OfText(DocumentText(a, a.operands[1], key));
    const MergeVersion theirs = MergeVersion::OfText(DocumentText(a, a.operands[2], key));
    const MergeLabels labels;
    const MergeOutcome outcome = MergeVersions(base, ours, theirs, labels);
    const std::string merged = outcome.Text();
    const int conflicts = outcome.Conflicts();
    const TextForm text(a.utf8, DetectEncoding(merged));
    const std::vector<MergeNote> notes = MergeNotes(outcome, labels);
    if (a.json) {
        JsonWriter json;
        json.BeginObject().Key("conflicts").Number(static_cast<std::size_t>(conflicts));
        json.Key("sections").BeginArray();
        for (std::size_t k = 0; k < outcome.sections.size(); ++k) {
            const MergedSection& m = outcome.sections[k];
            json.BeginObject().Key("index").Number(k).Key("merge").String(HowName(m.how));
            json.Key("conflicts").Number(static_cast<std::size_t>(m.conflicts));
            json.Key("title").String(text.ForJson(m.text.substr(0, m.text.find('\r'))));
            json.EndObject();
        }
        json.EndArray().Key("notes").BeginArray();
        for (const MergeNote& note : notes) {
            json.String(text.ForJson(note.text));
        }
        json.EndArray().EndObject();
        // Without -o the JSON alone is the answer on standard output.
        if (a.output) {
            DeliverMerged(a, merged, key);
            KeepMergedVersion(a, merged);
        }
        DeliverJson(json);
        return conflicts > 0 ? 1 : 0;
    }
    DeliverMerged(a, merged, key);
    KeepMergedVersion(a, merged);
    for (const MergeNote& note : notes) {
        if (note.conflict) {
            std::fprintf(stderr, "velloran-cli: %s\n", text.Out(note.text).c_str());
        }
    }
    return conflicts > 0 ? 1 : 0;
}

// The figures of the Progress window, from the document's log alone: today is what its last
// save or record left.
int Progress(const Arguments& a) {
    const std::string path = AbsolutePath(a.operands[0]);
    const bool typed = a.keySource == KeySource::None || a.keySource == KeySource::Terminal;
    int tries = 0;
    const auto logged = ReadProgressLog(path, [&](LogProtection protection, bool previousWrong) {
        if (previousWrong) {
            if (!typed || ++tries == 3) {
                throw Refusal(Format(kWrongKey, path));
            }
            std::fprintf(stderr, "velloran-cli: %s\n", Format(kWrongKey, path).c_str());
        }
        return protection == LogProtection::DerivedKey ? ReadCipherKey(a, false)
                                                       : ReadKey(a, false);
    });
    if (logged && logged->headerDamaged) {
        std::fprintf(stderr,
                     "velloran-cli: the progress log of %s is damaged; what could still be read of "
                     "it is shown\n",
                     path.c_str());
    }
    const ProgressSettings settings = LoadProgressSettings();
    const std::vector<ProgressEntry> none;
    const ProgressFigures f = ComputeFigures(logged ? logged->entries : none, std::nullopt,
                                             static_cast<std::int64_t>(std::time(nullptr)), a.days,
                                             settings.Goal, settings.DayStart);
    const TextForm text(a.utf8, f.encoding);

    if (a.json) {
        JsonWriter json;
        json.BeginObject().Key("document").String(path).Key("logged").Bool(logged.has_value());
        json.Key("today").BeginObject().Key("date").String(DateText(f.today));
        json.Key("words").Number(f.wordsToday).EndObject();
        json.Key("words").Number(f.wordsNow);
        json.Key("goal").Number(static_cast<std::size_t>(f.goal));
        json.Key("streak").Number(static_cast<std::size_t>(f.streak));
        json.Key("days").BeginArray();
        for (const DayWords& d : f.days) {
            json.BeginObject().Key("date").String(DateText(d.day)).Key("words").Number(d.words);
            json.EndObject();
        }
        json.EndArray().Key("sections").BeginArray();
        for (const SectionToday& s : f.sections) {
            json.BeginObject().Key("index").Number(s.index);
            json.Key("title").String(text.ForJson(s.title));
            json.Key("words").Number(s.words).Key("today").Number(s.today).EndObject();
        }
        json.EndArray().EndObject();
        DeliverJson(json);
        return 0;
    }
    Deliver(std::nullopt, [&](OutputFile& out) {
        auto words = [](std::uint64_t n) {
            return std::to_string(n) + (n == 1 ? " word" : " words");
        };
        out.Write("Today, " + DateText(f.today) + ": " + words(f.wordsToday));
        if (f.goal > 0) {
            const std::uint64_t share = f.wordsToday * 100 / static_cast<std::uint64_t>(f.goal);
            out.Write(" of a goal of " + std::to_string(f.goal) + " (" + std::to_string(share) +
                      " %)\n");
            out.Write("Streak: " + std::to_string(f.streak) + (f.streak == 1 ? " day" : " days") +
                      " at the goal\n");
        } else {
            out.Write("\n");
        }
        out.Write("\n");
        for (const DayWords& d : f.days) {
            const std::string n = std::to_string(d.words);
            out.Write(DateText(d.day) + std::string(n.size() < 8 ? 8 - n.size() : 1, ' ') + n +
                      "\n");
        }
        bool header = false;
        for (const SectionToday& s : f.sections) {
            if (s.today == 0) {
                continue;
            }
            if (!header) {
                out.Write("\nAdded today:\n");
                header = true;
            }
            const std::string n = std::to_string(s.today);
            out.Write(std::string(n.size() < 6 ? 6 - n.size() : 1, ' ') + n + "   " +
                      text.Out(s.title) + "\n");
        }
    });
    return 0;
}

// The words the editor marks, with the dictionary it would use: the one chosen in its Spelling
// menu, else the locale's, else the first installed; the personal dictionary's words are known.
int Spell(const Arguments& a) {
    using namespace velloran::spelling;
    const std::vector<Dictionary> installed = InstalledDictionaries();
    if (installed.empty()) {
        throw Error(
            "no spelling dictionary is installed: install hunspell-en-us or another hunspell-* "
            "package");
    }
    std::optional<Dictionary> dictionary;
    if (a.language) {
        dictionary = ChooseDictionary(installed, *a.language, {});
        if (dictionary->name != *a.language) {
            std::string names;
            for (const Dictionary& d : installed) {
                names += (names.empty() ? "" : ", ") + d.name;
            }
            throw UsageError("no dictionary for " + *a.language + "; installed: " + names);
        }
    } else {
        dictionary = ChooseDictionary(installed, LoadSpellingSettings().Language, LocaleLanguage());
    }
    PlainSession p;
    Open(a, a.operands[0], p);
    SpellerProcess speller(*dictionary);
    std::set<std::string> personal;
    for (std::string& word : ReadPersonalWords(PersonalDictionaryPath())) {
        personal.insert(std::move(word));
    }
    const Encoding encoding = p.session.st.DocumentEncoding;
    struct Found {
        std::size_t section, line, column;
        std::string word;  // document bytes
    };
    std::vector<Found> found;
    std::map<std::string, bool> known;
    for (int k = 0; k <= p.session.st.LastSection; ++k) {
        std::size_t line = 0;
        ForEachLogicalLine(
            p.sections.texts[static_cast<std::size_t>(k)], [&](std::string_view text) {
                ++line;
                for (const WordSpan& w : Words(text, encoding)) {
                    const std::string utf8 = WordUtf8(text.substr(w.start, w.length), encoding);
                    auto it = known.find(utf8);
                    if (it == known.end()) {
                        it = known.emplace(utf8, personal.count(utf8) || speller.Check(utf8)).first;
                    }
                    if (!it->second) {
                        found.push_back({static_cast<std::size_t>(k), line,
                                         CountChars(text.substr(0, w.start), encoding) + 1,
                                         std::string(text.substr(w.start, w.length))});
                    }
                }
            });
    }
    if (!speller.Failure().empty()) {
        // The words after it went unchecked: a list without them would pass for complete.
        throw Error(speller.Failure());
    }
    const TextForm form(a.utf8, encoding);
    if (a.json) {
        JsonWriter json;
        json.BeginObject().Key("language").String(dictionary->name).Key("words").BeginArray();
        for (const Found& f : found) {
            json.BeginObject().Key("section").Number(f.section).Key("line").Number(f.line);
            json.Key("column").Number(f.column).Key("word").String(form.ForJson(f.word));
            json.EndObject();
        }
        json.EndArray().EndObject();
        DeliverJson(json);
    } else {
        Deliver(std::nullopt, [&](OutputFile& out) {
            for (const Found& f : found) {
                out.Write(std::to_string(f.section) + ":" + std::to_string(f.line) + ":" +
                          std::to_string(f.column) + ": ");
                out.Write(form.Out(f.word));
                out.Write("\n");
            }
        });
    }
    return found.empty() ? 0 : 1;
}

}  // namespace

int Run(const Arguments& a) {
    using Handler = int (*)(const Arguments&);
    static constexpr std::pair<std::string_view, Handler> kHandlers[] = {
        {"stats", Stats},          {"titles", Titles},
        {"count", Count},          {"show", Show},
        {"check", CheckCommand},   {"decipher", Decipher},
        {"encipher", Encipher},    {"seal", Seal},
        {"unseal", Unseal},        {"merge", Merge},
        {"progress", Progress},    {"spell", Spell},
        {"replace", Replace},      {"history", History},
        {"export", ExportCommand}, {"import", ImportCommand},
    };
    for (const auto& [name, handler] : kHandlers) {
        if (name == a.command) {
            return handler(a);
        }
    }
    throw UsageError("unknown command '" + a.command + "'");
}

}  // namespace velloran::cli
