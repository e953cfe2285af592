#pragma once

// The progress log of a document: an append-only file in $XDG_STATE_HOME/velloran/progress that
// takes the words of each section, as the statistics count them, whenever the document is opened,
// saved or recorded for recovery.
//
// File layout: frames, one after the other, integers little-endian:
//    0   4  magic "VPG\x1a"
//    4   4  body length n
//    8   n  body
//  8+n   8  checksum of bytes 0 to 8+n
// 16+n   4  n again, so that the last frame can be found from the end of the file
// The first frame is the log's header: the document's absolute path and how the entries are
// sealed, with a key check. Every other frame is an entry: its moment, time and the document
// file's identity in the clear (none of them text), then the counts and titles, sealed like the
// document's recovery records when the document is sealed or enciphered. A frame that fails its
// checksum (a torn last entry, a damaged block) is skipped, and the next whole one read on; a
// damaged header costs only itself, since every entry carries its own checksum and a log is
// named after its document's path.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Encoding.h"
#include "core/document/Host.h"
#include "core/document/State.h"
#include "core/storage/FileIO.h"

namespace velloran {

class SealKey;
struct LogPlace;

// One section's words and title (its first line, cut to kMostTitleBytes), as an entry keeps them.
struct SectionWords {
    std::string title;
    std::uint64_t words = 0;
    bool operator==(const SectionWords&) const = default;
};

inline constexpr std::size_t kMostTitleBytes = 256;

// The title a log keeps of a section's first line: cut to kMostTitleBytes, and in UTF-8 never
// inside a character.
std::string LoggedTitle(std::string_view firstLine, Encoding encoding);

struct ProgressEntry {
    ProgressMoment moment = ProgressMoment::Opened;
    std::int64_t time = 0;  // seconds since the epoch
    // The document file as this entry found it, when it existed.
    std::optional<FileIdentity> identity;
    Encoding encoding = Encoding::Utf8;  // the titles'
    std::vector<SectionWords> sections;

    std::uint64_t Words() const;
    bool SameCounts(const ProgressEntry& other) const {
        return encoding == other.encoding && sections == other.sections;
    }
};

// How a log's entries are sealed: as the document's recovery records are (SideKey).
enum class LogProtection : unsigned char { None = 0, DocumentKey = 1, DerivedKey = 2 };

struct LogHeader {
    std::string path;  // the document's
    LogProtection protection = LogProtection::None;
    // A sealed empty text: a key that opens it opens the entries; it also carries the salt and
    // parameters that a key derived from the legacy key is derived with.
    std::string keyCheck;
};

// An entry frame as read, its counts not yet unsealed.
struct LogFrame {
    ProgressMoment moment = ProgressMoment::Opened;
    std::int64_t time = 0;
    std::optional<FileIdentity> identity;
    std::string payload;
    std::string bytes;  // the whole frame, as it is on disk
};

struct ParsedLog {
    LogHeader header;
    // The header frame is not whole: header holds nothing, the frames are those that are.
    bool headerDamaged = false;
    std::vector<LogFrame> frames;
    // Where the last whole frame ends: anything after it is a torn append, cut off at the next.
    std::size_t end = 0;
};

// Every whole frame of bytes; never throws, whatever they hold.
ParsedLog ParseLog(std::string_view bytes);
// The same for a log that must be whole: throws Error "The progress log NAME is damaged" when
// its header is not.
ParsedLog ParseLog(std::string_view bytes, const std::string& name);

// The entries of a log whose header is damaged, unsealed with what the document's key opens:
// keyFor(payload) gives the key that opens that sealed payload, or nullptr (asked again for
// the next one while it gives none); an entry in the clear needs none.
std::vector<ProgressEntry> SalvageEntries(
    const ParsedLog& log,
    const std::function<std::shared_ptr<const SealKey>(std::string_view payload)>& keyFor);

// The frames of a log.
std::string EncodeHeader(const LogHeader& header);
// key seals the counts and titles; nullptr leaves them in the clear.
std::string EncodeEntry(const ProgressEntry& entry, const SealKey* key);
// The entry of a frame, its payload unsealed with key where sealed. Nothing when it does not
// read as one (damaged, or sealed under another key).
std::optional<ProgressEntry> DecodeEntry(const LogFrame& frame, const SealKey* key);

// The day an entry counts for: its local date, a time before dayStart (an hour, 0 to 23) counting
// for the day before, so that a night's writing counts for the evening. Days since 1970-01-01.
std::int64_t DayOf(std::int64_t time, int dayStart);
// "2024-05-31".
std::string DateText(std::int64_t day);

// The folder the logs are kept in, $XDG_STATE_HOME/velloran/progress, reached only through a
// descriptor of it checked to be a folder of this user that no one else may enter: every file
// in it is opened relative to it, without following symbolic links, and read or written only
// when it is a regular file of this user with mode 0600.
class ProgressFolder {
  public:
    // Made when missing if create; nothing when it is missing, or is not private to this user.
    static std::optional<ProgressFolder> Open(bool create);
    const std::string& Path() const { return path_; }
    int fd() const { return fd_->get(); }

