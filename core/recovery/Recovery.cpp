#include "core/recovery/Recovery.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <utility>
#include <vector>

#include "core/document/Encoding.h"
#include "core/document/Error.h"
#include "core/document/Sections.h"
#include "core/protection/Cipher.h"
#include "core/protection/Protection.h"
#include "core/protection/SealedDocument.h"
#include "core/storage/FileIO.h"
#include "core/storage/StateFolder.h"

namespace velloran {
namespace {

constexpr std::size_t kMostManifest = std::size_t{64} << 20;

std::vector<std::string> LockFiles(const std::string& folder) {
    std::vector<std::string> locks;
    for (const auto& name : FolderNames(folder)) {
        if (name.starts_with("run-") && name.find('.') == std::string::npos) {
            locks.push_back(folder + "/" + name);
        }
    }
    return locks;
}

std::string ManifestPath(const std::string& recordFolder) {
    return recordFolder + "/manifest";
}

// A folder, not through a symbolic link, that IsPrivate holds.
bool IsPrivateFolder(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && IsPrivate(st);
}

std::string TimeText(std::int64_t seconds) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm local{};
    char text[64];
    if (!::localtime_r(&t, &local) ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
        return std::to_string(seconds);
    }
    return text;
}

struct Found {
    std::unique_ptr<RecordSlot> slot;
    Manifest manifest;
};

// Moves a damaged record where it is kept for inspection, and says so.
void ReportDamaged(Session& s, RecordSlot& slot, const std::string& message) {
    const auto kept = slot.MoveTo(RecoveryFolder() + "/" + std::string(kDamagedFolder));
    s.dialogs.ShowMessage(Format(Format(kRecordKeptAt, message), kept.value_or(slot.Folder())));
}

enum class Outcome { Restored, Kept, Damaged };

Outcome Recover(Session& s, RecoveryRecorder& recorder, Found& found) {
    const Manifest& m = found.manifest;
    const std::string& path = m.path;
    std::shared_ptr<const SealKey> key;
    std::string legacyKey;
    struct WipeKey {
        std::string& key;
        ~WipeKey() { Wipe(key); }
    } wipe{legacyKey};
    try {
        if (m.protection != RecordProtection::None) {
            const KeyText form =
                m.protection == RecordProtection::DerivedKey ? KeyText::CodePage : KeyText::Utf8;
            for (bool wrong = false;; wrong = true) {
                if (wrong) {
                    s.dialogs.ShowMessage(Format(kWrongKey, path));
                }
                const TypedKey typed(s, form);
                if (!typed.Confirmed()) {
                    return Outcome::Kept;
                }
                try {
                    // The run's state is sealed like every part: the key is checked on it first.
                    UnsealBytes(m.run, typed.answer.text, path, {}, &key);
                } catch (const WrongKey&) {
                    continue;
                } catch (const Error&) {
                    throw RecordDamaged(DamagedMessage(path));
                }
                legacyKey = typed.answer.text;
                break;
            }
        }
        RecoveredRecord record = ReadRecord(found.slot->Folder(), m, std::move(key));
        // Handed on as it is, not copied: only the legacy key becomes the run's.
        if (m.protection != RecordProtection::DerivedKey) {
            Wipe(legacyKey);
        }
        RestoreRecord(s, record, legacyKey);
        recorder.Adopt(std::move(found.slot), record);
        return Outcome::Restored;
    } catch (const RecordDamaged& e) {
        ReportDamaged(s, *found.slot, e.what());
        return Outcome::Damaged;
    }
}

}  // namespace

// ---- what is recorded

std::string RecordPath(const State& st) {
    return DocumentPath(st);
}

std::optional<RecordKeying> RecordKeyingOf(const State& st) {
    auto side = SideKeyOf(st);
    if (!side) {
        return std::nullopt;
    }
    RecordKeying keying;
    switch (side->kind) {
        case SideKey::Kind::None:
            break;
        case SideKey::Kind::DocumentKey:
            keying.protection = RecordProtection::DocumentKey;
            keying.key = std::move(side->documentKey);
            break;
        case SideKey::Kind::DerivedKey:
            keying.protection = RecordProtection::DerivedKey;
            keying.legacyKey = side->legacyKey;
            keying.params = SealingParams();
            break;
    }
    return keying;
}

