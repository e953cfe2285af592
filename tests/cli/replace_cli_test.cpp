// velloran-cli replace run as a process, checked against the core's plan for the same document.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "core/document/Sections.h"
#include "core/document/State.h"
#include "core/protection/Cipher.h"
#include "core/protection/Seal.h"
#include "core/protection/SealedDocument.h"
#include "core/tools/Replace.h"
#include "support/Json.h"
#include "support/Process.h"
#include "support/TempDir.h"

namespace velloran {
namespace {

using ::testing::HasSubstr;
using testing::Json;
using testing::ProcessOptions;
using testing::ProcessResult;

// A novel of 40 chapters where a character called Jon has a brother Jonathan.
std::string Novel() {
    std::string doc = "Jon's family, a prologue\r\n";
    for (int k = 1; k <= 40; ++k) {
        doc += "[S] Chapter " + std::to_string(k) + "\r\n";
        doc += "Jon met Jonathan at dawn.\r\n";
        if (k % 3 == 0) {
            doc += "\"Jon!\" said Jonathan, and jon ran.\r\n";
        }
    }
    return doc;
}

// The plan and the result the core makes of bytes, as the windows would hold them.
struct Planned {
    Planned(const std::string& bytes, std::string_view pattern, FindOptions options,
            std::string_view replacement) {
        ResetState();
        p.buffer.AssignText(bytes);
        SplitSections(p.session);
        const Pattern pat(pattern, options, state().DocumentEncoding);
        const Replacement r(replacement, pat);
        plan = PlanReplacement(p.sections, p.list, state().LastSection, pat, r);
    }
    std::string Rows() const {
        std::string out;
        for (const ReplaceRow& r : plan.rows) {
            out += std::to_string(r.section) + ":" + std::to_string(r.line) + ":" +
                   std::to_string(r.column) + "\t" + r.oldText + "\t" + r.newText + "\n";
        }
        return out;
    }
    // The document saved after every checked row was replaced.
    std::string Saved() {
        ApplyReplacement(p.session, BuildReplacement(p.sections, plan));
        std::string out;
        const DocumentBuffer lines = JoinedSections(p.session);
        lines.ForEachCrLfPiece(0, lines.LineCount(), [&](std::string_view piece) { out += piece; });
        return out;
    }
    PlainSession p;
    ReplacePlan plan;
};

class ReplaceCliTest : public ::testing::Test {
  protected:
    ProcessResult Cli(std::vector<std::string> args, const std::string& key = {}) {
        ProcessOptions options;
        options.folder = dir.path();
        options.locale = "C.UTF-8";
        if (!key.empty()) {
            args.insert(args.begin() + 1, {"--key-fd", "3"});
            options.descriptor3 = key + "\n";
        }
        return testing::RunProcess(VELLORAN_CLI, args, options);
    }
    void Put(const std::string& name, const std::string& bytes) {
        testing::WriteBytes(dir / name, bytes);
    }
    std::string Read(const std::string& name) { return testing::ReadBytes(dir / name); }

