#include "core/recovery/RecoveryWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <ctime>
#include <set>

#include "core/storage/FileIO.h"
#include "core/storage/StateFolder.h"

namespace velloran {
namespace {

constexpr std::string_view kLockMagic = "velloran recovery lock 1\n";
constexpr const char* kManifestName = "manifest";

// Writes a file of the record that no manifest names yet: complete and on disk before one does.
bool WriteNewFile(const std::string& path, const std::function<void(OutputFile&)>& produce) {
    const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                             kStateFileMode));
    if (!fd || ::fchmod(fd.get(), kStateFileMode) != 0) {
        return false;
    }
    OutputFile out(fd.get());
    produce(out);
    return out.Flush() && ::fsync(fd.get()) == 0;
}

}  // namespace

void RemoveRecordFolder(const std::string& folder) {
    ::unlink((folder + "/" + kManifestName).c_str());
    for (const auto& name : FolderNames(folder)) {
        ::unlink((folder + "/" + name).c_str());
    }
    ::rmdir(folder.c_str());
}

namespace {

std::string PartName(char kind, int k, std::uint64_t sequence) {
    return std::string(1, kind) + std::to_string(k) + "-" + std::to_string(sequence);
}

}  // namespace

std::string BootId() {
    static const std::string id = [] {
        std::string text = ReadWholeFile("/proc/sys/kernel/random/boot_id", 256).value_or("");
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
            text.pop_back();
        }
        return text;
    }();
    return id;
}

// ---- slots

std::unique_ptr<RecordSlot> RecordSlot::Create(const std::string& recoveryFolder,
                                               const std::string& path) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string lock = recoveryFolder + "/run-XXXXXX";
        UniqueFd fd(::mkostemp(lock.data(), O_CLOEXEC));
        if (!fd) {
            return nullptr;
        }
        LockExclusive(fd.get(), true);
        // A starting run may have taken it for a dead one's and removed it before it was locked.
        struct stat st;
        if (::fstat(fd.get(), &st) != 0 || st.st_nlink == 0) {
            continue;
        }
        std::unique_ptr<RecordSlot> slot(new RecordSlot(fd.Release(), lock));
        if (::mkdir(slot->folder_.c_str(), 0700) != 0) {
            ::unlink(lock.c_str());
            return nullptr;
        }
        // The lock with its description and the record's folder are on disk before any record
        // is written: a crash must not lose the folder of a record, nor what it belongs to.
        if (!slot->Describe(path) || !SyncFolder(recoveryFolder)) {
            ::rmdir(slot->folder_.c_str());
            ::unlink(lock.c_str());
            return nullptr;
        }
        return slot;
    }
    return nullptr;
}

std::unique_ptr<RecordSlot> RecordSlot::Take(const std::string& lockPath) {
    UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st;
    if (!fd || !LockExclusive(fd.get(), false) || ::fstat(fd.get(), &st) != 0 ||
        !S_ISREG(st.st_mode) || !IsPrivate(st) || st.st_nlink == 0) {
        return nullptr;
    }
    return std::unique_ptr<RecordSlot>(new RecordSlot(fd.Release(), lockPath));
}

