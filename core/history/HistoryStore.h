#pragma once

// The history of a document: every version it was saved, opened, reloaded or merged in, kept in
// $XDG_STATE_HOME/velloran/history/<store>, a private folder of the document's own (0700, its
// files 0600, never reached through a link, each file checked with fstat once open).
//
// A version lists its sections by content: each distinct section text is one object file,
// "o-" and the 64 hexadecimal digits of its BLAKE2b-256 hash, holding the text compressed with
// zstd, so that a save that changes one section stores that section alone. The file "index" is
// append-only, in frames, integers little-endian:
//    0   4  magic "VHX\x1a"
//    4   4  body length n
//    8   n  body
//  8+n   8  checksum of bytes 0 to 8+n
// 16+n   4  n again
// The first frame holds the document's absolute path and how the store is sealed, with a key
// check; every other one is a version (its number, event and time in the clear, its sections'
// hashes, sizes and words sealed) or a name under which a version is kept. A frame that fails its
// checksum (a torn last entry) is skipped. For a sealed or enciphered document, objects and
// entries are sealed as its recovery records are, and the hashes are keyed, so that the store
// shows no text, no title, and no hash that a guess could be checked against.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Encoding.h"
#include "core/document/Host.h"
#include "core/protection/Protection.h"
#include "core/storage/FileIO.h"

namespace velloran {

class SealKey;

using SectionHash = std::array<unsigned char, 32>;
// 64 lower-case hexadecimal digits.
std::string HexOf(const SectionHash& hash);

struct VersionSection {
    SectionHash hash{};
    std::uint64_t bytes = 0;   // of the text
    std::uint64_t stored = 0;  // of its object on disk
    std::uint64_t words = 0;
    bool operator==(const VersionSection&) const = default;
};

struct Version {
    std::uint64_t number = 0;
    VersionEvent event = VersionEvent::Saved;
    std::int64_t time = 0;  // seconds since the epoch
    Encoding encoding = Encoding::Utf8;
    std::vector<VersionSection> sections;
    // The sections that differ from the version before it when it was made (all, for the first).
    std::vector<int> changed;
    // The name the writer keeps it under; empty when it may be thinned.
    std::string kept;

    std::uint64_t Words() const;
    std::uint64_t Bytes() const;
    bool SameText(std::span<const SectionHash> hashes) const;
};

// "opened", "saved", ...: as velloran-cli and the History window name the events.
std::string_view EventName(VersionEvent event);

enum class HistoryProtection : unsigned char { None = 0, DocumentKey = 1, DerivedKey = 2 };

// What thinning keeps: every version of the last allFor seconds, then the newest of each hour
// until hourlyFor, then the newest of each day; never a kept one nor the newest few; and then,
// oldest first, as many more as the objects they alone need take beyond budget bytes.
struct ThinningRules {
    std::int64_t allFor = 48 * 3600;
    std::int64_t hourlyFor = 14 * 86400;
    std::size_t newest = 20;
    std::uint64_t budget = std::uint64_t{200} << 20;
};

// The numbers of the versions that the rules drop, oldest first; versions are in the order made.
std::vector<std::uint64_t> VersionsToThin(std::span<const Version> versions, std::int64_t now,
                                          const ThinningRules& rules);

// The base for merging two versions of a document, given by their sections' hashes: the newest
// version both came from, each side having come from the version it shares the most section
// texts with (the newest of equal ones). Nothing when a side shares no text with any version.
const Version* ChooseMergeBase(std::span<const Version> versions, std::span<const SectionHash> ours,
                               std::span<const SectionHash> theirs);

class HistoryStore {
  public:
    // The text of a key for a sealed store: the passphrase for DocumentKey, the legacy key for
    // DerivedKey; told when the one given last was wrong. It throws to stop.
    using KeySource = std::function<std::string(HistoryProtection, bool previousWrong)>;

    enum class Opening {
        Opened,
        // A store sealed under a key that key does not fit: left as it is.
        OtherKey,
    };

