#include "core/recovery/Recovery.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <functional>
#include <random>

#include "core/commands/Commands.h"
#include "core/commands/Saving.h"
#include "core/document/Sections.h"
#include "core/protection/Cipher.h"
#include "core/storage/StateFolder.h"
#include "support/TempDir.h"
#include "support/Unprivileged.h"

namespace velloran {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::ReadBytes;
using testing::ScopedEnv;
using testing::TempDir;
using testing::WriteBytes;

const std::string kSecret = "The heron waits at dawn by the third willow";
const std::string kPass = "correct horse";

// Every file under folder whose bytes hold needle.
std::vector<std::string> FilesHolding(const std::string& folder, std::string_view needle) {
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file() && ReadBytes(entry.path()).find(needle) != std::string::npos) {
            found.push_back(entry.path());
        }
    }
    return found;
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The current folder for as long as this lives.
class InFolder {
  public:
    explicit InFolder(const std::string& folder) : previous_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~InFolder() { fs::current_path(previous_); }

  private:
    fs::path previous_;
};

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

// One run of the editor as the window layer drives the recorder: the slots and the list are plain,
// and every change of a slot is told to the recorder as the windows tell it.
struct EditorRun {
    EditorRun() {
        sections.observer = &recorder;
        dialogs.onYesNo = [this](const std::string& q) {
            questions.push_back(q);
            bool answer = answers.empty() ? false : answers.front();
            if (!answers.empty()) {
                answers.pop_front();
            }
            return answer;
        };
        dialogs.onKeyPrompt = [this] {
            if (keys.empty()) {
                return PromptResult{ModalResult::Cancel, ""};
            }
            std::string key = keys.front();
            keys.pop_front();
            return PromptResult{ModalResult::OK, key};
        };
    }

    // The document as a split leaves it.
    void Open(const std::vector<std::string>& texts) {
        auto block = std::make_shared<std::string>();
        for (const auto& t : texts) {
            block->append(t);
        }
        std::vector<std::string_view> views;
        std::size_t at = 0;
        list.titles.clear();
        for (const auto& t : texts) {
            views.push_back(std::string_view(*block).substr(at, t.size()));
            at += t.size();
            list.titles.push_back(t.substr(0, t.find('\r')));
        }
        st().LastSection = static_cast<int>(texts.size()) - 1;
        sections.SetSections(block, views);
    }
    void Edit(int k, std::size_t position, std::size_t removed, const std::string& inserted) {
        sections.texts[static_cast<std::size_t>(k)].replace(position, removed, inserted);
        recorder.SlotEdited(k, position, removed, inserted);
        st().Modified = true;
    }
    void Type(int k, std::size_t position, const std::string& text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            Edit(k, position + i, 0, text.substr(i, 1));
        }
    }
    void Record() {
        recorder.Record(session);
        recorder.Wait();
    }
    std::string Folder() const { return recorder.LockPath() + ".d"; }
    Manifest ReadManifest() const {
        return DecodeManifest(ReadBytes(Folder() + "/manifest"), Folder());
    }
    RecoveredRecord ReadBack(std::shared_ptr<const SealKey> key = nullptr) const {
        return ReadRecord(Folder(), ReadManifest(), std::move(key));
    }
    std::vector<std::string> Texts() const {
        return {sections.texts.begin(), sections.texts.begin() + st().LastSection + 1};
    }
    static State& st() { return state(); }

    RecoveryRecorder recorder;
    ObservedSlots sections;
    PlainList list;
    DocumentBuffer buffer;
    CallbackDialogs dialogs;
    Session session{state(), sections, list, buffer, dialogs};
    std::deque<bool> answers;
    std::deque<std::string> keys;
    std::vector<std::string> questions;
};

std::vector<std::string> TextsOf(const RecoveredRecord& r) {
    std::vector<std::string> texts;
    for (const auto& s : r.sections) {
        texts.push_back(s.text);
    }
    return texts;
}

// Each test has a state folder of its own and a document folder as the current folder.
class RecoveryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetState();
        SealingParams() = kQuickestSealParams;
        state().FileName = docs_ / "June.vlp";
    }
    void TearDown() override { ResetState(); }

    // A run claimed for the document FileName names now.
    std::unique_ptr<EditorRun> Start() {
        auto run = std::make_unique<EditorRun>();
        const auto folder = MakeStateFolder("recovery");
        EXPECT_TRUE(folder && run->recorder.Claim(*folder, RecordPath(state())));
        return run;
    }

    const std::vector<std::string> kSections{"Preamble\r\nline\r\n", "[S] One\r\none body\r\n",
                                             "[S] Two\r\ntwo body\r\n"};
    TempDir stateHome_;
    ScopedEnv env_{"XDG_STATE_HOME", stateHome_.path()};
    TempDir docs_;
};

// ---- the format

