#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "core/commands/Commands.h"
#include "core/commands/Saving.h"
#include "core/document/Sections.h"
#include "core/progress/ProgressFigures.h"
#include "core/progress/ProgressLog.h"
#include "core/progress/ProgressRecorder.h"
#include "core/protection/Protection.h"
#include "core/protection/Seal.h"
#include "core/recovery/Recovery.h"
#include "core/storage/StateFolder.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace velloran {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::ReadBytes;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteBytes;

// 2024-05-01 00:00 UTC; the tests run in UTC.
constexpr std::int64_t kMay1 = 1714521600;
std::int64_t At(int day, int hour, int minute = 0) {
    return kMay1 + std::int64_t{day} * 86400 + hour * 3600 + minute * 60;
}

ProgressEntry Entry(ProgressMoment moment, std::int64_t time, std::vector<SectionWords> sections) {
    ProgressEntry e;
    e.moment = moment;
    e.time = time;
    e.sections = std::move(sections);
    return e;
}
ProgressEntry Opened(std::int64_t time, std::uint64_t words) {
    return Entry(ProgressMoment::Opened, time, {{"", words}});
}
ProgressEntry Saved(std::int64_t time, std::uint64_t words) {
    return Entry(ProgressMoment::Saved, time, {{"", words}});
}

std::vector<std::uint64_t> Chart(const ProgressFigures& f) {
    std::vector<std::uint64_t> words;
    for (const DayWords& d : f.days) {
        words.push_back(d.words);
    }
    return words;
}

std::string Words(int n, std::string_view word = "word") {
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += (i ? " " : "") + std::string(word);
    }
    return out;
}

class InUtc : public ::testing::Test {
  protected:
    InUtc() { ::tzset(); }
    ScopedEnv tz_{"TZ", "UTC"};
};

// ---- the figures

struct DayRow {
    const char* name;
    std::vector<ProgressEntry> history;
    std::int64_t now;
    int dayStart;
    std::vector<std::uint64_t> chart;  // the last three days
};

class DayBoundary : public InUtc, public ::testing::WithParamInterface<DayRow> {};

TEST_P(DayBoundary, CountsEachDayFromItsStart) {
    const DayRow& row = GetParam();
    const auto f = ComputeFigures(row.history, std::nullopt, row.now, 3, 0, row.dayStart);
    EXPECT_EQ(Chart(f), row.chart);
    EXPECT_EQ(f.wordsToday, row.chart.back());
}

INSTANTIATE_TEST_SUITE_P(
    Progress, DayBoundary,
    ::testing::Values(DayRow{"NightCountsForTheEvening",
                             {Opened(At(1, 20), 100), Saved(At(2, 2), 400), Opened(At(2, 9), 400)},
                             At(2, 10),
                             4,
                             {0, 300, 0}},
                      DayRow{
                          "DayStartsAtFour",
                          {Opened(At(1, 20), 100), Saved(At(2, 3, 59), 150), Saved(At(2, 4), 170)},
                          At(2, 12),
                          4,
                          {0, 50, 20}},
                      DayRow{"MidnightWhenChosen",
                             {Opened(At(1, 20), 100), Saved(At(2, 2), 400)},
                             At(2, 10),
                             0,
                             {0, 0, 300}},
                      DayRow{"DeletingIsEditing",
                             {Opened(At(2, 9), 500), Saved(At(2, 11), 300)},
                             At(2, 12),
                             4,
                             {0, 0, 0}},
                      // No opening that day: the run went on from the evening before, whose last
                      // entry is the text the day started with.
                      DayRow{"RunPastTheStartOfTheDay",
                             {Opened(At(1, 10), 100), Saved(At(1, 23), 200), Saved(At(2, 5), 260)},
                             At(2, 6),
                             4,
                             {0, 100, 60}},
                      // Changed by another program in between: the opening starts the day.
                      DayRow{"OpeningStartsTheDay",
                             {Opened(At(0, 10), 100), Saved(At(0, 11), 200), Opened(At(2, 9), 250),
                              Saved(At(2, 10), 300)},
                             At(2, 11),
                             4,
                             {100, 0, 50}},
                      DayRow{"DaysWithoutWritingAreNought",
                             {Opened(At(0, 10), 100), Saved(At(0, 11), 200)},
                             At(2, 11),
                             4,
                             {100, 0, 0}}),
    [](const auto& info) { return info.param.name; });

struct SectionRow {
    const char* name;
    std::vector<SectionWords> before;
    std::vector<SectionWords> now;
    std::vector<std::uint64_t> today;
};

class SectionsToday : public InUtc, public ::testing::WithParamInterface<SectionRow> {};

TEST_P(SectionsToday, CountEachSectionAgainstItsOwnStart) {
    const SectionRow& row = GetParam();
    const std::vector<ProgressEntry> history{Entry(ProgressMoment::Opened, At(2, 9), row.before)};
    const auto f = ComputeFigures(history, Entry(ProgressMoment::Recorded, At(2, 10), row.now),
                                  At(2, 10), 1, 0, 4);
    std::vector<std::uint64_t> today;
    for (const SectionToday& s : f.sections) {
        today.push_back(s.today);
    }
    EXPECT_EQ(today, row.today);
}

