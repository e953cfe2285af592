#include "core/history/HistoryStore.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <unordered_map>

#include "core/document/Error.h"
#include "core/protection/Seal.h"
#include "core/storage/Checksum.h"
#include "core/storage/StateFolder.h"

namespace velloran {
namespace {

constexpr std::string_view kMagic = "VHX\x1a";
constexpr std::size_t kFrameOverhead = 20;
constexpr std::uint32_t kStoreVersion = 1;
constexpr unsigned char kHeaderFrame = 0;
constexpr unsigned char kVersionFrame = 1;
constexpr unsigned char kKeepFrame = 2;
constexpr std::string_view kIndex = "index";
constexpr std::string_view kObjectPrefix = "o-";
constexpr std::size_t kMostFrameBody = std::size_t{1} << 20;
constexpr std::size_t kMostIndexBytes = std::size_t{512} << 20;
constexpr std::size_t kMostObjectBytes = std::size_t{2} << 30;
constexpr std::size_t kMostKeepName = 200;
constexpr int kMostCollisions = 8;
constexpr int kZstdLevel = 3;
// An object no entry names yet may be one that another process is about to name.
constexpr std::int64_t kOrphanAge = 3600;
constexpr std::string_view kNameContext = "velloran history object names";
constexpr unsigned char kOwnSection = 0;
constexpr unsigned char kSameSection = 1;
constexpr std::uint64_t kFullEvery = 64;

// ---- bytes

void PutU8(std::string& out, unsigned v) {
    out.push_back(static_cast<char>(v & 0xFF));
}
void PutU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}
void PutU64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    }
}
void PutBytes(std::string& out, std::string_view bytes) {
    PutU32(out, static_cast<std::uint32_t>(bytes.size()));
    out.append(bytes);
}

std::uint64_t GetLE(std::string_view bytes, std::size_t at, int width) {
    std::uint64_t v = 0;
    for (int i = 0; i < width; ++i) {
        v |= std::uint64_t{static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)])}
             << (8 * i);
    }
    return v;
}

// Reads what Put wrote; any read past the end, or a length beyond its limit, fails the whole.
class Reader {
  public:
    explicit Reader(std::string_view in) : in_(in) {}
    bool Ok() const { return ok_; }
    bool AtEnd() const { return ok_ && at_ == in_.size(); }
    std::uint64_t U8() { return Take(1); }
    std::uint64_t U32() { return Take(4); }
    std::uint64_t U64() { return Take(8); }
    std::string Bytes(std::size_t most) {
        const std::uint64_t n = U32();
        if (!ok_ || n > most || in_.size() - at_ < n) {
            ok_ = false;
            return {};
        }
        std::string out(in_.substr(at_, static_cast<std::size_t>(n)));
        at_ += static_cast<std::size_t>(n);
        return out;
    }
    void Raw(unsigned char* into, std::size_t n) {
        if (!ok_ || in_.size() - at_ < n) {
            ok_ = false;
            return;
        }
        std::copy_n(in_.data() + at_, n, reinterpret_cast<char*>(into));
        at_ += n;
    }

  private:
    std::uint64_t Take(int width) {
        if (!ok_ || in_.size() - at_ < static_cast<std::size_t>(width)) {
            ok_ = false;
            return 0;
        }
        const std::uint64_t v = GetLE(in_, at_, width);
        at_ += static_cast<std::size_t>(width);
        return v;
    }
    std::string_view in_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

std::string Frame(std::string_view body) {
    std::string frame;
    frame.reserve(body.size() + kFrameOverhead);
    frame.append(kMagic);
    PutU32(frame, static_cast<std::uint32_t>(body.size()));
    frame.append(body);
    PutU64(frame, Checksum::Of(frame));
    PutU32(frame, static_cast<std::uint32_t>(body.size()));
    return frame;
}

std::optional<std::string_view> FrameAt(std::string_view bytes, std::size_t at) {
    if (bytes.size() - at < kFrameOverhead || bytes.substr(at, 4) != kMagic) {
        return std::nullopt;
    }
    const std::uint64_t n = GetLE(bytes, at + 4, 4);
    if (n > kMostFrameBody || bytes.size() - at - kFrameOverhead < n) {
        return std::nullopt;
    }
    const auto size = static_cast<std::size_t>(n);
    if (GetLE(bytes, at + 8 + size, 8) != Checksum::Of(bytes.substr(at, 8 + size)) ||
        GetLE(bytes, at + 16 + size, 4) != n) {
        return std::nullopt;
    }
    return bytes.substr(at + 8, size);
}

// ---- the folder

std::string HistoryRoot() {
    return StateFolder() + "/history";
}

std::string StoreName(std::string_view path, int collision) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Checksum::Of(path)));
    std::string name = "d-";
    name += hex;
    if (collision > 1) {
        name += "-" + std::to_string(collision);
    }
    return name;
}

enum class Found { Missing, Refused, Read };

