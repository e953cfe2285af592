// The command-line program run as a process, checked against the core functions that the
// windows use for the same document.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>

#include "core/commands/Saving.h"
#include "core/document/Codepage.h"
#include "core/document/Error.h"
#include "core/document/Lines.h"
#include "core/document/Sections.h"
#include "core/history/HistoryRecorder.h"
#include "core/merge/Merge.h"
#include "core/progress/ProgressFigures.h"
#include "core/progress/ProgressRecorder.h"
#include "core/protection/Cipher.h"
#include "core/protection/Seal.h"
#include "core/protection/SealedDocument.h"
#include "core/storage/InPlaceWrite.h"
#include "core/storage/Paths.h"
#include "core/tools/Search.h"
#include "core/tools/Statistics.h"
#include "support/Documents.h"
#include "support/Json.h"
#include "support/Process.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace velloran {
namespace {

using ::testing::HasSubstr;
using testing::Json;
using testing::ProcessOptions;
using testing::ProcessResult;
using testing::ReadBytes;
using testing::RunOnTerminal;
using testing::WriteBytes;

// What the windows hold once the document is opened: its sections and their list.
struct Opened {
    explicit Opened(const std::string& bytes, const std::string* key = nullptr) {
        ResetState();
        p.buffer.AssignText(bytes);
        if (key) {
            state().CipherKey = *key;
            DecipherBuffer(p.session);
        }
        SplitSections(p.session);
    }
    PlainSession p;
};

std::string Lines(const std::vector<std::string>& lines, std::string_view end = "\n") {
    std::string out;
    for (const auto& line : lines) {
        out += line;
        out += end;
    }
    return out;
}

// The lines each followed by CR LF, as a save writes them.
std::string Joined(const DocumentBuffer& lines) {
    std::string out;
    lines.ForEachCrLfPiece(0, lines.LineCount(), [&](std::string_view piece) { out += piece; });
    return out;
}

// A document whose titles hold every byte a line can hold.
std::string EveryByteDocument() {
    return testing::AllLineBytes() + "\r\n[S] " + testing::AllLineBytes() + "\r\nend\r\n";
}

// The locale these tests run in, which the program is given too: a document of ASCII alone
// takes its encoding from there, here and there alike.
std::string TestsLocale() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        if (const char* value = std::getenv(name); value && *value) {
            return value;
        }
    }
    return "C";
}

class CliTest : public ::testing::Test {
  protected:
    ProcessResult Cli(const std::vector<std::string>& args, ProcessOptions options = {}) {
        options.folder = dir.path();
        if (options.locale.empty()) {
            options.locale = TestsLocale();
        }
        return testing::RunProcess(VELLORAN_CLI, args, options);
    }
    ProcessResult WithKey(const std::string& key, std::vector<std::string> args) {
        args.insert(args.begin() + 1, {"--key-fd", "3"});
        ProcessOptions options;
        options.descriptor3 = key + "\n";
        return Cli(args, options);
    }
    std::string Put(const std::string& name, const std::string& bytes) {
        WriteBytes(dir / name, bytes);
        return name;
    }
    std::string Read(const std::string& name) { return ReadBytes(dir / name); }

    testing::TempDir dir;
};

TEST_F(CliTest, StatsTitlesAndCountShowWhatTheWindowsShow) {
    std::vector<testing::NamedDocument> docs = testing::SampleDocuments();
    docs.push_back({"EveryByte", EveryByteDocument()});
    std::mt19937 rng(29);
    for (int i = 0; i < 12; ++i) {
        docs.push_back({"Random" + std::to_string(i), testing::RandomDocument(rng)});
    }
    for (const auto& doc : docs) {
        SCOPED_TRACE(doc.name);
        Put("doc.vlp", doc.bytes);
        Opened w(doc.bytes);
        const auto report =
            BuildStatistics(w.p.sections, state().LastSection, state().DocumentEncoding);
        EXPECT_EQ(Cli({"stats", "doc.vlp"}).out, Lines(report));
        EXPECT_EQ(Cli({"stats", "--crlf", "doc.vlp"}).out, Lines(report, "\r\n"));

        EXPECT_EQ(Cli({"titles", "doc.vlp"}).out, Lines(w.p.list.titles));
        std::vector<std::string> numbered;
        for (std::size_t k = 0; k < w.p.list.titles.size(); ++k) {
            numbered.push_back(std::to_string(k) + "\t" + w.p.list.titles[k]);
        }
        EXPECT_EQ(Cli({"titles", "-n", "doc.vlp"}).out, Lines(numbered));

        for (const std::string text : {"a", "[s]", "", "\xe4", "\xc3\xa9", "\r\n"}) {
            const ProcessResult r = Cli({"count", "--", text, "doc.vlp"});
            if (state().DocumentEncoding == Encoding::Utf8 && !IsUtf8(text)) {
                // No characters of the document's could match.
                EXPECT_EQ(r.status, 2);
                EXPECT_THAT(r.err, HasSubstr("TEXT is not valid UTF-8"));
                continue;
            }
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out,
                      Lines(SearchAllRows(w.p.sections, w.p.list, text, state().DocumentEncoding)))
                << text;
        }
    }
}

TEST_F(CliTest, JsonIsValidAndCarriesEveryByteThroughTheCodePage) {
    const std::string bytes = EveryByteDocument() + testing::MarkerLines(51);
    Put("doc.vlp", bytes);
    Opened w(bytes);
    // Back from JSON's UTF-8 to the document's bytes.
    auto bytesOf = [](const Json& j) { return codepage::FromUtf8(j.Str()).value(); };

    const ProcessResult titles = Cli({"titles", "--json", "doc.vlp"});
    const auto t = Json::Parse(titles.out);
    ASSERT_TRUE(t) << titles.out;
    ASSERT_EQ((*t)["titles"].Size(), w.p.list.titles.size());
    for (std::size_t k = 0; k < w.p.list.titles.size(); ++k) {
        EXPECT_EQ(bytesOf((*t)["titles"][k]), w.p.list.titles[k]) << k;
    }

    const auto s = Json::Parse(Cli({"stats", "--json", "doc.vlp"}).out);
    ASSERT_TRUE(s);
    std::size_t words = 0;
    ASSERT_EQ((*s)["sections"].Size(), static_cast<std::size_t>(state().LastSection) + 1);
    for (int k = 0; k <= state().LastSection; ++k) {
        const Json& row = (*s)["sections"][static_cast<std::size_t>(k)];
        const std::string text = w.p.sections.SlotText(k);
        const SectionCounts c = CountSection(text, state().DocumentEncoding);
        EXPECT_EQ(row["index"].Uint(), static_cast<std::uint64_t>(k));
        EXPECT_EQ(row["lines"].Uint(), c.lines);
        EXPECT_EQ(row["words"].Uint(), c.words);
        EXPECT_EQ(row["chars"].Uint(), c.chars);
        EXPECT_EQ(bytesOf(row["title"]), c.title);
        words += c.words;
    }
    EXPECT_EQ((*s)["totals"]["words"].Uint(), words);

    const std::string text = "[\\]^";  // escaped in JSON, found once in each full line of bytes
    const auto c = Json::Parse(Cli({"count", "--json", text, "doc.vlp"}).out);
    ASSERT_TRUE(c);
    EXPECT_EQ(bytesOf((*c)["text"]), text);
    EXPECT_EQ((*c)["sections"][0]["count"].Uint(), 1u);
    EXPECT_EQ((*c)["sections"][1]["count"].Uint(), 1u);
    EXPECT_EQ((*c)["total"].Uint(), 2u);

    const ProcessResult check = Cli({"check", "--json", "doc.vlp"});
    const auto k = Json::Parse(check.out);
    ASSERT_TRUE(k) << check.out;
    EXPECT_EQ(check.status, 0);
    EXPECT_FALSE((*k)["saveChangesBytes"].Bool());
    EXPECT_EQ((*k)["markers"].Uint(), 52u);
    EXPECT_EQ((*k)["markersAfterFiftieth"][0].Uint(), 102u);
    EXPECT_EQ((*k)["nulBytes"].Uint(), 2u);
    EXPECT_TRUE((*k)["lineEnds"]["firstLfLine"].IsNull());
    EXPECT_FALSE((*k)["cipherChecked"].Bool());
}

