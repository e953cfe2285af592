#include "core/progress/ProgressWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <iterator>
#include <utility>

#include "core/document/Error.h"
#include "core/progress/ProgressFigures.h"
#include "core/protection/Seal.h"
#include "core/storage/StateFolder.h"

namespace velloran {
namespace {

constexpr int kMostCollisions = 8;

bool SameSide(const SideKey& a, const SideKey& b) {
    return a.kind == b.kind && a.documentKey == b.documentKey && a.legacyKey == b.legacyKey;
}

bool HasSave(const ProgressJob& job) {
    return std::any_of(job.entries.begin(), job.entries.end(),
                       [](const ProgressEntry& e) { return e.moment == ProgressMoment::Saved; });
}

std::string ProgressFolderPath() {
    return StateFolder() + "/progress";
}

std::string SalvagedNotice(const std::string& path, const std::string& kept) {
    return Format(kProgressSalvaged, path) + Format(kProgressDamagedKept, kept);
}

// The key of the log header that key opens: nullptr for a log in the clear; nothing when key
// is not the one. A key derived from the legacy key is derived again with the header's salt.
std::optional<std::shared_ptr<const SealKey>> OpenHeader(const LogHeader& header,
                                                         const SideKey& key,
                                                         const std::string& name) {
    std::shared_ptr<const SealKey> opened;
    try {
        switch (header.protection) {
            case LogProtection::None:
                return opened;
            case LogProtection::DocumentKey:
                if (key.kind != SideKey::Kind::DocumentKey || !key.documentKey) {
                    return std::nullopt;
                }
                UnsealBytes(header.keyCheck, *key.documentKey, name);
                return key.documentKey;
            case LogProtection::DerivedKey:
                if (key.kind != SideKey::Kind::DerivedKey) {
                    return std::nullopt;
                }
                // Argon2id with the log's own salt: once per run, here and not in the windows.
                UnsealBytes(header.keyCheck, key.legacyKey, name, {}, &opened);
                return opened;
        }
    } catch (const Error&) {
    }
    return std::nullopt;
}

// For the entries of a log without its header: what opens a sealed entry with the document's
// key. The legacy key's is derived with the first sealed entry's salt, once.
std::function<std::shared_ptr<const SealKey>(std::string_view)> EntryOpener(
    const SideKey& key, const std::string& name) {
    return [key, name, tried = false](std::string_view payload) mutable {
        std::shared_ptr<const SealKey> opened;
        try {
            if (key.kind == SideKey::Kind::DocumentKey && key.documentKey) {
                UnsealBytes(payload, *key.documentKey, name);
                opened = key.documentKey;
            } else if (key.kind == SideKey::Kind::DerivedKey && !std::exchange(tried, true)) {
                UnsealBytes(payload, key.legacyKey, name, {}, &opened);
            }
        } catch (const Error&) {
        }
        return opened;
    };
}

}  // namespace

ProgressWriter::ProgressWriter(int dayStart, std::function<void()> onChanged)
    : dayStart_(dayStart), onChanged_(std::move(onChanged)) {
    snapshot_.ready = true;
    thread_ = std::thread(&ProgressWriter::Run, this);
}

ProgressWriter::~ProgressWriter() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ProgressWriter::Submit(ProgressJob job) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(job));
        snapshot_.ready = false;
    }
    changed_.notify_all();
}

void ProgressWriter::Wait() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return queue_.empty() && !busy_; });
}

ProgressSnapshot ProgressWriter::Snapshot() const {
    std::lock_guard lock(mutex_);
    return snapshot_;
}

std::string ProgressWriter::TakeNotice() {
    std::lock_guard lock(mutex_);
    return std::exchange(notice_, {});
}

void ProgressWriter::Run() {
    for (;;) {
        ProgressJob job;
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
        } catch (const std::exception&) {
            // Out of memory, most likely: the log on disk is as the last whole write left it.
            note_ = Format(kProgressNotKept, ProgressFolderPath());
            loaded_ = false;
        }
        Publish(job.path);
        if (onChanged_) {
            onChanged_();
        }
    }
}

void ProgressWriter::Publish(const std::string& path) {
    std::lock_guard lock(mutex_);
    snapshot_.path = path;
    snapshot_.history =
        loaded_ && path == path_ && !failedKey_ ? history_ : std::vector<ProgressEntry>{};
    snapshot_.note = note_;
    busy_ = false;
    snapshot_.ready = queue_.empty();
    changed_.notify_all();
}