    enum class Found { Missing, Refused, Read };
    // A file's bytes (at most maxBytes); Refused when it is not a private file of this user.
    // place, when given, learns which file was read.
    Found Read(const std::string& name, std::string& bytes, std::size_t maxBytes,
               LogPlace* place = nullptr) const;
    // Moves name aside as "<name>.aside-<time>", kept for 30 days; false when it could not.
    bool SetAside(const std::string& name, std::int64_t now) const;
    // Moves name aside as "<name>.damaged-<time>" (why: "damaged", "unread"), which nothing
    // ever removes: what could not be read may yet be by hand. The name it took, or nothing.
    std::optional<std::string> KeepAside(const std::string& name, std::string_view why,
                                         std::int64_t now) const;
    // Removes what was set aside more than 30 days before now.
    void RemoveOldAside(std::int64_t now) const;
    // The names in the folder.
    std::vector<std::string> Names() const;

  private:
    ProgressFolder(std::shared_ptr<const UniqueFd> fd, std::string path)
        : fd_(std::move(fd)), path_(std::move(path)) {}
    std::shared_ptr<const UniqueFd> fd_;
    std::string path_;
};

// Appends frames to a log file whose size is known, under an exclusive lock; a torn frame a
// killed writer left after the last whole one is cut off first. Changed when the file is not the
// one expected (another process appended to it or replaced it), Failed when it cannot be written.
enum class Appended { Done, Changed, Failed };
struct LogPlace {
    std::string name;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;  // the file's size when last read or written
    std::uint64_t end = 0;   // where the last whole frame ends
};
Appended AppendFrame(const ProgressFolder& folder, LogPlace& place, std::string_view frame);
// Replaces the log with bytes, durably, under the same lock: a new file is written beside it and
// renamed over it. With the place's file expected (its size known), Changed when it is not that
// file any more; for a new log, when one was made meanwhile. On success place is the new file.
Appended ReplaceLog(const ProgressFolder& folder, LogPlace& place, std::string_view bytes,
                    bool expected);

// The name of path's log: "log-" and 16 hexadecimal digits of the path's checksum, with "-2",
// "-3" ... for the rare other path of the same checksum.
std::string LogName(std::string_view path, int collision);

// The entries of the log of the document at path (absolute), read as the editor reads them and
// changing nothing. keyFor gives the key of a sealed log, a passphrase for DocumentKey and the
// legacy key for DerivedKey, and is told when the one it gave last was wrong; it throws to stop.
// Nothing when the document has no log. Throws Error when the log is not a private file of this
// user. A damaged header gives the entries that can be read all the same, keyFor asked with
// the protection the document's name tells.
struct LoggedHistory {
    LogHeader header;
    std::vector<ProgressEntry> entries;
    // The log's header was damaged: entries are those whose own checksum held.
    bool headerDamaged = false;
};
std::optional<LoggedHistory> ReadProgressLog(
    const std::string& path,
    const std::function<std::string(LogProtection protection, bool previousWrong)>& keyFor);

inline constexpr std::string_view kLogNotPrivate =
    "%s is not a private file of yours, so it is not read";

inline constexpr int kLogAsideDays = 30;
inline constexpr std::size_t kMostLogBytes = std::size_t{256} << 20;
inline constexpr std::size_t kMostFrameBody = std::size_t{1} << 20;

}  // namespace velloran