std::string RecoveryFolder() {
    return StateFolder() + "/recovery";
}

// ---- the recorder

RecoveryRecorder::~RecoveryRecorder() = default;

void RecoveryRecorder::SlotsReplaced(const SharedBytes& block,
                                     std::span<const std::string_view> texts) {
    if (stopped_) {
        return;
    }
    for (std::size_t k = 0; k < texts.size() && k < kSectionCount; ++k) {
        pending_[k] = {true, block, texts[k], {}};
    }
    titlesChanged_ = true;
}

void RecoveryRecorder::SlotReplaced(int k, const SharedBytes& block, std::string_view text) {
    if (stopped_) {
        return;
    }
    pending_[static_cast<std::size_t>(k)] = {true, block, text, {}};
}

void RecoveryRecorder::SlotEdited(int k, std::size_t position, std::size_t removed,
                                  std::string_view inserted) {
    if (stopped_) {
        return;
    }
    std::vector<ByteEdit>& edits = pending_[static_cast<std::size_t>(k)].edits;
    // Typing and deleting what was just typed grow or shrink one edit instead of adding one per
    // key.
    if (!edits.empty()) {
        ByteEdit& last = edits.back();
        const std::uint64_t end = last.position + last.inserted.size();
        if (removed == 0 && position == end) {
            last.inserted.append(inserted);
            return;
        }
        if (inserted.empty() && position >= last.position && position + removed == end) {
            last.inserted.resize(position - last.position);
            if (last.inserted.empty() && last.removed == 0) {
                edits.pop_back();
            }
            return;
        }
    }
    edits.push_back({position, removed, std::string(inserted)});
}

bool RecoveryRecorder::Claim(const std::string& recoveryFolder, const std::string& path) {
    auto slot = RecordSlot::Create(recoveryFolder, path);
    if (!slot) {
        return false;
    }
    lockPath_ = slot->LockPath();
    writer_ = std::make_unique<RecordWriter>(std::move(slot));
    return true;
}

void RecoveryRecorder::Record(const Session& s) {
    if (!writer_) {
        return;
    }
    const State& st = s.st;
    RecordJob job;
    for (int k = 0; k <= st.LastSection; ++k) {
        SectionUpdate& update = pending_[static_cast<std::size_t>(k)];
        if (writer_->NeedsText(k) && !update.replaced) {
            auto block = std::make_shared<const std::string>(s.sections.ReadSlot(k));
            update = {true, block, *block, {}};
        }
    }
    job.sections = std::exchange(pending_, {});
    job.sectionCount = st.LastSection + 1;
    job.keying = RecordKeyingOf(st);
    const bool suspended = st.Modified && !job.keying;
    if (suspended && !suspended_) {
        suspension_ = Format(kRecordsSuspended, RecordPath(st));
    }
    suspended_ = suspended;
    if (!st.Modified) {
        job.kind = RecordJob::Kind::Discard;
    } else {
        if (titlesChanged_) {
            std::vector<std::string> titles;
            for (int k = 0; k < s.list.Count(); ++k) {
                titles.push_back(s.list.Title(k));
            }
            job.titles = std::move(titles);
            titlesChanged_ = false;
        }
        job.run = {AbsolutePath(st.FileName), st.LastSection,   st.PanelMode,  st.Panel1Section,
                   st.Panel2Section,          st.ActiveSection, st.Enciphered, st.Sealed};
        const std::string target = RecordPath(st);
        job.path = target;
        for (const auto& [onDisk, identity] : st.OnDisk) {
            if (AbsolutePath(onDisk) == target) {
                job.identity = identity;
            }
        }
        job.time = static_cast<std::int64_t>(std::time(nullptr));
    }
    const bool written = job.kind == RecordJob::Kind::Write && job.keying;
    writer_->Submit(std::move(job));
    if (written) {
        s.Taken(ProgressMoment::Recorded);
    }
}