TEST_F(CliTest, Utf8ConvertsDocumentTextAndTextGiven) {
    const std::string bytes = "caf\xe9 \x80 caf\xc9\r\n[S] \xc4rger \x9d\r\n";
    Put("doc.vlp", bytes);
    Opened w(bytes);
    std::vector<std::string> titles;
    for (const auto& title : w.p.list.titles) {
        titles.push_back(codepage::ToUtf8(title));
    }
    EXPECT_EQ(Cli({"titles", "--utf8", "doc.vlp"}).out, Lines(titles));
    EXPECT_EQ(Cli({"show", "--utf8", "doc.vlp", "1"}).out, "[S] \xc3\x84rger \xc2\x9d\r\n");
    // TEXT is read in the same code page: "é" is the byte E9 and does not fold to "É".
    EXPECT_EQ(Cli({"count", "--utf8", "\xc3\xa9", "doc.vlp"}).out,
              "1    caf\xc3\xa9 \xe2\x82\xac caf\xc3\x89\n0    [S] \xc3\x84rger \xc2\x9d\n");
    EXPECT_EQ(Cli({"count", "\xc3\xa9", "doc.vlp"}).out,
              Lines(SearchAllRows(w.p.sections, w.p.list, "\xc3\xa9", state().DocumentEncoding)));
    const ProcessResult replaced = Cli({"count", "--utf8", "\xc5\x82", "doc.vlp"});
    EXPECT_EQ(replaced.status, 0);
    EXPECT_THAT(replaced.err, HasSubstr("taken as \"?\""));
    const ProcessResult invalid = Cli({"count", "--utf8", "\xe9", "doc.vlp"});
    EXPECT_EQ(invalid.status, 2);
    EXPECT_THAT(invalid.err, HasSubstr("TEXT is not valid UTF-8"));
}

// "Café 日本" and "[S] Łódź 😀": counted in characters, a character beyond U+FFFF as one, and
// written as they are with or without --utf8.
TEST_F(CliTest, Utf8DocumentsAreCountedInCharactersAndWrittenAsTheyAre) {
    const std::string title0 = "Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac";
    const std::string title1 =
        "[S] \xc5\x81\xc3\xb3"
        "d\xc5\xba \xf0\x9f\x98\x80";
    Put("doc.vlp", title0 + "\r\n" + title1 + "\r\n");
    const std::string report =
        "Lines  Words  Char  Section\n"
        "   1     2      7   " +
        title0 +
        "\n"
        "   1     3     10   " +
        title1 +
        "\n"
        "   2     5     17   TOTALS\n";
    EXPECT_EQ(Cli({"stats", "doc.vlp"}).out, report);
    EXPECT_EQ(Cli({"stats", "--utf8", "doc.vlp"}).out, report);
    EXPECT_EQ(Cli({"titles", "--utf8", "doc.vlp"}).out, title0 + "\n" + title1 + "\n");
    const auto json = Json::Parse(Cli({"titles", "--json", "doc.vlp"}).out);
    ASSERT_TRUE(json);
    EXPECT_EQ((*json)["titles"][1].Str(), title1);

    // An empty text counts every character position, a line break as two, plus one.
    EXPECT_EQ(Cli({"count", "", "doc.vlp"}).out, "10    " + title0 + "\n13    " + title1 + "\n");
    const std::string eAcute = "1    " + title0 + "\n0    " + title1 + "\n";
    EXPECT_EQ(Cli({"count", "\xc3\xa9", "doc.vlp"}).out, eAcute);
    EXPECT_EQ(Cli({"count", "--utf8", "\xc3\xa9", "doc.vlp"}).out, eAcute);
    const ProcessResult notUtf8 = Cli({"count", "\xe9", "doc.vlp"});
    EXPECT_EQ(notUtf8.status, 2);
    EXPECT_THAT(notUtf8.err, HasSubstr("TEXT is not valid UTF-8"));
}

// A document of ASCII alone takes the locale's encoding, and the text given has to fit it.
TEST_F(CliTest, AsciiDocumentsTakeTheLocalesEncoding) {
    Put("doc.vlp", "plain\r\n");
    ProcessOptions utf8;
    utf8.locale = "C.UTF-8";
    EXPECT_EQ(Cli({"count", "\xe9", "doc.vlp"}, utf8).status, 2);
    ProcessOptions c;
    c.locale = "C";
    const ProcessResult r = Cli({"count", "\xe9", "doc.vlp"}, c);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "0    plain\n");
}

TEST_F(CliTest, ShowWritesASectionAsASaveWritesIt) {
    Put("doc.vlp", "intro\n[S] One\rline\n[S] Two\r\nlast");
    EXPECT_EQ(Cli({"show", "doc.vlp", "0"}).out, "intro\r\n");
    EXPECT_EQ(Cli({"show", "doc.vlp", "1"}).out, "[S] One\r\nline\r\n");
    EXPECT_EQ(Cli({"show", "doc.vlp", "2"}).out, "[S] Two\r\nlast\r\n");
    const ProcessResult beyond = Cli({"show", "doc.vlp", "3"});
    EXPECT_EQ(beyond.status, 2);
    EXPECT_THAT(beyond.err, HasSubstr("doc.vlp has no section 3: its sections are 0 to 2"));
    Put("empty.vlp", "");
    EXPECT_EQ(Cli({"show", "empty.vlp", "0"}).out, "\r\n");
}