bool RecordSlot::Describe(const std::string& path) {
    const std::string text =
        std::string(kLockMagic) + std::to_string(::getpid()) + "\n" + BootId() + "\n" + path;
    return ::pwrite(fd_.get(), text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
           ::ftruncate(fd_.get(), static_cast<off_t>(text.size())) == 0 && ::fsync(fd_.get()) == 0;
}

void RecordSlot::Remove() {
    RemoveRecordFolder(folder_);
    ::unlink(lock_.c_str());
    SyncFolder(FolderPart(lock_));
}

std::optional<std::string> RecordSlot::MoveTo(const std::string& aside) {
    if (!MakeFolders(aside, 0700)) {
        return std::nullopt;
    }
    const std::string moved =
        aside + "/" + FileNamePart(lock_) + "-" + std::to_string(::time(nullptr));
    if (::rename(folder_.c_str(), moved.c_str()) != 0) {
        return std::nullopt;
    }
    ::unlink(lock_.c_str());
    SyncFolder(FolderPart(lock_));
    return moved;
}

std::optional<LockDescription> ReadLockDescription(const std::string& lockPath) {
    // Read as strictly as it was written: a lock of another user, or that others may change,
    // describes no run of this user's.
    const std::string text = ReadPrivateFile(lockPath, 1 << 16).value_or("");
    if (!text.starts_with(kLockMagic)) {
        return std::nullopt;
    }
    LockDescription d;
    const std::size_t pidEnd = text.find('\n', kLockMagic.size());
    const std::size_t bootEnd =
        pidEnd == std::string::npos ? std::string::npos : text.find('\n', pidEnd + 1);
    if (bootEnd == std::string::npos ||
        std::from_chars(text.data() + kLockMagic.size(), text.data() + pidEnd, d.pid).ec !=
            std::errc()) {
        return std::nullopt;
    }
    d.bootId = text.substr(pidEnd + 1, bootEnd - pidEnd - 1);
    d.path = text.substr(bootEnd + 1);
    return d;
}

// ---- the writer

RecordWriter::RecordWriter(std::unique_ptr<RecordSlot> slot) : slot_(std::move(slot)) {
    thread_ = std::thread(&RecordWriter::Run, this);
}

RecordWriter::~RecordWriter() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void RecordWriter::Submit(RecordJob job) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
    }
    changed_.notify_all();
}

void RecordWriter::Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

std::optional<std::string> RecordWriter::TakeFailure() {
    std::lock_guard lock(mutex_);
    return std::exchange(failure_, std::nullopt);
}

void RecordWriter::Fail(const std::string& message) {
    std::lock_guard lock(mutex_);
    if (!failure_) {
        failure_ = message;
    }
}

void RecordWriter::Run() {
    for (;;) {
        RecordJob job;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || !queue_.empty(); });
            if (queue_.empty()) {
                return;
            }
            job = std::move(queue_.front());
            queue_.pop_front();
            busy_ = true;
        }
        try {
            Process(job);
        } catch (const std::exception& e) {
            Fail(e.what());  // out of memory, most likely: the thread goes on with the next job
        }
        {
            std::lock_guard lock(mutex_);
            busy_ = false;
        }
        changed_.notify_all();
    }
}

std::string RecordWriter::PartPath(const std::string& name) const {
    return slot_->Folder() + "/" + name;
}

void RecordWriter::Process(RecordJob& job) {
    if (job.kind == RecordJob::Kind::Adopt) {
        Adopt(job);
        return;
    }
    if (job.kind == RecordJob::Kind::Close) {
        if (slot_) {
            slot_->Remove();
            slot_.reset();
        }
        return;
    }
    Apply(job);
    if (!slot_) {
        return;
    }
    if (job.kind == RecordJob::Kind::Discard || !job.keying) {
        RemoveManifest();
        // Parts kept for the next record must be sealed as that record will be: text of a
        // document that is protected now must not stay behind in the form it had before.
        if (!SameKey(job.keying)) {
            DropParts();
            key_.reset();
            protection_ = RecordProtection::None;
            Sweep();
        }
        return;
    }
    if (UseKey(*job.keying)) {
        Write(job);
    }
}

void RecordWriter::Apply(RecordJob& job) {
    for (std::size_t k = 0; k < kSectionCount; ++k) {
        SectionUpdate& update = job.sections[k];
        SectionState& s = sections_[k];
        if (update.replaced) {
            s.block = std::move(update.block);
            s.text = update.text;
            s.edits.clear();
            s.journaled = 0;
            s.parts = {};
            s.journalSum = {};
            needsText_[k] = false;
        }
        for (ByteEdit& e : update.edits) {
            s.edits.push_back(std::move(e));
        }
    }
    if (job.titles) {
        titles_ = std::move(*job.titles);
        titlesPart_ = {};
    }
}