void RecoveryRecorder::Adopt(std::unique_ptr<RecordSlot> slot, const RecoveredRecord& record) {
    if (!writer_) {
        writer_ = std::make_unique<RecordWriter>(nullptr);
    }
    lockPath_ = slot->LockPath();
    RecordJob job;
    job.kind = RecordJob::Kind::Adopt;
    job.sections = std::exchange(pending_, {});
    job.titles = record.titles;
    titlesChanged_ = false;
    job.adoption = std::make_unique<Adoption>();
    job.adoption->slot = std::move(slot);
    job.adoption->manifest = record.manifest;
    for (const RecoveredSection& section : record.sections) {
        job.adoption->journalSums.push_back(section.journalSum);
    }
    job.adoption->key = record.key;
    writer_->Submit(std::move(job));
}

void RecoveryRecorder::Stop() {
    stopped_ = true;
    pending_ = {};
}

void RecoveryRecorder::Close() {
    if (writer_) {
        RecordJob job;
        job.kind = RecordJob::Kind::Close;
        writer_->Submit(std::move(job));
        writer_.reset();
    }
}

void RecoveryRecorder::Wait() {
    if (writer_) {
        writer_->Wait();
    }
}

std::optional<std::string> RecoveryRecorder::TakeSuspension() {
    return std::exchange(suspension_, std::nullopt);
}

std::optional<std::string> RecoveryRecorder::TakeFailure() {
    return writer_ ? writer_->TakeFailure() : std::nullopt;
}

// ---- at start

bool HasRecord(const std::string& path) {
    for (const auto& lock : LockFiles(RecoveryFolder())) {
        const auto description = ReadLockDescription(lock);
        if (description && description->path == path && IsPrivateFolder(lock + ".d") &&
            IsPrivateFile(ManifestPath(lock + ".d"))) {
            return true;
        }
    }
    return false;
}

void RemoveOldAside(const std::string& folder, std::time_t now) {
    for (const auto& name : FolderNames(folder)) {
        // Set aside as "<name>-<seconds since the epoch>".
        const std::size_t dash = name.rfind('-');
        long long when = 0;
        if (dash != std::string::npos &&
            std::from_chars(name.data() + dash + 1, name.data() + name.size(), when).ec ==
                std::errc() &&
            now - when > std::time_t{kAsideDays} * 24 * 60 * 60) {
            RemoveRecordFolder(folder + "/" + name);
        }
    }
}

namespace {

StartRecovery Offer(Session& s, RecoveryRecorder& recorder) {
    const auto folder = MakeStateFolder("recovery");
    const std::string path = RecordPath(s.st);
    // Claimed first, so that a run starting at the same moment sees this one.
    if (!folder || !recorder.Claim(*folder, path)) {
        s.dialogs.ShowMessage(Format(kRecordsNotWritten, RecoveryFolder()));
        if (!folder) {
            return StartRecovery::Open;
        }
    }
    const std::time_t now = std::time(nullptr);
    RemoveOldAside(*folder + "/" + std::string(kDiscardedFolder), now);
    RemoveOldAside(*folder + "/" + std::string(kDamagedFolder), now);

    std::vector<std::int64_t> running;
    std::vector<Found> found;
    for (const auto& lock : LockFiles(*folder)) {
        if (lock == recorder.LockPath()) {
            continue;
        }
        auto slot = RecordSlot::Take(lock);
        if (!slot) {
            // Locked: its run goes on. (Or not the user's: left alone.)
            if (const auto d = ReadLockDescription(lock); d && d->path == path) {
                running.push_back(d->pid);
            }
            continue;
        }
        // Read as strictly as written: a record folder or manifest of another user, or that
        // others may change, is no record of this user's, and is left as it is.
        struct stat folderStatus;
        if (::lstat(slot->Folder().c_str(), &folderStatus) == 0 &&
            !IsPrivateFolder(slot->Folder())) {
            continue;
        }
        const std::string manifest = ManifestPath(slot->Folder());
        const auto bytes = ReadPrivateFile(manifest, kMostManifest);
        if (!bytes) {
            // A run that ended with nothing unsaved, or before its first record.
            struct stat manifestStatus;
            if (::lstat(manifest.c_str(), &manifestStatus) != 0 && errno == ENOENT) {
                slot->Remove();
            }
            continue;
        }
        try {
            Manifest m = DecodeManifest(*bytes, path);
            if (m.path == path) {
                slot->Describe(path);
                found.push_back({std::move(slot), std::move(m)});
            }
        } catch (const RecordDamaged& e) {
            if (const auto d = ReadLockDescription(lock); d && d->path == path) {
                ReportDamaged(s, *slot, e.what());
            }
        } catch (const Error&) {
            // Written by a newer version: left for it.
        }
    }
    if (!running.empty() &&
        !s.dialogs.AskYesNo(Format(Format(kOpenElsewhere, path), std::to_string(running[0])))) {
        return StartRecovery::Quit;
    }
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.manifest.time > b.manifest.time; });
    for (Found& f : found) {
        if (!s.dialogs.AskYesNo(Format(Format(kRecoverChanges, path), TimeText(f.manifest.time)))) {
            f.slot->MoveTo(*folder + "/" + std::string(kDiscardedFolder));
            continue;
        }
        switch (Recover(s, recorder, f)) {
            case Outcome::Restored:
                return StartRecovery::Restored;
            case Outcome::Kept:
                return StartRecovery::Open;  // offered again at the next start
            case Outcome::Damaged:
                break;
        }
    }
    return StartRecovery::Open;
}

}  // namespace