TEST_F(CliTest, CheckExitsWithOneWhenASaveWouldChangeAByte) {
    struct Row {
        const char* name;
        std::string bytes;
        int status;
        const char* says;
    };
    const Row rows[] = {
        {"CrLfThroughout", "a\r\n[S] Title\r\nb\r\n", 0, "A save keeps every byte of doc.vlp."},
        {"LfLineEnds", "a\r\nb\nc\n", 1, "2 line ends are LF alone, the first after line 2"},
        {"CrLineEnds", "a\rb\r\n", 1, "1 line end is CR alone, the first after line 1"},
        {"NoFinalBreak", "a\r\nb", 1, "the last line has no line break"},
        {"Empty", "", 1, "a save writes one empty line (CR LF)"},
        {"MarkersAfterTheFiftieth", testing::MarkerLines(52), 0,
         "2 markers after the fiftieth, at lines 101, 103"},
        {"NulBytes", std::string("a\0b\r\n", 5), 0, "1 NUL byte, the first in line 1"},
    };
    for (const Row& row : rows) {
        Put("doc.vlp", row.bytes);
        const ProcessResult r = Cli({"check", "doc.vlp"});
        EXPECT_EQ(r.status, row.status) << row.name;
        EXPECT_THAT(r.out, HasSubstr(row.says)) << row.name;
    }
}

TEST_F(CliTest, CheckDeciphersAnEncipheredDocumentOnlyWithAKey) {
    // 0x0B less the key byte 1 is LF: the editor would cut the second line in two.
    Put("doc.vle", "bc\r\nx\x0By\r\n");
    const ProcessResult with = WithKey("\x01", {"check", "doc.vle"});
    EXPECT_EQ(with.status, 1);
    EXPECT_THAT(with.out, HasSubstr("line 2 deciphers to a line break"));
    const ProcessResult without = Cli({"check", "doc.vle"});
    EXPECT_EQ(without.status, 0);
    EXPECT_THAT(without.out, HasSubstr("the text is not checked"));
}

TEST_F(CliTest, DecipherThenEncipherGivesBackTheFile) {
    std::vector<std::string> plains;
    for (const auto& doc : testing::SampleDocuments()) {
        plains.push_back(doc.bytes);
    }
    std::mt19937 rng(41);
    for (int i = 0; i < 8; ++i) {
        plains.push_back(testing::RandomDocument(rng));
    }
    int tried = 0;
    for (const std::string key : {"Key phrase", "\xe4\x01~"}) {
        for (const std::string& plain : plains) {
            // The lines as a save writes them, plain and enciphered; a key that makes a line
            // break in a line cannot encipher the document.
            Opened w(plain);
            DocumentBuffer lines = JoinedSections(w.p.session);
            const std::string saved = Joined(lines);
            KeyIndex index;
            for (std::size_t i = 0; i < lines.LineCount(); ++i) {
                EncipherLine(lines.MutableLine(i), key, index);
            }
            if (!ReadsBack(lines)) {
                continue;
            }
            const std::string enciphered = Joined(lines);
            ++tried;
            Put("doc.vle", enciphered);
            ASSERT_EQ(WithKey(key, {"decipher", "doc.vle", "-o", "plain.vlp"}).status, 0);
            EXPECT_EQ(Read("plain.vlp"), saved);
            ASSERT_EQ(WithKey(key, {"encipher", "plain.vlp", "-o", "again.vle"}).status, 0);
            EXPECT_EQ(Read("again.vle"), enciphered);
            EXPECT_EQ(WithKey(key, {"decipher", "doc.vle"}).out, saved);
        }
    }
    EXPECT_GT(tried, 20);
    // No temporary file left behind; the state folder holds the history of plain.vlp.
    EXPECT_EQ(dir.EntryCount(), 3u + 1);
}

TEST_F(CliTest, SealedDocumentsAreReadWithTheirKeyOnly) {
    // Sealed by the editor's own writer with the cheapest key derivation, so that tests do not
    // wait on it.
    const std::string plain = "Dear diary\r\n[S] Monday\r\nrain, \xe9t\xe9\r\n";
    const auto key = SealKey::Derive("pass phrase", kQuickestSealParams);
    WriteSealedFile(dir / "doc.vls", *key, [&](SealWriter& w) { w.Write(plain); });
    const std::string sealed = Read("doc.vls");

    EXPECT_EQ(WithKey("pass phrase", {"unseal", "doc.vls"}).out, plain);
    Opened w(plain);
    EXPECT_EQ(WithKey("pass phrase", {"titles", "doc.vls"}).out, Lines(w.p.list.titles));
    EXPECT_EQ(WithKey("pass phrase", {"stats", "doc.vls"}).out,
              Lines(BuildStatistics(w.p.sections, state().LastSection, state().DocumentEncoding)));
    EXPECT_EQ(WithKey("pass phrase", {"show", "doc.vls", "1"}).out,
              "[S] Monday\r\nrain, \xe9t\xe9\r\n");
    const ProcessResult check = WithKey("pass phrase", {"check", "doc.vls"});
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.out, "A save keeps every byte of the document sealed in doc.vls.\n");

    const ProcessResult wrong = WithKey("pass word", {"unseal", "doc.vls"});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, "velloran-cli: Wrong key for doc.vls\n");
    const ProcessResult noKey = Cli({"titles", "doc.vls"});
    EXPECT_EQ(noKey.status, 2);
    EXPECT_THAT(noKey.err, HasSubstr("there is no terminal to type the key on"));
    Put("cut.vls", sealed.substr(0, sealed.size() - 1));
    const ProcessResult cut = WithKey("pass phrase", {"unseal", "cut.vls"});
    EXPECT_EQ(cut.status, 3);
    EXPECT_EQ(cut.err, "velloran-cli: cut.vls is damaged\n");
    EXPECT_EQ(cut.out, "");
}

TEST_F(CliTest, SealWritesTheDocumentAsASaveWritesItAndUnsealGivesItBack) {
    Put("doc.vlp", "one\nline two\r\n[S] x y\r");
    ASSERT_EQ(WithKey("pass phrase", {"seal", "doc.vlp", "-o", "doc.vls"}).status, 0);
    EXPECT_TRUE(Read("doc.vls").starts_with("\x89VLS\r\n\x1a\n"));
    EXPECT_EQ(WithKey("pass phrase", {"unseal", "doc.vls"}).out, "one\r\nline two\r\n[S] x y\r\n");

    const ProcessResult empty = WithKey("", {"seal", "doc.vlp", "-o", "other.vls"});
    EXPECT_EQ(empty.status, 2);
    EXPECT_EQ(empty.err, "velloran-cli: " + std::string(kEmptySealKey) + "\n");
    // And the state folder, with the history of doc.vls.
    EXPECT_EQ(dir.EntryCount(), 2u + 1);
}