bool RecordWriter::SameKey(const std::optional<RecordKeying>& keying) const {
    if (!keying || keying->protection != protection_) {
        return false;
    }
    switch (protection_) {
        case RecordProtection::None:
            return true;
        case RecordProtection::DocumentKey:
            return key_ == keying->key;
        case RecordProtection::DerivedKey:
            return key_ && key_->Matches(keying->legacyKey);
    }
    return false;
}

bool RecordWriter::UseKey(const RecordKeying& keying) {
    if (SameKey(keying)) {
        return true;
    }
    std::shared_ptr<const SealKey> key = keying.key;
    if (keying.protection == RecordProtection::DerivedKey) {
        // Once per key and run: Argon2id takes its time and memory, here and not in the window.
        try {
            key = SealKey::Derive(keying.legacyKey, keying.params);
        } catch (const Error& e) {
            Fail(e.what());
            return false;
        }
    }
    DropParts();
    protection_ = keying.protection;
    key_ = std::move(key);
    return protection_ == RecordProtection::None || key_;
}

void RecordWriter::DropParts() {
    for (SectionState& s : sections_) {
        s.parts = {};
        s.journalSum = {};
        s.journaled = 0;
    }
    titlesPart_ = {};
}

namespace {

// Edits that do not fit the text the writer holds.
struct OutOfStep {
    int section;
};

}  // namespace

void RecordWriter::Compact(int k) {
    SectionState& s = sections_[static_cast<std::size_t>(k)];
    if (!s.edits.empty()) {
        std::string text(s.text);
        try {
            ApplyEdits(text, s.edits, slot_->Folder());
        } catch (const RecordDamaged&) {
            throw OutOfStep{k};
        }
        auto block = std::make_shared<const std::string>(std::move(text));
        s.text = *block;
        s.block = std::move(block);
        s.edits.clear();
    }
    s.journaled = 0;
    const std::string name = PartName('b', k, sequence_);
    Checksum sum;
    std::uint64_t length = 0;
    const bool ok = WriteNewFile(PartPath(name), [&](OutputFile& out) {
        auto sink = [&](std::string_view bytes) {
            sum.Update(bytes);
            length += bytes.size();
            out.Write(bytes);
        };
        if (key_) {
            SealWriter writer(*key_, sink);
            writer.Write(s.text);
            writer.Finish();
        } else {
            sink(s.text);
        }
    });
    if (!ok) {
        throw Error(PartPath(name));
    }
    s.parts = {{name, length, sum.Value()}, {}};
    s.journalSum = {};
}

void RecordWriter::WriteSection(int k) {
    SectionState& s = sections_[static_cast<std::size_t>(k)];
    if (!s.parts.base) {
        Compact(k);
        return;
    }
    if (s.journaled == s.edits.size()) {
        return;
    }
    const std::string payload =
        MaybeSeal(key_.get(), EncodeEdits(std::span<const ByteEdit>(s.edits).subspan(s.journaled)));
    std::string frame(8, '\0');
    for (std::size_t i = 0; i < 8; ++i) {
        frame[i] = static_cast<char>(std::uint64_t{payload.size()} >> (8 * i));
    }
    frame += payload;
    if (s.parts.journal.length + frame.size() > JournalLimit(s.text.size()) ||
        s.edits.size() > kMostEdits) {
        Compact(k);
        return;
    }
    RecordPart journal = s.parts.journal;
    if (!journal) {
        journal.name = PartName('j', k, sequence_);
    }
    // Written at the length the record names, over whatever a killed writer left after it.
    const UniqueFd fd(::open(PartPath(journal.name).c_str(),
                             O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, kStateFileMode));
    if (!fd ||
        !WriteAllAt(fd.get(), frame.data(), frame.size(), static_cast<off_t>(journal.length)) ||
        ::fsync(fd.get()) != 0) {
        throw Error(PartPath(journal.name));
    }
    s.journalSum.Update(frame);
    journal.length += frame.size();
    journal.checksum = s.journalSum.Value();
    s.parts.journal = std::move(journal);
    s.journaled = s.edits.size();
}

