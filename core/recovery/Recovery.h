#pragma once

// Crash recovery: while a document has unsaved changes, a record of them (RecoveryRecord.h) is
// kept in $XDG_STATE_HOME/velloran/recovery, and the next start offers what a run that was
// killed left there.

#include <array>
#include <chrono>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/document/Host.h"
#include "core/recovery/RecoveryWriter.h"
#include "core/storage/Paths.h"

namespace velloran {

// When the next record is due: a second after the changes pause, and no later than five seconds
// after the first change not yet recorded, however long they go on.
class RecordSchedule {
  public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kPause = std::chrono::seconds(1);
    static constexpr Clock::duration kLongest = std::chrono::seconds(5);

    void Changed(Clock::time_point now) {
        if (!first_) {
            first_ = now;
        }
        last_ = now;
    }
    std::optional<Clock::time_point> Due() const {
        if (!first_) {
            return std::nullopt;
        }
        return std::min(last_ + kPause, *first_ + kLongest);
    }
    void Recorded() { first_.reset(); }

  private:
    std::optional<Clock::time_point> first_;
    Clock::time_point last_;
};

// The side of the records that runs with the windows: it learns every change of the sections as
// it happens, keeping only the small edits and shares of texts that no one changes, and hands them
// with the run's state to a writer on a thread of its own. Nothing here reads a whole section.
class RecoveryRecorder : public SlotObserver {
  public:
    RecoveryRecorder() = default;
    // Finishes what was handed over; a record on disk stays, as after a crash.
    ~RecoveryRecorder() override;

    void SlotsReplaced(const SharedBytes& block, std::span<const std::string_view> texts) override;
    void SlotReplaced(int k, const SharedBytes& block, std::string_view text) override;
    void SlotEdited(int k, std::size_t position, std::size_t removed,
                    std::string_view inserted) override;

    // Takes the place of this run's record in the recovery folder, locked for the life of the
    // run. False when there is none to take: then nothing is recorded.
    bool Claim(const std::string& recoveryFolder, const std::string& path);
    bool Active() const { return writer_ != nullptr; }
    const std::string& LockPath() const { return lockPath_; }

    // Hands over what changed since the last call: a record of the run as it is, while it has
    // unsaved changes; no record otherwise.
    void Record(const Session& s);
    // Goes on with a record that was read back and restored, instead of writing it again.
    void Adopt(std::unique_ptr<RecordSlot> slot, const RecoveredRecord& record);
    // Nothing can be recorded in this run: changes are no longer gathered.
    void Stop();
    // The run ends: no record stays.
    void Close();
    // Until everything handed over is on disk.
    void Wait();
    // A failure of the writer since the last call, as a message for the user.
    std::optional<std::string> TakeFailure();
    // Once each time unsaved changes stop being recorded because the document needs a key it
    // does not have yet (a new ".vle" or ".vls" document), the message that tells the user.
    std::optional<std::string> TakeSuspension();

  private:
    std::array<SectionUpdate, kSectionCount> pending_;
    bool titlesChanged_ = true;
    bool stopped_ = false;
    bool suspended_ = false;
    std::optional<std::string> suspension_;
    std::string lockPath_;
    std::unique_ptr<RecordWriter> writer_;
};

// The absolute path a save would write now (the enciphered name of an enciphered document):
// what the document's record belongs to.
std::string RecordPath(const State& st);

// How a record of the run as it is would be sealed; nothing when it cannot be sealed as the
// document is (a sealed document that was not opened, an enciphered one without a key yet).
std::optional<RecordKeying> RecordKeyingOf(const State& st);

// $XDG_STATE_HOME/velloran/recovery.
std::string RecoveryFolder();

// True when a record of the document at the absolute path is kept.
bool HasRecord(const std::string& path);

enum class StartRecovery {
    Open,      // read the document as usual
    Restored,  // the record took the place of reading it
    Quit,      // the user would not open a document that another window has open
};

// Once the document is chosen at start, before it is read: claims this run's record, warns when
// another running window has the document open, and offers the records that ended runs left of
// it, newest first. Yes restores one into the session (asking for its key when it is sealed);
// No sets it aside in recovery/discarded for 30 days. A damaged record is reported and moved to
// recovery/damaged, untouched. Where no record can be kept, the user is told, and the recorder
// stops gathering changes.
StartRecovery OfferRecovery(Session& s, RecoveryRecorder& recorder);

// Puts a record read back into the slots, the section list and the state, with Modified set.
void RestoreRecord(Session& s, RecoveredRecord& record, const std::string& legacyKey);

// Removes what was set aside in folder longer than 30 days before now.
void RemoveOldAside(const std::string& folder, std::time_t now);

inline constexpr std::string_view kRecordsSuspended =
    "Unsaved changes to %s are not kept for recovery until it has a key: a crash now would lose "
    "them. Save it (F1) to give it its key.";
inline constexpr std::string_view kRecoverChanges =
    "Unsaved changes to %s from %s were found. Recover them?";
inline constexpr std::string_view kOpenElsewhere =
    "%s is open in another window of Velloran Editor (process %s): what is saved in one window "
    "would overwrite what is saved in the other. Open it here anyway?";
inline constexpr std::string_view kRecordKeptAt = "%s. It is kept for inspection in %s.";
inline constexpr std::string_view kDiscardedFolder = "discarded";
inline constexpr std::string_view kDamagedFolder = "damaged";
inline constexpr int kAsideDays = 30;

}  // namespace velloran