INSTANTIATE_TEST_SUITE_P(
    Progress, SectionsToday,
    ::testing::Values(SectionRow{"Added",
                                 {{"", 0}, {"[S] A", 10}, {"[S] B", 5}},
                                 {{"", 0}, {"[S] A", 10}, {"[S] New", 7}, {"[S] B", 5}},
                                 {0, 0, 7, 0}},
                      SectionRow{"Removed",
                                 {{"", 0}, {"[S] A", 10}, {"[S] X", 50}, {"[S] B", 5}},
                                 {{"", 0}, {"[S] A", 12}, {"[S] B", 8}},
                                 {0, 2, 3}},
                      SectionRow{"Renamed",
                                 {{"", 0}, {"[S] A", 10}, {"[S] Old", 50}},
                                 {{"", 0}, {"[S] A", 10}, {"[S] New", 60}},
                                 {0, 0, 10}},
                      SectionRow{"RenamedAndAdded",
                                 {{"[S] A", 10}, {"[S] X", 50}},
                                 {{"[S] A", 10}, {"[S] Y", 55}, {"[S] Z", 9}},
                                 {0, 5, 9}},
                      SectionRow{"TitlesRepeated",
                                 {{"[S] Ch", 10}, {"[S] Ch", 20}, {"[S] Ch", 30}},
                                 {{"[S] Ch", 10}, {"[S] Ch", 25}, {"[S] Ch", 30}},
                                 {0, 5, 0}},
                      SectionRow{"Reordered",
                                 {{"[S] A", 10}, {"[S] B", 20}},
                                 {{"[S] B", 20}, {"[S] A", 14}},
                                 {0, 4}},
                      SectionRow{"NewDocument", {}, {{"", 4}, {"[S] A", 6}}, {4, 6}}),
    [](const auto& info) { return info.param.name; });

TEST_F(InUtc, StreakCountsDaysAtTheGoalUpToTodayOrYesterday) {
    const std::vector<ProgressEntry> history{
        Opened(At(0, 9), 0),   Saved(At(0, 10), 90),   // short of the goal
        Opened(At(1, 9), 90),  Saved(At(1, 10), 240),  // 150
        Opened(At(2, 9), 240), Saved(At(2, 10), 340),  // 100
        Opened(At(3, 9), 340), Saved(At(3, 10), 460),  // 120
        Opened(At(4, 9), 460), Saved(At(4, 10), 510)};
    EXPECT_EQ(ComputeFigures(history, std::nullopt, At(4, 11), 5, 100, 4).streak, 3);
    EXPECT_EQ(ComputeFigures(history, std::nullopt, At(4, 11), 5, 50, 4).streak, 5);
    EXPECT_EQ(ComputeFigures(history, std::nullopt, At(4, 11), 5, 121, 4).streak, 0);
    EXPECT_EQ(ComputeFigures(history, std::nullopt, At(4, 11), 5, 0, 4).streak, 0);
    // A day without writing ends it.
    EXPECT_EQ(ComputeFigures(history, std::nullopt, At(6, 11), 7, 100, 4).streak, 0);
}

TEST_F(InUtc, KeepingTheFirstAndLastEntryOfADayChangesNoFigure) {
    std::vector<ProgressEntry> all;
    std::vector<ProgressEntry> kept;
    for (int i = 0; i < 60; ++i) {
        // Every two hours for five days, writing and deleting.
        const auto e =
            Entry(i % 7 == 0 ? ProgressMoment::Opened : ProgressMoment::Recorded,
                  At(0, 0) + i * 7200, {{"", static_cast<std::uint64_t>(100 + (i * 37) % 90)}});
        all.push_back(e);
        KeepEntry(kept, e, 4);
    }
    EXPECT_LE(kept.size(), 12u);
    const auto whole = ComputeFigures(all, std::nullopt, At(5, 12), 7, 10, 4);
    const auto compact = ComputeFigures(kept, std::nullopt, At(5, 12), 7, 10, 4);
    EXPECT_EQ(Chart(whole), Chart(compact));
    EXPECT_EQ(whole.streak, compact.streak);
}

TEST(ProgressLog, TitlesAreCutInWholeCharacters) {
    std::string utf8 = "[S] ";
    for (int i = 0; i < 200; ++i) {
        utf8 += "\xc3\xa9";
    }
    EXPECT_EQ(LoggedTitle(utf8, Encoding::Utf8).size(), kMostTitleBytes);
    EXPECT_TRUE(IsUtf8(LoggedTitle(utf8.substr(1), Encoding::Utf8)));
    EXPECT_EQ(LoggedTitle(utf8.substr(1), Encoding::Utf8).size(), kMostTitleBytes - 1);
    EXPECT_EQ(LoggedTitle(utf8.substr(1), Encoding::Windows1252).size(), kMostTitleBytes);
}

