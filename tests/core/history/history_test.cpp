#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>

#include "core/commands/Commands.h"
#include "core/commands/ConflictCopies.h"
#include "core/commands/Saving.h"
#include "core/document/Sections.h"
#include "core/history/HistoryKeeper.h"
#include "core/history/HistoryRecorder.h"
#include "core/history/HistoryStore.h"
#include "core/history/WordDiff.h"
#include "core/protection/Seal.h"
#include "core/storage/Paths.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace velloran {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteBytes;

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kNow = 1714521600 + 100 * kDay;

std::string Words(int n, std::string_view word) {
    std::string text;
    for (int i = 0; i < n; ++i) {
        text += (i ? " " : "") + std::string(word) + std::to_string(i % 10);
    }
    return text;
}

// One run of the editor on a document, keeping its history.
struct EditorRun {
    explicit EditorRun(std::int64_t* clock) {
        ResetState();
        recorder.SetClock([clock] { return *clock; });
    }
    void Open(const std::string& path) {
        session.st.FileName = path;
        OpenChosenDocument(session);
    }
    void Type(int k, const std::string& text) {
        sections.SetSlotText(k, text);
        session.st.LastSection = std::max(session.st.LastSection, k);
        session.st.Modified = true;
    }
    void Save() { ASSERT_TRUE(SaveDocument(session)); }

    HistoryRecorder recorder;
    PlainSlots sections;
    PlainList list;
    DocumentBuffer buffer;
    CallbackDialogs dialogs;
    Session session{state(), sections, list, buffer, dialogs, nullptr, &recorder};
};

class History : public ::testing::Test {
  protected:
    History() {
        SealingParams() = kQuickestSealParams;
        dialogs.onKeyPrompt = [this] { return PromptResult{ModalResult::OK, key}; };
    }
    ~History() override { SealingParams() = kSealParams; }

    std::unique_ptr<EditorRun> Start() {
        auto run = std::make_unique<EditorRun>(&now);
        run->dialogs.onKeyPrompt = dialogs.onKeyPrompt;
        return run;
    }
    std::string Root() const { return state_.path() + "/velloran/history"; }
    // Every file of every store, by path.
    std::vector<fs::path> Files() const {
        std::vector<fs::path> files;
        for (const auto& e : fs::recursive_directory_iterator(Root())) {
            if (e.is_regular_file()) {
                files.push_back(e.path());
            }
        }
        return files;
    }
    std::size_t Objects() const {
        std::size_t n = 0;
        for (const fs::path& f : Files()) {
            n += f.filename().string().starts_with("o-") ? 1 : 0;
        }
        return n;
    }
    std::unique_ptr<HistoryStore> Read(const std::string& path) {
        return HistoryStore::OpenToRead(AbsolutePath(path),
                                        [this](HistoryProtection, bool) { return key; });
    }

    TempDir state_;
    ScopedEnv stateHome_{"XDG_STATE_HOME", state_.path()};
    TempDir docs_;
    ScopedEnv dataHome_{"XDG_DATA_HOME", docs_ / "data"};
    std::string doc = docs_ / "Book.vlp";
    std::int64_t now = kNow;
    std::string key = "a typed key";
    CallbackDialogs dialogs;
};

