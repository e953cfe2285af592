#include "core/document/SectionStore.h"

#include <gtest/gtest.h>

#include <string>

#include "core/commands/Saving.h"
#include "core/document/Sections.h"
#include "core/protection/Cipher.h"
#include "core/tools/Search.h"
#include "core/tools/Statistics.h"
#include "support/TempDir.h"

namespace velloran {
namespace {

using testing::ReadBytes;
using testing::TempDir;

// The same document split into the compact store and into plain slots that hold copies: every
// reader of the sections must see the same texts from both.
struct BothSlots {
    explicit BothSlots(const std::string& text) {
        ResetState();
        Split(text);
    }
    void Split(const std::string& text) {
        buffer.AssignText(text);
        Session stored{state(), store, list, buffer, dialogs};
        SplitSections(stored);
        DocumentBuffer copy;
        copy.AssignText(text);
        Session plain{state(), copies, list, copy, dialogs};
        SplitSections(plain);
    }
    std::string Joined(SectionSlots& slots) {
        Session session{state(), slots, list, buffer, dialogs};
        DocumentBuffer joined = JoinedSections(session);
        std::string out;
        joined.ForEachCrLfPiece(0, joined.LineCount(),
                                [&](std::string_view piece) { out.append(piece); });
        return out;
    }
    SectionStore store;
    PlainSlots copies;
    PlainList list;
    DocumentBuffer buffer;
    CallbackDialogs dialogs;
};

struct Document {
    const char* name;
    std::string text;
};

class StoreReadsLikeCopies : public ::testing::TestWithParam<Document> {};

TEST_P(StoreReadsLikeCopies, EveryReaderSeesTheSameSections) {
    BothSlots both(GetParam().text);
    for (int k = 0; k < kSectionCount; ++k) {
        EXPECT_EQ(both.store.SlotText(k), both.copies.SlotText(k)) << "slot " << k;
    }
    EXPECT_EQ(both.Joined(both.store), both.Joined(both.copies));
    const Encoding encoding = state().DocumentEncoding;
    EXPECT_EQ(SearchAllRows(both.store, both.list, "e", encoding),
              SearchAllRows(both.copies, both.list, "e", encoding));
    EXPECT_EQ(BuildStatistics(both.store, state().LastSection, encoding),
              BuildStatistics(both.copies, state().LastSection, encoding));
}

INSTANTIATE_TEST_SUITE_P(
    Documents, StoreReadsLikeCopies,
    ::testing::Values(Document{"CrLfThroughout", "Intro\r\n[S] One\r\ntext\r\n[S] Two\r\nmore\r\n"},
                      Document{"LoneBreaksAndNoFinalBreak",
                               "Intro\n[S] One\rtext\r\n[S] Two\nmore"},
                      Document{"MarkerFirst", "[S] Only\r\nline\r\n"}, Document{"Empty", ""},
                      Document{"NulBytes", std::string("a\0b\r\n[S] x\0yz\r\n", 15)}),
    [](const auto& info) { return std::string(info.param.name); });

// The buffer is overwritten by saves and changed in place by Decript; the sections the store
// still holds must not change with it.
TEST(SectionStore, KeepsItsSectionsWhenTheBufferChanges) {
    BothSlots both("plain words\r\n[S] Chapter\r\nmore words\r\n");
    const std::string before = both.store.SlotText(1);
    Session s{state(), both.store, both.list, both.buffer, both.dialogs};
    state().CipherKey = "key";
    DecipherBuffer(s);
    EXPECT_NE(both.buffer.Line(1), "[S] Chapter");
    EXPECT_EQ(both.store.SlotText(1), before);

    TempDir dir;
    state().FileName = dir / "doc.vle";
    state().Enciphered = true;
    both.dialogs.onKeyPrompt = [] { return PromptResult{ModalResult::OK, "key"}; };
    ASSERT_TRUE(SaveDocument(s));
    EXPECT_NE(both.buffer.Line(0), "plain words");  // the buffer holds the lines as written
    EXPECT_EQ(both.store.SlotText(0), "plain words\r\n");
    EXPECT_EQ(both.store.SlotText(1), before);
}

// After a split into fewer sections the higher slots keep their text, but no longer hold on to
// the earlier document's block.
TEST(SectionStore, FewerSectionsKeepTheHigherSlotsInBlocksOfTheirOwn) {
    BothSlots both("a\r\n[S] One\r\n[S] Two\r\n[S] Three\r\n");
    std::weak_ptr<const std::string> first = both.buffer.Bytes();
    both.Split("b\r\n[S] Uno\r\n");
    EXPECT_EQ(state().LastSection, 1);
    EXPECT_EQ(both.store.SlotText(1), "[S] Uno\r\n");
    EXPECT_EQ(both.store.SlotText(3), "[S] Three\r\n");
    EXPECT_EQ(both.store.SlotText(3), both.copies.SlotText(3));
    EXPECT_TRUE(first.expired());
}

TEST(DocumentBuffer, ChangesToASharedBlockStayInTheBuffer) {
    DocumentBuffer buffer;
    buffer.AssignText("abc\r\ndef\r\n");
    const SharedBytes shared = buffer.Bytes();
    buffer.MutableLine(1)[0] = 'X';
    buffer.Append("ghi");
    EXPECT_EQ(*shared, "abc\r\ndef\r\n");
    EXPECT_EQ(buffer.Line(1), "Xef");
    EXPECT_EQ(buffer.Line(2), "ghi");
}

}  // namespace
}  // namespace velloran