// A file of the folder open at dir: read only when, once open, it shows itself a regular file of
// this user that no one else may read or write.
Found ReadAt(int dir, const std::string& name, std::string& bytes, std::size_t maxBytes,
             struct stat* seen = nullptr) {
    bytes.clear();
    const UniqueFd file(
        ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    if (!file) {
        return errno == ENOENT ? Found::Missing : Found::Refused;
    }
    struct stat st;
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || !IsPrivate(st) ||
        static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        return Found::Refused;
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    if (!ReadAllAt(file.get(), bytes.data(), bytes.size(), 0)) {
        return Found::Refused;
    }
    if (seen) {
        *seen = st;
    }
    return Found::Read;
}

// Writes bytes as a new private file name in dir, durably, replacing one there only by rename.
bool WriteFileAt(int dir, const std::string& name, std::string_view bytes) {
    const std::string fresh = name + ".new-" + std::to_string(::getpid());
    ::unlinkat(dir, fresh.c_str(), 0);
    const UniqueFd file(::openat(
        dir, fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kStateFileMode));
    const bool written = file && ::fchmod(file.get(), kStateFileMode) == 0 &&
                         WriteAll(file.get(), bytes.data(), bytes.size()) &&
                         ::fsync(file.get()) == 0;
    if (!written || ::renameat(dir, fresh.c_str(), dir, name.c_str()) != 0) {
        ::unlinkat(dir, fresh.c_str(), 0);
        return false;
    }
    return true;
}

void RemoveFolder(int parent, const std::string& name) {
    const UniqueFd dir(
        ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir) {
        for (const std::string& file : FolderNames(dir.get())) {
            ::unlinkat(dir.get(), file.c_str(), 0);
        }
    }
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

// Removes what was set aside more than kHistoryAsideDays before now.
void RemoveOldAside(int root, std::int64_t now) {
    for (const std::string& name : FolderNames(root)) {
        const std::size_t at = name.rfind(".aside-");
        if (at == std::string::npos) {
            continue;
        }
        const long long when = std::atoll(name.c_str() + at + 7);
        if (now - when > std::int64_t{kHistoryAsideDays} * 86400) {
            RemoveFolder(root, name);
        }
    }
}

HistoryProtection ProtectionOf(const SideKey& key) {
    switch (key.kind) {
        case SideKey::Kind::None:
            return HistoryProtection::None;
        case SideKey::Kind::DocumentKey:
            return HistoryProtection::DocumentKey;
        case SideKey::Kind::DerivedKey:
            return HistoryProtection::DerivedKey;
    }
    return HistoryProtection::None;
}

struct Header {
    std::string path;
    HistoryProtection protection = HistoryProtection::None;
    std::string keyCheck;
    std::size_t end = 0;
};

std::optional<Header> ParseHeader(std::string_view bytes) {
    const auto head = FrameAt(bytes, 0);
    if (!head) {
        return std::nullopt;
    }
    Reader h(*head);
    Header header;
    if (h.U8() != kHeaderFrame || h.U32() != kStoreVersion) {
        return std::nullopt;
    }
    header.path = h.Bytes(kMostFrameBody);
    const std::uint64_t protection = h.U8();
    header.keyCheck = h.Bytes(kMostFrameBody);
    if (!h.AtEnd() || protection > 2) {
        return std::nullopt;
    }
    header.protection = static_cast<HistoryProtection>(protection);
    header.end = head->size() + kFrameOverhead;
    return header;
}

bool ValidEvent(std::uint64_t e) {
    return e >= 1 && e <= 8;
}

std::int64_t Now() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::int64_t LocalDay(std::int64_t time) {
    const auto t = static_cast<std::time_t>(time);
    std::tm local{};
    if (!::localtime_r(&t, &local)) {
        return time / 86400;
    }
    return std::int64_t{local.tm_year} * 400 + local.tm_yday;
}

}  // namespace

std::string HexOf(const SectionHash& hash) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(64);
    for (unsigned char b : hash) {
        hex.push_back(kDigits[b >> 4]);
        hex.push_back(kDigits[b & 15]);
    }
    return hex;
}

std::uint64_t Version::Words() const {
    std::uint64_t total = 0;
    for (const VersionSection& s : sections) {
        total += s.words;
    }
    return total;
}

std::uint64_t Version::Bytes() const {
    std::uint64_t total = 0;
    for (const VersionSection& s : sections) {
        total += s.bytes;
    }
    return total;
}

bool Version::SameText(std::span<const SectionHash> hashes) const {
    return hashes.size() == sections.size() &&
           std::equal(hashes.begin(), hashes.end(), sections.begin(),
                      [](const SectionHash& h, const VersionSection& s) { return h == s.hash; });
}

std::string_view EventName(VersionEvent event) {
    switch (event) {
        case VersionEvent::Opened:
            return "opened";
        case VersionEvent::Saved:
            return "saved";
        case VersionEvent::Reloaded:
            return "reloaded";
        case VersionEvent::OnDisk:
            return "changed on disk";
        case VersionEvent::MergedDisk:
            return "merged from disk";
        case VersionEvent::ConflictCopy:
            return "conflict copy";
        case VersionEvent::MergedCopy:
            return "merged copy";
        case VersionEvent::Restored:
            return "restored";
    }
    return "saved";
}

// ---- thinning and merge bases