StartRecovery OfferRecovery(Session& s, RecoveryRecorder& recorder) {
    const StartRecovery outcome = Offer(s, recorder);
    if (!recorder.Active()) {
        recorder.Stop();
    }
    return outcome;
}

void RestoreRecord(Session& s, RecoveredRecord& record, const std::string& legacyKey) {
    State& st = s.st;
    const RecordRun& run = record.run;
    st.FileName = run.fileName;
    st.Enciphered = run.enciphered;
    st.Sealed = run.sealed;
    st.UnopenedSealed.clear();
    if (record.manifest.protection == RecordProtection::DocumentKey) {
        st.SealKeyInUse = record.key;
    } else if (record.manifest.protection == RecordProtection::DerivedKey) {
        Wipe(st.CipherKey);  // a longer key before it would stay behind the new one
        st.CipherKey = legacyKey;
    }
    // Told as a read tells it, before anything shows the text: no character spans two
    // sections, so the document is UTF-8 when no section holds another form.
    ByteForm form = ByteForm::Ascii;
    for (const auto& section : record.sections) {
        const ByteForm f = FormOf(section.text);
        if (f == ByteForm::Other || (f == ByteForm::Utf8 && form == ByteForm::Ascii)) {
            form = f;
        }
    }
    st.DocumentEncoding = EncodingFor(form);
    for (std::size_t k = 0; k < record.sections.size(); ++k) {
        s.sections.SetSlotText(static_cast<int>(k), std::move(record.sections[k].text));
    }
    s.list.Clear();
    for (const auto& title : record.titles) {
        s.list.Add(title);
    }
    // Nothing was read in this run: Decript reads the document's file.
    s.buffer.Clear();
    st.LastSection = run.lastSection;
    st.PanelMode = run.panelMode;
    st.Panel1Section = run.panel1Section;
    st.Panel2Section = run.panel2Section;
    st.ActiveSection = run.activeSection;
    // A save asks before it overwrites what another program wrote since the crashed run read it.
    const std::string target = RecordPath(st);
    if (record.manifest.identity) {
        st.OnDisk[target] = *record.manifest.identity;
        // A file still as the crashed run knew it is what its changes were made from: a change
        // on disk from now on is merged from there.
        if (IdentityOf(target) == record.manifest.identity) {
            try {
                KeepMergeBase(st, target, ReadWithKeysInUse(st, target));
            } catch (const Error&) {
                // Then a save asks before it replaces the file, as without a base.
            }
        }
    } else {
        st.OnDisk.erase(target);
    }
    st.Modified = true;
    s.Taken(ProgressMoment::Opened);
}

}  // namespace velloran