TEST_F(RecoveryTest, ManifestReadsBackAsWritten) {
    Manifest m;
    m.path = "/d/\xe9t\xe9.vlp";
    m.identity = FileIdentity{1, 2, 3, 4, 5};
    m.pid = 4242;
    m.bootId = "b00t";
    m.time = 1700000000;
    m.sequence = 7;
    m.protection = RecordProtection::DerivedKey;
    m.params = kQuickestSealParams;
    m.salt.fill(9);
    m.titles = {"t-7", 10, 11};
    m.sections = {{{"b0-1", 5, 6}, {}}, {{"b1-7", 8, 9}, {"j1-7", 12, 13}}};
    m.run = std::string("run\0bytes", 9);
    EXPECT_EQ(DecodeManifest(EncodeManifest(m), "x"), m);
}

// Every way a manifest can be cut short or changed is refused as damaged, never half read.
TEST_F(RecoveryTest, DamagedManifestsAreRefused) {
    Manifest m;
    m.path = "/d/June.vlp";
    m.titles = {"t-1", 1, 2};
    m.sections = {{{"b0-1", 5, 6}, {}}};
    const std::string whole = EncodeManifest(m);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        EXPECT_THROW(DecodeManifest(whole.substr(0, n), "x"), RecordDamaged) << "cut at " << n;
    }
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (i == 8 || i == 9) {
            continue;  // the version, below
        }
        std::string changed = whole;
        changed[i] = static_cast<char>(changed[i] ^ 0x20);
        EXPECT_THROW(DecodeManifest(changed, "x"), RecordDamaged) << "byte " << i;
    }
    EXPECT_THROW(DecodeManifest(whole + "x", "x"), RecordDamaged);
    std::string newer = whole;
    newer[8] = 2;
    try {
        DecodeManifest(newer, "x");
        ADD_FAILURE() << "a newer version was read";
    } catch (const RecordDamaged&) {
        ADD_FAILURE() << "a newer version is not damage";
    } catch (const Error& e) {
        EXPECT_THAT(e.what(), HasSubstr("newer version"));
    }
}

TEST_F(RecoveryTest, EditsOutsideTheTextAreDamage) {
    std::string text = "abc";
    EXPECT_THROW(ApplyEdits(text, std::vector<ByteEdit>{{4, 0, "x"}}, "x"), RecordDamaged);
    EXPECT_THROW(ApplyEdits(text, std::vector<ByteEdit>{{2, 2, ""}}, "x"), RecordDamaged);
    ApplyEdits(text, std::vector<ByteEdit>{{3, 0, "d"}, {0, 1, "A"}}, "x");
    EXPECT_EQ(text, "Abcd");
}

// ---- writing and reading back

TEST_F(RecoveryTest, ARecordHoldsTheRunAsItWas) {
    auto run = Start();
    run->Open(kSections);
    run->Type(1, 9, "typed ");
    run->Edit(2, 0, 3, "[s]");
    state().PanelMode = 3;
    state().Panel1Section = 2;
    state().Panel2Section = 1;
    state().ActiveSection = 1;
    run->list.titles[2] = "[S] Two as listed before Reload";
    run->Record();

    const RecoveredRecord r = run->ReadBack();
    EXPECT_EQ(TextsOf(r), run->Texts());
    EXPECT_EQ(r.titles, run->list.titles);
    EXPECT_EQ(r.run, (RecordRun{docs_ / "June.vlp", 2, 3, 2, 1, 1, false, false}));
    EXPECT_EQ(r.manifest.path, docs_ / "June.vlp");
    EXPECT_EQ(r.manifest.pid, ::getpid());
    EXPECT_EQ(r.manifest.bootId, BootId());
    EXPECT_FALSE(BootId().empty());
}