std::vector<std::uint64_t> VersionsToThin(std::span<const Version> versions, std::int64_t now,
                                          const ThinningRules& rules) {
    const std::size_t n = versions.size();
    std::vector<bool> keep(n, false);
    std::set<std::int64_t> hours;
    std::set<std::int64_t> days;
    for (std::size_t i = n; i-- > 0;) {
        const Version& v = versions[i];
        const std::int64_t age = now - v.time;
        bool kept = !v.kept.empty() || n - i <= rules.newest || age < rules.allFor;
        if (!kept && age < rules.hourlyFor) {
            kept = hours.insert(v.time / 3600).second;
        } else if (!kept) {
            kept = days.insert(LocalDay(v.time)).second;
        }
        keep[i] = kept;
    }
    // The budget counts each object once, whichever versions share it.
    std::map<SectionHash, std::pair<std::size_t, std::uint64_t>> uses;
    std::uint64_t total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (!keep[i]) {
            continue;
        }
        for (const VersionSection& s : versions[i].sections) {
            auto& [count, stored] = uses[s.hash];
            if (count++ == 0) {
                stored = s.stored;
                total += s.stored;
            }
        }
    }
    for (std::size_t i = 0; i < n && total > rules.budget; ++i) {
        if (!keep[i] || !versions[i].kept.empty() || n - i <= rules.newest) {
            continue;
        }
        keep[i] = false;
        for (const VersionSection& s : versions[i].sections) {
            auto& [count, stored] = uses[s.hash];
            if (--count == 0) {
                total -= stored;
            }
        }
    }
    std::vector<std::uint64_t> dropped;
    for (std::size_t i = 0; i < n; ++i) {
        if (!keep[i]) {
            dropped.push_back(versions[i].number);
        }
    }
    return dropped;
}

const Version* ChooseMergeBase(std::span<const Version> versions, std::span<const SectionHash> ours,
                               std::span<const SectionHash> theirs) {
    // Matched as multisets, so that a section inserted before others moves no match.
    auto shared = [](const Version& v, std::span<const SectionHash> side) {
        std::map<SectionHash, int> have;
        for (const SectionHash& h : side) {
            ++have[h];
        }
        std::size_t count = 0;
        for (const VersionSection& s : v.sections) {
            auto it = have.find(s.hash);
            if (it != have.end() && it->second > 0) {
                --it->second;
                ++count;
            }
        }
        return count;
    };
    // Each side came from the version it shares the most with, the newest of equal ones; the
    // older of the two is the one both came from.
    auto origin = [&](std::span<const SectionHash> side) -> std::ptrdiff_t {
        std::ptrdiff_t best = -1;
        std::size_t most = 0;
        for (std::size_t i = 0; i < versions.size(); ++i) {
            const std::size_t n = shared(versions[i], side);
            if (n > 0 && n >= most) {
                best = static_cast<std::ptrdiff_t>(i);
                most = n;
            }
        }
        return best;
    };
    const std::ptrdiff_t a = origin(ours);
    const std::ptrdiff_t b = origin(theirs);
    if (a < 0 || b < 0) {
        return nullptr;
    }
    return &versions[static_cast<std::size_t>(std::min(a, b))];
}

// ---- the store

HistoryStore::~HistoryStore() {
    sodium_memzero(nameKey_.data(), nameKey_.size());
}