void RecordWriter::Write(const RecordJob& job) {
    ++sequence_;
    try {
        for (int k = 0; k < job.sectionCount; ++k) {
            WriteSection(k);
        }
        for (std::size_t k = static_cast<std::size_t>(job.sectionCount); k < kSectionCount; ++k) {
            sections_[k].parts = {};
            sections_[k].journalSum = {};
            sections_[k].journaled = 0;
        }
        if (!titlesPart_) {
            const std::string name = "t-" + std::to_string(sequence_);
            const std::string bytes = MaybeSeal(key_.get(), EncodeStrings(titles_));
            if (!WriteNewFile(PartPath(name), [&](OutputFile& out) { out.Write(bytes); })) {
                throw Error(PartPath(name));
            }
            titlesPart_ = {name, bytes.size(), Checksum::Of(bytes)};
        }
        Manifest m;
        m.path = job.path;
        m.identity = job.identity;
        m.pid = ::getpid();
        m.bootId = BootId();
        m.time = job.time;
        m.sequence = sequence_;
        m.protection = protection_;
        if (key_) {
            m.params = key_->params();
            m.salt = key_->salt();
        }
        m.titles = titlesPart_;
        for (int k = 0; k < job.sectionCount; ++k) {
            m.sections.push_back(sections_[static_cast<std::size_t>(k)].parts);
        }
        m.run = MaybeSeal(key_.get(), EncodeRun(job.run));
        // The parts' names must be on disk before a manifest names them, and the manifest's
        // before the record counts as written.
        if (!SyncFolder(slot_->Folder())) {
            throw Error(slot_->Folder());
        }
        const std::string manifest = EncodeManifest(m);
        const std::string next = PartPath(std::string(kManifestName) + ".new");
        if (!WriteNewFile(next, [&](OutputFile& out) { out.Write(manifest); }) ||
            ::rename(next.c_str(), PartPath(kManifestName).c_str()) != 0 ||
            !SyncFolder(slot_->Folder())) {
            throw Error(PartPath(kManifestName));
        }
        manifestOnDisk_ = true;
        Sweep();
        if (describedPath_ != job.path) {
            if (!slot_->Describe(job.path)) {
                throw Error(slot_->LockPath());
            }
            describedPath_ = job.path;
        }
    } catch (const OutOfStep& e) {
        // Not the disk's fault: the next job brings the section's whole text.
        needsText_[static_cast<std::size_t>(e.section)] = true;
        DropParts();
    } catch (const std::exception&) {
        // The last manifest written still names whole parts; the next record starts afresh.
        DropParts();
        Fail(Format(kRecordsNotWritten, slot_->Folder()));
    }
}

void RecordWriter::RemoveManifest() {
    if (manifestOnDisk_) {
        ::unlink(PartPath(kManifestName).c_str());
        SyncFolder(slot_->Folder());
        manifestOnDisk_ = false;
    }
}

void RecordWriter::Sweep() {
    std::set<std::string> keep;
    if (manifestOnDisk_) {
        keep.insert(kManifestName);
    }
    keep.insert(titlesPart_.name);
    for (const SectionState& s : sections_) {
        keep.insert(s.parts.base.name);
        keep.insert(s.parts.journal.name);
    }
    for (const auto& name : FolderNames(slot_->Folder())) {
        if (!keep.contains(name)) {
            ::unlink(PartPath(name).c_str());
        }
    }
}

void RecordWriter::Adopt(RecordJob& job) {
    Adoption& a = *job.adoption;
    if (slot_) {
        slot_->Remove();
    }
    slot_ = std::move(a.slot);
    Apply(job);
    for (std::size_t k = 0; k < a.manifest.sections.size(); ++k) {
        sections_[k].parts = a.manifest.sections[k];
        sections_[k].journalSum = a.journalSums[k];
    }
    titlesPart_ = a.manifest.titles;
    protection_ = a.manifest.protection;
    key_ = a.key;
    sequence_ = a.manifest.sequence;
    manifestOnDisk_ = true;
    describedPath_ = a.manifest.path;
    Sweep();
}

}  // namespace velloran