void ProgressWriter::Process(ProgressJob& job) {
    const std::int64_t now =
        job.entries.empty() ? static_cast<std::int64_t>(std::time(nullptr)) : job.entries[0].time;
    if (!job.key) {
        // Nothing may be kept of it, nor read: a new legacy or sealed document has no key yet.
        note_ = Format(kProgressNeedsKey, job.path);
        return;
    }
    side_ = *job.key;
    if (!folder_) {
        folder_ = ProgressFolder::Open(true);
        if (!folder_) {
            note_ = Format(kProgressNotKept, ProgressFolderPath());
            return;
        }
        folder_->RemoveOldAside(now);
    }
    if (!loaded_ || job.path != path_ || (failedKey_ && !SameSide(*failedKey_, *job.key))) {
        Load(job, now);
        if (!loaded_) {
            return;
        }
    }
    if (failedKey_) {
        // Left alone for the key it was kept under, unless the document is now saved with this
        // one: then that history belongs to a text that is no longer there.
        if (!HasSave(job) || !folder_->SetAside(place_.name, now)) {
            note_ = Format(kProgressOtherKey, path_);
            return;
        }
        failedKey_.reset();
        onDisk_ = false;
        history_.clear();
        header_ = {};
    }
    note_.clear();
    if (!Fits(*job.key)) {
        UseKey(*job.key);
        // The entries kept so far are sealed anew, or kept in the clear, as the document now is.
        if (onDisk_ && !Rewrite()) {
            return;
        }
    }
    for (const ProgressEntry& entry : job.entries) {
        Append(entry);
    }
}

void ProgressWriter::Load(const ProgressJob& job, std::int64_t now) {
    const std::string previousPath = std::exchange(path_, job.path);
    std::vector<ProgressEntry> previous = std::move(history_);
    const LogHeader previousHeader = header_;
    const auto previousKey = key_;
    loaded_ = false;
    onDisk_ = false;
    history_.clear();
    framesOnDisk_ = 0;
    failedKey_.reset();
    key_.reset();
    header_ = {};
    header_.path = path_;

    std::string freeName;
    for (int c = 1; c <= kMostCollisions && freeName.empty(); ++c) {
        const std::string name = LogName(path_, c);
        std::string bytes;
        LogPlace place;
        switch (folder_->Read(name, bytes, kMostLogBytes, &place)) {
            case ProgressFolder::Found::Missing:
                freeName = name;
                continue;
            case ProgressFolder::Found::Refused:
                note_ = Format(kProgressRefused, folder_->Path() + "/" + name);
                return;
            case ProgressFolder::Found::Read:
                break;
        }
        const ParsedLog log = ParseLog(bytes);
        if (log.headerDamaged) {
            // Its name is this path's: its entries are this document's.
            Salvage(log, place, *job.key, now);
            return;
        }
        if (log.header.path != path_) {
            continue;
        }
        loaded_ = true;
        if (!Open(log, place, *job.key)) {
            failedKey_ = *job.key;
            place_ = place;
            onDisk_ = true;
        }
        return;
    }
    if (freeName.empty()) {
        note_ = Format(kProgressNotKept, folder_->Path());
        return;
    }
    loaded_ = true;
    place_ = LogPlace{};
    place_.name = freeName;
    if (job.carriedFrom && *job.carriedFrom == previousPath) {
        // Saved under another name: the history goes on under it, the old log stays the old
        // file's.
        history_ = std::move(previous);
        header_ = previousHeader;
        header_.path = path_;
        key_ = previousKey;
        return;
    }
    if (const auto moved = MovedHere(job)) {
        std::string bytes;
        LogPlace place;
        if (folder_->Read(*moved, bytes, kMostLogBytes, &place) == ProgressFolder::Found::Read) {
            try {
                const ParsedLog log = ParseLog(bytes, *moved);
                if (Open(log, place, *job.key)) {
                    header_.path = path_;
                    place_ = LogPlace{};
                    place_.name = freeName;
                    onDisk_ = false;
                    if (Rewrite()) {
                        ::unlinkat(folder_->fd(), moved->c_str(), 0);
                    }
                    return;
                }
            } catch (const Error&) {
            }
        }
        history_.clear();
        key_.reset();
        header_ = {};
        header_.path = path_;
        place_ = LogPlace{};
        place_.name = freeName;
    }
}