std::unique_ptr<HistoryStore> HistoryStore::Open(const std::string& path, const SideKey& key,
                                                 bool replaceOther, Opening* opening) {
    if (opening) {
        *opening = Opening::Opened;
    }
    const std::string root = HistoryRoot();
    if (!MakeStateFolder("history")) {
        throw Error(Format(kHistoryNotKept, root));
    }
    const UniqueFd rootFd(OpenPrivateFolder(root));
    if (!rootFd) {
        throw Error(Format(kHistoryNotPrivate, root));
    }
    const std::int64_t now = Now();
    RemoveOldAside(rootFd.get(), now);
    for (int c = 1; c <= kMostCollisions; ++c) {
        const std::string name = StoreName(path, c);
        const std::string folder = root + "/" + name;
        if (::mkdirat(rootFd.get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
            throw Error(Format(kHistoryNotKept, folder));
        }
        auto fd = std::make_shared<UniqueFd>(OpenPrivateFolder(folder));
        if (!*fd) {
            throw Error(Format(kHistoryNotPrivate, folder));
        }
        std::unique_ptr<HistoryStore> store(new HistoryStore());
        store->path_ = path;
        store->folder_ = folder;
        store->fd_ = fd;
        std::string bytes;
        struct stat seen {};
        switch (ReadAt(fd->get(), std::string(kIndex), bytes, kMostIndexBytes, &seen)) {
            case Found::Refused:
                throw Error(Format(kHistoryNotPrivate, folder + "/" + std::string(kIndex)));
            case Found::Missing:
                store->UseKey(key);
                store->Rewrite();
                return store;
            case Found::Read:
                break;
        }
        const auto header = ParseHeader(bytes);
        if (header && header->path != path) {
            continue;  // another document's, of the same checksum
        }
        bool fits = header.has_value();
        if (header) {
            store->protection_ = header->protection;
            store->keyCheck_ = header->keyCheck;
            try {
                switch (header->protection) {
                    case HistoryProtection::None:
                        fits = key.kind == SideKey::Kind::None;
                        break;
                    case HistoryProtection::DocumentKey:
                        fits = key.kind == SideKey::Kind::DocumentKey && key.documentKey;
                        if (fits) {
                            UnsealBytes(header->keyCheck, *key.documentKey, folder);
                            store->key_ = key.documentKey;
                        }
                        break;
                    case HistoryProtection::DerivedKey:
                        fits = key.kind == SideKey::Kind::DerivedKey;
                        if (fits) {
                            // Argon2id with the store's own salt: once, while the store stays open.
                            UnsealBytes(header->keyCheck, key.legacyKey, folder, {}, &store->key_);
                        }
                        break;
                }
            } catch (const Error&) {
                fits = false;
            }
        }
        if (!fits) {
            if (!replaceOther) {
                if (opening) {
                    *opening = Opening::OtherKey;
                }
                return nullptr;
            }
            // Kept as it was, under its own key, for a while; the history starts anew.
            const std::string aside = name + ".aside-" + std::to_string(now);
            if (::renameat(rootFd.get(), name.c_str(), rootFd.get(), aside.c_str()) != 0) {
                throw Error(Format(kHistoryNotKept, folder));
            }
            SyncFolder(rootFd.get());
            --c;
            continue;
        }
        store->UseKey(key);
        store->keyCheck_ = header->keyCheck;
        store->Load(bytes);
        store->device_ = static_cast<std::uint64_t>(seen.st_dev);
        store->inode_ = static_cast<std::uint64_t>(seen.st_ino);
        store->size_ = bytes.size();
        return store;
    }
    throw Error(Format(kHistoryNotKept, root));
}

std::unique_ptr<HistoryStore> HistoryStore::OpenToRead(const std::string& path,
                                                       const KeySource& keyFor) {
    const std::string root = HistoryRoot();
    for (int c = 1; c <= kMostCollisions; ++c) {
        const std::string folder = root + "/" + StoreName(path, c);
        auto fd = std::make_shared<UniqueFd>(OpenPrivateFolder(folder));
        if (!*fd) {
            if (errno == ENOENT) {
                return nullptr;
            }
            throw Error(Format(kHistoryNotPrivate, folder));
        }
        std::string bytes;
        switch (ReadAt(fd->get(), std::string(kIndex), bytes, kMostIndexBytes)) {
            case Found::Missing:
                return nullptr;
            case Found::Refused:
                throw Error(Format(kHistoryNotPrivate, folder + "/" + std::string(kIndex)));
            case Found::Read:
                break;
        }
        const auto header = ParseHeader(bytes);
        if (!header) {
            throw Error(Format(kHistoryDamaged, folder));
        }
        if (header->path != path) {
            continue;
        }
        std::unique_ptr<HistoryStore> store(new HistoryStore());
        store->path_ = path;
        store->folder_ = folder;
        store->fd_ = fd;
        store->protection_ = header->protection;
        store->keyCheck_ = header->keyCheck;
        for (bool wrong = false; header->protection != HistoryProtection::None && !store->key_;
             wrong = true) {
            std::string typed = keyFor(header->protection, wrong);
            try {
                UnsealBytes(header->keyCheck, typed, folder, {}, &store->key_);
            } catch (const WrongKey&) {
            }
            Wipe(typed);
        }
        if (store->key_) {
            crypto_generichash(store->nameKey_.data(), store->nameKey_.size(),
                               reinterpret_cast<const unsigned char*>(kNameContext.data()),
                               kNameContext.size(), store->key_->bytes(), 32);
        }
        store->Load(bytes);
        return store;
    }
    return nullptr;
}

void HistoryStore::UseKey(const SideKey& key) {
    protection_ = ProtectionOf(key);
    switch (key.kind) {
        case SideKey::Kind::None:
            key_.reset();
            keyCheck_.clear();
            break;
        case SideKey::Kind::DocumentKey:
            key_ = key.documentKey;
            keyCheck_ = SealBytes(*key_, "");
            break;
        case SideKey::Kind::DerivedKey:
            // The legacy cipher never sees the history: a key of its own is derived from it.
            if (!key_ || !key_->Matches(key.legacyKey)) {
                key_ = SealKey::Derive(key.legacyKey, SealingParams());
            }
            keyCheck_ = SealBytes(*key_, "");
            break;
    }
    if (key_) {
        crypto_generichash(nameKey_.data(), nameKey_.size(),
                           reinterpret_cast<const unsigned char*>(kNameContext.data()),
                           kNameContext.size(), key_->bytes(), 32);
    }
}

bool HistoryStore::Fits(const SideKey& key) const {
    switch (key.kind) {
        case SideKey::Kind::None:
            return protection_ == HistoryProtection::None;
        case SideKey::Kind::DocumentKey:
            return protection_ == HistoryProtection::DocumentKey && key_ && key.documentKey &&
                   (key_ == key.documentKey ||
                    (key_->Fits(key.documentKey->salt(), key.documentKey->params()) &&
                     std::equal(key_->bytes(), key_->bytes() + 32, key.documentKey->bytes())));
        case SideKey::Kind::DerivedKey:
            return protection_ == HistoryProtection::DerivedKey && key_ &&
                   key_->Matches(key.legacyKey);
    }
    return false;
}

SectionHash HistoryStore::HashOf(std::string_view text) const {
    SectionHash hash;
    crypto_generichash(hash.data(), hash.size(),
                       reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                       key_ ? nameKey_.data() : nullptr, key_ ? nameKey_.size() : 0);
    return hash;
}

const Version* HistoryStore::Find(std::uint64_t number) const {
    for (const Version& v : versions_) {
        if (v.number == number) {
            return &v;
        }
    }
    return nullptr;
}

std::uint64_t HistoryStore::StoredBytes() const {
    std::set<SectionHash> seen;
    std::uint64_t total = 0;
    for (const Version& v : versions_) {
        for (const VersionSection& s : v.sections) {
            if (seen.insert(s.hash).second) {
                total += s.stored;
            }
        }
    }
    return total;
}

std::string HistoryStore::HeaderFrame() const {
    std::string body;
    PutU8(body, kHeaderFrame);
    PutU32(body, kStoreVersion);
    PutBytes(body, path_);
    PutU8(body, static_cast<unsigned>(protection_));
    PutBytes(body, keyCheck_);
    return Frame(body);
}

std::string HistoryStore::EncodeVersion(const Version& v, const Version* base) const {
    // Every so often a version names all its sections, so that a damaged entry costs the ones
    // after it up to there at most.
    if (base && v.number % kFullEvery == 0) {
        base = nullptr;
    }
    std::string payload;
    PutU8(payload, v.encoding == Encoding::Utf8 ? 1 : 0);
    PutU32(payload, static_cast<std::uint32_t>(v.sections.size()));
    PutU64(payload, base ? base->number : 0);
    for (std::size_t k = 0; k < v.sections.size(); ++k) {
        const VersionSection& s = v.sections[k];
        if (base && k < base->sections.size() && base->sections[k] == s) {
            PutU8(payload, kSameSection);
            continue;
        }
        PutU8(payload, kOwnSection);
        payload.append(reinterpret_cast<const char*>(s.hash.data()), s.hash.size());
        PutU64(payload, s.bytes);
        PutU64(payload, s.stored);
        PutU64(payload, s.words);
    }
    PutU32(payload, static_cast<std::uint32_t>(v.changed.size()));
    for (int k : v.changed) {
        PutU8(payload, static_cast<unsigned>(k));
    }
    std::string body;
    PutU8(body, kVersionFrame);
    PutU64(body, v.number);
    PutU8(body, static_cast<unsigned>(v.event));
    PutU64(body, static_cast<std::uint64_t>(v.time));
    PutBytes(body, key_ ? SealBytes(*key_, payload) : payload);
    std::string frame = Frame(body);
    if (!v.kept.empty()) {
        frame += EncodeKeep(v.number, v.kept);
    }
    return frame;
}

std::string HistoryStore::EncodeKeep(std::uint64_t number, std::string_view name) const {
    std::string body;
    PutU8(body, kKeepFrame);
    PutU64(body, number);
    PutU8(body, 0);
    PutU64(body, static_cast<std::uint64_t>(Now()));
    PutBytes(body, key_ ? SealBytes(*key_, name) : std::string(name));
    return Frame(body);
}

void HistoryStore::Load(std::string_view bytes) {
    const auto header = ParseHeader(bytes);
    if (!header) {
        throw Error(Format(kHistoryDamaged, folder_));
    }
    versions_.clear();
    std::unordered_map<std::uint64_t, std::size_t> at;
    std::size_t pos = header->end;
    end_ = pos;
    while (pos < bytes.size()) {
        const auto body = FrameAt(bytes, pos);
        if (!body) {
            const std::size_t next = bytes.find(kMagic, pos + 1);
            if (next == std::string_view::npos) {
                break;
            }
            pos = next;
            continue;
        }
        pos += body->size() + kFrameOverhead;
        end_ = pos;
        Reader r(*body);
        const std::uint64_t kind = r.U8();
        const std::uint64_t number = r.U64();
        const std::uint64_t event = r.U8();
        const auto time = static_cast<std::int64_t>(r.U64());
        std::string payload = r.Bytes(kMostFrameBody);
        if (!r.AtEnd()) {
            continue;
        }
        if (key_) {
            try {
                payload = UnsealBytes(payload, *key_, folder_);
            } catch (const Error&) {
                continue;  // damaged, or of another key: no version to show
            }
        }
        nextNumber_ = std::max(nextNumber_, number + 1);
        if (kind == kKeepFrame) {
            const auto it = at.find(number);
            if (it != at.end() && payload.size() <= kMostKeepName) {
                versions_[it->second].kept = payload;
            }
            continue;
        }
        if (kind != kVersionFrame || !ValidEvent(event) || at.contains(number)) {
            continue;
        }
        Reader p(payload);
        Version v;
        v.number = number;
        v.event = static_cast<VersionEvent>(event);
        v.time = time;
        v.encoding = p.U8() == 1 ? Encoding::Utf8 : Encoding::Windows1252;
        const std::uint64_t n = p.U32();
        const std::uint64_t baseNumber = p.U64();
        const auto base = at.find(baseNumber);
        if (!p.Ok() || n > static_cast<std::uint64_t>(kSectionCount) ||
            (baseNumber != 0 && base == at.end())) {
            continue;  // its base was damaged or thinned away: nothing tells its sections
        }
        bool named = true;
        for (std::uint64_t k = 0; k < n && named; ++k) {
            VersionSection s;
            if (p.U8() == kSameSection) {
                named = baseNumber != 0 && k < versions_[base->second].sections.size();
                if (named) {
                    s = versions_[base->second].sections[k];
                }
            } else {
                p.Raw(s.hash.data(), s.hash.size());
                s.bytes = p.U64();
                s.stored = p.U64();
                s.words = p.U64();
            }
            v.sections.push_back(s);
        }
        if (!named) {
            continue;
        }
        const std::uint64_t m = p.U32();
        if (!p.Ok() || m > static_cast<std::uint64_t>(kSectionCount) * 2) {
            continue;
        }
        for (std::uint64_t i = 0; i < m; ++i) {
            v.changed.push_back(static_cast<int>(p.U8()));
        }
        if (!p.AtEnd()) {
            continue;
        }
        at[number] = versions_.size();
        versions_.push_back(std::move(v));
    }
}

// The index held open and locked: read again when another process wrote it since.
bool HistoryStore::Refresh(int fd, bool force) {
    struct stat st;
    struct stat byName;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !IsPrivate(st)) {
        throw Error(Format(kHistoryNotPrivate, folder_ + "/" + std::string(kIndex)));
    }
    if (::fstatat(fd_->get(), std::string(kIndex).c_str(), &byName, AT_SYMLINK_NOFOLLOW) != 0 ||
        byName.st_ino != st.st_ino || byName.st_dev != st.st_dev) {
        return false;  // replaced while this waited for the lock
    }
    if (!force && static_cast<std::uint64_t>(st.st_ino) == inode_ &&
        static_cast<std::uint64_t>(st.st_dev) == device_ &&
        static_cast<std::uint64_t>(st.st_size) == size_) {
        return true;
    }
    if (static_cast<std::uint64_t>(st.st_size) > kMostIndexBytes) {
        throw Error(Format(kHistoryDamaged, folder_));
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    if (!ReadAllAt(fd, bytes.data(), bytes.size(), 0)) {
        throw Error(Format(kHistoryNotKept, folder_));
    }
    const auto header = ParseHeader(bytes);
    if (!header || header->path != path_ || header->protection != protection_ ||
        header->keyCheck != keyCheck_) {
        throw Error(Format(kHistoryNotKept, folder_));
    }
    Load(bytes);
    device_ = static_cast<std::uint64_t>(st.st_dev);
    inode_ = static_cast<std::uint64_t>(st.st_ino);
    size_ = bytes.size();
    return true;
}

std::uint64_t HistoryStore::WriteObject(int folder, const SectionHash& hash, std::string_view text,
                                        const SealKey* key) const {
    const std::string name = std::string(kObjectPrefix) + HexOf(hash);
    struct stat st;
    if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        IsPrivate(st)) {
        return static_cast<std::uint64_t>(st.st_size);
    }
    std::string packed(ZSTD_compressBound(text.size()), '\0');
    const std::size_t size =
        ZSTD_compress(packed.data(), packed.size(), text.data(), text.size(), kZstdLevel);
    if (ZSTD_isError(size)) {
        throw Error(Format(kHistoryNotKept, folder_));
    }
    packed.resize(size);
    if (key) {
        packed = SealBytes(*key, packed);
    }
    if (!WriteFileAt(folder, name, packed)) {
        throw Error(Format(kHistoryNotKept, folder_), std::strerror(errno));
    }
    return packed.size();
}