TEST_F(CliTest, EncipherRefusesAKeyWhoseBytesCouldNotBeReadBack) {
    Put("plain.vlp", "a\r\n");
    Put("out.vle", "old");
    // 'a' (97) plus 0xA9 (169) is 266, LF modulo 256: the line would be cut in two.
    const ProcessResult r = WithKey("\xa9", {"encipher", "plain.vlp", "-o", "out.vle"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "velloran-cli: " + std::string(kKeyCannotEncipher) + "\n");
    EXPECT_EQ(Read("out.vle"), "old");

    const ProcessResult empty = WithKey("", {"encipher", "plain.vlp", "-o", "out.vle"});
    EXPECT_EQ(empty.status, 2);
    EXPECT_THAT(empty.err, HasSubstr("an empty key would leave the document as it is"));
    EXPECT_EQ(Read("out.vle"), "old");
}

TEST_F(CliTest, TheKeyIsNeverTakenFromTheCommandLine) {
    Put("doc.vle", "secret text\r\n");
    const std::vector<std::string> rows[] = {
        {"decipher", "--key=abc", "doc.vle"},    {"--key=abc", "decipher", "doc.vle"},
        {"decipher", "--key", "abc", "doc.vle"}, {"stats", "--key", "abc", "doc.vle"},
        {"decipher", "--keyabc", "doc.vle"},     {"decipher", "-k", "abc", "doc.vle"},
    };
    for (const auto& args : rows) {
        const ProcessResult r = Cli(args);
        EXPECT_EQ(r.status, 2) << args[1];
        EXPECT_EQ(r.out, "") << args[1];
    }
    // Without a key option and without a terminal there is nowhere to ask.
    const ProcessResult r = Cli({"decipher", "doc.vle"});
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("there is no terminal to type the key on"));
}

TEST_F(CliTest, KeyFileIsItsFirstLineAndMustBeReadableByItsOwnerAlone) {
    const std::string plain = "one\r\n[S] two\r\n";
    Put("doc.vle", testing::EncipherInPlace(plain, "key"));
    Put("key", "key\r\nnot part of it\r\n");
    // Another user who may change the key file, or owns it, could have put a key of their own in.
    struct Row {
        mode_t mode;
        uid_t owner;
        const char* refused;  // why, or nothing
    };
    const uid_t me = ::geteuid();
    const Row rows[] = {
        {0600, me, nullptr},
        {0400, me, nullptr},
        {0640, me, "can be read by other users: allow its owner alone (chmod 600 key)"},
        {0604, me, "can be read by other users"},
        {0644, me, "can be read by other users"},
        {0620, me, "can be changed by other users: allow its owner alone (chmod 600 key)"},
        {0602, me, "can be changed by other users"},
        {0600, me == 0 ? testing::kNobody : 0,
         "belongs to another user: use a key file of your own"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::Message()
                     << std::oct << row.mode << " owner " << std::dec << row.owner);
        if (row.owner != me && me != 0) {
            continue;  // only root can give the file away
        }
        ASSERT_EQ(::chown((dir / "key").c_str(), row.owner, static_cast<gid_t>(-1)), 0);
        ::chmod((dir / "key").c_str(), row.mode);
        const ProcessResult r = Cli({"decipher", "--key-file", "key", "doc.vle"});
        EXPECT_EQ(r.status, row.refused ? 2 : 0);
        EXPECT_EQ(r.out, row.refused ? "" : plain);
        if (row.refused) {
            EXPECT_THAT(r.err, HasSubstr(std::string("the key file key ") + row.refused));
        }
    }
    ::chown((dir / "key").c_str(), me, static_cast<gid_t>(-1));
    EXPECT_EQ(WithKey("key\nnot part of it", {"decipher", "doc.vle"}).out, plain);
    EXPECT_EQ(WithKey("key", {"titles", "doc.vle"}).out, "one\n[S] two\n");
    const std::string key = "key";
    Opened w(Read("doc.vle"), &key);
    EXPECT_EQ(WithKey("key", {"stats", "doc.vle"}).out,
              Lines(BuildStatistics(w.p.sections, state().LastSection, state().DocumentEncoding)));

    const ProcessResult missing = Cli({"decipher", "--key-file", "nokey", "doc.vle"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_EQ(missing.err, "velloran-cli: Cannot open file nokey\n");
}

// The plain text of a protected document is private when written anew; a file it replaces keeps
// its mode as a save keeps it, but never shows more than the document read.
TEST_F(CliTest, PlainTextOutputShowsNoMoreThanTheDocument) {
    const std::string plain = "Dear diary\r\n";
    Put("doc.vle", testing::EncipherInPlace(plain, "k"));
    const auto key = SealKey::Derive("k", kQuickestSealParams);
    WriteSealedFile(dir / "doc.vls", *key, [&](SealWriter& w) { w.Write(plain); });
    struct Row {
        const char* name;
        const char* command;
        const char* document;
        mode_t documentMode;
        std::optional<mode_t> replaced;
        mode_t written;
    };
    const Row rows[] = {
        {"new, deciphered", "decipher", "doc.vle", 0644, std::nullopt, 0600},
        {"new, unsealed", "unseal", "doc.vls", 0644, std::nullopt, 0600},
        {"replaced, keeps its mode", "decipher", "doc.vle", 0644, 0640, 0640},
        {"replaced, no wider than the document", "unseal", "doc.vls", 0600, 0664, 0600},
    };
    const mode_t umask = ::umask(022);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ::unlink((dir / "out.vlp").c_str());
        ::chmod((dir / row.document).c_str(), row.documentMode);
        if (row.replaced) {
            Put("out.vlp", "old\r\n");
            ::chmod((dir / "out.vlp").c_str(), *row.replaced);
        }
        ASSERT_EQ(WithKey("k", {row.command, row.document, "-o", "out.vlp"}).status, 0);
        EXPECT_EQ(Read("out.vlp"), plain);
        struct stat st {};
        ASSERT_EQ(::stat((dir / "out.vlp").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, row.written) << std::oct << (st.st_mode & 07777);
    }
    ::umask(umask);
}

TEST_F(CliTest, AKeyTypedOnTheTerminalIsNotShown) {
    const std::string plain = "Dear diary\r\n";
    Put("doc.vlp", plain);
    int status = -1;
    std::string shown = RunOnTerminal(
        VELLORAN_CLI, {"encipher", "doc.vlp", "-o", "doc.vle"}, dir.path(),
        {{"Encript Key: ", "hidden words"}, {"Encript Key again: ", "hidden words"}}, status);
    EXPECT_EQ(status, 0) << shown;
    EXPECT_THAT(shown, HasSubstr("Encript Key again: "));
    EXPECT_THAT(shown, ::testing::Not(HasSubstr("hidden")));
    EXPECT_EQ(Read("doc.vle"), testing::EncipherInPlace(plain, "hidden words"));

    shown = RunOnTerminal(VELLORAN_CLI, {"titles", "--key", "doc.vle"}, dir.path(),
                          {{"Encript Key: ", "hidden words"}}, status);
    EXPECT_EQ(status, 0);
    EXPECT_THAT(shown, ::testing::Not(HasSubstr("hidden")));
    EXPECT_EQ(Read("out"), "Dear diary\n");

    // A wrong key for a sealed document is said, and the key asked for again.
    const auto key = SealKey::Derive("right", kQuickestSealParams);
    WriteSealedFile(dir / "doc.vls", *key, [&](SealWriter& w) { w.Write(plain); });
    shown = RunOnTerminal(VELLORAN_CLI, {"unseal", "doc.vls"}, dir.path(),
                          {{"Encript Key: ", "wrong"}, {"Encript Key: ", "right"}}, status);
    EXPECT_EQ(status, 0);
    EXPECT_THAT(shown, HasSubstr("Wrong key for doc.vls"));
    EXPECT_EQ(Read("out"), plain);

    shown = RunOnTerminal(VELLORAN_CLI, {"encipher", "doc.vlp"}, dir.path(),
                          {{"Encript Key: ", "one"}, {"Encript Key again: ", "other"}}, status);
    EXPECT_EQ(status, 2);
    EXPECT_THAT(shown, HasSubstr("the two keys typed differ"));
}

TEST_F(CliTest, ExitStatusesAndMessages) {
    Put("doc.vlp", "a\r\n");
    ::mkfifo((dir / "pipe.vlp").c_str(), 0600);
    ::mkdir((dir / "folder.vlp").c_str(), 0700);
    struct Row {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Row rows[] = {
        {{}, 2, "no command given"},
        {{"print", "doc.vlp"}, 2, "unknown command 'print'"},
        {{"stats", "--bold", "doc.vlp"}, 2, "unknown option '--bold'"},
        {{"stats"}, 2, "missing arguments: velloran-cli stats FILE"},
        {{"count", "a", "doc.vlp", "more"}, 2, "too many arguments: velloran-cli count TEXT FILE"},
        {{"titles", "--crlf", "doc.vlp"}, 2, "--crlf does not apply to titles"},
        {{"stats", "-o", "x", "doc.vlp"}, 2, "-o does not apply to stats"},
        {{"decipher", "--key-fd", "x3", "doc.vlp"}, 2, "--key-fd takes a file descriptor number"},
        {{"decipher", "--key-fd", "3", "--key", "doc.vlp"}, 2, "give the key one way only"},
        {{"show", "doc.vlp", "first"}, 2, "K is a section number, not 'first'"},
        {{"stats", "missing.vlp"}, 3, "Cannot open file missing.vlp"},
        {{"titles", "pipe.vlp"}, 3, "Cannot open file pipe.vlp"},
        {{"check", "folder.vlp"}, 3, "Cannot open file folder.vlp"},
        {{"count", "a", "/dev/zero"}, 3, "Cannot open file /dev/zero"},
        {{"decipher", "--key-fd", "9", "doc.vlp"}, 3, "Cannot read the key from file descriptor 9"},
        {{"--help"}, 0, ""},
        {{"stats", "--version"}, 0, ""},
    };
    for (const Row& row : rows) {
        const std::string name = row.args.empty() ? "(nothing)" : row.args[0];
        const ProcessResult r = Cli(row.args);
        EXPECT_EQ(r.status, row.status) << name << " " << r.err;
        EXPECT_THAT(r.err, HasSubstr(row.err)) << name;
        if (row.status == 0) {
            EXPECT_EQ(r.err, "") << name;
        }
    }
    EXPECT_THAT(Cli({"--help"}).out, HasSubstr("Usage: velloran-cli COMMAND"));
    EXPECT_THAT(Cli({"--version"}).out, HasSubstr("velloran-cli (Velloran Editor) "));
}

// Every start first puts back what killed saves left, as the editor's does, and tells what it will
// not put back: here a copy in a state folder that others may write in, naming the document.
TEST_F(CliTest, AStartTellsOfCopiesItWillNotPutBack) {
    Put("doc.vlp", "a\r\n");
    const std::string folder = dir / ".local/state/velloran";
    std::filesystem::create_directories(folder);
    ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "doc.vlp").c_str(), &st), 0);
    const std::string planted = "planted\r\n";
    WriteBytes(folder + "/secured-" + std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino),
               "velloran secured bytes 1\n" + std::to_string(st.st_dev) + " " +
                   std::to_string(st.st_ino) + " " + std::to_string(planted.size()) + "\n" +
                   (dir / "doc.vlp") + std::string(1, '\0') + planted);

    const ProcessResult r = Cli({"stats", "doc.vlp"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("velloran-cli: " + Format(kStateFolderNotPrivate, folder) + "\n"));
    EXPECT_EQ(Read("doc.vlp"), "a\r\n");
}