bool ProgressWriter::Open(const ParsedLog& log, const LogPlace& place, const SideKey& key) {
    auto opened = OpenHeader(log.header, key, place.name);
    if (!opened) {
        return false;
    }
    header_ = log.header;
    key_ = std::move(*opened);
    history_.clear();
    for (const LogFrame& frame : log.frames) {
        if (auto entry = DecodeEntry(frame, key_.get())) {
            KeepEntry(history_, std::move(*entry), dayStart_);
        }
    }
    framesOnDisk_ = log.frames.size();
    place_ = place;
    place_.end = log.end;
    onDisk_ = true;
    return true;
}

void ProgressWriter::Salvage(const ParsedLog& log, const LogPlace& place, const SideKey& key,
                             std::int64_t now) {
    std::vector<ProgressEntry> entries = SalvageEntries(log, EntryOpener(key, place.name));
    const auto kept = folder_->KeepAside(place.name, "damaged", now);
    if (!kept) {
        // Nothing is written over what could not be read.
        note_ = Format(kProgressNotKept, folder_->Path());
        return;
    }
    {
        std::lock_guard lock(mutex_);
        notice_ = SalvagedNotice(path_, folder_->Path() + "/" + *kept);
    }
    loaded_ = true;
    onDisk_ = false;
    place_ = LogPlace{};
    place_.name = place.name;
    header_ = {};
    UseKey(key);
    TakeIn(std::move(entries));
    Rewrite();
}

void ProgressWriter::TakeIn(std::vector<ProgressEntry> entries) {
    entries.insert(entries.end(), std::make_move_iterator(history_.begin()),
                   std::make_move_iterator(history_.end()));
    std::stable_sort(
        entries.begin(), entries.end(),
        [](const ProgressEntry& a, const ProgressEntry& b) { return a.time < b.time; });
    history_.clear();
    for (ProgressEntry& e : entries) {
        KeepEntry(history_, std::move(e), dayStart_);
    }
}

std::optional<std::string> ProgressWriter::MovedHere(const ProgressJob& job) {
    if (job.entries.empty() || job.entries.front().moment != ProgressMoment::Opened ||
        !job.entries.front().identity) {
        return std::nullopt;
    }
    const FileIdentity& identity = *job.entries.front().identity;
    for (const std::string& name : folder_->Names()) {
        if (!name.starts_with("log-") || name.find('.') != std::string::npos) {
            continue;
        }
        std::string bytes;
        if (folder_->Read(name, bytes, kMostLogBytes) != ProgressFolder::Found::Read) {
            continue;
        }
        try {
            const ParsedLog log = ParseLog(bytes, name);
            // A file of the same identity at both paths is a hard link, not a move.
            if (!log.frames.empty() && log.header.path != path_ &&
                log.frames.back().identity == identity && !FileExists(log.header.path)) {
                return name;
            }
        } catch (const Error&) {
        }
    }
    return std::nullopt;
}

bool ProgressWriter::Fits(const SideKey& key) const {
    switch (key.kind) {
        case SideKey::Kind::None:
            return header_.protection == LogProtection::None;
        case SideKey::Kind::DocumentKey:
            return header_.protection == LogProtection::DocumentKey && key_ && key.documentKey &&
                   (key_ == key.documentKey ||
                    (key_->Fits(key.documentKey->salt(), key.documentKey->params()) &&
                     std::equal(key_->bytes(), key_->bytes() + 32, key.documentKey->bytes())));
        case SideKey::Kind::DerivedKey:
            return header_.protection == LogProtection::DerivedKey && key_ &&
                   key_->Matches(key.legacyKey);
    }
    return false;
}

void ProgressWriter::UseKey(const SideKey& key) {
    header_.path = path_;
    header_.keyCheck.clear();
    switch (key.kind) {
        case SideKey::Kind::None:
            header_.protection = LogProtection::None;
            key_.reset();
            return;
        case SideKey::Kind::DocumentKey:
            header_.protection = LogProtection::DocumentKey;
            key_ = key.documentKey;
            break;
        case SideKey::Kind::DerivedKey:
            // The legacy cipher never sees the counts: a key of their own is derived from it.
            header_.protection = LogProtection::DerivedKey;
            key_ = SealKey::Derive(key.legacyKey, SealingParams());
            break;
    }
    header_.keyCheck = SealBytes(*key_, "");
}