std::uint64_t HistoryStore::Add(VersionEvent event, std::int64_t time, Encoding encoding,
                                std::span<const std::string_view> texts,
                                std::span<const SectionHash> hashes,
                                std::span<const std::uint64_t> words) {
    Version v;
    v.event = event;
    v.time = time;
    v.encoding = encoding;
    bool wrote = false;
    std::map<SectionHash, std::uint64_t> known;
    for (const Version& old : versions_) {
        for (const VersionSection& s : old.sections) {
            known.emplace(s.hash, s.stored);
        }
    }
    for (std::size_t k = 0; k < texts.size(); ++k) {
        VersionSection s;
        s.hash = hashes[k];
        s.bytes = texts[k].size();
        s.words = words[k];
        if (const auto it = known.find(s.hash); it != known.end()) {
            s.stored = it->second;
        } else {
            s.stored = WriteObject(fd_->get(), s.hash, texts[k], key_.get());
            known.emplace(s.hash, s.stored);
            wrote = true;
        }
        v.sections.push_back(s);
    }
    if (wrote && !SyncFolder(fd_->get())) {
        throw Error(Format(kHistoryNotKept, folder_));
    }

    for (int attempt = 0; attempt < 3; ++attempt) {
        const UniqueFd index(
            ::openat(fd_->get(), std::string(kIndex).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
        if (!index) {
            if (errno == ENOENT) {
                Rewrite();
                continue;
            }
            throw Error(Format(kHistoryNotKept, folder_));
        }
        if (!LockExclusive(index.get(), true)) {
            throw Error(Format(kHistoryNotKept, folder_));
        }
        if (!Refresh(index.get(), false)) {
            continue;
        }
        v.number = nextNumber_;
        v.changed.clear();
        const Version* previous = versions_.empty() ? nullptr : &versions_.back();
        const std::size_t most =
            std::max(v.sections.size(), previous ? previous->sections.size() : 0);
        for (std::size_t k = 0; k < most; ++k) {
            if (!previous || k >= v.sections.size() || k >= previous->sections.size() ||
                v.sections[k].hash != previous->sections[k].hash) {
                v.changed.push_back(static_cast<int>(k));
            }
        }
        const std::string frame = EncodeVersion(v, previous);
        // A torn frame a killed writer left is cut off, so that this one follows a whole one.
        if ((end_ < size_ && ::ftruncate(index.get(), static_cast<off_t>(end_)) != 0) ||
            !WriteAllAt(index.get(), frame.data(), frame.size(), static_cast<off_t>(end_)) ||
            ::fsync(index.get()) != 0) {
            struct stat st;
            if (::fstat(index.get(), &st) == 0) {
                size_ = static_cast<std::uint64_t>(st.st_size);
            }
            throw Error(Format(kHistoryNotKept, folder_), std::strerror(errno));
        }
        end_ += frame.size();
        size_ = end_;
        nextNumber_ = v.number + 1;
        versions_.push_back(std::move(v));
        return versions_.back().number;
    }
    throw Error(Format(kHistoryNotKept, folder_));
}

void HistoryStore::Rewrite() {
    std::string bytes = HeaderFrame();
    for (std::size_t i = 0; i < versions_.size(); ++i) {
        bytes += EncodeVersion(versions_[i], i ? &versions_[i - 1] : nullptr);
    }
    const UniqueFd old(
        ::openat(fd_->get(), std::string(kIndex).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (old && !LockExclusive(old.get(), true)) {
        throw Error(Format(kHistoryNotKept, folder_));
    }
    if (!WriteFileAt(fd_->get(), std::string(kIndex), bytes) || !SyncFolder(fd_->get())) {
        throw Error(Format(kHistoryNotKept, folder_), std::strerror(errno));
    }
    struct stat st;
    if (::fstatat(fd_->get(), std::string(kIndex).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        throw Error(Format(kHistoryNotKept, folder_));
    }
    device_ = static_cast<std::uint64_t>(st.st_dev);
    inode_ = static_cast<std::uint64_t>(st.st_ino);
    size_ = end_ = bytes.size();
}

std::string HistoryStore::ReadObject(const VersionSection& section) const {
    const std::string name = std::string(kObjectPrefix) + HexOf(section.hash);
    std::string bytes;
    if (ReadAt(fd_->get(), name, bytes, kMostObjectBytes) != Found::Read) {
        throw Error(Format(kHistoryDamaged, folder_), name + " is missing or not private");
    }
    if (key_) {
        bytes = UnsealBytes(bytes, *key_, folder_ + "/" + name);
    }
    const unsigned long long size = ZSTD_getFrameContentSize(bytes.data(), bytes.size());
    if (size != section.bytes) {
        throw Error(Format(kHistoryDamaged, folder_), name);
    }
    std::string text(static_cast<std::size_t>(size), '\0');
    const std::size_t got = ZSTD_decompress(text.data(), text.size(), bytes.data(), bytes.size());
    if (ZSTD_isError(got) || got != text.size() || HashOf(text) != section.hash) {
        throw Error(Format(kHistoryDamaged, folder_), name);
    }
    return text;
}

std::string HistoryStore::SectionText(const Version& version, std::size_t k) const {
    if (k >= version.sections.size()) {
        throw Error(Format(kNoSuchVersion,
                           std::to_string(version.number) + " section " + std::to_string(k)));
    }
    return ReadObject(version.sections[k]);
}

std::string HistoryStore::DocumentText(const Version& version) const {
    std::string text;
    text.reserve(static_cast<std::size_t>(version.Bytes()));
    for (const VersionSection& s : version.sections) {
        text += ReadObject(s);
    }
    return text;
}

void HistoryStore::Keep(std::uint64_t number, std::string_view name) {
    const UniqueFd index(
        ::openat(fd_->get(), std::string(kIndex).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (!index || !LockExclusive(index.get(), true) || !Refresh(index.get(), false)) {
        throw Error(Format(kHistoryNotKept, folder_));
    }
    auto it = std::find_if(versions_.begin(), versions_.end(),
                           [&](const Version& v) { return v.number == number; });
    if (it == versions_.end()) {
        throw Error(Format(kNoSuchVersion, std::to_string(number)));
    }
    const std::string cut(name.substr(0, kMostKeepName));
    const std::string frame = EncodeKeep(number, cut);
    if ((end_ < size_ && ::ftruncate(index.get(), static_cast<off_t>(end_)) != 0) ||
        !WriteAllAt(index.get(), frame.data(), frame.size(), static_cast<off_t>(end_)) ||
        ::fsync(index.get()) != 0) {
        throw Error(Format(kHistoryNotKept, folder_), std::strerror(errno));
    }
    end_ += frame.size();
    size_ = end_;
    it->kept = cut;
}

std::size_t HistoryStore::Thin(std::int64_t now, const ThinningRules& rules) {
    const std::vector<std::uint64_t> dropped = VersionsToThin(versions_, now, rules);
    if (dropped.empty()) {
        return 0;
    }
    const std::set<std::uint64_t> gone(dropped.begin(), dropped.end());
    std::vector<Version> before = versions_;
    std::erase_if(versions_, [&](const Version& v) { return gone.contains(v.number); });
    try {
        Rewrite();
    } catch (...) {
        versions_ = std::move(before);
        throw;
    }
    // Objects go once no entry names them: those of the versions dropped at once, any other
    // only an hour old, since it may be another process's that its entry does not name yet.
    std::set<std::string> needed;
    for (const Version& v : versions_) {
        for (const VersionSection& s : v.sections) {
            needed.insert(std::string(kObjectPrefix) + HexOf(s.hash));
        }
    }
    std::set<std::string> freed;
    for (const Version& v : before) {
        if (gone.contains(v.number)) {
            for (const VersionSection& s : v.sections) {
                freed.insert(std::string(kObjectPrefix) + HexOf(s.hash));
            }
        }
    }
    for (const std::string& name : FolderNames(fd_->get())) {
        if (!name.starts_with(kObjectPrefix) || needed.contains(name)) {
            continue;
        }
        struct stat st;
        if (freed.contains(name) ||
            (::fstatat(fd_->get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
             now - st.st_mtime > kOrphanAge)) {
            ::unlinkat(fd_->get(), name.c_str(), 0);
        }
    }
    return dropped.size();
}

void HistoryStore::Reseal(const SideKey& key) {
    const std::string root = HistoryRoot();
    const UniqueFd rootFd(OpenPrivateFolder(root));
    if (!rootFd) {
        throw Error(Format(kHistoryNotPrivate, root));
    }
    const std::string name = FileNamePart(folder_);
    const std::string fresh = name + ".new-" + std::to_string(::getpid());
    RemoveFolder(rootFd.get(), fresh);
    if (::mkdirat(rootFd.get(), fresh.c_str(), 0700) != 0) {
        throw Error(Format(kHistoryNotKept, root));
    }
    auto freshFd = std::make_shared<UniqueFd>(OpenPrivateFolder(root + "/" + fresh));
    if (!*freshFd) {
        RemoveFolder(rootFd.get(), fresh);
        throw Error(Format(kHistoryNotPrivate, root + "/" + fresh));
    }
    // Read under the old key, written under the new one, with the names it gives.
    std::unique_ptr<HistoryStore> next(new HistoryStore());
    next->path_ = path_;
    next->folder_ = folder_;
    next->fd_ = freshFd;
    next->key_ = key_;
    next->UseKey(key);
    next->nextNumber_ = nextNumber_;
    std::map<SectionHash, VersionSection> renamed;
    try {
        for (const Version& v : versions_) {
            Version copy = v;
            for (VersionSection& s : copy.sections) {
                auto it = renamed.find(s.hash);
                if (it == renamed.end()) {
                    std::string text = ReadObject(s);
                    VersionSection n = s;
                    n.hash = next->HashOf(text);
                    n.stored = next->WriteObject(freshFd->get(), n.hash, text, next->key_.get());
                    Wipe(text);
                    it = renamed.emplace(s.hash, n).first;
                }
                s = it->second;
            }
            next->versions_.push_back(std::move(copy));
        }
        next->Rewrite();
    } catch (...) {
        RemoveFolder(rootFd.get(), fresh);
        throw;
    }
    const std::string old = name + ".old-" + std::to_string(::getpid());
    if (::renameat(rootFd.get(), name.c_str(), rootFd.get(), old.c_str()) != 0 ||
        ::renameat(rootFd.get(), fresh.c_str(), rootFd.get(), name.c_str()) != 0) {
        ::renameat(rootFd.get(), old.c_str(), rootFd.get(), name.c_str());
        RemoveFolder(rootFd.get(), fresh);
        throw Error(Format(kHistoryNotKept, root));
    }
    SyncFolder(rootFd.get());
    RemoveFolder(rootFd.get(), old);
    // The new folder is this store from now on.
    fd_ = std::make_shared<UniqueFd>(OpenPrivateFolder(folder_));
    protection_ = next->protection_;
    keyCheck_ = next->keyCheck_;
    key_ = next->key_;
    nameKey_ = next->nameKey_;
    versions_ = std::move(next->versions_);
    device_ = next->device_;
    inode_ = next->inode_;
    size_ = next->size_;
    end_ = next->end_;
}

}  // namespace velloran