// ---- the log of a document at work

// Slots that tell the recorder of every change, as the document window does.
struct ObservedSlots : PlainSlots {
    void SetSlotText(int k, std::string text) override {
        auto block = std::make_shared<const std::string>(text);
        texts[static_cast<std::size_t>(k)] = std::move(text);
        observer->SlotReplaced(k, block, *block);
    }
    void SetSections(const SharedBytes& block, std::span<const std::string_view> views) override {
        for (std::size_t k = 0; k < views.size(); ++k) {
            texts[k] = views[k];
        }
        observer->SlotsReplaced(block, views);
    }
    SlotObserver* observer = nullptr;
};

// One run of the editor on a document, with its own clock.
struct EditorRun {
    explicit EditorRun(std::int64_t* clock) {
        ResetState();
        sections.observer = &recorder;
        recorder.SetClock([clock] { return *clock; });
    }
    void Open(const std::string& path) {
        session.st.FileName = path;
        OpenChosenDocument(session);
    }
    void Type(int k, const std::string& text) {
        sections.SetSlotText(k, text);
        session.st.Modified = true;
    }
    void Save() {
        ASSERT_TRUE(SaveDocument(session));
        recorder.Wait();
    }
    ProgressFigures Figures(int goal = 0) {
        recorder.Wait();
        return recorder.Figures(session, kChartDays, goal);
    }

    ProgressRecorder recorder;
    ObservedSlots sections;
    PlainList list;
    DocumentBuffer buffer;
    CallbackDialogs dialogs;
    Session session{state(), sections, list, buffer, dialogs, &recorder};
};

class DocumentLog : public InUtc {
  protected:
    DocumentLog() {
        SealingParams() = kQuickestSealParams;
        dialogs.onKeyPrompt = [this] { return PromptResult{ModalResult::OK, key}; };
    }
    ~DocumentLog() override { SealingParams() = kSealParams; }