TEST_F(History, SavesKeepEachDistinctSectionTextOnceAndGiveBackTheirBytes) {
    const std::string first = "Notes\r\n[S] One\r\nalpha beta\r\n[S] Two\r\ngamma\r\n";
    WriteBytes(doc, first);
    auto run = Start();
    run->Open(doc);
    now += 60;
    run->Type(1, "[S] One\r\nalpha beta delta\r\n");
    run->Save();
    now += 60;
    run->Save();  // nothing changed: no version
    now += 60;
    run->Type(1, "[S] One\r\nalpha beta\r\n");  // back to the first text: no new object
    run->Save();

    const auto store = Read(doc);
    ASSERT_TRUE(store);
    const auto& v = store->Versions();
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0].event, VersionEvent::Opened);
    EXPECT_EQ(v[1].event, VersionEvent::Saved);
    EXPECT_EQ(v[1].changed, std::vector<int>{1});
    EXPECT_EQ(v[2].sections[1].hash, v[0].sections[1].hash);
    EXPECT_EQ(Objects(), 4u);
    EXPECT_EQ(store->DocumentText(v[0]), first);
    EXPECT_EQ(store->DocumentText(v[2]), first);
    EXPECT_EQ(store->SectionText(v[1], 1), "[S] One\r\nalpha beta delta\r\n");
    EXPECT_EQ(v[1].Words(), 1u + 2 + 3 + 2 + 1);

    // Private, as everything kept in the state folder.
    struct stat st;
    ASSERT_EQ(::stat(store->Folder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    for (const fs::path& f : Files()) {
        ASSERT_EQ(::stat(f.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    }

    // Opened again unchanged, the history has it already.
    auto again = Start();
    again->Open(doc);
    EXPECT_EQ(Read(doc)->Versions().size(), 3u);
    EXPECT_EQ(again->recorder.Note(), "");
}

TEST_F(History, ADamagedObjectIsReportedNotGivenBack) {
    WriteBytes(doc, "Notes\r\n");
    auto run = Start();
    run->Open(doc);
    for (const fs::path& f : Files()) {
        if (f.filename().string().starts_with("o-")) {
            std::string bytes = ReadBytes(f);
            bytes[bytes.size() / 2] ^= 1;
            WriteBytes(f, bytes);
        }
    }
    const auto store = Read(doc);
    EXPECT_THROW(store->DocumentText(store->Versions().at(0)), Error);
}

struct TornRow {
    const char* name;
    std::function<void(std::string&)> tear;
    friend void PrintTo(const TornRow& r, std::ostream* os) { *os << r.name; }
};

class TornIndex : public History, public ::testing::WithParamInterface<TornRow> {};

TEST_P(TornIndex, LosesTheLastVersionAtMostAndTakesTheNext) {
    WriteBytes(doc, "Notes\r\n[S] One\r\nalpha\r\n");
    {
        auto run = Start();
        run->Open(doc);
        now += 60;
        run->Type(1, "[S] One\r\nalpha beta\r\n");
        run->Save();
    }
    const std::string index = Read(doc)->Folder() + "/index";
    std::string bytes = ReadBytes(index);
    GetParam().tear(bytes);
    WriteBytes(index, bytes);
    ::chmod(index.c_str(), 0600);
    const std::size_t whole = Read(doc)->Versions().size();
    EXPECT_GE(whole, 1u);

    auto run = Start();
    run->Open(doc);
    now += 60;
    run->Type(1, "[S] One\r\nalpha beta gamma\r\n");
    run->Save();
    EXPECT_EQ(run->recorder.Note(), "");
    const auto store = Read(doc);
    ASSERT_EQ(store->Versions().size(), 3u);
    EXPECT_EQ(store->SectionText(store->Versions().back(), 1), "[S] One\r\nalpha beta gamma\r\n");
    EXPECT_GT(store->Versions().back().number, store->Versions()[1].number);
}

INSTANTIATE_TEST_SUITE_P(
    History, TornIndex,
    ::testing::Values(
        TornRow{"LastByteCut", [](std::string& b) { b.pop_back(); }},
        TornRow{"HalfOfTheLastEntry", [](std::string& b) { b.resize(b.size() - 40); }},
        TornRow{"GarbageAfterTheLast", [](std::string& b) { b += "VHX\x1a\x09zz"; }},
        TornRow{"ByteFlippedInTheLast", [](std::string& b) { b[b.size() - 30] ^= 0x40; }}),
    [](const auto& info) { return info.param.name; });

// ---- thinning

Version Made(std::uint64_t number, std::int64_t age, std::uint64_t stored = 1,
             std::string kept = {}) {
    Version v;
    v.number = number;
    v.time = kNow - age;
    VersionSection s;
    s.hash[0] = static_cast<unsigned char>(number);
    s.hash[1] = static_cast<unsigned char>(number >> 8);
    s.stored = stored;
    v.sections.push_back(s);
    v.kept = std::move(kept);
    return v;
}

struct ThinRow {
    const char* name;
    std::vector<Version> versions;  // oldest first
    ThinningRules rules;
    std::vector<std::uint64_t> dropped;
    friend void PrintTo(const ThinRow& r, std::ostream* os) { *os << r.name; }
};

class Thinning : public ::testing::TestWithParam<ThinRow> {
  protected:
    // Days are the local calendar's.
    Thinning() { ::tzset(); }
    ~Thinning() override { ::tzset(); }
    ScopedEnv utc_{"TZ", "UTC"};
};

TEST_P(Thinning, DropsWhatTheRulesDrop) {
    EXPECT_EQ(VersionsToThin(GetParam().versions, kNow, GetParam().rules), GetParam().dropped);
}

ThinningRules NoNewest(std::uint64_t budget = std::uint64_t{1} << 40) {
    ThinningRules r;
    r.newest = 0;
    r.budget = budget;
    return r;
}

std::vector<Version> Saves(int n, std::int64_t every, std::uint64_t stored = 1) {
    std::vector<Version> v;
    for (int i = 0; i < n; ++i) {
        v.push_back(Made(static_cast<std::uint64_t>(i + 1), (n - 1 - i) * every, stored));
    }
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    History, Thinning,
    ::testing::Values(
        ThinRow{"AllOfTheLastTwoDays", Saves(40, 60), NoNewest(), {}},
        ThinRow{"OneAnHourAfterTwoDays",
                {Made(1, 3 * kDay + 1800), Made(2, 3 * kDay + 1200), Made(3, 3 * kDay + 600),
                 Made(4, 3 * kDay - 1800), Made(5, 60)},
                NoNewest(),
                {1, 2}},
        ThinRow{"OneADayAfterTwoWeeks",
                {Made(1, 20 * kDay - 3600), Made(2, 20 * kDay - 7200), Made(3, 20 * kDay - 10800),
                 Made(4, 60)},
                NoNewest(),
                {1, 2}},
        ThinRow{
            "KeptNeverThinned",
            {Made(1, 20 * kDay + 7200, 1, "Sent to the editor"), Made(2, 20 * kDay), Made(3, 60)},
            NoNewest(),
            {}},
        ThinRow{"NewestTwentySpared",
                Saves(25, 3 * kDay),
                ThinningRules{48 * 3600, 14 * 86400, 20, std::uint64_t{1} << 40},
                {}},
        ThinRow{"BudgetDropsOldestFirst", Saves(10, 60, 100), NoNewest(650), {1, 2, 3, 4}},
        ThinRow{"BudgetSparesTheNewestTwenty",
                Saves(25, 60, 100),
                ThinningRules{48 * 3600, 14 * 86400, 20, 100},
                {1, 2, 3, 4, 5}},
        ThinRow{"BudgetSparesKept",
                {Made(1, 600, 100, "Draft one"), Made(2, 500, 100), Made(3, 400, 100),
                 Made(4, 300, 100)},
                NoNewest(250),
                {2, 3}}),
    [](const auto& info) { return info.param.name; });

TEST_F(History, ThinningRemovesObjectsNoVersionNeeds) {
    WriteBytes(doc, "Notes\r\n[S] One\r\nalpha\r\n");
    auto run = Start();
    run->Open(doc);
    for (int i = 0; i < 30; ++i) {
        now += 3 * kDay;  // each save its own day: the budget alone thins
        run->Type(1, "[S] One\r\n" + Words(i + 1, "w") + "\r\n");
        run->Save();
    }
    auto store = Read(doc);
    EXPECT_EQ(store->Versions().size(), 31u);
    store.reset();
    auto writable = HistoryStore::Open(AbsolutePath(doc), SideKey{}, false);
    ASSERT_TRUE(writable);
    writable->Keep(writable->Versions()[3].number, "Sent to the editor");
    ThinningRules rules;
    rules.budget = 0;
    EXPECT_EQ(writable->Thin(now, rules), 31u - 20 - 1);
    store = Read(doc);
    ASSERT_EQ(store->Versions().size(), 21u);
    EXPECT_EQ(store->Versions()[0].kept, "Sent to the editor");
    // Section 0, the same in all, and one object for each version's section 1.
    EXPECT_EQ(Objects(), 1u + 21);
    for (const Version& v : store->Versions()) {
        EXPECT_NO_THROW(store->DocumentText(v));
    }
}

// ---- sealed and enciphered documents

struct SealedRow {
    const char* name;
    const char* fileName;
    std::function<void(State&)> keyed;
    friend void PrintTo(const SealedRow& r, std::ostream* os) { *os << r.name; }
};

class SealedHistory : public History, public ::testing::WithParamInterface<SealedRow> {};

TEST_P(SealedHistory, HoldsNoWordOfTextOrTitleAndReadsBackWithTheKey) {
    const std::string title = "[S] The heron waits at dawn";
    const std::string text = title + "\r\n" + Words(300, "heron") + " willow\r\n";
    doc = docs_ / GetParam().fileName;
    {
        auto run = Start();
        run->session.st.FileName = doc;
        GetParam().keyed(run->session.st);
        run->Type(0, "Prologue of the willow\r\n");
        run->Type(1, text);
        run->Save();
        now += 60;
        run->Type(1, text + "More about the heron\r\n");
        run->Save();
        EXPECT_EQ(run->recorder.Note(), "");
    }
    ASSERT_FALSE(Files().empty());
    for (const fs::path& f : Files()) {
        const std::string bytes = ReadBytes(f);
        for (const char* word : {"heron", "Prologue", "willow", "dawn", "waits"}) {
            EXPECT_EQ(bytes.find(word), std::string::npos) << word << " in " << f;
        }
    }
    // The next run, with the key, goes on with the same history.
    now += 60;
    auto run = Start();
    run->Open(doc);
    EXPECT_EQ(run->recorder.Note(), "");
    const auto store = Read(doc);
    ASSERT_TRUE(store);
    EXPECT_NE(store->Protection(), HistoryProtection::None);
    ASSERT_EQ(store->Versions().size(), 2u);
    EXPECT_EQ(store->SectionText(store->Versions()[0], 1), text);
}

INSTANTIATE_TEST_SUITE_P(History, SealedHistory,
                         ::testing::Values(SealedRow{"Sealed", "Diary.vls", [](State&) {}},
                                           SealedRow{
                                               "Enciphered", "Diary.vle",
                                               [](State& st) { st.CipherKey = "a typed key"; }}),
                         [](const auto& info) { return info.param.name; });

TEST_F(History, ANewKeyTakesTheVersionsAlongUnderIt) {
    doc = docs_ / "Diary.vle";
    auto run = Start();
    run->session.st.FileName = doc;
    run->session.st.CipherKey = key;
    run->Type(0, "Prologue of the willow\r\n");
    run->Save();
    now += 60;
    key = "another key";
    run->dialogs.onYesNo = [](const std::string&) { return true; };
    run->dialogs.onKeyPrompt = [this] { return PromptResult{ModalResult::OK, key}; };
    run->Type(0, "Prologue of the heron\r\n");
    SaveEncript(run->session);
    EXPECT_EQ(run->recorder.Note(), "");
    const auto store = Read(doc);
    ASSERT_TRUE(store);
    ASSERT_EQ(store->Versions().size(), 2u);
    EXPECT_EQ(store->SectionText(store->Versions()[0], 0), "Prologue of the willow\r\n");
}

// The editor's history works on a thread of its own, the first moment of a legacy enciphered
// document deriving its key there: what it was told is kept, in order, also when the run ends at
// once, and what the window reads meanwhile is what was told before.
TEST_F(History, TheEditorsKeeperKeepsEveryMomentToldInOrder) {
    doc = docs_ / "Diary.vle";
    auto run = Start();
    auto keeper = std::make_unique<HistoryKeeper>();
    run->session.history = keeper.get();
    run->session.st.FileName = doc;
    run->session.st.CipherKey = key;
    for (const char* text : {"willow\r\n", "heron\r\n"}) {
        run->Type(0, text);
        run->Save();
    }
    std::size_t seen = 0;
    keeper->UseStore(run->session, [&](HistoryStore* store, const std::string& note) {
        ASSERT_TRUE(store) << note;
        seen = store->Versions().size();
    });
    EXPECT_EQ(seen, 2u);
    run->Type(0, "kingfisher\r\n");
    run->Save();
    keeper.reset();
    const auto store = Read(doc);
    ASSERT_TRUE(store);
    ASSERT_EQ(store->Versions().size(), 3u);
    EXPECT_EQ(store->SectionText(store->Versions()[0], 0), "willow\r\n");
    EXPECT_EQ(store->SectionText(store->Versions()[2], 0), "kingfisher\r\n");
}

TEST_F(History, AConflictCopyAndItsMergeAreBothKeptAndTheirBaseFound) {
    WriteBytes(doc, "Notes\r\n[S] One\r\nalpha\r\n[S] Two\r\nbeta\r\n");
    auto run = Start();
    run->Open(doc);
    now += 60;
    run->Type(1, "[S] One\r\nalpha saved\r\n");
    run->Save();
    // Another machine changed section 2 of the first version; this one goes on with section 1.
    const std::string copy = docs_ / "Book.sync-conflict-20260101-120000-ABCDEF1.vlp";
    const std::string copyText = "Notes\r\n[S] One\r\nalpha\r\n[S] Two\r\nbeta there\r\n";
    WriteBytes(copy, copyText);
    now += 60;
    run->Type(1, "[S] One\r\nalpha saved and typed\r\n");

    // From the version opened, which both came from: each side's change kept, no conflict.
    const MergeReport report = MergeConflictCopy(run->session, copy);
    EXPECT_THAT(report.summary, ::testing::HasSubstr("the history's version 1 (opened "));
    EXPECT_THAT(report.summary, ::testing::HasSubstr("No conflicts."));
    EXPECT_EQ(run->sections.ReadSlot(1), "[S] One\r\nalpha saved and typed\r\n");
    EXPECT_EQ(run->sections.ReadSlot(2), "[S] Two\r\nbeta there\r\n");
    // Kept, it leaves the synced folder for the trash.
    EXPECT_FALSE(FileExists(copy));
    EXPECT_EQ(ReadBytes(docs_ / "data/Trash/files/Book.sync-conflict-20260101-120000-ABCDEF1.vlp"),
              copyText);
    auto store = Read(doc);
    const auto& v = store->Versions();
    ASSERT_EQ(v.size(), 4u);
    EXPECT_EQ(v[2].event, VersionEvent::ConflictCopy);
    EXPECT_EQ(store->DocumentText(v[2]), copyText);
    EXPECT_EQ(v[3].event, VersionEvent::MergedCopy);
    // The merge as the slots hold it, whatever it made of the sections both changed.
    ASSERT_EQ(v[3].sections.size(), 3u);
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_EQ(store->SectionText(v[3], k), run->sections.ReadSlot(static_cast<int>(k)));
    }
}

// ---- merge bases

SectionHash H(char c) {
    SectionHash h{};
    h[0] = static_cast<unsigned char>(c);
    return h;
}
std::vector<SectionHash> Hs(std::string_view sections) {
    std::vector<SectionHash> hashes;
    for (const char c : sections) {
        hashes.push_back(H(c));
    }
    return hashes;
}

struct BaseRow {
    const char* name;
    std::vector<std::string> versions;  // oldest first; one letter a section text
    std::string ours;
    std::string theirs;
    int base;  // index into versions, -1 for none
    friend void PrintTo(const BaseRow& r, std::ostream* os) { *os << r.name; }
};

class MergeBase : public ::testing::TestWithParam<BaseRow> {};

TEST_P(MergeBase, IsTheNewestVersionBothSidesShareMost) {
    std::vector<Version> versions;
    for (std::size_t i = 0; i < GetParam().versions.size(); ++i) {
        Version v;
        v.number = i + 1;
        for (const SectionHash& h : Hs(GetParam().versions[i])) {
            v.sections.push_back({h, 1, 1, 1});
        }
        versions.push_back(v);
    }
    const Version* base = ChooseMergeBase(versions, Hs(GetParam().ours), Hs(GetParam().theirs));
    if (GetParam().base < 0) {
        EXPECT_EQ(base, nullptr);
    } else {
        ASSERT_NE(base, nullptr);
        EXPECT_EQ(base->number, static_cast<std::uint64_t>(GetParam().base + 1));
    }
}

INSTANTIATE_TEST_SUITE_P(
    History, MergeBase,
    ::testing::Values(
        // The other machine worked from the first version; this one saved a second since.
        BaseRow{"TheirsFromAnOlderVersion", {"abc", "Abc"}, "Xbc", "abY", 0},
        BaseRow{"BothFromTheNewest", {"abc", "Abc"}, "Xbc", "AbY", 1},
        BaseRow{"TheirsIsAVersion", {"abc", "Abc", "ABc"}, "ABZ", "Abc", 1},
        BaseRow{"SectionInsertedAhead", {"abc", "abd"}, "Nabd", "abdM", 1},
        BaseRow{"NothingShared", {"abc"}, "xyz", "abc", -1},
        BaseRow{"NoHistory", {}, "abc", "abd", -1}),
    [](const auto& info) { return info.param.name; });

// ---- word differences

std::string Side(const TextDiff& d, DiffKind other) {
    std::string text;
    for (const DiffPiece& p : d.pieces) {
        if (p.kind != other) {
            text += p.text;
        }
    }
    return text;
}

struct DiffRow {
    const char* name;
    std::string before;
    std::string after;
    std::string marked;  // [-deleted-]{+inserted+}
    std::size_t added;
    std::size_t removed;
    friend void PrintTo(const DiffRow& r, std::ostream* os) { *os << r.name; }
};

std::string Marked(const TextDiff& d) {
    std::string out;
    for (const DiffPiece& p : d.pieces) {
        switch (p.kind) {
            case DiffKind::Same:
                out += p.text;
                break;
            case DiffKind::Deleted:
                out += "[-" + std::string(p.text) + "-]";
                break;
            case DiffKind::Inserted:
                out += "{+" + std::string(p.text) + "+}";
                break;
        }
    }
    return out;
}

class WordDiff : public ::testing::TestWithParam<DiffRow> {};

TEST_P(WordDiff, MarksTheWordsChanged) {
    const TextDiff d = DiffWords(GetParam().before, GetParam().after);
    EXPECT_EQ(Marked(d), GetParam().marked);
    EXPECT_EQ(Side(d, DiffKind::Inserted), GetParam().before);
    EXPECT_EQ(Side(d, DiffKind::Deleted), GetParam().after);
    EXPECT_EQ(d.wordsAdded, GetParam().added);
    EXPECT_EQ(d.wordsRemoved, GetParam().removed);
    EXPECT_FALSE(d.byLines);
}

INSTANTIATE_TEST_SUITE_P(
    History, WordDiff,
    ::testing::Values(DiffRow{"AtTheStart", "The cat sat on the mat.\r\nNext line\r\n",
                              "A cat sat on the mat.\r\nNext line\r\n",
                              "[-The-]{+A+} cat sat on the mat.\r\nNext line\r\n", 1, 1},
                      DiffRow{"InTheMiddle", "First\r\nThe cat sat on the mat.\r\nLast\r\n",
                              "First\r\nThe cat lay on the warm mat.\r\nLast\r\n",
                              "First\r\nThe cat [-sat-]{+lay+} on the{+ warm+} mat.\r\nLast\r\n", 2,
                              1},
                      DiffRow{"AtTheEnd", "First\r\nThe cat sat.\r\n",
                              "First\r\nThe cat sat down.\r\n",
                              "First\r\nThe cat [-sat.-]{+sat down.+}\r\n", 2, 1},
                      DiffRow{"WordsChangedOneAfterAnother", "the heron by the willow waits\r\n",
                              "the heron no longer waits\r\n",
                              "the heron [-by the willow-]{+no longer+} waits\r\n", 2, 3},
                      DiffRow{"LineAdded", "One\r\nTwo\r\n", "One\r\nOne and a half\r\nTwo\r\n",
                              "One\r\n{+One and a half\r\n+}Two\r\n", 4, 0},
                      DiffRow{"Same", "One two\r\n", "One two\r\n", "One two\r\n", 0, 0},
                      DiffRow{"FromNothing", "", "New words\r\n", "{+New words\r\n+}", 2, 0}),
    [](const auto& info) { return info.param.name; });

std::string RandomText(std::size_t bytes, unsigned seed) {
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < bytes) {
        const int length = 2 + static_cast<int>(random() % 8);
        for (int i = 0; i < length; ++i) {
            text.push_back(static_cast<char>('a' + random() % 26));
        }
        text += random() % 12 == 0 ? "\r\n" : " ";
    }
    return text;
}

TEST(WordDiffBounds, TwoWhollyDifferentLargeTextsFallBackToLines) {
    const std::string a = RandomText(std::size_t{2} << 20, 1);
    const std::string b = RandomText(std::size_t{2} << 20, 2);
    const TextDiff d = DiffWords(a, b);
    EXPECT_TRUE(d.byLines);
    EXPECT_EQ(Side(d, DiffKind::Inserted), a);
    EXPECT_EQ(Side(d, DiffKind::Deleted), b);
}

TEST(WordDiffBounds, ScatteredEditsInALargeTextAreFoundWordByWord) {
    std::string a = RandomText(std::size_t{1} << 20, 3);
    std::string b = a;
    for (std::size_t at = 1000; at < b.size(); at += 20000) {
        const std::size_t space = b.find(' ', at);
        b.insert(space, " inserted");
    }
    const TextDiff d = DiffWords(a, b);
    EXPECT_FALSE(d.byLines);
    EXPECT_EQ(Side(d, DiffKind::Inserted), a);
    EXPECT_EQ(Side(d, DiffKind::Deleted), b);
    EXPECT_EQ(d.wordsRemoved, 0u);
    EXPECT_EQ(d.wordsAdded, (b.size() - a.size()) / 9);
}

}  // namespace
}  // namespace velloran