void ProgressWriter::Append(const ProgressEntry& entry) {
    KeepEntry(history_, entry, dayStart_);
    if (!onDisk_) {
        Rewrite();
        return;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Sealed again each time: a merge may have taken another window's key.
        switch (AppendFrame(*folder_, place_, EncodeEntry(entry, key_.get()))) {
            case Appended::Done:
                ++framesOnDisk_;
                if (framesOnDisk_ > history_.size() + kCompactSlack) {
                    Rewrite();
                }
                return;
            case Appended::Failed:
                note_ = Format(kProgressNotKept, folder_->Path());
                return;
            case Appended::Changed:
                if (!Merge()) {
                    Rewrite();
                    return;
                }
                break;
        }
    }
}

bool ProgressWriter::Merge() {
    std::string bytes;
    LogPlace place;
    if (folder_->Read(place_.name, bytes, kMostLogBytes, &place) != ProgressFolder::Found::Read) {
        onDisk_ = false;
        return false;
    }
    const ParsedLog log = ParseLog(bytes);
    place_ = place;
    place_.end = log.end;
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    if (log.headerDamaged) {
        // Damaged since this one read it: what can be read is taken in, the file kept.
        std::vector<ProgressEntry> theirs = SalvageEntries(log, EntryOpener(*side_, place.name));
        const auto kept = folder_->KeepAside(place.name, "damaged", now);
        if (!kept) {
            Hold();
            return false;
        }
        {
            std::lock_guard lock(mutex_);
            notice_ = SalvagedNotice(path_, folder_->Path() + "/" + *kept);
        }
        TakeIn(std::move(theirs));
        onDisk_ = FileExists(folder_->Path() + "/" + place_.name);
        return false;
    }
    const bool same = log.header.path == header_.path &&
                      log.header.protection == header_.protection &&
                      log.header.keyCheck == header_.keyCheck;
    std::optional<std::shared_ptr<const SealKey>> opened;
    if (same) {
        opened = key_;
    } else if (log.header.path == header_.path) {
        // Begun by another window with a header of its own (a key check sealed afresh, a salt
        // of its own for the legacy key): its entries are this document's all the same.
        opened = OpenHeader(log.header, *side_, place.name);
    }
    if (!opened) {
        // Neither this document's log nor one its key opens: kept, never written over.
        if (!folder_->KeepAside(place.name, "unread", now)) {
            Hold();
            return false;
        }
        onDisk_ = FileExists(folder_->Path() + "/" + place_.name);
        return false;
    }
    std::vector<ProgressEntry> theirs;
    for (const LogFrame& frame : log.frames) {
        if (auto entry = DecodeEntry(frame, opened->get())) {
            theirs.push_back(std::move(*entry));
        }
    }
    TakeIn(std::move(theirs));
    framesOnDisk_ = log.frames.size();
    if (!same && log.header.protection == header_.protection) {
        // Its header is taken, so that both append to one log instead of rewriting it in turn.
        header_ = log.header;
        key_ = std::move(*opened);
        return true;
    }
    // Sealed otherwise than the document now is: written anew as it is.
    return same;
}

void ProgressWriter::Hold() {
    note_ = Format(kProgressNotKept, folder_->Path());
    loaded_ = false;
}

bool ProgressWriter::Rewrite() {
    if (!loaded_) {
        return false;  // held: what is on disk is not to be written over
    }
    std::string bytes = EncodeHeader(header_);
    for (const ProgressEntry& entry : history_) {
        bytes += EncodeEntry(entry, key_.get());
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        switch (ReplaceLog(*folder_, place_, bytes, onDisk_)) {
            case Appended::Done:
                onDisk_ = true;
                framesOnDisk_ = history_.size();
                return true;
            case Appended::Failed:
                note_ = Format(kProgressNotKept, folder_->Path());
                return false;
            case Appended::Changed:
                // Made or written meanwhile by another window: what it kept is taken in first.
                Merge();
                if (!loaded_) {
                    return false;
                }
                bytes = EncodeHeader(header_);
                for (const ProgressEntry& entry : history_) {
                    bytes += EncodeEntry(entry, key_.get());
                }
                onDisk_ = FileExists(folder_->Path() + "/" + place_.name);
                break;
        }
    }
    note_ = Format(kProgressNotKept, folder_->Path());
    return false;
}

}  // namespace velloran