    std::string LogFolder() const { return state_.path() + "/velloran/progress"; }
    std::vector<std::string> Logs() const {
        std::vector<std::string> names;
        if (fs::exists(LogFolder())) {
            for (const auto& e : fs::directory_iterator(LogFolder())) {
                names.push_back(e.path().filename());
            }
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::string LogOf(const std::string& path) const {
        return LogFolder() + "/" + LogName(AbsolutePath(path), 1);
    }
    std::unique_ptr<EditorRun> Start() {
        auto run = std::make_unique<EditorRun>(&now);
        run->dialogs.onKeyPrompt = dialogs.onKeyPrompt;
        return run;
    }

    TempDir state_;
    ScopedEnv stateHome_{"XDG_STATE_HOME", state_.path()};
    TempDir docs_;
    std::string doc = docs_ / "Book.vlp";
    std::int64_t now = At(1, 10);
    std::string key = "a typed key";
    CallbackDialogs dialogs;
};

TEST_F(DocumentLog, TwoDaysOfSavesShowBothDays) {
    WriteBytes(doc, "Notes\r\n[S] One\r\n" + Words(100) + "\r\n");
    {
        auto run = Start();
        run->Open(doc);
        run->Type(1, "[S] One\r\n" + Words(220) + "\r\n");
        now = At(1, 18);
        run->Save();
        now = At(2, 9);
        run->Type(2, "[S] Two\r\n" + Words(80) + "\r\n");
        run->session.st.LastSection = 2;
        run->Save();
        const auto f = run->Figures(100);
        EXPECT_EQ(f.wordsToday, 82u);
        EXPECT_EQ(f.wordsNow, 1u + 222 + 82);
        EXPECT_THAT(std::vector(f.days.end() - 2, f.days.end()),
                    ElementsAre(::testing::Field(&DayWords::words, 120u),
                                ::testing::Field(&DayWords::words, 82u)));
        EXPECT_EQ(f.streak, 1);
        EXPECT_EQ(f.sections.back().today, 82u);
    }
    // What the next run, and velloran-cli, read back from the file.
    std::string bytes = ReadBytes(LogOf(doc));
    const ParsedLog log = ParseLog(bytes, "log");
    std::vector<ProgressEntry> history;
    for (const LogFrame& frame : log.frames) {
        history.push_back(*DecodeEntry(frame, nullptr));
    }
    ASSERT_EQ(history.size(), 3u);
    EXPECT_EQ(history[0].moment, ProgressMoment::Opened);
    EXPECT_EQ(history[1].moment, ProgressMoment::Saved);
    EXPECT_EQ(history[2].identity, IdentityOf(doc));
    const auto f = ComputeFigures(history, std::nullopt, At(2, 12), kChartDays, 100, 4);
    EXPECT_EQ(f.wordsToday, 82u);
    EXPECT_EQ(f.days[kChartDays - 2].words, 120u);
    EXPECT_EQ(f.streak, 1);
    struct stat st;
    ASSERT_EQ(::stat(LogOf(doc).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat(LogFolder().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(DocumentLog, ANewDocumentCountsEverythingWrittenInIt) {
    auto run = Start();
    run->session.st.FileName = doc;
    run->Type(0, Words(42) + "\r\n");
    run->Save();
    EXPECT_EQ(run->Figures().wordsToday, 42u);
}

TEST_F(DocumentLog, EveryWayInTakesAMoment) {
    WriteBytes(doc, "one two\r\n");
    auto run = Start();
    run->Open(doc);  // opening
    run->Type(0, "one two three\r\n");
    RecoveryRecorder records;
    ASSERT_TRUE(records.Claim(*MakeStateFolder("recovery"), AbsolutePath(doc)));
    records.Record(run->session);  // a recovery record
    records.Close();
    run->Save();  // a save
    run->recorder.Wait();
    const auto history = run->recorder.Snapshot().history;
    ASSERT_EQ(history.size(), 2u);  // the first and last of the day
    EXPECT_EQ(history[0].moment, ProgressMoment::Opened);
    EXPECT_EQ(history[1].moment, ProgressMoment::Saved);
    const ParsedLog log = ParseLog(ReadBytes(LogOf(doc)), "log");
    ASSERT_EQ(log.frames.size(), 3u);
    EXPECT_EQ(log.frames[1].moment, ProgressMoment::Recorded);
    EXPECT_EQ(DecodeEntry(log.frames[1], nullptr)->Words(), 3u);
}

TEST_F(DocumentLog, ARestoredRecordIsAnOpening) {
    WriteBytes(doc, "one two\r\n");
    {
        auto run = Start();
        RecoveryRecorder records;
        SlotObservers both;
        both.Add(&records);
        both.Add(&run->recorder);
        run->sections.observer = &both;
        ASSERT_TRUE(records.Claim(*MakeStateFolder("recovery"), AbsolutePath(doc)));
        run->Open(doc);
        run->Type(0, "one two three four\r\n");
        records.Record(run->session);
        records.Wait();
        run->recorder.Wait();
    }  // killed: the record stays
    now = At(2, 9);
    auto run = Start();
    run->dialogs.onYesNo = [](const std::string&) { return true; };
    run->session.st.FileName = doc;
    RecoveryRecorder records;
    ASSERT_EQ(OfferRecovery(run->session, records), StartRecovery::Restored);
    records.Close();
    run->recorder.Wait();
    const ParsedLog log = ParseLog(ReadBytes(LogOf(doc)), "log");
    ASSERT_EQ(log.frames.size(), 3u);
    EXPECT_EQ(log.frames[2].moment, ProgressMoment::Opened);
    EXPECT_EQ(DecodeEntry(log.frames[2], nullptr)->Words(), 4u);
}

TEST_F(DocumentLog, ARecordThatChangesNoCountAddsNothing) {
    WriteBytes(doc, "one two\r\n");
    auto run = Start();
    run->Open(doc);
    run->Type(0, "one two three\r\n");
    run->recorder.Taken(run->session, ProgressMoment::Recorded);
    run->recorder.Taken(run->session, ProgressMoment::Recorded);
    run->recorder.Wait();
    EXPECT_EQ(ParseLog(ReadBytes(LogOf(doc)), "log").frames.size(), 2u);
}

TEST_F(DocumentLog, ATornLastEntryIsIgnoredAndCutOffByTheNextAppend) {
    WriteBytes(doc, "one two\r\n");
    {
        auto run = Start();
        run->Open(doc);
        run->Type(0, "one two three\r\n");
        run->Save();
    }
    const std::string whole = ReadBytes(LogOf(doc));
    const ParsedLog before = ParseLog(whole, "log");
    ASSERT_EQ(before.frames.size(), 2u);
    const std::size_t lastStart = whole.size() - before.frames.back().bytes.size();
    for (std::size_t cut = lastStart; cut < whole.size(); ++cut) {
        const ParsedLog torn = ParseLog(std::string_view(whole).substr(0, cut), "log");
        ASSERT_EQ(torn.frames.size(), 1u) << cut;
        EXPECT_EQ(torn.end, lastStart);
    }
    // Killed in the middle of an append: the next run appends after the last whole entry.
    WriteBytes(LogOf(doc), whole.substr(0, lastStart + 11));
    ::chmod(LogOf(doc).c_str(), 0600);
    {
        now = At(1, 12);
        auto run = Start();
        run->Open(doc);
    }
    const ParsedLog after = ParseLog(ReadBytes(LogOf(doc)), "log");
    ASSERT_EQ(after.frames.size(), 2u);
    EXPECT_EQ(after.end, ReadBytes(LogOf(doc)).size());
    EXPECT_EQ(after.frames[1].time, At(1, 12));
}

TEST_F(DocumentLog, ADamagedEntryCostsOnlyItself) {
    WriteBytes(doc, "one\r\n");
    {
        auto run = Start();
        run->Open(doc);
        for (int i = 2; i <= 4; ++i) {
            run->Type(0, Words(i) + "\r\n");
            run->Save();
        }
    }
    std::string bytes = ReadBytes(LogOf(doc));
    const ParsedLog whole = ParseLog(bytes, "log");
    ASSERT_EQ(whole.frames.size(), 4u);
    bytes[bytes.find(whole.frames[2].bytes) + 30] ^= 0x55;
    const ParsedLog damaged = ParseLog(bytes, "log");
    ASSERT_EQ(damaged.frames.size(), 3u);
    EXPECT_EQ(damaged.frames[2].bytes, whole.frames[3].bytes);
    EXPECT_EQ(damaged.end, bytes.size());
    bytes[3] ^= 1;  // the header
    EXPECT_THROW(ParseLog(bytes, "log"), Error);
}

struct SealedRow {
    const char* name;
    const char* fileName;
    std::function<void(State&)> keyed;
};

class SealedLog : public DocumentLog, public ::testing::WithParamInterface<SealedRow> {};

TEST_P(SealedLog, HoldsNoTextAndReadsBackWithTheKey) {
    const std::string title = "[S] The heron waits at dawn";
    doc = docs_ / GetParam().fileName;
    {
        auto run = Start();
        run->session.st.FileName = doc;
        GetParam().keyed(run->session.st);
        run->Type(0, "Prologue of the willow\r\n");
        run->Type(1, title + "\r\n" + Words(1234, "heron") + "\r\n");
        run->session.st.LastSection = 1;
        run->Save();
        EXPECT_EQ(run->Figures().wordsToday, 4u + 6 + 1234);
    }
    const std::string bytes = ReadBytes(LogOf(doc));
    for (const char* text : {"heron", "Prologue", "willow"}) {
        EXPECT_EQ(bytes.find(text), std::string::npos) << text;
    }
    // The counts too are sealed, in every entry.
    const ParsedLog log = ParseLog(bytes, "log");
    EXPECT_NE(log.header.protection, LogProtection::None);
    for (const LogFrame& frame : log.frames) {
        EXPECT_TRUE(frame.payload.starts_with("\x89VLS")) << frame.time;
        EXPECT_FALSE(DecodeEntry(frame, nullptr));
    }

    // The next run opens the document with its key and goes on with the same log.
    now = At(1, 11);
    auto run = Start();
    run->Open(doc);
    const auto f = run->Figures();
    EXPECT_EQ(f.wordsToday, 4u + 6 + 1234);
    EXPECT_EQ(f.sections[1].title, title);
    EXPECT_EQ(run->recorder.Snapshot().note, "");
}

INSTANTIATE_TEST_SUITE_P(Progress, SealedLog,
                         ::testing::Values(SealedRow{"Sealed", "Diary.vls", [](State&) {}},
                                           SealedRow{
                                               "Enciphered", "Diary.vle",
                                               [](State& st) { st.CipherKey = "a typed key"; }}),
                         [](const auto& info) { return info.param.name; });

// One bad byte in the header costs the header alone: every entry whose own checksum holds is
// read, by the next run and by velloran-cli; the writer is told once; the damaged file stays
// however long it is kept.
class DamagedHeader : public DocumentLog, public ::testing::WithParamInterface<SealedRow> {};

TEST_P(DamagedHeader, KeepsEveryWholeEntryTellsOnceAndDeletesNothing) {
    doc = docs_ / GetParam().fileName;
    {
        auto run = Start();
        run->session.st.FileName = doc;
        GetParam().keyed(run->session.st);
        run->Type(0, Words(100) + "\r\n");
        run->Save();
        now = At(2, 10);
        run->Type(0, Words(150) + "\r\n");
        run->Save();
    }
    std::string bytes = ReadBytes(LogOf(doc));
    const std::size_t frames = ParseLog(bytes, "log").frames.size();
    ASSERT_EQ(frames, 3u);  // the empty start, then two saves
    bytes[14] ^= 0x20;      // in the document's path
    WriteBytes(LogOf(doc), bytes);
    ::chmod(LogOf(doc).c_str(), 0600);
    EXPECT_TRUE(ParseLog(bytes).headerDamaged);
    EXPECT_THROW(ParseLog(bytes, "log"), Error);

    int asked = 0;
    const auto logged = ReadProgressLog(AbsolutePath(doc), [&](LogProtection, bool wrong) {
        EXPECT_FALSE(wrong);
        ++asked;
        return key;
    });
    ASSERT_TRUE(logged);
    EXPECT_TRUE(logged->headerDamaged);
    EXPECT_EQ(logged->entries.size(), frames);
    EXPECT_EQ(asked, ParseLog(bytes).frames[0].payload.starts_with("\x89VLS") ? 1 : 0);
    EXPECT_EQ(ReadBytes(LogOf(doc)), bytes);  // reading changes nothing

    now = At(3, 10);
    {
        auto run = Start();
        run->Open(doc);
        const auto f = run->Figures();
        EXPECT_EQ(f.days[kChartDays - 3].words, 100u);
        EXPECT_EQ(f.days[kChartDays - 2].words, 50u);
        EXPECT_EQ(f.wordsNow, 150u);
        const std::string notice = run->recorder.TakeNotice();
        EXPECT_THAT(notice, HasSubstr("was damaged"));
        EXPECT_THAT(notice, HasSubstr(".damaged-"));
        EXPECT_EQ(run->recorder.TakeNotice(), "");
    }
    now = At(3 + 2 * kLogAsideDays, 10);
    {
        auto run = Start();
        run->Open(doc);
        EXPECT_EQ(run->Figures().days[kChartDays - 1].words, 0u);
        EXPECT_EQ(run->recorder.TakeNotice(), "");
        EXPECT_EQ(run->recorder.Snapshot().note, "");
    }
    const auto names = Logs();
    ASSERT_THAT(names, ElementsAre(LogName(AbsolutePath(doc), 1), HasSubstr(".damaged-")));
    EXPECT_EQ(ReadBytes(LogFolder() + "/" + names[1]), bytes);
    EXPECT_FALSE(ParseLog(ReadBytes(LogOf(doc))).headerDamaged);
}

INSTANTIATE_TEST_SUITE_P(Progress, DamagedHeader,
                         ::testing::Values(SealedRow{"Plain", "Diary.vlp", [](State&) {}},
                                           SealedRow{"Sealed", "Diary.vls", [](State&) {}},
                                           SealedRow{
                                               "Enciphered", "Diary.vle",
                                               [](State& st) { st.CipherKey = "a typed key"; }}),
                         [](const auto& info) { return info.param.name; });

TEST_F(DocumentLog, AHeaderDamagedWhileTheEditorRunsCostsNoEntry) {
    WriteBytes(doc, Words(10) + "\r\n");
    auto run = Start();
    run->Open(doc);
    run->Type(0, Words(40) + "\r\n");
    run->Save();
    // Replaced meanwhile by a copy whose header is damaged.
    std::string bytes = ReadBytes(LogOf(doc));
    bytes[14] ^= 0x20;
    const std::string copy = LogFolder() + "/copy";
    WriteBytes(copy, bytes);
    ::chmod(copy.c_str(), 0600);
    fs::rename(copy, LogOf(doc));
    now = At(1, 12);
    run->Type(0, Words(70) + "\r\n");
    run->Save();
    EXPECT_THAT(run->recorder.TakeNotice(), HasSubstr("was damaged"));
    EXPECT_THAT(Logs(), ElementsAre(LogName(AbsolutePath(doc), 1), HasSubstr(".damaged-")));
    const ParsedLog after = ParseLog(ReadBytes(LogOf(doc)), "log");
    ASSERT_EQ(after.frames.size(), 2u);  // the day's first and last
    EXPECT_EQ(DecodeEntry(after.frames[0], nullptr)->Words(), 10u);
    EXPECT_EQ(DecodeEntry(after.frames[1], nullptr)->Words(), 70u);
    EXPECT_EQ(run->Figures().wordsToday, 60u);
}

TEST_F(DocumentLog, ADamagedLogThatCannotBeMovedAsideIsNotWrittenOver) {
    WriteBytes(doc, Words(10) + "\r\n");
    {
        auto run = Start();
        run->Open(doc);
    }
    std::string bytes = ReadBytes(LogOf(doc));
    bytes[14] ^= 0x20;
    WriteBytes(LogOf(doc), bytes);
    now = At(2, 10);
    // Where it would go, something is already.
    WriteBytes(LogOf(doc) + ".damaged-" + std::to_string(now), "taken");
    auto run = Start();
    run->Open(doc);
    run->Type(0, Words(70) + "\r\n");
    run->Save();
    EXPECT_EQ(ReadBytes(LogOf(doc)), bytes);
    EXPECT_THAT(run->recorder.Snapshot().note, HasSubstr("Progress cannot be kept"));
}

// Another window of the document began its log at the same time, with a header of its own (its
// key check sealed afresh; for the legacy key, a salt of its own): the two windows' entries end
// in one log, appended under the header that was there, instead of each rewriting the other's.
class OtherHeader : public DocumentLog, public ::testing::WithParamInterface<SealedRow> {};

TEST_P(OtherHeader, AnotherWindowsEntriesAreMergedNotRewritten) {
    doc = docs_ / GetParam().fileName;
    auto run = Start();
    run->session.st.FileName = doc;
    GetParam().keyed(run->session.st);
    run->Type(0, Words(100) + "\r\n");
    run->Save();
    const auto side = SideKeyOf(run->session.st);
    ASSERT_TRUE(side);
    LogHeader other;
    other.path = AbsolutePath(doc);
    std::shared_ptr<const SealKey> sealKey;
    if (side->kind == SideKey::Kind::DocumentKey) {
        other.protection = LogProtection::DocumentKey;
        sealKey = side->documentKey;
    } else if (side->kind == SideKey::Kind::DerivedKey) {
        other.protection = LogProtection::DerivedKey;
        sealKey = SealKey::Derive(side->legacyKey, SealingParams());
    }
    if (sealKey) {
        other.keyCheck = SealBytes(*sealKey, "");
    }
    const std::string theirs = EncodeEntry(Saved(At(1, 10, 30), 140), sealKey.get());
    const std::string fresh = LogFolder() + "/other";
    WriteBytes(fresh, EncodeHeader(other) + theirs);
    ::chmod(fresh.c_str(), 0600);
    fs::rename(fresh, LogOf(doc));

    now = At(1, 11);
    run->Type(0, Words(160) + "\r\n");
    run->Save();
    const ParsedLog after = ParseLog(ReadBytes(LogOf(doc)), "log");
    EXPECT_EQ(after.header.keyCheck, other.keyCheck);
    ASSERT_EQ(after.frames.size(), 2u);
    EXPECT_EQ(after.frames[0].bytes, theirs);
    EXPECT_EQ(DecodeEntry(after.frames[1], sealKey.get())->Words(), 160u);
    EXPECT_EQ(run->Figures().wordsToday, 160u);
    EXPECT_THAT(Logs(), ElementsAre(LogName(AbsolutePath(doc), 1)));
}

INSTANTIATE_TEST_SUITE_P(Progress, OtherHeader,
                         ::testing::Values(SealedRow{"Plain", "Diary.vlp", [](State&) {}},
                                           SealedRow{"Sealed", "Diary.vls", [](State&) {}},
                                           SealedRow{
                                               "Enciphered", "Diary.vle",
                                               [](State& st) { st.CipherKey = "a typed key"; }}),
                         [](const auto& info) { return info.param.name; });

TEST_F(DocumentLog, ALogUnderAKeyTheDocumentsDoesNotOpenIsKeptNotOverwritten) {
    doc = docs_ / "Diary.vls";
    auto run = Start();
    run->session.st.FileName = doc;
    run->Type(0, Words(100) + "\r\n");
    run->Save();
    LogHeader other;
    other.path = AbsolutePath(doc);
    other.protection = LogProtection::DocumentKey;
    const auto stranger = SealKey::Derive("another key", SealingParams());
    other.keyCheck = SealBytes(*stranger, "");
    const std::string bytes =
        EncodeHeader(other) + EncodeEntry(Saved(At(1, 10, 30), 140), stranger.get());
    const std::string fresh = LogFolder() + "/other";
    WriteBytes(fresh, bytes);
    ::chmod(fresh.c_str(), 0600);
    fs::rename(fresh, LogOf(doc));

    now = At(1, 11);
    run->Type(0, Words(160) + "\r\n");
    run->Save();
    const auto names = Logs();
    ASSERT_THAT(names, ElementsAre(LogName(AbsolutePath(doc), 1), HasSubstr(".unread-")));
    EXPECT_EQ(ReadBytes(LogFolder() + "/" + names[1]), bytes);
    EXPECT_EQ(run->Figures().wordsToday, 160u);
}

TEST_F(DocumentLog, ProtectingTheDocumentSealsWhatItsLogHeld) {
    const std::string title = "[S] The heron waits at dawn";
    auto run = Start();
    run->session.st.FileName = doc;
    run->Type(0, title + "\r\n");
    run->Save();
    EXPECT_NE(ReadBytes(LogOf(doc)).find(title), std::string::npos);
    SaveEncript(run->session);
    run->recorder.Wait();
    const std::string vle = docs_ / "Book.vle";
    // The enciphered document's log starts with the plain one's history, sealed.
    ASSERT_TRUE(fs::exists(LogOf(vle)));
    EXPECT_EQ(ReadBytes(LogOf(vle)).find("heron"), std::string::npos);
    EXPECT_EQ(ParseLog(ReadBytes(LogOf(vle)), "log").frames.size(), 2u);
}

TEST_F(DocumentLog, AnotherKeyLeavesTheLogAloneUntilASaveWithIt) {
    doc = docs_ / "Diary.vle";
    {
        auto run = Start();
        run->session.st.FileName = doc;
        run->session.st.CipherKey = key;
        run->Type(0, Words(10) + "\r\n");
        run->Save();
    }
    const std::string before = ReadBytes(LogOf(doc));
    key = "another key";
    auto run = Start();
    run->dialogs.onYesNo = [](const std::string&) { return true; };
    run->Open(doc);  // garbage: the key is wrong
    run->recorder.Wait();
    EXPECT_EQ(ReadBytes(LogOf(doc)), before);
    EXPECT_THAT(run->recorder.Snapshot().note, HasSubstr("another key"));
    run->Type(0, Words(3) + "\r\n");
    run->Save();
    EXPECT_THAT(Logs(), ElementsAre(LogName(AbsolutePath(doc), 1), HasSubstr(".aside-")));
    EXPECT_EQ(run->recorder.Snapshot().note, "");
}

TEST_F(DocumentLog, DecriptWithTheRightKeyIsAnOpening) {
    doc = docs_ / "Diary.vle";
    {
        auto run = Start();
        run->session.st.FileName = doc;
        run->session.st.CipherKey = key;
        run->Type(0, Words(10) + "\r\n");
        run->Save();
    }
    now = At(1, 12);
    auto run = Start();
    // Opened without its key: its text is not the document's, and nothing of it is logged.
    run->dialogs.onKeyPrompt = [] { return PromptResult{}; };
    run->Open(doc);
    run->recorder.Wait();
    EXPECT_THAT(run->recorder.Snapshot().note, HasSubstr("not kept until its key is given"));
    run->dialogs.onKeyPrompt = dialogs.onKeyPrompt;
    ASSERT_TRUE(Decript(run->session));
    const auto f = run->Figures();
    EXPECT_EQ(run->recorder.Snapshot().note, "");
    EXPECT_EQ(f.wordsNow, 10u);
    EXPECT_EQ(ParseLog(ReadBytes(LogOf(doc)), "log").frames.size(), 3u);
}

TEST_F(DocumentLog, ANewKeyWithoutAFileKeepsNothing) {
    doc = docs_ / "Diary.vls";
    auto run = Start();
    run->session.st.FileName = doc;
    run->Type(0, Words(10) + "\r\n");
    run->recorder.Taken(run->session, ProgressMoment::Recorded);
    run->recorder.Wait();
    EXPECT_TRUE(Logs().empty());
    EXPECT_THAT(run->recorder.Snapshot().note, HasSubstr("not kept until its key is given"));
    run->Save();
    EXPECT_EQ(run->Figures().wordsToday, 10u);
}

TEST_F(DocumentLog, SaveAsCarriesTheHistoryToANewLog) {
    WriteBytes(doc, Words(10) + "\r\n");
    auto run = Start();
    run->Open(doc);
    run->Type(0, Words(25) + "\r\n");
    run->Save();
    const std::string copy = docs_ / "Book2.vlp";
    ASSERT_TRUE(SaveDocumentAs(run->session, copy));
    run->recorder.Wait();
    EXPECT_EQ(ParseLog(ReadBytes(LogOf(doc)), "log").frames.size(), 2u);
    EXPECT_EQ(ParseLog(ReadBytes(LogOf(copy)), "log").frames.size(), 2u);
    EXPECT_EQ(ParseLog(ReadBytes(LogOf(copy)), "log").header.path, AbsolutePath(copy));
    EXPECT_EQ(run->Figures().wordsToday, 15u);
}

TEST_F(DocumentLog, ADocumentMovedByAnotherProgramBringsItsLog) {
    WriteBytes(doc, Words(10) + "\r\n");
    {
        auto run = Start();
        run->Open(doc);
        run->Type(0, Words(25) + "\r\n");
        run->Save();
    }
    const std::string moved = docs_ / "Renamed.vlp";
    fs::rename(doc, moved);
    auto run = Start();
    run->Open(moved);
    EXPECT_EQ(run->Figures().wordsToday, 15u);
    EXPECT_THAT(Logs(), ElementsAre(LogName(AbsolutePath(moved), 1)));
}

TEST_F(DocumentLog, ALogThatIsNotPrivateIsNeitherReadNorWritten) {
    WriteBytes(doc, "one\r\n");
    {
        auto run = Start();
        run->Open(doc);
    }
    const std::string before = ReadBytes(LogOf(doc));
    for (const auto& spoil :
         std::vector<std::function<void()>>{[&] { ::chmod(LogOf(doc).c_str(), 0644); },
                                            [&] {
                                                fs::rename(LogOf(doc), LogFolder() + "/elsewhere");
                                                fs::create_symlink("elsewhere", LogOf(doc));
                                            }}) {
        spoil();
        {
            auto run = Start();
            run->Open(doc);
            run->recorder.Wait();
            EXPECT_THAT(run->recorder.Snapshot().note, HasSubstr("not a private file"));
        }
        EXPECT_EQ(ReadBytes(LogOf(doc)), before);
        fs::remove(LogOf(doc));
        WriteBytes(LogOf(doc), before);
        ::chmod(LogOf(doc).c_str(), 0600);
    }
}

TEST_F(DocumentLog, TheFileIsCompactedOnceItOutgrowsTheHistory) {
    WriteBytes(doc, "one\r\n");
    auto run = Start();
    run->Open(doc);
    for (int i = 0; i < static_cast<int>(ProgressWriter::kCompactSlack) + 10; ++i) {
        run->Type(0, Words(i % 50 + 2) + "\r\n");
        run->recorder.Taken(run->session, ProgressMoment::Recorded);
    }
    run->recorder.Wait();
    EXPECT_LT(ParseLog(ReadBytes(LogOf(doc)), "log").frames.size(), 20u);
    EXPECT_EQ(run->Figures().wordsToday, std::uint64_t(ProgressWriter::kCompactSlack + 9) % 50 + 1);
}

}  // namespace
}  // namespace velloran
