#include "core/progress/ProgressWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>

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
        ParsedLog log;
        try {
            log = ParseLog(bytes, name);
        } catch (const Error&) {
            // Kept for a look, and for 30 days; the document's progress starts again here.
            if (folder_->SetAside(name, now)) {
                freeName = name;
            }
            continue;
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
    std::shared_ptr<const SealKey> opened;
    try {
        switch (log.header.protection) {
            case LogProtection::None:
                break;
            case LogProtection::DocumentKey:
                if (key.kind != SideKey::Kind::DocumentKey || !key.documentKey) {
                    return false;
                }
                UnsealBytes(log.header.keyCheck, *key.documentKey, place.name);
                opened = key.documentKey;
                break;
            case LogProtection::DerivedKey:
                if (key.kind != SideKey::Kind::DerivedKey) {
                    return false;
                }
                // Argon2id with the log's own salt: once per run, here and not in the windows.
                UnsealBytes(log.header.keyCheck, key.legacyKey, place.name, {}, &opened);
                break;
        }
    } catch (const Error&) {
        return false;
    }
    header_ = log.header;
    key_ = std::move(opened);
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
    const std::string frame = EncodeEntry(entry, key_.get());
    for (int attempt = 0; attempt < 2; ++attempt) {
        switch (AppendFrame(*folder_, place_, frame)) {
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
    ParsedLog log;
    try {
        log = ParseLog(bytes, place.name);
    } catch (const Error&) {
        place_ = place;
        return false;
    }
    place_ = place;
    place_.end = log.end;
    if (log.header.path != header_.path || log.header.protection != header_.protection ||
        log.header.keyCheck != header_.keyCheck) {
        // Another window sealed it otherwise: this one's history, and key, take its place.
        return false;
    }
    std::vector<ProgressEntry> all;
    for (const LogFrame& frame : log.frames) {
        if (auto entry = DecodeEntry(frame, key_.get())) {
            all.push_back(std::move(*entry));
        }
    }
    all.insert(all.end(), history_.begin(), history_.end());
    std::stable_sort(all.begin(), all.end(), [](const ProgressEntry& a, const ProgressEntry& b) {
        return a.time < b.time;
    });
    history_.clear();
    for (ProgressEntry& e : all) {
        KeepEntry(history_, std::move(e), dayStart_);
    }
    framesOnDisk_ = log.frames.size();
    return true;
}

bool ProgressWriter::Rewrite() {
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
                if (Merge()) {
                    bytes = EncodeHeader(header_);
                    for (const ProgressEntry& entry : history_) {
                        bytes += EncodeEntry(entry, key_.get());
                    }
                }
                onDisk_ = FileExists(folder_->Path() + "/" + place_.name);
                break;
        }
    }
    note_ = Format(kProgressNotKept, folder_->Path());
    return false;
}

}  // namespace velloran