TEST_F(CliTest, OutputThatCannotBeWrittenIsReported) {
    Put("doc.vlp", "a\r\n");
    ProcessOptions full;
    full.outputFile = "/dev/full";
    const ProcessResult r = Cli({"stats", "doc.vlp"}, full);
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "velloran-cli: Unable to write to standard output\n");

    // The system's reason follows the message.
    ::mkdir((dir / "folder.vle").c_str(), 0700);
    for (const auto& [out, why] :
         {std::pair{"missing/doc.vle", ENOENT}, std::pair{"folder.vle", EISDIR},
          std::pair{"doc.vlp/inside.vle", ENOTDIR}}) {
        const ProcessResult w = WithKey("k", {"encipher", "doc.vlp", "-o", out});
        EXPECT_EQ(w.status, 3) << out;
        EXPECT_EQ(w.err, "velloran-cli: Cannot create file " + std::string(out) + ": " +
                             std::strerror(why) + "\n");
    }
    EXPECT_EQ(Read("doc.vlp"), "a\r\n");
}

TEST_F(CliTest, MergeWritesWhatTheEditorMergesAndExitsWithOneForConflicts) {
    const std::string base = "Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo\r\n";
    Put("base.vlp", base);
    Put("ours.vlp", "Intro\n[S] One\none, ours\n[S] Two\ntwo\n");  // as git keeps it
    Put("theirs.vlp", "Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo, theirs\r\n");
    const ProcessResult clean = Cli({"merge", "base.vlp", "ours.vlp", "theirs.vlp"});
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.out, "Intro\r\n[S] One\r\none, ours\r\n[S] Two\r\ntwo, theirs\r\n");
    EXPECT_EQ(clean.err, "");

    Put("theirs.vlp", "Intro\r\n[S] One\r\none, theirs\r\n[S] Two\r\ntwo\r\n");
    const ProcessResult conflict =
        Cli({"merge", "base.vlp", "ours.vlp", "theirs.vlp", "-o", "out.vlp"});
    EXPECT_EQ(conflict.status, 1);
    EXPECT_EQ(conflict.out, "");
    EXPECT_THAT(conflict.err, HasSubstr("Section 1 \"[S] One\": changed in ours and in theirs "
                                        "in the same lines"));
    const MergeOutcome expected =
        MergeVersions(MergeVersion::OfText(base), MergeVersion::OfText(ReadBytes(dir / "ours.vlp")),
                      MergeVersion::OfText(ReadBytes(dir / "theirs.vlp")));
    EXPECT_EQ(Read("out.vlp"), expected.Text());
    EXPECT_THAT(Read("out.vlp"), HasSubstr("<<<<<<< as changed in ours\r\none, ours\r\n"));

    const ProcessResult json = Cli({"merge", "--json", "base.vlp", "ours.vlp", "theirs.vlp"});
    EXPECT_EQ(json.status, 1);
    const auto j = Json::Parse(json.out);
    ASSERT_TRUE(j) << json.out;
    EXPECT_EQ((*j)["conflicts"].Uint(), 1u);
    ASSERT_EQ((*j)["sections"].Size(), 3u);
    EXPECT_EQ((*j)["sections"][1]["merge"].Str(), "conflict");
    EXPECT_EQ((*j)["sections"][1]["title"].Str(), "[S] One");

    EXPECT_EQ(Cli({"merge", "base.vlp", "ours.vlp"}).status, 2);
    EXPECT_EQ(Cli({"merge", "base.vlp", "ours.vlp", "missing.vlp"}).status, 3);
}

