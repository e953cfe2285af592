#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/document/DocumentBuffer.h"
#include "core/document/State.h"
#include "core/recovery/RecoveryRecord.h"
#include "core/storage/FileIO.h"

namespace velloran {

// The boot id of the running system (/proc/sys/kernel/random/boot_id), empty when unknown.
std::string BootId();

// Removes a record's folder with the files in it, its manifest first, so that a removal cut short
// never leaves a record that lacks some of its parts.
void RemoveRecordFolder(const std::string& folder);

// What the lock file of a record says about the run that keeps it.
struct LockDescription {
    std::int64_t pid = 0;
    std::string bootId;
    std::string path;  // the document's
};

// The place of one run's record: the lock file "run-XXXXXX" in the recovery folder, locked
// (flock) for as long as the run lasts and naming its process, boot and document, beside the
// record's folder "run-XXXXXX.d". A lock nobody holds belongs to a run that ended.
class RecordSlot {
  public:
    // A new slot in recoveryFolder for the document at path; nullptr when it cannot be made.
    static std::unique_ptr<RecordSlot> Create(const std::string& recoveryFolder,
                                              const std::string& path);
    // The slot of the lock file at lockPath, locked now; nullptr while a running process holds it.
    static std::unique_ptr<RecordSlot> Take(const std::string& lockPath);
    // Lets go of the lock; the files stay.
    ~RecordSlot() = default;
    RecordSlot(const RecordSlot&) = delete;
    RecordSlot& operator=(const RecordSlot&) = delete;

    const std::string& LockPath() const { return lock_; }
    // The record's folder.
    const std::string& Folder() const { return folder_; }
    // Says that this process, on this boot, keeps the record of path, on disk; false when it
    // could not.
    bool Describe(const std::string& path);
    // Removes the record, its folder and the lock file.
    void Remove();
    // Moves the record's folder into aside (made when missing) and removes the lock file. The
    // folder's new path; nothing when it could not be moved.
    std::optional<std::string> MoveTo(const std::string& aside);

  private:
    RecordSlot(int fd, std::string lock) : fd_(fd), lock_(std::move(lock)), folder_(lock_ + ".d") {}
    UniqueFd fd_;
    std::string lock_;
    std::string folder_;
};

std::optional<LockDescription> ReadLockDescription(const std::string& lockPath);

// One section's changes since the last job: a new text, and edits after it.
struct SectionUpdate {
    bool replaced = false;
    SharedBytes block;  // holds text
    std::string_view text;
    std::vector<ByteEdit> edits;
};

// How a record is to be sealed. The legacy key leaves no copy behind: what it held is wiped when
// it is replaced, when it goes, and in the one it was moved from.
struct RecordKeying {
    RecordKeying() = default;
    RecordKeying(const RecordKeying&) = default;
    RecordKeying(RecordKeying&& other) noexcept
        : protection(other.protection),
          key(std::move(other.key)),
          legacyKey(std::move(other.legacyKey)),
          params(other.params) {
        Wipe(other.legacyKey);
    }
    RecordKeying& operator=(const RecordKeying& other) {
        if (this != &other) {
            Wipe(legacyKey);
            protection = other.protection;
            key = other.key;
            legacyKey = other.legacyKey;
            params = other.params;
        }
        return *this;
    }
    RecordKeying& operator=(RecordKeying&& other) noexcept {
        if (this != &other) {
            Wipe(legacyKey);
            protection = other.protection;
            key = std::move(other.key);
            legacyKey = std::move(other.legacyKey);
            params = other.params;
            Wipe(other.legacyKey);
        }
        return *this;
    }
    ~RecordKeying() { Wipe(legacyKey); }

