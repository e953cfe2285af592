#include "core/protection/Cipher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace velloran {
namespace {

using ::testing::ElementsAre;

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) {
        s.push_back(static_cast<char>(v));
    }
    return s;
}

TEST(EncipherLine, RunningIndexWrapsAndCarriesAcrossLines) {
    const std::string key = Bytes({1, 2, 3});
    KeyIndex index;
    std::string first = Bytes({10, 10, 10, 10});
    EncipherLine(first, key, index);
    EXPECT_EQ(first, Bytes({11, 12, 13, 11}));
    std::string empty;
    EncipherLine(empty, key, index);  // an empty line uses no key byte
    std::string second = Bytes({0, 0});
    EncipherLine(second, key, index);
    EXPECT_EQ(second, Bytes({2, 3}));
}

TEST(EncipherLine, AddsModulo256) {
    KeyIndex index;
    std::string line = Bytes({250, 'a'});
    EncipherLine(line, Bytes({10, 200}), index);
    EXPECT_EQ(line, Bytes({4, ('a' + 200) % 256}));
}

TEST(EncipherLine, EmptyKeyLeavesTextUnchanged) {
    KeyIndex index;
    std::string line = "unchanged";
    EncipherLine(line, "", index);
    EXPECT_EQ(line, "unchanged");
}

TEST(EncipherLine, PrintableTextAndKeyNeverGiveLineBreaksOrNul) {
    std::string all;
    for (int c = 32; c < 127; ++c) {
        all.push_back(static_cast<char>(c));
    }
    std::string key = "~ !zZ";
    for (char k : all) {
        KeyIndex index;
        std::string line = all;
        EncipherLine(line, std::string(1, k), index);
        EXPECT_TRUE(ReadsBack(line));
        EXPECT_EQ(line.find('\0'), std::string::npos);
    }
}

class DecipherTest : public ::testing::Test {
  protected:
    void SetUp() override { ResetState(); }
    PlainSession p;
};

TEST_F(DecipherTest, DecipherUndoesEncipherWithOneIndexForTheWholeBuffer) {
    state().CipherKey = "k\x01\xff";
    const std::vector<std::string> plain{"First line", "", testing::AllLineBytes(), "end"};
    KeyIndex index;
    for (auto line : plain) {
        EncipherLine(line, state().CipherKey, index);
        p.buffer.Append(line);
    }
    DecipherBuffer(p.session);
    EXPECT_EQ(p.buffer.Lines(), plain);
    EXPECT_TRUE(state().Enciphered);
}

TEST_F(DecipherTest, AskKeyConfirmedSetsKeyAndEnciphered) {
    p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, "secret"}; };
    EXPECT_TRUE(AskKey(p.session));
    EXPECT_EQ(state().CipherKey, "secret");
    EXPECT_TRUE(state().Enciphered);
}

TEST_F(DecipherTest, CancelledPromptOfAPlainDocumentChangesNothing) {
    state().CipherKey = "old";
    p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::Cancel, "typed"}; };
    EXPECT_FALSE(AskKey(p.session));
    EXPECT_EQ(state().CipherKey, "old");
    EXPECT_FALSE(state().Enciphered);
}

TEST_F(DecipherTest, CancelledPromptOfAnEncipheredDocumentGoesOnWithTheOldKey) {
    state().Enciphered = true;
    state().CipherKey = "old";
    EXPECT_TRUE(AskKey(p.session));
    EXPECT_EQ(state().CipherKey, "old");
}

TEST_F(DecipherTest, NeedsCipherAsksOnlyForEncipheredDocumentsOrNames) {
    p.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, "k"}; };
    state().FileName = "June.vlp";
    EXPECT_FALSE(NeedsCipher(p.session));
    EXPECT_EQ(p.dialogs.keyPrompts, 0);
    state().FileName = "June.VLE";
    EXPECT_TRUE(NeedsCipher(p.session));
    state().FileName = "June.vlp";  // enciphered from now on, whatever the name
    EXPECT_TRUE(NeedsCipher(p.session));
    EXPECT_EQ(p.dialogs.keyPrompts, 2);
}

TEST(CipherNames, EncipheredName) {
    EXPECT_EQ(EncipheredName("/notes/June.vlp"), "/notes/June.vle");
    EXPECT_EQ(EncipheredName("/notes/June.txt"), "/notes/June.vle");
    EXPECT_EQ(EncipheredName("README"), "REAvle");
    EXPECT_EQ(EncipheredName("ab"), "vle");
}

TEST(CipherNames, IsEncipheredName) {
    EXPECT_TRUE(IsEncipheredName("x.VLE"));
    EXPECT_TRUE(IsEncipheredName("x.Vle"));
    EXPECT_TRUE(IsEncipheredName(".vle"));
    EXPECT_FALSE(IsEncipheredName("x.vlp"));
    EXPECT_FALSE(IsEncipheredName("xvle"));
    EXPECT_FALSE(IsEncipheredName("vle"));
}

TEST(ReadsBack, LineBreakBytesInsideALineDoNotReadBack) {
    DocumentBuffer lines;
    lines.Append("fine");
    lines.Append(Bytes({0, 200, 255}));
    EXPECT_TRUE(ReadsBack(lines));
    lines.Append(Bytes({'a', 13, 'b'}));
    EXPECT_FALSE(ReadsBack(lines));
    EXPECT_FALSE(ReadsBack(Bytes({10})));
}

}  // namespace
}  // namespace velloran