    testing::TempDir dir;
};

TEST_F(ReplaceCliTest, DryRunShowsThePreviewsRowsAndReplacingChangesEveryWholeWord) {
    const std::string novel = Novel();
    Put("novel.vlp", novel);
    ASSERT_EQ(::chmod((dir / "novel.vlp").c_str(), 0640), 0);
    Planned core(novel, "Jon", {.wholeWords = true}, "Jonah");
    ASSERT_EQ(core.plan.rows.size(), 1u + 40u + 26u);

    const ProcessResult dry = Cli({"replace", "--word", "--dry-run", "novel.vlp", "Jon", "Jonah"});
    EXPECT_EQ(dry.status, 0) << dry.err;
    EXPECT_THAT(dry.out, ::testing::StartsWith(core.Rows() + "\n1    Jon's family, a prologue\n"));
    EXPECT_THAT(dry.out, HasSubstr("\n3    [S] Chapter 3\n"));
    EXPECT_THAT(dry.out, ::testing::EndsWith("\n67 matches in 41 sections, 0 replaced\n"));
    EXPECT_EQ(Read("novel.vlp"), novel);

    const ProcessResult run = Cli({"replace", "--word", "novel.vlp", "Jon", "Jonah"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "67 matches in 41 sections, 67 replaced\n");
    const std::string saved = Read("novel.vlp");
    EXPECT_EQ(saved, core.Saved());
    EXPECT_THAT(saved, HasSubstr("Jonah met Jonathan at dawn.\r\n\"Jonah!\" said Jonathan, and "
                                 "Jonah ran.\r\n"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "novel.vlp").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.EntryCount(), 1u);  // replaced whole, nothing left beside it
}

TEST_F(ReplaceCliTest, JsonCarriesEveryRowAndTheCountsOfEachSection) {
    Put("doc.vlp", "The Caf\xe9 one\r\n[S] Chapter\r\n(S) new section\r\ncaf\xe9s\r\n");
    const ProcessResult r = Cli(
        {"replace", "--json", "--regex", "--utf8", "doc.vlp", "(?i)caf\xc3\xa9|\\(S\\)", "[S]"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = Json::Parse(r.out);
    ASSERT_TRUE(json) << r.out;
    const Json& d = (*json)["documents"][0];
    EXPECT_EQ(d["file"].Str(), "doc.vlp");
    EXPECT_EQ(d["matches"].Uint(), 3u);
    EXPECT_EQ(d["replaced"].Uint(), 2u);
    ASSERT_EQ(d["sections"].Size(), 2u);
    EXPECT_EQ(d["sections"][1]["title"].Str(), "[S] Chapter");
    EXPECT_EQ(d["sections"][1]["count"].Uint(), 2u);
    const Json& marker = d["rows"][1];
    EXPECT_EQ(marker["old"].Str(), "(S)");
    EXPECT_EQ(marker["after"].Str(), " new section");
    EXPECT_TRUE(marker["changesSections"].Bool());
    EXPECT_FALSE(marker["replaced"].Bool());
    // The Windows-1252 document's "é" matched the pattern's, and stays its own byte.
    EXPECT_EQ(d["rows"][0]["old"].Str(), "Caf\xc3\xa9");
    EXPECT_EQ(Read("doc.vlp"), "The [S] one\r\n[S] Chapter\r\n(S) new section\r\n[S]s\r\n");
    EXPECT_THAT(r.err, HasSubstr("doc.vlp: 1 match left as it is: replacing it would make or "
                                 "unmake a section marker line"));
}

TEST_F(ReplaceCliTest, SealedAndEncipheredDocumentsAreSavedWithTheirKeys) {
    const std::string plain = "Dear diary\r\n[S] Monday\r\nrain, rain\r\n";
    const auto key = SealKey::Derive("pass phrase", kQuickestSealParams);
    WriteSealedFile(dir / "diary.vls", *key, [&](SealWriter& w) { w.Write(plain); });
    const ProcessResult sealed = Cli({"replace", "diary.vls", "rain", "sun"}, "pass phrase");
    ASSERT_EQ(sealed.status, 0) << sealed.err;
    EXPECT_EQ(Cli({"unseal", "diary.vls"}, "pass phrase").out,
              "Dear diary\r\n[S] Monday\r\nsun, sun\r\n");
    const ProcessResult wrong = Cli({"replace", "diary.vls", "sun", "x"}, "pass word");
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(wrong.err, "velloran-cli: Wrong key for diary.vls\n");

    Put("plain.vlp", "old text\r\n[S] and more old\r\n");
    ASSERT_EQ(Cli({"encipher", "plain.vlp", "-o", "book.vle"}, "k3y").status, 0);
    EXPECT_EQ(Cli({"replace", "book.vle", "old", "new"}).status, 2);
    const ProcessResult enciphered = Cli({"replace", "book.vle", "old", "new"}, "k3y");
    ASSERT_EQ(enciphered.status, 0) << enciphered.err;
    EXPECT_EQ(Cli({"decipher", "book.vle"}, "k3y").out, "new text\r\n[S] and more new\r\n");
}

TEST_F(ReplaceCliTest, SeveralFilesEachOnTheirOwnAndOutputElsewhere) {
    Put("one.vlp", "a cat\r\n");
    Put("two.vlp", "no match\r\n");
    Put("three.vlp", "cat cat\r\n");
    const ProcessResult r = Cli({"replace", "one.vlp", "two.vlp", "three.vlp", "cat", "dog"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "==> one.vlp <==\n1 match in 1 section, 1 replaced\n"
              "==> two.vlp <==\n0 matches in 0 sections, 0 replaced\n"
              "==> three.vlp <==\n2 matches in 1 section, 2 replaced\n");
    EXPECT_EQ(Read("one.vlp"), "a dog\r\n");
    EXPECT_EQ(Read("two.vlp"), "no match\r\n");
    EXPECT_EQ(Read("three.vlp"), "dog dog\r\n");

    EXPECT_EQ(Cli({"replace", "-o", "x.vlp", "one.vlp", "two.vlp", "dog", "cat"}).status, 2);
    ASSERT_EQ(Cli({"replace", "-o", "out.vlp", "one.vlp", "dog", "cat"}).status, 0);
    EXPECT_EQ(Read("out.vlp"), "a cat\r\n");
    EXPECT_EQ(Read("one.vlp"), "a dog\r\n");
}

TEST_F(ReplaceCliTest, BadPatternsAreExplainedAndChangeNothing) {
    const std::string doc = std::string(20000, 'a') + "!\r\n";
    Put("doc.vlp", doc);
    struct Bad {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Bad bad[] = {
        {{"--regex", "doc.vlp", "(", "x"}, 2, "The pattern cannot be used: missing closing"},
        {{"--regex", "doc.vlp", "(a)", "$2"}, 2, "names group 2, which the pattern does not"},
        {{"--regex", "doc.vlp", "(a+)+$", "x"}, 3, "The pattern is too complex"},
        {{"doc.vlp", "a"}, 2, "missing arguments: velloran-cli replace FILE... PATTERN"},
        {{"--case", "--word", "--days", "3", "doc.vlp", "a", "b"}, 2, "--days does not apply"},
        {{"missing.vlp", "a", "b"}, 3, "Cannot open file missing.vlp"},
    };
    for (const Bad& b : bad) {
        std::vector<std::string> args{"replace"};
        args.insert(args.end(), b.args.begin(), b.args.end());
        SCOPED_TRACE(b.message);
        const ProcessResult r = Cli(args);
        EXPECT_EQ(r.status, b.status);
        EXPECT_THAT(r.err, HasSubstr(b.message));
        EXPECT_EQ(Read("doc.vlp"), doc);
    }
}

}  // namespace
}  // namespace velloran