    // The store of the document at path (absolute), sealed as key says, made when missing. A
    // store sealed under another key is set aside (for 30 days, sealed as it was) when
    // replaceOther, else nothing is opened and opening says so. Throws Error when no private
    // store can be kept.
    static std::unique_ptr<HistoryStore> Open(const std::string& path, const SideKey& key,
                                              bool replaceOther, Opening* opening = nullptr);
    // The store as it is, changing nothing, its key asked of keyFor; nothing when the document
    // has none. Throws Error when it is not private or is damaged past reading.
    static std::unique_ptr<HistoryStore> OpenToRead(const std::string& path,
                                                    const KeySource& keyFor);

    ~HistoryStore();
    HistoryStore(const HistoryStore&) = delete;
    HistoryStore& operator=(const HistoryStore&) = delete;

    const std::string& Path() const { return path_; }
    const std::string& Folder() const { return folder_; }
    HistoryProtection Protection() const { return protection_; }
    // Oldest first, as made; the numbers only grow and are never given again.
    const std::vector<Version>& Versions() const { return versions_; }
    const Version* Find(std::uint64_t number) const;
    // True when the store is sealed as key asks, with that key.
    bool Fits(const SideKey& key) const;

    // The hash that names an object of text in this store.
    SectionHash HashOf(std::string_view text) const;

    // Adds a version of the sections texts, whose hashes (HashOf) and words are given, writing
    // objects only for the texts not stored yet; the index entry last, so that a kill at any
    // moment loses this version at most. The new version's number. Throws Error when it cannot
    // be written.
    std::uint64_t Add(VersionEvent event, std::int64_t time, Encoding encoding,
                      std::span<const std::string_view> texts, std::span<const SectionHash> hashes,
                      std::span<const std::uint64_t> words);

    // A section's text, or the document's, as it was saved: every byte checked against its hash.
    // Throws Error when its object is missing or damaged.
    std::string SectionText(const Version& version, std::size_t k) const;
    std::string DocumentText(const Version& version) const;

    // Keeps version number under name, never thinned; an empty name gives it back to thinning.
    // Throws Error for no such version, or when it cannot be written.
    void Keep(std::uint64_t number, std::string_view name);

    // Drops the versions the rules thin, and the objects no version needs any more. The number
    // of versions dropped.
    std::size_t Thin(std::int64_t now, const ThinningRules& rules);

    // Seals every object and entry anew under key, in a new folder that takes this one's place:
    // no text stays under a key given up. Throws Error when it cannot.
    void Reseal(const SideKey& key);

    // The bytes the objects take on disk.
    std::uint64_t StoredBytes() const;

  private:
    HistoryStore() = default;
    void Load(std::string_view bytes);
    bool Refresh(int fd, bool force);
    void Rewrite();
    std::string ReadObject(const VersionSection& section) const;
    std::uint64_t WriteObject(int folder, const SectionHash& hash, std::string_view text,
                              const SealKey* key) const;
    // base: the version before it, whose sections it names where it has the same.
    std::string EncodeVersion(const Version& v, const Version* base) const;
    std::string EncodeKeep(std::uint64_t number, std::string_view name) const;
    std::string HeaderFrame() const;
    void UseKey(const SideKey& key);

    std::string path_;
    std::string folder_;
    std::shared_ptr<const UniqueFd> fd_;
    HistoryProtection protection_ = HistoryProtection::None;
    std::string keyCheck_;
    std::shared_ptr<const SealKey> key_;
    std::array<unsigned char, 32> nameKey_{};
    std::vector<Version> versions_;
    std::uint64_t nextNumber_ = 1;
    // The index file as last read or written.
    std::uint64_t device_ = 0;
    std::uint64_t inode_ = 0;
    std::uint64_t size_ = 0;
    std::uint64_t end_ = 0;
};

inline constexpr std::string_view kHistoryDamaged = "The history %s is damaged";
inline constexpr std::string_view kHistoryNotPrivate =
    "%s is not a private folder of yours, so no history is read from it or kept in it";
inline constexpr std::string_view kHistoryNotKept = "The history cannot be kept in %s";
inline constexpr std::string_view kNoSuchVersion = "The history has no version %s";
inline constexpr int kHistoryAsideDays = 30;

}  // namespace velloran
