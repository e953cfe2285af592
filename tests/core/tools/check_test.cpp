#include "core/tools/Check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "core/document/Sections.h"
#include "core/protection/Cipher.h"
#include "support/Documents.h"

namespace velloran {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// The bytes the editor writes when it opens the file (deciphering it with the key, if given)
// and saves it again at once.
std::string OpenedAndSaved(const std::string& bytes, const std::string* key) {
    ResetState();
    PlainSession p;
    p.buffer.AssignText(bytes);
    if (key) {
        state().CipherKey = *key;
        DecipherBuffer(p.session);
    }
    SplitSections(p.session);
    const DocumentBuffer lines = JoinedSections(p.session);
    std::string saved;
    KeyIndex index;
    for (std::size_t i = 0; i < lines.LineCount(); ++i) {
        std::string line(lines.Line(i));
        if (key) {
            EncipherLine(line, *key, index);
        }
        saved += line + "\r\n";
    }
    return saved;
}

TEST(CheckDocument, SaysExactlyWhenASaveChangesTheBytes) {
    std::mt19937 rng(5);
    std::vector<std::string> docs;
    for (const auto& doc : testing::SampleDocuments()) {
        docs.push_back(doc.bytes);
    }
    for (int round = 0; round < 200; ++round) {
        docs.push_back(testing::RandomDocument(rng));
    }
    const std::string key = "K\xe9y~";
    for (const std::string& plain : docs) {
        EXPECT_EQ(CheckDocument(plain, false, nullptr).SaveChangesBytes(),
                  OpenedAndSaved(plain, nullptr) != plain)
            << plain;
        // Enciphered, then checked with its key and with a wrong one, whose deciphered bytes
        // may hold line breaks.
        const std::string enciphered = testing::EncipherInPlace(plain, key);
        for (const std::string& tried : {key, std::string("\x01\xf6")}) {
            EXPECT_EQ(CheckDocument(enciphered, true, &tried).SaveChangesBytes(),
                      OpenedAndSaved(enciphered, &tried) != enciphered)
                << plain;
        }
    }
}

TEST(CheckDocument, CountsLineEndsByForm) {
    const DocumentCheck c = CheckDocument("a\r\nb\nc\rd\r\ne\n\rf", false, nullptr);
    EXPECT_EQ(c.lines, 7u);
    EXPECT_EQ(c.crLfEnds, 2u);
    EXPECT_EQ(c.lfEnds, 2u);
    EXPECT_EQ(c.crEnds, 2u);
    EXPECT_EQ(c.firstLfLine, 2u);
    EXPECT_EQ(c.firstCrLine, 3u);
    EXPECT_TRUE(c.missingFinalBreak);
    EXPECT_TRUE(c.SaveChangesBytes());

    const DocumentCheck clean = CheckDocument("a\r\n\r\nb\r\n", false, nullptr);
    EXPECT_EQ(clean.lines, 3u);
    EXPECT_EQ(clean.firstLfLine + clean.firstCrLine, 0u);
    EXPECT_FALSE(clean.missingFinalBreak);
    EXPECT_FALSE(clean.SaveChangesBytes());
}

TEST(CheckDocument, EmptyFileIsSavedAsOneEmptyLine) {
    const DocumentCheck c = CheckDocument("", false, nullptr);
    EXPECT_TRUE(c.empty);
    EXPECT_FALSE(c.missingFinalBreak);
    EXPECT_TRUE(c.SaveChangesBytes());
}

TEST(CheckDocument, FindsMarkersAfterTheFiftiethAndNulBytes) {
    const DocumentCheck c =
        CheckDocument(testing::MarkerLines(52) + std::string("x\0y\0\r\n", 6), false, nullptr);
    EXPECT_EQ(c.markers, 52u);
    EXPECT_THAT(c.markersAfterFiftieth, ElementsAre(101u, 103u));
    EXPECT_EQ(c.nulBytes, 2u);
    EXPECT_EQ(c.firstNulLine, 105u);
    EXPECT_FALSE(c.SaveChangesBytes());  // neither changes a byte
}

TEST(CheckDocument, EncipheredTextIsCheckedOnlyWithTheKey) {
    const std::string key = "k";
    const std::string enciphered = testing::EncipherInPlace(testing::MarkerLines(51), key);
    const DocumentCheck without = CheckDocument(enciphered, true, nullptr);
    EXPECT_FALSE(without.textChecked);
    EXPECT_FALSE(without.cipherChecked);
    EXPECT_EQ(without.markers, 0u);

    const DocumentCheck with = CheckDocument(enciphered, true, &key);
    EXPECT_TRUE(with.cipherChecked);
    EXPECT_EQ(with.markers, 51u);
    EXPECT_THAT(with.linesDecipheringToBreaks, IsEmpty());
    EXPECT_FALSE(with.SaveChangesBytes());
}

TEST(CheckDocument, LinesThatDecipherToALineBreakAreNamed) {
    // 0x0B less the key byte 1 is LF: the editor would cut the second line in two.
    const std::string key = "\x01";
    const DocumentCheck c = CheckDocument("bc\r\nx\x0By\r\nz\r\n", true, &key);
    EXPECT_THAT(c.linesDecipheringToBreaks, ElementsAre(2u));
    EXPECT_TRUE(c.SaveChangesBytes());
}

}  // namespace
}  // namespace velloran
