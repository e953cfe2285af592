#pragma once

// The recovery record of one open document: what a run that was killed had not saved yet.
//
// A record is a folder of its own holding a manifest, written last and replaced whole, and the
// parts it names. Each section has a base part (its text at some point) and may have a journal
// part (the edits since, appended in frames), so that a record after a small edit appends a
// small frame instead of rewriting the section. A titles part holds the section list's titles.
//
// Manifest, integers little-endian:
//    0   8  magic 89 56 4C 52 0D 0A 1A 0A ("\x89VLR\r\n\x1a\n")
//    8   2  format version, 1
//   10   8  length of the body
//   18   8  checksum of the body (Checksum)
//   26      body: the document's path; its file identity at the last read or save; the writer's
//           process id and boot id; the time; the record's sequence number; the protection and
//           the sealing key's Argon2id parameters and salt (zeros when none); the titles part; for
//           each section its base and journal parts (name, length, checksum of the part's bytes);
//           the run's state (FileName, LastSection, panels, flags), sealed when protected.
// Strings are a 4-byte length and the bytes. A journal is frames of an 8-byte length and an
// encoding of edits (a 4-byte count; per edit its position, bytes removed, bytes inserted).
// A protected record seals every part and the run's state with libsodium's secretstream (the
// sealed-document format, Seal.h), so that it holds no byte of the text in the clear.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/document/Error.h"
#include "core/document/State.h"
#include "core/protection/Seal.h"
#include "core/storage/Checksum.h"

namespace velloran {

inline constexpr std::uint16_t kRecordVersion = 1;

// One change of a section's bytes: at position, `removed` bytes gave way to `inserted`.
struct ByteEdit {
    std::uint64_t position = 0;
    std::uint64_t removed = 0;
    std::string inserted;
    bool operator==(const ByteEdit&) const = default;
};

// Applies edits in order. Throws RecordDamaged (naming name) when one falls outside the text.
void ApplyEdits(std::string& text, std::span<const ByteEdit> edits, const std::string& name);

std::string EncodeEdits(std::span<const ByteEdit> edits);
std::vector<ByteEdit> DecodeEdits(std::string_view bytes, const std::string& name);

// How a record keeps the text from other eyes.
enum class RecordProtection : std::uint8_t {
    None = 0,
    // Sealed with the key of the sealed document itself.
    DocumentKey = 1,
    // Sealed with a key derived (Argon2id) from the legacy cipher's key: that cipher must never
    // see text whose plain form could be guessed, since each such byte gives away a key byte.
    DerivedKey = 2,
};

// A file of the record: its name in the record's folder, length and checksum of its bytes.
struct RecordPart {
    std::string name;
    std::uint64_t length = 0;
    std::uint64_t checksum = 0;
    explicit operator bool() const { return !name.empty(); }
    bool operator==(const RecordPart&) const = default;
};

struct SectionParts {
    RecordPart base;
    RecordPart journal;
    bool operator==(const SectionParts&) const = default;
};

// The run's state beside the text, to restore it as it was.
struct RecordRun {
    std::string fileName;
    int lastSection = 0;
    int panelMode = 1;
    int panel1Section = 0;
    int panel2Section = 0;
    int activeSection = 0;
    bool enciphered = false;
    bool sealed = false;
    bool operator==(const RecordRun&) const = default;
};

std::string EncodeRun(const RecordRun& run);
RecordRun DecodeRun(std::string_view bytes, const std::string& name);

std::string EncodeStrings(std::span<const std::string> strings);
std::vector<std::string> DecodeStrings(std::string_view bytes, const std::string& name);

struct Manifest {
    // The absolute path a save would write: what the record belongs to.
    std::string path;
    std::optional<FileIdentity> identity;
    std::int64_t pid = 0;
    std::string bootId;
    std::int64_t time = 0;  // seconds since the epoch
    std::uint64_t sequence = 0;
    RecordProtection protection = RecordProtection::None;
    SealParams params;
    SealSalt salt{};
    RecordPart titles;
    std::vector<SectionParts> sections;
    // EncodeRun's bytes, sealed when protected.
    std::string run;
    bool operator==(const Manifest&) const = default;
};

std::string EncodeManifest(const Manifest& manifest);
// Throws RecordDamaged for anything but a whole manifest of this version, and Error for a newer
// version.
Manifest DecodeManifest(std::string_view bytes, const std::string& name);

// A record whose bytes are not what was written: cut short, changed, or parts missing.
class RecordDamaged : public Error {
  public:
    using Error::Error;
};

// A record read back whole, every part checked.
struct RecoveredSection {
    std::string text;
    SectionParts parts;
    // The checksum of the journal so far, to append to it.
    Checksum journalSum;
};

struct RecoveredRecord {
    Manifest manifest;
    RecordRun run;
    std::vector<std::string> titles;
    std::vector<RecoveredSection> sections;
    // What the record was sealed with; nullptr for an unprotected one.
    std::shared_ptr<const SealKey> key;
};

// Reads the record in folder that manifest describes. Throws WrongKey when key does not open a
// protected record (nothing else was read then), RecordDamaged when any part is missing, cut
// short or changed: nothing is ever returned half.
RecoveredRecord ReadRecord(const std::string& folder, const Manifest& manifest,
                           std::shared_ptr<const SealKey> key);

// Reading and writing parts, shared with the writer.

// Seals bytes with key, or gives them as they are without one.
std::string MaybeSeal(const SealKey* key, std::string_view plain);

// The message of a damaged record: "The recovery record of %s is damaged".
std::string DamagedMessage(const std::string& path);

inline constexpr std::string_view kRecordDamaged =
    "The recovery record of %s is damaged and was not used";
inline constexpr std::string_view kRecordNewer =
    "The recovery record of %s was written by a newer version of Velloran Editor";

}  // namespace velloran
