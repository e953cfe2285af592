#include "core/progress/ProgressLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>

#include "core/document/Error.h"
#include "core/protection/Protection.h"
#include "core/protection/Seal.h"
#include "core/storage/Checksum.h"
#include "core/storage/FileIO.h"
#include "core/storage/StateFolder.h"

namespace velloran {
namespace {

constexpr std::string_view kMagic = "VPG\x1a";
constexpr std::size_t kFrameOverhead = 20;
constexpr std::uint16_t kLogVersion = 1;
constexpr unsigned char kHeaderFrame = 0;
constexpr unsigned char kEntryFrame = 1;
constexpr std::string_view kAside = ".aside-";
constexpr std::string_view kNew = ".new-";

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

// The body of the whole frame at bytes[at], or nothing.
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

void PutIdentity(std::string& out, const std::optional<FileIdentity>& id) {
    PutU8(out, id ? 1 : 0);
    if (id) {
        PutU64(out, id->device);
        PutU64(out, id->inode);
        PutU64(out, static_cast<std::uint64_t>(id->size));
        PutU64(out, static_cast<std::uint64_t>(id->modifiedSeconds));
        PutU64(out, static_cast<std::uint64_t>(id->modifiedNanoseconds));
    }
}

std::optional<FileIdentity> GetIdentity(Reader& r) {
    if (r.U8() == 0) {
        return std::nullopt;
    }
    FileIdentity id;
    id.device = r.U64();
    id.inode = r.U64();
    id.size = static_cast<std::int64_t>(r.U64());
    id.modifiedSeconds = static_cast<std::int64_t>(r.U64());
    id.modifiedNanoseconds = static_cast<std::int64_t>(r.U64());
    return id;
}

bool ValidMoment(std::uint64_t m) {
    return m >= 1 && m <= 3;
}

// ---- the folder

// A log is held to the rules of everything else in the state folder, and written 0600.
bool IsPrivateLog(const struct stat& st) {
    return S_ISREG(st.st_mode) && IsPrivate(st);
}

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar, and back.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::string LoggedTitle(std::string_view firstLine, Encoding encoding) {
    if (firstLine.size() <= kMostTitleBytes) {
        return std::string(firstLine);
    }
    std::size_t cut = kMostTitleBytes;
    while (encoding == Encoding::Utf8 && cut > 0 &&
           IsContinuation(static_cast<unsigned char>(firstLine[cut]))) {
        --cut;
    }
    return std::string(firstLine.substr(0, cut));
}

std::uint64_t ProgressEntry::Words() const {
    std::uint64_t total = 0;
    for (const SectionWords& s : sections) {
        total += s.words;
    }
    return total;
}

std::string EncodeHeader(const LogHeader& header) {
    std::string body;
    PutU8(body, kHeaderFrame);
    PutU32(body, kLogVersion);
    PutBytes(body, header.path);
    PutU8(body, static_cast<unsigned>(header.protection));
    PutBytes(body, header.keyCheck);
    return Frame(body);
}

std::string EncodeEntry(const ProgressEntry& entry, const SealKey* key) {
    std::string counts;
    PutU8(counts, entry.encoding == Encoding::Utf8 ? 1 : 0);
    PutU32(counts, static_cast<std::uint32_t>(entry.sections.size()));
    for (const SectionWords& s : entry.sections) {
        PutU64(counts, s.words);
        PutBytes(counts, std::string_view(s.title).substr(0, kMostTitleBytes));
    }
    std::string body;
    PutU8(body, kEntryFrame);
    PutU8(body, static_cast<unsigned>(entry.moment));
    PutU64(body, static_cast<std::uint64_t>(entry.time));
    PutIdentity(body, entry.identity);
    if (key) {
        std::string sealed = SealBytes(*key, counts);
        Wipe(counts);
        PutBytes(body, sealed);
    } else {
        PutBytes(body, counts);
    }
    return Frame(body);
}

std::optional<ProgressEntry> DecodeEntry(const LogFrame& frame, const SealKey* key) {
    std::string counts;
    if (key) {
        try {
            counts = UnsealBytes(frame.payload, *key, "progress");
        } catch (const Error&) {
            return std::nullopt;
        }
    } else {
        counts = frame.payload;
    }
    Reader r(counts);
    ProgressEntry entry;
    entry.moment = frame.moment;
    entry.time = frame.time;
    entry.identity = frame.identity;
    entry.encoding = r.U8() == 1 ? Encoding::Utf8 : Encoding::Windows1252;
    const std::uint64_t n = r.U32();
    if (!r.Ok() || n > static_cast<std::uint64_t>(kSectionCount)) {
        return std::nullopt;
    }
    for (std::uint64_t i = 0; i < n; ++i) {
        SectionWords s;
        s.words = r.U64();
        s.title = r.Bytes(kMostTitleBytes);
        entry.sections.push_back(std::move(s));
    }
    if (key) {
        Wipe(counts);
    }
    if (!r.AtEnd()) {
        return std::nullopt;
    }
    return entry;
}

ParsedLog ParseLog(std::string_view bytes) {
    ParsedLog log;
    const auto head = FrameAt(bytes, 0);
    Reader h(head.value_or(std::string_view()));
    std::size_t at = 0;
    if (head && h.U8() == kHeaderFrame && h.U32() == kLogVersion) {
        log.header.path = h.Bytes(kMostFrameBody);
        const std::uint64_t protection = h.U8();
        log.header.keyCheck = h.Bytes(kMostFrameBody);
        if (h.AtEnd() && protection <= 2) {
            log.header.protection = static_cast<LogProtection>(protection);
            at = head->size() + kFrameOverhead;
        }
    }
    if (at == 0) {
        log.header = {};
        log.headerDamaged = true;
    }
    log.end = at;
    while (at < bytes.size()) {
        const auto body = FrameAt(bytes, at);
        if (!body) {
            // Torn or damaged: whatever whole frames follow still count.
            const std::size_t next = bytes.find(kMagic, at + 1);
            if (next == std::string_view::npos) {
                break;
            }
            at = next;
            continue;
        }
        Reader r(*body);
        LogFrame frame;
        const bool entry = r.U8() == kEntryFrame;
        const std::uint64_t moment = r.U8();
        frame.time = static_cast<std::int64_t>(r.U64());
        frame.identity = GetIdentity(r);
        frame.payload = r.Bytes(kMostFrameBody);
        if (entry && r.AtEnd() && ValidMoment(moment)) {
            frame.moment = static_cast<ProgressMoment>(moment);
            frame.bytes = std::string(bytes.substr(at, body->size() + kFrameOverhead));
            log.frames.push_back(std::move(frame));
        }
        at += body->size() + kFrameOverhead;
        log.end = at;
    }
    return log;
}

ParsedLog ParseLog(std::string_view bytes, const std::string& name) {
    ParsedLog log = ParseLog(bytes);
    if (log.headerDamaged) {
        throw Error(Format("The progress log %s is damaged", name));
    }
    return log;
}

std::vector<ProgressEntry> SalvageEntries(
    const ParsedLog& log,
    const std::function<std::shared_ptr<const SealKey>(std::string_view payload)>& keyFor) {
    std::vector<ProgressEntry> out;
    std::shared_ptr<const SealKey> key;
    for (const LogFrame& frame : log.frames) {
        auto entry = DecodeEntry(frame, nullptr);
        if (!entry && key) {
            entry = DecodeEntry(frame, key.get());
        }
        if (!entry) {
            if (auto opened = keyFor(frame.payload)) {
                key = std::move(opened);
                entry = DecodeEntry(frame, key.get());
            }
        }
        if (entry) {
            out.push_back(std::move(*entry));
        }
    }
    return out;
}

std::int64_t DayOf(std::int64_t time, int dayStart) {
    const auto t = static_cast<std::time_t>(time);
    std::tm local{};
    if (!::localtime_r(&t, &local)) {
        return time / 86400;
    }
    const std::int64_t day =
        DaysFromCivil(std::int64_t{local.tm_year} + 1900, static_cast<unsigned>(local.tm_mon + 1),
                      static_cast<unsigned>(local.tm_mday));
    return local.tm_hour < dayStart ? day - 1 : day;
}

std::string DateText(std::int64_t day) {
    const std::int64_t z = day + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2 ? 1 : 0);
    char text[32];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02u", static_cast<long long>(y), m, d);
    return text;
}

// ---- the folder

std::optional<ProgressFolder> ProgressFolder::Open(bool create) {
    std::string path = StateFolder() + "/progress";
    if (create && !MakeStateFolder("progress")) {
        return std::nullopt;
    }
    auto fd = std::make_shared<UniqueFd>(OpenPrivateFolder(path));
    if (!*fd) {
        return std::nullopt;
    }
    return ProgressFolder(std::move(fd), std::move(path));
}

ProgressFolder::Found ProgressFolder::Read(const std::string& name, std::string& bytes,
                                           std::size_t maxBytes, LogPlace* place) const {
    bytes.clear();
    const UniqueFd file(::openat(fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file) {
        return errno == ENOENT ? Found::Missing : Found::Refused;
    }
    struct stat st;
    if (::fstat(file.get(), &st) != 0 || !IsPrivateLog(st) ||
        static_cast<std::uint64_t>(st.st_size) > maxBytes) {
        return Found::Refused;
    }
    if (place) {
        place->name = name;
        place->device = static_cast<std::uint64_t>(st.st_dev);
        place->inode = static_cast<std::uint64_t>(st.st_ino);
        place->size = static_cast<std::uint64_t>(st.st_size);
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t r = ::read(file.get(), bytes.data() + got, bytes.size() - got);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;
        }
        got += static_cast<std::size_t>(r);
    }
    bytes.resize(got);
    return Found::Read;
}

bool ProgressFolder::SetAside(const std::string& name, std::int64_t now) const {
    const std::string aside = name + std::string(kAside) + std::to_string(now);
    if (::renameat(fd(), name.c_str(), fd(), aside.c_str()) != 0) {
        return false;
    }
    ::fsync(fd());
    return true;
}

std::optional<std::string> ProgressFolder::KeepAside(const std::string& name, std::string_view why,
                                                     std::int64_t now) const {
    const std::string kept = name + "." + std::string(why) + "-" + std::to_string(now);
    // renameat2 with RENAME_NOREPLACE is not everywhere: a link and an unlink never replace.
    if (::linkat(fd(), name.c_str(), fd(), kept.c_str(), 0) != 0 ||
        ::unlinkat(fd(), name.c_str(), 0) != 0) {
        return std::nullopt;
    }
    ::fsync(fd());
    return kept;
}

void ProgressFolder::RemoveOldAside(std::int64_t now) const {
    for (const std::string& name : Names()) {
        const std::size_t aside = name.rfind(kAside);
        const std::size_t fresh = name.rfind(kNew);
        long long when = 0;
        if (aside != std::string::npos) {
            const char* from = name.data() + aside + kAside.size();
            if (std::from_chars(from, name.data() + name.size(), when).ec == std::errc() &&
                now - when > std::int64_t{kLogAsideDays} * 86400) {
                ::unlinkat(fd(), name.c_str(), 0);
            }
        } else if (fresh != std::string::npos) {
            // Left by a writer killed while it replaced a log: a day old, it is no one's.
            struct stat st;
            if (::fstatat(fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                now - st.st_mtime > 86400) {
                ::unlinkat(fd(), name.c_str(), 0);
            }
        }
    }
}

std::vector<std::string> ProgressFolder::Names() const {
    return FolderNames(fd());
}

namespace {

// The log file of place, opened, checked and locked; Changed when it is not the file place
// knows of, or (with expected false) when there is one at all.
Appended OpenLocked(const ProgressFolder& folder, const LogPlace& place, bool expected,
                    UniqueFd& file) {
    file.Reset(::openat(folder.fd(), place.name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (!file) {
        if (errno != ENOENT) {
            return Appended::Failed;
        }
        return expected ? Appended::Changed : Appended::Done;
    }
    if (!expected) {
        return Appended::Changed;
    }
    struct stat st;
    struct stat byName;
    if (::fstat(file.get(), &st) != 0 || !IsPrivateLog(st) || !LockExclusive(file.get(), true)) {
        return Appended::Failed;
    }
    // Replaced while this waited for the lock, or written by another process since.
    if (::fstatat(folder.fd(), place.name.c_str(), &byName, AT_SYMLINK_NOFOLLOW) != 0 ||
        byName.st_ino != st.st_ino || byName.st_dev != st.st_dev ||
        static_cast<std::uint64_t>(st.st_ino) != place.inode ||
        static_cast<std::uint64_t>(st.st_dev) != place.device ||
        static_cast<std::uint64_t>(st.st_size) != place.size) {
        return Appended::Changed;
    }
    return Appended::Done;
}

}  // namespace

Appended AppendFrame(const ProgressFolder& folder, LogPlace& place, std::string_view frame) {
    UniqueFd file;
    if (const Appended opened = OpenLocked(folder, place, true, file); opened != Appended::Done) {
        return opened;
    }
    // A torn frame is cut off, so that what is appended follows a whole one.
    if (place.end < place.size && ::ftruncate(file.get(), static_cast<off_t>(place.end)) != 0) {
        return Appended::Failed;
    }
    place.size = place.end;
    if (!WriteAllAt(file.get(), frame.data(), frame.size(), static_cast<off_t>(place.end)) ||
        ::fsync(file.get()) != 0) {
        // Whatever part of it reached the file is a torn frame that the next append cuts off.
        struct stat st;
        if (::fstat(file.get(), &st) == 0) {
            place.size = static_cast<std::uint64_t>(st.st_size);
        }
        return Appended::Failed;
    }
    place.end += frame.size();
    place.size = place.end;
    return Appended::Done;
}

Appended ReplaceLog(const ProgressFolder& folder, LogPlace& place, std::string_view bytes,
                    bool expected) {
    UniqueFd old;
    if (const Appended opened = OpenLocked(folder, place, expected, old);
        opened != Appended::Done) {
        return opened;
    }
    const std::string fresh = place.name + std::string(kNew) + std::to_string(::getpid());
    ::unlinkat(folder.fd(), fresh.c_str(), 0);
    const UniqueFd file(::openat(folder.fd(), fresh.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                 kStateFileMode));
    struct stat st;
    const bool written = file && ::fchmod(file.get(), kStateFileMode) == 0 &&
                         WriteAll(file.get(), bytes.data(), bytes.size()) &&
                         ::fsync(file.get()) == 0 && ::fstat(file.get(), &st) == 0;
    if (!written || ::renameat(folder.fd(), fresh.c_str(), folder.fd(), place.name.c_str()) != 0) {
        ::unlinkat(folder.fd(), fresh.c_str(), 0);
        return Appended::Failed;
    }
    ::fsync(folder.fd());
    place.device = static_cast<std::uint64_t>(st.st_dev);
    place.inode = static_cast<std::uint64_t>(st.st_ino);
    place.size = place.end = bytes.size();
    return Appended::Done;
}

namespace {

LoggedHistory SalvageLog(
    const ParsedLog& log, const std::string& path, const std::string& full,
    const std::function<std::string(LogProtection protection, bool previousWrong)>& keyFor) {
    LoggedHistory history;
    history.headerDamaged = true;
    history.header.path = path;
    const Protection kind = ProtectionOfName(path);
    bool asked = false;
    history.entries = SalvageEntries(log, [&](std::string_view payload) {
        std::shared_ptr<const SealKey> key;
        if (kind == Protection::Plain || asked) {
            return key;  // a key is asked for once; entries it does not open are left out
        }
        for (bool wrong = false; !key; wrong = true) {
            std::string typed = keyFor(
                kind == Protection::Sealed ? LogProtection::DocumentKey : LogProtection::DerivedKey,
                wrong);
            asked = true;
            try {
                UnsealBytes(payload, typed, full, {}, &key);
            } catch (const WrongKey&) {
            } catch (const Error&) {
                Wipe(typed);
                return key;  // no sealed entry: its bytes are damaged, not the key wrong
            }
            Wipe(typed);
        }
        return key;
    });
    if (!history.entries.empty() && kind != Protection::Plain) {
        history.header.protection =
            kind == Protection::Sealed ? LogProtection::DocumentKey : LogProtection::DerivedKey;
    }
    return history;
}

}  // namespace

std::optional<LoggedHistory> ReadProgressLog(
    const std::string& path,
    const std::function<std::string(LogProtection protection, bool previousWrong)>& keyFor) {
    const auto folder = ProgressFolder::Open(false);
    if (!folder) {
        return std::nullopt;
    }
    for (int c = 1; c <= 8; ++c) {
        const std::string name = LogName(path, c);
        const std::string full = folder->Path() + "/" + name;
        std::string bytes;
        switch (folder->Read(name, bytes, kMostLogBytes)) {
            case ProgressFolder::Found::Missing:
                return std::nullopt;
            case ProgressFolder::Found::Refused:
                throw Error(Format(kLogNotPrivate, full));
            case ProgressFolder::Found::Read:
                break;
        }
        const ParsedLog log = ParseLog(bytes);
        if (log.headerDamaged) {
            // Named after this path's checksum, it is this path's log.
            return SalvageLog(log, path, full, keyFor);
        }
        if (log.header.path != path) {
            continue;
        }
        LoggedHistory history;
        history.header = log.header;
        std::shared_ptr<const SealKey> key;
        for (bool wrong = false; log.header.protection != LogProtection::None && !key;
             wrong = true) {
            std::string typed = keyFor(log.header.protection, wrong);
            try {
                UnsealBytes(log.header.keyCheck, typed, full, {}, &key);
            } catch (const WrongKey&) {
            }
            Wipe(typed);
        }
        for (const LogFrame& frame : log.frames) {
            if (auto entry = DecodeEntry(frame, key.get())) {
                history.entries.push_back(std::move(*entry));
            }
        }
        return history;
    }
    return std::nullopt;
}

std::string LogName(std::string_view path, int collision) {
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(Checksum::Of(path)));
    std::string name = std::string("log-") + hex;
    if (collision > 1) {
        name += "-" + std::to_string(collision);
    }
    return name;
}

}  // namespace velloran