// Merged protected documents stay protected: plain text of them is private, and an output named
// as sealed or enciphered is written so, with the one key given, read once for all three.
TEST_F(CliTest, MergeOfProtectedDocumentsKeepsTheirTextProtected) {
    const std::string base = "Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo\r\n";
    const std::string ours = "Intro\r\n[S] One\r\none, ours\r\n[S] Two\r\ntwo\r\n";
    const std::string theirs = "Intro\r\n[S] One\r\none\r\n[S] Two\r\ntwo, theirs\r\n";
    const std::string merged = "Intro\r\n[S] One\r\none, ours\r\n[S] Two\r\ntwo, theirs\r\n";
    const auto key = SealKey::Derive("k", kQuickestSealParams);
    for (const auto& [name, text] : {std::pair{"base", base}, {"ours", ours}, {"theirs", theirs}}) {
        WriteSealedFile(dir / (std::string(name) + ".vls"), *key,
                        [&](SealWriter& w) { w.Write(text); });
        Put(std::string(name) + ".vle", testing::EncipherInPlace(text, "k"));
    }
    const mode_t umask = ::umask(022);
    struct Row {
        const char* name;
        const char* inputs;  // ".vls" or ".vle"
        const char* output;
        const char* readBack;  // the command that gives its plain text, or none for a plain file
    };
    for (const Row& row :
         {Row{"sealed into plain text", ".vls", "out.vlp", nullptr},
          Row{"enciphered into plain text", ".vle", "out.vlp", nullptr},
          Row{"sealed into a sealed name", ".vls", "out.vls", "unseal"},
          Row{"enciphered into an enciphered name", ".vle", "out.vle", "decipher"}}) {
        SCOPED_TRACE(row.name);
        ::unlink((dir / row.output).c_str());
        const std::string x = row.inputs;
        const ProcessResult r =
            WithKey("k", {"merge", "base" + x, "ours" + x, "theirs" + x, "-o", row.output});
        ASSERT_EQ(r.status, 0) << r.err;
        if (row.readBack) {
            EXPECT_NE(Read(row.output), merged);
            EXPECT_EQ(WithKey("k", {row.readBack, row.output}).out, merged);
        } else {
            EXPECT_EQ(Read(row.output), merged);
            struct stat st {};
            ASSERT_EQ(::stat((dir / row.output).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0600u) << std::oct << (st.st_mode & 07777);
        }
    }
    ::umask(umask);

    // Without a key there is nothing to seal the text with: refused, and nothing written.
    Put("base.vlp", base);
    Put("ours.vlp", ours);
    Put("theirs.vlp", theirs);
    ::unlink((dir / "out.vls").c_str());
    const ProcessResult refused =
        Cli({"merge", "base.vlp", "ours.vlp", "theirs.vlp", "-o", "out.vls"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_THAT(refused.err, HasSubstr("out.vls is a sealed (.vls) name"));
    EXPECT_FALSE(std::filesystem::exists(dir / "out.vls"));
}

// As the README sets it up: git runs the program on the three versions of a merge.
TEST_F(CliTest, MergeServesGitAsAMergeDriver) {
    if (::system("git --version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "git is not installed";
    }
    const std::string git = "cd '" + dir.path() +
                            "' && git -c user.name=t -c user.email=t@t -c init.defaultBranch=main "
                            "-c merge.velloran.driver='" VELLORAN_CLI " merge %O %A %B -o %A' ";
    auto run = [&](const std::string& command) {
        return ::system((git + command + " >/dev/null 2>&1").c_str());
    };
    ASSERT_EQ(run("init -q ."), 0);
    Put(".gitattributes", "*.vlp merge=velloran\n");
    Put("Diary.vlp", "Intro\r\n[S] Monday\r\nrain\r\n[S] Tuesday\r\nsun\r\n");
    ASSERT_EQ(run("add -A"), 0);
    ASSERT_EQ(run("commit -qm base"), 0);
    ASSERT_EQ(run("checkout -qb laptop"), 0);
    Put("Diary.vlp", "Intro\r\n[S] Monday\r\nrain\r\n[S] Tuesday\r\nsun, then wind\r\n");
    ASSERT_EQ(run("commit -qam laptop"), 0);
    ASSERT_EQ(run("checkout -q main"), 0);
    Put("Diary.vlp", "Intro\r\n[S] Monday\r\nrain all day\r\n[S] Tuesday\r\nsun\r\n");
    ASSERT_EQ(run("commit -qam desk"), 0);
    EXPECT_EQ(run("merge -q --no-edit laptop"), 0);
    EXPECT_EQ(Read("Diary.vlp"),
              "Intro\r\n[S] Monday\r\nrain all day\r\n[S] Tuesday\r\nsun, then wind\r\n");
}

// A day's writing in the editor: opened, typed into and saved, its log where the program looks
// for it when started with the folder as its home.
class ProgressCliTest : public CliTest {
  protected:
    ProgressCliTest() {
        ::unsetenv("TZ");
        ::tzset();
        SealingParams() = kQuickestSealParams;
    }
    ~ProgressCliTest() override { SealingParams() = kSealParams; }

    void Write(const std::string& name, const std::string& passphrase = {}) {
        ResetState();
        ProgressRecorder recorder;
        PlainSession p;
        p.session.progress = &recorder;
        p.dialogs.onKeyPrompt = [&] { return PromptResult{ModalResult::OK, passphrase}; };
        p.buffer.AssignText("Notes\r\n[S] One\r\nsome words\r\n");
        SplitSections(p.session);
        state().FileName = dir / name;
        p.sections.texts[1] += "and a few more words\r\n";
        recorder.SlotReplaced(1, {}, {});
        ASSERT_TRUE(SaveDocument(p.session));
        recorder.Wait();
        figures = recorder.Figures(p.session, 5, 4);
    }

    testing::ScopedEnv state_{"XDG_STATE_HOME", dir / ".local/state"};
    ProgressFigures figures;
};

TEST_F(ProgressCliTest, ProgressGivesTheFiguresOfTheProgressWindow) {
    Write("doc.vlp");
    std::filesystem::create_directories(dir / ".config/velloran");
    WriteBytes(dir / ".config/velloran/progress.ini", "[Progress]\nGoal=4\n");
    const ProcessResult r = Cli({"progress", "--json", "--days", "5", "doc.vlp"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = Json::Parse(r.out);
    ASSERT_TRUE(json);
    EXPECT_EQ((*json)["document"].Str(), AbsolutePath(dir / "doc.vlp"));
    EXPECT_TRUE((*json)["logged"].Bool());
    // A new document: everything in it was written today.
    EXPECT_EQ((*json)["today"]["words"].Uint(), 10u);
    EXPECT_EQ((*json)["today"]["words"].Uint(), figures.wordsToday);
    EXPECT_EQ((*json)["today"]["date"].Str(), DateText(figures.today));
    EXPECT_EQ((*json)["words"].Uint(), figures.wordsNow);
    EXPECT_EQ((*json)["goal"].Uint(), 4u);
    EXPECT_EQ((*json)["streak"].Uint(), 1u);
    ASSERT_EQ((*json)["days"].Size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ((*json)["days"][i]["words"].Uint(), figures.days[i].words);
    }
    ASSERT_EQ((*json)["sections"].Size(), 2u);
    EXPECT_EQ((*json)["sections"][1]["title"].Str(), "[S] One");
    EXPECT_EQ((*json)["sections"][1]["today"].Uint(), 9u);

    const ProcessResult text = Cli({"progress", "--days=2", "doc.vlp"});
    EXPECT_EQ(text.out, "Today, " + DateText(figures.today) +
                            ": 10 words of a goal of 4 (250 %)\nStreak: 1 day at the goal\n\n" +
                            DateText(figures.today - 1) + "       0\n" + DateText(figures.today) +
                            "      10\n\nAdded today:\n     1   Notes\n     9   [S] One\n");

    const ProcessResult none = Cli({"progress", "--json", "other.vlp"});
    EXPECT_EQ(none.status, 0);
    EXPECT_FALSE((*Json::Parse(none.out))["logged"].Bool());
    EXPECT_EQ(Cli({"progress", "--days", "0", "doc.vlp"}).status, 2);
    EXPECT_THAT(Cli({"stats", "--days", "3", "doc.vlp"}).err,
                HasSubstr("--days does not apply to stats"));
}

TEST_F(ProgressCliTest, ASealedLogIsReadWithTheDocumentsKeyOnly) {
    for (const char* name : {"doc.vls", "doc.vle"}) {
        SCOPED_TRACE(name);
        Write(name, "pass phrase");
        const ProcessResult r = WithKey("pass phrase", {"progress", "--json", name});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ((*Json::Parse(r.out))["today"]["words"].Uint(), 10u);
        EXPECT_EQ((*Json::Parse(r.out))["sections"][1]["title"].Str(), "[S] One");
        const ProcessResult wrong = WithKey("pass word", {"progress", name});
        EXPECT_EQ(wrong.status, 1);
        EXPECT_THAT(wrong.err, HasSubstr("Wrong key for"));
        EXPECT_EQ(Cli({"progress", name}).status, 2);
    }
}

// Three saves in the editor, each kept in the history where the program looks for it.
class HistoryCliTest : public CliTest {
  protected:
    HistoryCliTest() { SealingParams() = kQuickestSealParams; }
    ~HistoryCliTest() override { SealingParams() = kSealParams; }

    // The file's bytes after each save.
    std::vector<std::string> SaveThrice(const std::string& name, const std::string& key = {}) {
        ResetState();
        HistoryRecorder recorder;
        PlainSession p;
        p.session.history = &recorder;
        p.dialogs.onKeyPrompt = [&] { return PromptResult{ModalResult::OK, key}; };
        p.dialogs.onYesNo = [](const std::string&) { return true; };
        p.buffer.AssignText("Notes\r\n[S] One\r\nthe heron waits\r\n[S] Two\r\nat dawn\r\n");
        SplitSections(p.session);
        state().FileName = dir / name;
        state().CipherKey = key;
        std::vector<std::string> saved;
        for (const char* words : {"", "by the willow ", "no longer "}) {
            p.sections.texts[1] = std::string("[S] One\r\nthe heron ") + words + "waits\r\n";
            EXPECT_TRUE(SaveDocument(p.session));
            EXPECT_EQ(recorder.Note(), "");
            saved.push_back(Read(name));
        }
        return saved;
    }

    testing::ScopedEnv state_{"XDG_STATE_HOME", dir / ".local/state"};
};

TEST_F(HistoryCliTest, ShowGivesBackTheBytesOfEachVersionAsSaved) {
    const auto saved = SaveThrice("doc.vlp");
    const ProcessResult list = Cli({"history", "--json", "doc.vlp"});
    ASSERT_EQ(list.status, 0) << list.err;
    const auto json = Json::Parse(list.out);
    ASSERT_TRUE(json);
    ASSERT_EQ((*json)["versions"].Size(), 3u);
    EXPECT_EQ((*json)["versions"][0]["event"].Str(), "saved");
    EXPECT_EQ((*json)["versions"][1]["changed"].Size(), 1u);
    EXPECT_EQ((*json)["versions"][1]["changed"][0].Uint(), 1u);
    EXPECT_EQ((*json)["versions"][2]["words"].Uint(), 1u + 7 + 4);
    EXPECT_TRUE((*json)["versions"][0]["kept"].IsNull());

    for (std::size_t n = 0; n < 3; ++n) {
        const ProcessResult show = Cli({"history", "doc.vlp", "--show", std::to_string(n + 1)});
        ASSERT_EQ(show.status, 0) << show.err;
        EXPECT_EQ(show.out, saved[n]);
    }
    ASSERT_EQ(Cli({"history", "doc.vlp", "--show", "1", "--section", "1", "-o", "one.txt"}).status,
              0);
    EXPECT_EQ(Read("one.txt"), "[S] One\r\nthe heron waits\r\n");

    const ProcessResult diff = Cli({"history", "doc.vlp", "--diff", "1", "3"});
    ASSERT_EQ(diff.status, 0) << diff.err;
    EXPECT_EQ(diff.out,
              "@@ section 1: [S] One (+2 -0 words) @@\n[S] One\r\nthe heron {+no "
              "longer +}waits\r\n");
    EXPECT_EQ(Cli({"history", "doc.vlp", "--diff", "2"}).out,
              "@@ section 1: [S] One (+2 -3 words) @@\n[S] One\r\nthe heron [-by the willow-]{+no "
              "longer+} waits\r\n");

    ASSERT_EQ(Cli({"history", "doc.vlp", "--keep", "2", "Sent to the editor"}).status, 0);
    EXPECT_EQ(
        (*Json::Parse(Cli({"history", "--json", "doc.vlp"}).out))["versions"][1]["kept"].Str(),
        "Sent to the editor");
    EXPECT_THAT(Cli({"history", "doc.vlp"}).out, HasSubstr("kept as \"Sent to the editor\""));

    EXPECT_THAT(Cli({"history", "doc.vlp", "--show", "9"}).err, HasSubstr("no version 9"));
    EXPECT_EQ(Cli({"history", "doc.vlp", "--show", "x"}).status, 2);
    EXPECT_EQ(Cli({"history", "doc.vlp", "--show", "1", "--diff", "2"}).status, 2);
    EXPECT_EQ(Cli({"stats", "--show", "1", "doc.vlp"}).status, 2);
    EXPECT_EQ((*Json::Parse(Cli({"history", "--json", "none.vlp"}).out))["versions"].Size(), 0u);
}

TEST_F(HistoryCliTest, ASealedHistoryIsReadWithTheDocumentsKeyOnly) {
    for (const char* name : {"doc.vls", "doc.vle"}) {
        SCOPED_TRACE(name);
        const auto saved = SaveThrice(name, "pass phrase");
        const ProcessResult show = WithKey("pass phrase", {"history", name, "--show", "2"});
        ASSERT_EQ(show.status, 0) << show.err;
        EXPECT_EQ(show.out, std::string(name) == "doc.vls"
                                ? UnsealBytes(saved[1], "pass phrase", name)
                                : "Notes\r\n[S] One\r\nthe heron by the willow waits\r\n[S] "
                                  "Two\r\nat dawn\r\n");
        const ProcessResult wrong = WithKey("pass word", {"history", name});
        EXPECT_EQ(wrong.status, 1);
        EXPECT_THAT(wrong.err, HasSubstr("Wrong key for"));
    }
}

TEST_F(HistoryCliTest, WhatTheProgramWritesIsKeptToo) {
    Put("base.vlp", "Intro\r\n[S] A\r\none\r\n");
    Put("ours.vlp", "Intro\r\n[S] A\r\none two\r\n");
    Put("theirs.vlp", "Intro changed\r\n[S] A\r\none\r\n");
    ASSERT_EQ(Cli({"merge", "base.vlp", "ours.vlp", "theirs.vlp", "-o", "merged.vlp"}).status, 0);
    const ProcessResult show = Cli({"history", "merged.vlp", "--show", "1"});
    ASSERT_EQ(show.status, 0) << show.err;
    EXPECT_EQ(show.out, Read("merged.vlp"));
}

TEST(JsonChecker, RejectsWhatJsonDoesNotAllow) {
    EXPECT_TRUE(Json::Parse(R"({"a":[1,-2.5e3,"\u00e9\ud83d\ude00",true,null]})"));
    for (const char* text : {R"({"a":1,})", "[01]", "\"\x01\"", "\"\xe9\"", R"("\ud800")",
                             R"({"a":1}{})", "'a'", R"({"a" 1})", R"({"a":1,"a":2})"}) {
        EXPECT_FALSE(Json::Parse(text)) << text;
    }
}

}  // namespace
}  // namespace velloran

namespace velloran {
namespace {

// spell with the dictionaries shipped beside the tests, in either encoding, beside what the
// editor would mark: the personal dictionary's words are known, addresses and "[S]" no words.
TEST_F(CliTest, SpellListsMisspelledWordsWithTheirPlaces) {
    const auto cli = [&](std::vector<std::string> args,
                         const char* dictionaries = VELLORAN_TEST_DICTIONARIES) {
        ProcessOptions options;
        options.environment = {std::string("DICPATH=") + dictionaries,
                               "XDG_DATA_HOME=" + (dir / "data"),
                               "XDG_CONFIG_HOME=" + (dir / "config")};
        return Cli(args, options);
    };
    Put("utf8.vlp", "Teh fox\r\n[S] Chapter one\r\ncaf\xC3\xA9 see www.brwn.org brwn zorb\r\n");
    Put("cp1252.vlp", "Teh fox\r\n[S] Chapter one\r\ncaf\xE9 see www.brwn.org brwn zorb\r\n");
    Put("clean.vlp", "the quick brown fox\r\n");
    std::filesystem::create_directories(dir / "data/velloran");
    std::filesystem::create_directories(dir / "config/velloran");
    Put("data/velloran/words", "zorb\n");
    const std::string expected = "0:1:1: Teh\n1:2:6: see\n1:2:23: brwn\n";
    for (const char* doc : {"utf8.vlp", "cp1252.vlp"}) {
        SCOPED_TRACE(doc);
        const ProcessResult r = cli({"spell", "--lang", "en_TEST", doc});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.out, expected);
    }
    const auto json = Json::Parse(cli({"spell", "--json", "--lang", "en_TEST", "cp1252.vlp"}).out);
    ASSERT_TRUE(json);
    EXPECT_EQ((*json)["language"].Str(), "en_TEST");
    EXPECT_EQ((*json)["words"].Size(), 3u);
    EXPECT_EQ((*json)["words"][2]["word"].Str(), "brwn");
    EXPECT_EQ((*json)["words"][2]["column"].Uint(), 23u);
    EXPECT_EQ(cli({"spell", "--lang", "en_TEST", "clean.vlp"}).status, 0);
    // Without --lang, the editor's choice in its settings file.
    Put("config/velloran/spelling.ini", "[Spelling]\nLanguage=fr_TEST\n");
    EXPECT_EQ(cli({"spell", "utf8.vlp"}).out, "1:1:13: one\n1:2:1: caf\xC3\xA9\n1:2:6: see\n");
    const ProcessResult unknown = cli({"spell", "--lang", "xx_YY", "clean.vlp"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_THAT(unknown.err, HasSubstr("installed: de_LATIN, en_TEST, fr_TEST"));
    // Chinese in an English document is not the English dictionary's to mark, and a locale
    // without a language checks English, not the first dictionary by name.
    std::filesystem::remove(dir / "config/velloran/spelling.ini");
    Put("mixed.vlp", "Teh \xE5\xB1\xB1\xE9\xAB\x98\xE6\xB0\xB4\xE9\x95\xBF fox\r\n");
    for (const char* locale : {"C.UTF-8", "C"}) {
        SCOPED_TRACE(locale);
        ProcessOptions options;
        options.locale = locale;
        options.environment = {std::string("DICPATH=") + VELLORAN_TEST_DICTIONARIES,
                               "XDG_DATA_HOME=" + (dir / "data"),
                               "XDG_CONFIG_HOME=" + (dir / "config")};
        const auto mixed = Json::Parse(Cli({"spell", "--json", "mixed.vlp"}, options).out);
        ASSERT_TRUE(mixed);
        EXPECT_EQ((*mixed)["language"].Str(), "en_TEST");
        ASSERT_EQ((*mixed)["words"].Size(), 1u);
        EXPECT_EQ((*mixed)["words"][0]["word"].Str(), "Teh");
    }
    const ProcessResult none = cli({"spell", "clean.vlp"}, "/nonexistent");
    EXPECT_EQ(none.status, 3);
    EXPECT_THAT(none.err, HasSubstr("hunspell-en-us"));
}

}  // namespace
}  // namespace velloran