TEST_F(RecoveryTest, RecordFilesArePrivate) {
    auto run = Start();
    run->Open(kSections);
    run->Type(0, 0, "x");
    run->Record();
    for (const std::string& folder : {RecoveryFolder(), run->Folder()}) {
        struct stat st;
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
    }
    for (const auto& entry : fs::recursive_directory_iterator(RecoveryFolder())) {
        if (entry.is_regular_file()) {
            struct stat st;
            ASSERT_EQ(::stat(entry.path().c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u) << entry.path();
        }
    }
}

// A small edit appends to its section's journal: the other sections' files, and its own base,
// stay as they were, whatever the size of the document.
TEST_F(RecoveryTest, AnEditWritesOnlyItsSection) {
    auto run = Start();
    std::vector<std::string> big = kSections;
    big[2] += std::string(1 << 20, 'x') + "\r\n";
    run->Open(big);
    run->Type(0, 0, "a");
    run->Record();
    const Manifest first = run->ReadManifest();
    run->Type(1, 3, "bc");
    run->Record();
    const Manifest second = run->ReadManifest();
    EXPECT_EQ(second.sections[0], first.sections[0]);
    EXPECT_EQ(second.sections[2], first.sections[2]);
    EXPECT_EQ(second.sections[1].base, first.sections[1].base);
    EXPECT_TRUE(second.sections[1].journal);
    EXPECT_LT(second.sections[1].journal.length, 200u);
    EXPECT_EQ(second.titles, first.titles);
    EXPECT_EQ(TextsOf(run->ReadBack()), run->Texts());
}

// Random edits of every kind, recorded at random moments, always read back as the text is.
TEST_F(RecoveryTest, RecordsFollowEveryKindOfEdit) {
    auto run = Start();
    run->Open(kSections);
    std::mt19937 random(15);
    for (int step = 0; step < 400; ++step) {
        const int k = static_cast<int>(random() % 3);
        const std::string& text = run->sections.texts[static_cast<std::size_t>(k)];
        const std::size_t at = random() % (text.size() + 1);
        switch (random() % 4) {
            case 0:  // typing on where the last key went, or anywhere
                run->Type(k, at, std::string(1 + random() % 3, static_cast<char>('a' + step % 26)));
                break;
            case 1:  // backspace
                if (at > 0) {
                    run->Edit(k, at - 1, 1, "");
                }
                break;
            case 2:  // a paste over a selection, large now and then
                run->Edit(k, at, std::min<std::size_t>(random() % 5, text.size() - at),
                          std::string(random() % 7 == 0 ? 70000 : 4, 'p'));
                break;
            default:  // a line break
                run->Edit(k, at, 0, "\r\n");
                break;
        }
        if (random() % 10 == 0) {
            run->Record();
            ASSERT_EQ(TextsOf(run->ReadBack()), run->Texts()) << "at step " << step;
        }
    }
}

// After a save no record is left; the parts stay, so the next record does not rewrite the text.
TEST_F(RecoveryTest, NoRecordWithoutUnsavedChanges) {
    auto run = Start();
    run->Open(kSections);
    run->Type(1, 0, "x");
    run->Record();
    const Manifest before = run->ReadManifest();
    state().Modified = false;
    run->Record();
    EXPECT_FALSE(fs::exists(run->Folder() + "/manifest"));
    EXPECT_FALSE(HasRecord(before.path));
    run->Type(1, 0, "y");
    run->Record();
    EXPECT_EQ(run->ReadManifest().sections[0], before.sections[0]);
    EXPECT_EQ(TextsOf(run->ReadBack()), run->Texts());
    EXPECT_TRUE(HasRecord(before.path));
}

// A Save As to a name that needs a key, stopped at the key prompt, leaves the record as it was,
// however often the recorder runs while the prompt is open.
TEST_F(RecoveryTest, ASaveStoppedAtItsKeyKeepsTheRecord) {
    for (const char* name : {"June.vls", "June.vle"}) {
        SCOPED_TRACE(name);
        auto run = Start();
        run->Open(kSections);
        run->Type(1, 0, "unsaved ");
        run->Record();
        run->dialogs.onSaveDocument = [&](const std::string&, bool) {
            return PromptResult{ModalResult::OK, docs_ / name};
        };
        run->dialogs.onKeyPrompt = [&] {
            run->Record();
            return PromptResult{};
        };
        EXPECT_THROW(SaveWithPrompt(run->session, false), Error);
        run->Record();
        EXPECT_EQ(TextsOf(run->ReadBack()), run->Texts());
        EXPECT_FALSE(run->recorder.TakeSuspension());
        run->recorder.Close();
        ResetState();
        SealingParams() = kQuickestSealParams;
        state().FileName = docs_ / "June.vlp";
    }
}

// A new document under a name that needs a key keeps no record until its first save gives it
// one; the user is told once, not at every record.
TEST_F(RecoveryTest, RecordsWaitingForAKeyAreToldOnce) {
    state().FileName = docs_ / "Diary.vle";
    auto run = Start();
    run->Open(kSections);
    run->Type(1, 0, "x");
    run->Record();
    const auto told = run->recorder.TakeSuspension();
    ASSERT_TRUE(told);
    EXPECT_EQ(*told, Format(kRecordsSuspended, RecordPath(state())));
    run->Type(1, 0, "y");
    run->Record();
    EXPECT_FALSE(run->recorder.TakeSuspension());
    EXPECT_FALSE(fs::exists(run->Folder() + "/manifest"));

    state().CipherKey = "key";
    run->Record();
    EXPECT_TRUE(fs::exists(run->Folder() + "/manifest"));
    EXPECT_FALSE(run->recorder.TakeSuspension());
}

TEST_F(RecoveryTest, NothingStaysAfterANormalEnd) {
    auto run = Start();
    run->Open(kSections);
    run->Type(1, 0, "x");
    run->Record();
    run->recorder.Close();
    EXPECT_THAT(Names(RecoveryFolder()), ::testing::IsEmpty());
}

// ---- damage

// A part cut short, changed, missing or longer than named is refused, never half applied; a
// journal that runs on past its length (a writer killed while appending) is read up to it.
TEST_F(RecoveryTest, DamagedPartsAreRefused) {
    struct Row {
        const char* name;
        char part;  // 'b' base, 'j' journal, 't' titles
        std::function<void(const std::string& path)> damage;
        bool damaged;
    };
    const std::vector<Row> rows = {
        {"base cut short", 'b',
         [](const std::string& p) { fs::resize_file(p, fs::file_size(p) - 1); }, true},
        {"base changed", 'b',
         [](const std::string& p) {
             std::string b = ReadBytes(p);
             b[3] ^= 1;
             WriteBytes(p, b);
         },
         true},
        {"base missing", 'b', [](const std::string& p) { fs::remove(p); }, true},
        {"base longer", 'b', [](const std::string& p) { WriteBytes(p, ReadBytes(p) + "x"); }, true},
        {"journal cut short", 'j',
         [](const std::string& p) { fs::resize_file(p, fs::file_size(p) - 1); }, true},
        {"journal changed", 'j',
         [](const std::string& p) {
             std::string b = ReadBytes(p);
             b.back() ^= 1;
             WriteBytes(p, b);
         },
         true},
        {"journal run on", 'j',
         [](const std::string& p) { WriteBytes(p, ReadBytes(p) + "\x07partial"); }, false},
        {"titles changed", 't',
         [](const std::string& p) {
             std::string b = ReadBytes(p);
             b[b.size() / 2] ^= 1;
             WriteBytes(p, b);
         },
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ResetState();
        state().FileName = docs_ / (std::string(row.name) + ".vlp");
        auto run = Start();
        run->Open(kSections);
        run->Type(1, 0, "first");
        run->Record();
        run->Type(1, 0, "second");
        run->Record();
        const Manifest m = run->ReadManifest();
        const std::string name = row.part == 'b'   ? m.sections[1].base.name
                                 : row.part == 'j' ? m.sections[1].journal.name
                                                   : m.titles.name;
        row.damage(run->Folder() + "/" + name);
        if (row.damaged) {
            EXPECT_THROW(run->ReadBack(), RecordDamaged);
        } else {
            EXPECT_EQ(TextsOf(run->ReadBack()), run->Texts());
        }
    }
}

// ---- enciphered documents

struct Protection {
    const char* name;
    std::string fileName;
};

class ProtectedRecordTest : public RecoveryTest, public ::testing::WithParamInterface<Protection> {
  protected:
    void SetUp() override {
        RecoveryTest::SetUp();
        State& st = state();
        st.FileName = docs_ / GetParam().fileName;
        if (IsSealedName(st.FileName)) {
            st.Sealed = true;
            st.SealKeyInUse = SealKey::Derive(kPass, kQuickestSealParams);
        } else {
            st.Enciphered = true;
            st.CipherKey = kPass;
        }
    }
    std::shared_ptr<const SealKey> KeyOf(const Manifest& m) const {
        return SealKey::Derive(kPass, m.salt, m.params);
    }
};

TEST_P(ProtectedRecordTest, ReadsBackOnlyWithTheKey) {
    auto run = Start();
    run->Open(kSections);
    run->Type(1, 9, kSecret);
    run->Record();
    const Manifest m = run->ReadManifest();
    EXPECT_NE(m.protection, RecordProtection::None);
    EXPECT_THROW(run->ReadBack(), WrongKey);
    EXPECT_THROW(run->ReadBack(SealKey::Derive("wrong", m.salt, m.params)), WrongKey);
    EXPECT_THROW(run->ReadBack(SealKey::Derive(kPass, kQuickestSealParams)), WrongKey)
        << "another salt";
    const RecoveredRecord r = run->ReadBack(KeyOf(m));
    EXPECT_EQ(TextsOf(r), run->Texts());
    EXPECT_EQ(r.titles, run->list.titles);
}

// Nothing typed, listed or known to be in the document is in the recovery folder in the clear,
// nor enciphered with the legacy cipher, whose known plaintext gives away key bytes.
TEST_P(ProtectedRecordTest, NoPlaintextInTheStore) {
    auto run = Start();
    run->Open(kSections);
    run->list.titles[1] = "[S] " + kSecret;
    run->Type(1, 9, kSecret);
    run->Record();
    run->Type(2, 0, kSecret);
    run->Record();  // a journal frame
    std::string legacy = kSecret;
    KeyIndex index;
    EncipherLine(legacy, kPass, index);
    for (const std::string_view needle : {std::string_view(kSecret), std::string_view("[S] One"),
                                          std::string_view(legacy), std::string_view("two body")}) {
        EXPECT_THAT(FilesHolding(stateHome_.path(), needle), ::testing::IsEmpty()) << needle;
    }
}

// A document that becomes enciphered leaves no plain part of its text behind.
TEST_P(ProtectedRecordTest, PlainPartsGoWhenTheDocumentIsEnciphered) {
    State& st = state();
    const State protectedState = st;
    st.FileName = docs_ / "June.vlp";
    st.Enciphered = st.Sealed = false;
    st.SealKeyInUse.reset();
    auto run = Start();
    run->Open(kSections);
    run->Type(1, 0, kSecret);
    run->Record();
    ASSERT_THAT(FilesHolding(stateHome_.path(), kSecret), ::testing::Not(::testing::IsEmpty()));
    // Saved enciphered: no unsaved change, and a key.
    st = protectedState;
    st.Modified = false;
    run->Record();
    EXPECT_THAT(FilesHolding(stateHome_.path(), kSecret), ::testing::IsEmpty());
}

// Without a key there is nothing to seal with, and so no record at all.
TEST_P(ProtectedRecordTest, NoRecordWithoutAKey) {
    state().CipherKey.clear();
    state().SealKeyInUse.reset();
    auto run = Start();
    run->Open(kSections);
    run->Type(1, 0, kSecret);
    run->Record();
    EXPECT_FALSE(fs::exists(run->Folder() + "/manifest"));
    EXPECT_THAT(FilesHolding(stateHome_.path(), kSecret), ::testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(, ProtectedRecordTest,
                         ::testing::Values(Protection{"Sealed", "June.vls"},
                                           Protection{"Enciphered", "June.vle"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- at start

// A run that stopped without ending (its recorder went, as in a crash, with the record on disk),
// and a new run's state as a start on the same document leaves it: what the crashed one had.
State Crash(std::unique_ptr<EditorRun>& run) {
    run->recorder.Wait();
    run.reset();
    const State crashed = state();
    ResetState();
    SealingParams() = kQuickestSealParams;
    state().FileName = crashed.FileName;
    state().Enciphered = crashed.Enciphered && !IsEncipheredName(crashed.FileName);
    return crashed;
}

TEST_F(RecoveryTest, YesRestoresTheRunAndGoesOnWithItsRecord) {
    auto before = Start();
    before->Open(kSections);
    before->Type(2, 0, "kept ");
    state().PanelMode = 2;
    state().Panel1Section = 1;
    state().Panel2Section = 2;
    state().ActiveSection = 2;
    before->Record();
    const std::vector<std::string> texts = before->Texts();
    const std::vector<std::string> titles = before->list.titles;
    const std::string lock = before->recorder.LockPath();
    Crash(before);
    state().FileName = "June.vlp";
    const InFolder here(docs_.path());
    EditorRun after;
    after.answers = {true};
    ASSERT_EQ(OfferRecovery(after.session, after.recorder), StartRecovery::Restored);
    ASSERT_EQ(after.questions.size(), 1u);
    EXPECT_THAT(after.questions[0],
                ::testing::MatchesRegex("Unsaved changes to " + docs_.path() +
                                        "/June.vlp from [0-9]{4}-[0-9]{2}-[0-9]{2} "
                                        "[0-9:]{8} were found. Recover them\\?"));
    const State& st = state();
    EXPECT_EQ(after.Texts(), texts);
    EXPECT_EQ(after.list.titles, titles);
    EXPECT_EQ(st.FileName, docs_ / "June.vlp");
    EXPECT_EQ(std::tie(st.LastSection, st.PanelMode, st.Panel1Section, st.Panel2Section,
                       st.ActiveSection, st.Modified),
              std::make_tuple(2, 2, 1, 2, 2, true));
    // Its record is this run's now: held, and going on from where it was.
    after.recorder.Wait();
    EXPECT_EQ(after.recorder.LockPath(), lock);
    EXPECT_EQ(RecordSlot::Take(lock), nullptr);
    after.Type(2, 0, "more ");
    after.Record();
    EXPECT_EQ(TextsOf(after.ReadBack()), after.Texts());
    EXPECT_EQ(Names(RecoveryFolder()),
              (std::vector<std::string>{FileNamePart(lock), FileNamePart(lock) + ".d"}));
}

// A restored run is read in the encoding its text tells, whatever the crashed run had taken.
struct TypedText {
    const char* name;
    const char* typed;
    Encoding told;
};
class RestoredEncodingTest : public RecoveryTest,
                             public ::testing::WithParamInterface<TypedText> {};

TEST_P(RestoredEncodingTest, IsToldByTheRestoredText) {
    auto before = Start();
    before->Open(kSections);
    before->Type(2, 0, GetParam().typed);
    state().DocumentEncoding =
        GetParam().told == Encoding::Utf8 ? Encoding::Windows1252 : Encoding::Utf8;
    before->Record();
    Crash(before);
    state().FileName = "June.vlp";
    const InFolder here(docs_.path());
    EditorRun after;
    after.answers = {true};
    ASSERT_EQ(OfferRecovery(after.session, after.recorder), StartRecovery::Restored);
    EXPECT_EQ(state().DocumentEncoding, GetParam().told);
}

INSTANTIATE_TEST_SUITE_P(, RestoredEncodingTest,
                         ::testing::Values(TypedText{"Utf8", "caf\xc3\xa9 ", Encoding::Utf8},
                                           TypedText{"Windows1252", "caf\xe9 ",
                                                     Encoding::Windows1252}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecoveryTest, NoSetsTheRecordAsideAndItIsNotOfferedAgain) {
    auto before = Start();
    before->Open(kSections);
    before->Type(1, 0, "x");
    before->Record();
    Crash(before);

    EditorRun declined;
    declined.answers = {false};
    EXPECT_EQ(OfferRecovery(declined.session, declined.recorder), StartRecovery::Open);
    EXPECT_EQ(declined.questions.size(), 1u);
    const auto aside = Names(RecoveryFolder() + "/discarded");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_TRUE(fs::exists(RecoveryFolder() + "/discarded/" + aside[0] + "/manifest"));
    declined.recorder.Close();

    EditorRun again;
    EXPECT_EQ(OfferRecovery(again.session, again.recorder), StartRecovery::Open);
    EXPECT_THAT(again.questions, ::testing::IsEmpty());
}

TEST_F(RecoveryTest, ADamagedRecordIsReportedAndKept) {
    auto before = Start();
    before->Open(kSections);
    before->Type(1, 0, "x");
    before->Record();
    const Manifest m = before->ReadManifest();
    fs::resize_file(before->Folder() + "/" + m.sections[1].base.name, 1);
    Crash(before);

    EditorRun after;
    after.answers = {true};
    EXPECT_EQ(OfferRecovery(after.session, after.recorder), StartRecovery::Open);
    ASSERT_EQ(after.dialogs.messages.size(), 1u);
    EXPECT_THAT(after.dialogs.messages[0],
                HasSubstr("The recovery record of " + m.path + " is damaged"));
    EXPECT_THAT(after.Texts(), ::testing::ElementsAre(""));
    EXPECT_FALSE(state().Modified);
    ASSERT_EQ(Names(RecoveryFolder() + "/damaged").size(), 1u);
    EXPECT_THAT(after.dialogs.messages[0], HasSubstr(RecoveryFolder() + "/damaged/"));
}

TEST_P(ProtectedRecordTest, RestoringAsksForTheKeyUntilItIsRight) {
    auto before = Start();
    before->Open(kSections);
    before->Type(1, 0, kSecret);
    before->Record();
    const std::vector<std::string> texts = before->Texts();
    const State crashed = Crash(before);
    EditorRun after;
    after.answers = {true};
    after.keys = {"wrong", kPass};
    ASSERT_EQ(OfferRecovery(after.session, after.recorder), StartRecovery::Restored);
    EXPECT_EQ(after.dialogs.keyPrompts, 2);
    EXPECT_THAT(after.dialogs.messages,
                ::testing::ElementsAre("Wrong key for " + AbsolutePath(crashed.FileName)));
    EXPECT_EQ(after.Texts(), texts);
    const State& st = state();
    if (crashed.Sealed) {
        ASSERT_TRUE(st.SealKeyInUse);
        EXPECT_TRUE(st.SealKeyInUse->Matches(kPass));
        EXPECT_EQ(st.SealKeyInUse->salt(), crashed.SealKeyInUse->salt());
        EXPECT_EQ(after.dialogs.keyForms[0], KeyText::Utf8);
    } else {
        EXPECT_EQ(st.CipherKey, kPass);
        EXPECT_TRUE(st.Enciphered);
        EXPECT_EQ(after.dialogs.keyForms[0], KeyText::CodePage);
    }
    // Going on with the same key: no new key derived, the record stays sealed.
    after.Type(1, 0, "more");
    after.Record();
    EXPECT_EQ(TextsOf(after.ReadBack(KeyOf(after.ReadManifest()))), after.Texts());
}

TEST_P(ProtectedRecordTest, ACancelledKeyRestoresNothingAndKeepsTheRecord) {
    auto before = Start();
    before->Open(kSections);
    before->Type(1, 0, kSecret);
    before->Record();
    const std::string lock = before->recorder.LockPath();
    Crash(before);

    EditorRun after;
    after.answers = {true};
    EXPECT_EQ(OfferRecovery(after.session, after.recorder), StartRecovery::Open);
    EXPECT_THAT(after.Texts(), ::testing::ElementsAre(""));
    EXPECT_FALSE(state().Modified);
    EXPECT_TRUE(fs::exists(lock + ".d/manifest"));
    EXPECT_NE(RecordSlot::Take(lock), nullptr) << "still held";
}

// Another run, a process of its own, has the document open.
TEST_F(RecoveryTest, ARunningWriterIsToldAndMayBeLeftAlone) {
    int ready[2];
    int finish[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(finish), 0);
    const std::string folder = *MakeStateFolder("recovery");
    const std::string path = RecordPath(state());
    const pid_t child = ::fork();
    if (child == 0) {
        auto slot = RecordSlot::Create(folder, path);
        char c = slot ? 'y' : 'n';
        [[maybe_unused]] auto w = ::write(ready[1], &c, 1);
        [[maybe_unused]] auto r = ::read(finish[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');

    for (const bool openAnyway : {false, true}) {
        SCOPED_TRACE(openAnyway);
        EditorRun second;
        second.answers = {openAnyway};
        EXPECT_EQ(OfferRecovery(second.session, second.recorder),
                  openAnyway ? StartRecovery::Open : StartRecovery::Quit);
        EXPECT_THAT(second.questions, ::testing::ElementsAre(Format(Format(kOpenElsewhere, path),
                                                                    std::to_string(child))));
        second.recorder.Close();
    }
    ASSERT_EQ(::write(finish[1], &c, 1), 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    // Its end released the lock: the next start has nothing to warn about, nor to offer.
    EditorRun third;
    EXPECT_EQ(OfferRecovery(third.session, third.recorder), StartRecovery::Open);
    EXPECT_THAT(third.questions, ::testing::IsEmpty());
}

TEST_F(RecoveryTest, ADocumentNeverSavedIsFoundByItsRecord) {
    auto before = Start();
    before->Open({"new text\r\n"});
    before->Type(0, 0, "x");
    before->Record();
    Crash(before);

    const InFolder here(docs_.path());
    WriteBytes("Velloran.vlp", "the default document\r\n");
    EditorRun after;
    const std::string argument = docs_ / "June.vlp";
    ChooseStartDocument(after.session, argument, {},
                        [](const std::string& p) { return HasRecord(AbsolutePath(p)); });
    EXPECT_EQ(state().FileName, argument);
    ResetState();
    // A name with neither a file, nor a record, nor a folder to be made in is none to open.
    ChooseStartDocument(after.session, docs_ / "no-folder/other.vlp", {},
                        [](const std::string& p) { return HasRecord(AbsolutePath(p)); });
    EXPECT_EQ(state().FileName, "Velloran.vlp");
}

// Where no record can be kept, the user is told so at start, and the document opens as usual.
TEST_F(RecoveryTest, AStateFolderThatCannotBeMadeIsTold) {
    WriteBytes(stateHome_ / "velloran", "a file where the folder should be");
    EditorRun run;
    EXPECT_EQ(OfferRecovery(run.session, run.recorder), StartRecovery::Open);
    EXPECT_THAT(run.dialogs.messages,
                ::testing::ElementsAre(Format(kRecordsNotWritten, RecoveryFolder())));
    EXPECT_FALSE(run.recorder.Active());
}

TEST_F(RecoveryTest, WhatWasSetAsideGoesAfterThirtyDays) {
    const std::string aside = stateHome_ / "aside";
    const std::time_t now = 1800000000;
    for (const auto& [name, days] :
         std::vector<std::pair<std::string, int>>{{"old", 31}, {"recent", 29}, {"unnamed", 0}}) {
        const std::string folder =
            aside + "/run-" + name + (days ? "-" + std::to_string(now - days * 86400) : "");
        fs::create_directories(folder);
        WriteBytes(folder + "/manifest", "m");
    }
    RemoveOldAside(aside, now);
    EXPECT_EQ(Names(aside), (std::vector<std::string>{
                                "run-recent-" + std::to_string(now - 29 * 86400), "run-unnamed"}));
}

// Read back as strictly as written: a record whose lock, folder or manifest belongs to another
// user, or that others may read, is no record of the user's: neither offered nor told as a
// window open elsewhere, and left as it is.
TEST_F(RecoveryTest, RecordsNotPrivateToTheUserAreNeitherOfferedNorTouched) {
    enum Part { kLock, kFolder, kManifest };
    struct Row {
        const char* name;
        Part part;
        bool otherOwner;
        mode_t mode;
    };
    for (const Row& row : {Row{"lock of another user", kLock, true, 0600},
                           Row{"lock others may read", kLock, false, 0644},
                           Row{"record folder of another user", kFolder, true, 0700},
                           Row{"record folder others may enter", kFolder, false, 0755},
                           Row{"manifest of another user", kManifest, true, 0600},
                           Row{"manifest others may read", kManifest, false, 0644}}) {
        SCOPED_TRACE(row.name);
        if (row.otherOwner && !testing::CanDropPrivileges()) {
            continue;  // only root gives a file away
        }
        auto before = Start();
        before->Open(kSections);
        before->Type(1, 0, "unsaved ");
        before->Record();
        const std::string lock = before->recorder.LockPath();
        Crash(before);
        const std::string part = row.part == kLock     ? lock
                                 : row.part == kFolder ? lock + ".d"
                                                       : lock + ".d/manifest";
        ASSERT_TRUE(testing::Give(part, row.otherOwner ? testing::kNobody : ::geteuid(),
                                  row.otherOwner ? testing::kNoGroup : ::getegid(), row.mode));

        EXPECT_FALSE(HasRecord(RecordPath(state())));
        {
            EditorRun after;
            after.answers = {true, true};
            EXPECT_EQ(OfferRecovery(after.session, after.recorder), StartRecovery::Open);
            EXPECT_THAT(after.questions, ::testing::IsEmpty());
            EXPECT_THAT(after.dialogs.messages, ::testing::IsEmpty());
            after.recorder.Close();
            after.recorder.Wait();
        }
        EXPECT_TRUE(fs::exists(lock + ".d/manifest")) << "not left as it was";
        EXPECT_TRUE(fs::exists(lock));
        fs::remove_all(RecoveryFolder());
    }
}

// A record counts as written only once its files' names are on disk: a folder that cannot be
// synced (here one the user may write but not read, so that it cannot be opened) fails it, and
// the user is told, as when any part cannot be written.
TEST_F(RecoveryTest, AFolderThatCannotBeSyncedFailsTheRecord) {
    if (!testing::CanDropPrivileges()) {
        GTEST_SKIP() << "needs root, to run as nobody, whom a folder's mode binds";
    }
    ASSERT_EQ(::chmod(stateHome_.path().c_str(), 0777), 0);
    for (const bool recordFolder : {false, true}) {
        SCOPED_TRACE(recordFolder ? "the record's folder" : "the recovery folder");
        EXPECT_EQ(testing::AsNobody([&]() -> std::string {
                      const auto folder = MakeStateFolder("recovery");
                      if (!folder) {
                          return "no recovery folder";
                      }
                      if (!recordFolder) {
                          ::chmod(folder->c_str(), 0300);
                          return RecordSlot::Create(*folder, "/d/June.vlp")
                                     ? "a record's place was taken for made"
                                     : "";
                      }
                      EditorRun run;
                      if (!run.recorder.Claim(*folder, RecordPath(state()))) {
                          return "not claimed";
                      }
                      ::chmod(run.Folder().c_str(), 0300);
                      run.Open(kSections);
                      run.Type(0, 0, "typed");
                      run.Record();
                      const auto failure = run.recorder.TakeFailure();
                      return failure == Format(kRecordsNotWritten, run.Folder())
                                 ? ""
                                 : "the record was taken for written: " +
                                       failure.value_or("no failure");
                  }),
                  "");
        fs::remove_all(stateHome_ / "velloran");
    }
}

// Whether a run of four bytes of key stays in the memory of s, up to its capacity: beyond its
// text, where a shorter text or a move leaves the bytes of what it held before. (Read past the
// text on purpose: the bytes are still there, inside what the string owns.)
bool HoldsPartOf(const std::string& s, std::string_view key) {
    const std::string_view memory(s.data(), s.capacity());
    for (std::size_t i = 0; i + 4 <= key.size(); ++i) {
        if (memory.find(key.substr(i, 4)) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

// A legacy key handed to the recovery records leaves no copy behind where it was moved from or
// replaced, as the sealed keys leave none.
TEST_F(RecoveryTest, TheLegacyKeyLeavesNoCopyBehind) {
    const std::string shortKey = "k3y-sh0rt";  // held inside the string itself
    const std::string longKey = "a legacy key long enough to be held apart, 0123456789";
    struct Row {
        const char* name;
        std::function<bool()> leftBehind;
    };
    const Row rows[] = {
        {"record keying moved from",
         [&] {
             RecordKeying from;
             from.legacyKey = shortKey;
             const RecordKeying to(std::move(from));
             return HoldsPartOf(from.legacyKey, shortKey);
         }},
        {"record keying moved over",
         [&] {
             RecordKeying from;
             from.legacyKey = shortKey;
             RecordKeying to;
             to = std::move(from);
             return HoldsPartOf(from.legacyKey, shortKey);
         }},
        {"record keying given a shorter key",
         [&] {
             RecordKeying keying;
             keying.legacyKey = longKey;
             RecordKeying other;
             other.legacyKey = "x";
             keying = other;
             return HoldsPartOf(keying.legacyKey, longKey);
         }},
        {"the run's key replaced by a restored record's",
         [&] {
             state().CipherKey = longKey;
             RecoveredRecord record;
             record.manifest.protection = RecordProtection::DerivedKey;
             record.run.fileName = docs_ / "June.vlp";
             record.sections.push_back({"text\r\n", {}, {}});
             record.titles = {"text"};
             EditorRun run;
             RestoreRecord(run.session, record, "x");
             return state().CipherKey != "x" || HoldsPartOf(state().CipherKey, longKey);
         }},
    };
    for (const Row& row : rows) {
        EXPECT_FALSE(row.leftBehind()) << row.name;
    }
}

TEST(RecordSchedule, DueASecondAfterAPauseAndAtMostFiveAfterTheFirstChange) {
    using namespace std::chrono_literals;
    RecordSchedule schedule;
    const RecordSchedule::Clock::time_point t0{};
    EXPECT_FALSE(schedule.Due());
    schedule.Changed(t0);
    EXPECT_EQ(schedule.Due(), t0 + 1s);
    schedule.Changed(t0 + 300ms);
    EXPECT_EQ(schedule.Due(), t0 + 1300ms);
    for (auto t = 300ms; t < 6s; t += 300ms) {
        schedule.Changed(t0 + t);
    }
    EXPECT_EQ(schedule.Due(), t0 + 5s);
    schedule.Recorded();
    EXPECT_FALSE(schedule.Due());
    schedule.Changed(t0 + 6s);
    EXPECT_EQ(schedule.Due(), t0 + 7s);
}

}  // namespace
}  // namespace velloran