    RecordProtection protection = RecordProtection::None;
    // DocumentKey: the sealed document's key.
    std::shared_ptr<const SealKey> key;
    // DerivedKey: the legacy key the record key is derived from, with these parameters.
    std::string legacyKey;
    SealParams params = kSealParams;
};

// A record read back that the writer goes on with instead of writing it anew.
struct Adoption {
    std::unique_ptr<RecordSlot> slot;
    Manifest manifest;
    std::vector<Checksum> journalSums;
    std::shared_ptr<const SealKey> key;
};

struct RecordJob {
    enum class Kind {
        Write,    // the record of the run as it is now
        Discard,  // no record: nothing is unsaved; the parts stay for the next record
        Adopt,    // go on with a record read back
        Close,    // the run ends: every file of the record goes
    };
    Kind kind = Kind::Write;
    std::array<SectionUpdate, kSectionCount> sections;
    int sectionCount = 1;
    std::optional<std::vector<std::string>> titles;
    RecordRun run;
    std::string path;
    std::optional<FileIdentity> identity;
    std::int64_t time = 0;
    // Nothing when the record cannot be protected as the document is: then no record at all.
    std::optional<RecordKeying> keying;
    std::unique_ptr<Adoption> adoption;
};

// Writes records on a thread of its own, job after job, so that the thread that takes the edits
// never waits for a disk. What changed since the last record is all that is written: a frame
// appended to a section's journal, or a section's whole text once its journal has grown past a
// share of it; the manifest, replaced whole, comes last, and only then are parts it no longer
// names removed. A section's text, edits, titles and key are all the writer needs; it keeps what
// the record holds, to compact journals without asking for the text again.
class RecordWriter {
  public:
    explicit RecordWriter(std::unique_ptr<RecordSlot> slot);
    // Finishes the jobs given, then stops; a record on disk stays.
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    void Submit(RecordJob job);
    // Waits until every job given so far is done.
    void Wait();
    // The first failure since the last call, as a message.
    std::optional<std::string> TakeFailure();
    // True when section k's text must be given whole with the next job: edits that did not fit
    // the text the writer holds show that it lost step.
    bool NeedsText(int k) const { return needsText_[static_cast<std::size_t>(k)].load(); }

    // A journal is compacted into a new base once it is larger than this share of the text.
    static std::uint64_t JournalLimit(std::uint64_t textBytes) {
        return std::max<std::uint64_t>(std::uint64_t{64} << 10, textBytes / 4);
    }
    static constexpr std::size_t kMostEdits = 4096;

  private:
    struct SectionState {
        SharedBytes block;
        std::string_view text;  // with edits applied, what the record holds for the section
        std::vector<ByteEdit> edits;
        std::size_t journaled = 0;  // edits already in the journal part
        SectionParts parts;
        Checksum journalSum;
    };

    void Run();
    void Process(RecordJob& job);
    void Apply(RecordJob& job);
    bool UseKey(const RecordKeying& keying);
    bool SameKey(const std::optional<RecordKeying>& keying) const;
    // The parts on disk no longer count: the next record writes every section anew.
    void DropParts();
    void Write(const RecordJob& job);
    void WriteSection(int k);
    void Compact(int k);
    void RemoveManifest();
    void Adopt(RecordJob& job);
    // Removes every file of the record's folder that the record does not name.
    void Sweep();
    std::string PartPath(const std::string& name) const;
    void Fail(const std::string& message);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<RecordJob> queue_;
    bool busy_ = false;
    bool stop_ = false;
    std::optional<std::string> failure_;
    std::array<std::atomic<bool>, kSectionCount> needsText_{};

    // The worker's own.
    std::unique_ptr<RecordSlot> slot_;
    std::array<SectionState, kSectionCount> sections_;
    std::vector<std::string> titles_;
    RecordPart titlesPart_;
    RecordProtection protection_ = RecordProtection::None;
    std::shared_ptr<const SealKey> key_;
    std::uint64_t sequence_ = 0;
    bool manifestOnDisk_ = false;
    std::string describedPath_;

    std::thread thread_;
};

inline constexpr std::string_view kRecordsNotWritten =
    "Unsaved changes cannot be kept for recovery in %s. Until this is mended, save often: a "
    "crash would lose what was typed since the last save.";

}  // namespace velloran
