#include "core/recovery/RecoveryRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/storage/FileIO.h"
#include "core/storage/StateFolder.h"

namespace velloran {
namespace {

constexpr unsigned char kMagic[8] = {0x89, 'V', 'L', 'R', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kHeaderBytes = 26;

[[noreturn]] void Damaged(const std::string& name) {
    throw RecordDamaged(DamagedMessage(name));
}

// Little-endian fields appended to a string.
class Out {
  public:
    template <typename T>
    Out& Number(T value) {
        auto v = static_cast<std::uint64_t>(value);
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            bytes.push_back(static_cast<char>(v >> (8 * i)));
        }
        return *this;
    }
    Out& Bytes(std::string_view b) {
        Number<std::uint32_t>(static_cast<std::uint32_t>(b.size()));
        bytes.append(b);
        return *this;
    }
    Out& Part(const RecordPart& p) { return Bytes(p.name).Number(p.length).Number(p.checksum); }
    std::string bytes;
};

// The same fields read back; anything short or out of place means damage.
class In {
  public:
    In(std::string_view bytes, const std::string& name) : rest_(bytes), name_(name) {}

    template <typename T>
    T Number() {
        const std::string_view b = Take(sizeof(T));
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i) {
            v |= std::uint64_t{static_cast<unsigned char>(b[i])} << (8 * i);
        }
        return static_cast<T>(v);
    }
    int Small(int low, int high) {
        const auto v = Number<std::int32_t>();
        if (v < low || v > high) {
            Damaged(name_);
        }
        return v;
    }
    bool Flag() { return Small(0, 1) == 1; }
    std::string_view Bytes() { return Take(Number<std::uint32_t>()); }
    RecordPart Part() {
        RecordPart p;
        p.name = Bytes();
        p.length = Number<std::uint64_t>();
        p.checksum = Number<std::uint64_t>();
        // A part names a file in the record's own folder and nothing else.
        if (p.name.find('/') != std::string::npos || p.name == "." || p.name == "..") {
            Damaged(name_);
        }
        return p;
    }
    std::string_view Take(std::uint64_t n) {
        if (n > rest_.size()) {
            Damaged(name_);
        }
        const std::string_view b = rest_.substr(0, n);
        rest_.remove_prefix(n);
        return b;
    }
    void End() const {
        if (!rest_.empty()) {
            Damaged(name_);
        }
    }
    bool AtEnd() const { return rest_.empty(); }

  private:
    std::string_view rest_;
    const std::string& name_;
};

// The first length bytes of the part's file, checked against the part's checksum. A journal may
// run on past its length: what a killed writer appended after its last manifest.
std::string ReadPart(const std::string& folder, const RecordPart& part, bool exact,
                     const std::string& name) {
    const UniqueFd fd(
        ::open((folder + "/" + part.name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat st;
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !IsPrivate(st) ||
        static_cast<std::uint64_t>(st.st_size) < part.length ||
        (exact && static_cast<std::uint64_t>(st.st_size) != part.length)) {
        Damaged(name);
    }
    std::string bytes(part.length, '\0');
    if (!ReadAllAt(fd.get(), bytes.data(), bytes.size(), 0) ||
        Checksum::Of(bytes) != part.checksum) {
        Damaged(name);
    }
    return bytes;
}

// A protected part's plain bytes. Once the key opened the record, a part it does not open was
// not written with it: damage, not a wrong key.
std::string Unseal(std::string bytes, const SealKey* key, const std::string& name) {
    if (!key) {
        return bytes;
    }
    try {
        return UnsealBytes(bytes, *key, name);
    } catch (const Error&) {
        Damaged(name);
    }
}

}  // namespace

std::string DamagedMessage(const std::string& path) {
    return Format(kRecordDamaged, path);
}

void ApplyEdits(std::string& text, std::span<const ByteEdit> edits, const std::string& name) {
    for (const ByteEdit& e : edits) {
        if (e.position > text.size() || e.removed > text.size() - e.position) {
            Damaged(name);
        }
        text.replace(e.position, e.removed, e.inserted);
    }
}

std::string EncodeEdits(std::span<const ByteEdit> edits) {
    Out out;
    out.Number<std::uint32_t>(static_cast<std::uint32_t>(edits.size()));
    for (const ByteEdit& e : edits) {
        out.Number(e.position).Number(e.removed).Number<std::uint64_t>(e.inserted.size());
        out.bytes.append(e.inserted);
    }
    return std::move(out.bytes);
}

std::vector<ByteEdit> DecodeEdits(std::string_view bytes, const std::string& name) {
    In in(bytes, name);
    const auto count = in.Number<std::uint32_t>();
    std::vector<ByteEdit> edits;
    for (std::uint32_t i = 0; i < count; ++i) {
        ByteEdit e;
        e.position = in.Number<std::uint64_t>();
        e.removed = in.Number<std::uint64_t>();
        e.inserted = in.Take(in.Number<std::uint64_t>());
        edits.push_back(std::move(e));
    }
    in.End();
    return edits;
}

std::string EncodeRun(const RecordRun& run) {
    Out out;
    out.Bytes(run.fileName);
    for (int v : {run.lastSection, run.panelMode, run.panel1Section, run.panel2Section,
                  run.activeSection, int{run.enciphered}, int{run.sealed}}) {
        out.Number<std::int32_t>(v);
    }
    return std::move(out.bytes);
}

RecordRun DecodeRun(std::string_view bytes, const std::string& name) {
    In in(bytes, name);
    RecordRun run;
    run.fileName = in.Bytes();
    run.lastSection = in.Small(0, kLastSlot);
    run.panelMode = in.Small(1, 3);
    run.panel1Section = in.Small(0, kLastSlot);
    run.panel2Section = in.Small(0, kLastSlot);
    run.activeSection = in.Small(0, kLastSlot);
    run.enciphered = in.Flag();
    run.sealed = in.Flag();
    in.End();
    return run;
}

std::string EncodeStrings(std::span<const std::string> strings) {
    Out out;
    out.Number<std::uint32_t>(static_cast<std::uint32_t>(strings.size()));
    for (const auto& s : strings) {
        out.Bytes(s);
    }
    return std::move(out.bytes);
}

std::vector<std::string> DecodeStrings(std::string_view bytes, const std::string& name) {
    In in(bytes, name);
    // A count beyond the bytes fails at the first string that is not there.
    const auto count = in.Number<std::uint32_t>();
    std::vector<std::string> strings;
    for (std::uint32_t i = 0; i < count; ++i) {
        strings.emplace_back(in.Bytes());
    }
    in.End();
    return strings;
}

std::string EncodeManifest(const Manifest& m) {
    Out body;
    body.Bytes(m.path);
    body.Number<std::uint8_t>(m.identity ? 1 : 0);
    const FileIdentity id = m.identity.value_or(FileIdentity{});
    body.Number(id.device)
        .Number(id.inode)
        .Number(id.size)
        .Number(id.modifiedSeconds)
        .Number(id.modifiedNanoseconds);
    body.Number(m.pid).Bytes(m.bootId).Number(m.time).Number(m.sequence);
    body.Number(static_cast<std::uint8_t>(m.protection));
    body.Number(m.params.opsLimit).Number(m.params.memLimit);
    body.bytes.append(reinterpret_cast<const char*>(m.salt.data()), m.salt.size());
    body.Part(m.titles);
    body.Number<std::uint32_t>(static_cast<std::uint32_t>(m.sections.size()));
    for (const SectionParts& s : m.sections) {
        body.Part(s.base).Part(s.journal);
    }
    body.Bytes(m.run);

    Out out;
    out.bytes.append(reinterpret_cast<const char*>(kMagic), sizeof kMagic);
    out.Number(kRecordVersion)
        .Number<std::uint64_t>(body.bytes.size())
        .Number(Checksum::Of(body.bytes));
    out.bytes.append(body.bytes);
    return std::move(out.bytes);
}

Manifest DecodeManifest(std::string_view bytes, const std::string& name) {
    In head(bytes.substr(0, std::min(bytes.size(), kHeaderBytes)), name);
    if (std::memcmp(head.Take(sizeof kMagic).data(), kMagic, sizeof kMagic) != 0) {
        Damaged(name);
    }
    if (head.Number<std::uint16_t>() != kRecordVersion) {
        throw Error(Format(kRecordNewer, name));
    }
    const auto length = head.Number<std::uint64_t>();
    const auto checksum = head.Number<std::uint64_t>();
    const std::string_view body = bytes.substr(kHeaderBytes);
    if (body.size() != length || Checksum::Of(body) != checksum) {
        Damaged(name);
    }
    In in(body, name);
    Manifest m;
    m.path = in.Bytes();
    const bool known = in.Number<std::uint8_t>() == 1;
    FileIdentity id;
    id.device = in.Number<std::uint64_t>();
    id.inode = in.Number<std::uint64_t>();
    id.size = in.Number<std::int64_t>();
    id.modifiedSeconds = in.Number<std::int64_t>();
    id.modifiedNanoseconds = in.Number<std::int64_t>();
    if (known) {
        m.identity = id;
    }
    m.pid = in.Number<std::int64_t>();
    m.bootId = in.Bytes();
    m.time = in.Number<std::int64_t>();
    m.sequence = in.Number<std::uint64_t>();
    const auto protection = in.Number<std::uint8_t>();
    if (protection > static_cast<std::uint8_t>(RecordProtection::DerivedKey)) {
        Damaged(name);
    }
    m.protection = static_cast<RecordProtection>(protection);
    m.params.opsLimit = in.Number<std::uint32_t>();
    m.params.memLimit = in.Number<std::uint64_t>();
    std::memcpy(m.salt.data(), in.Take(m.salt.size()).data(), m.salt.size());
    m.titles = in.Part();
    const auto count = in.Number<std::uint32_t>();
    if (count < 1 || count > kSectionCount) {
        Damaged(name);
    }
    for (std::uint32_t k = 0; k < count; ++k) {
        SectionParts s;
        s.base = in.Part();
        s.journal = in.Part();
        if (!s.base) {
            Damaged(name);
        }
        m.sections.push_back(std::move(s));
    }
    m.run = in.Bytes();
    in.End();
    if (m.path.empty() || !m.titles) {
        Damaged(name);
    }
    return m;
}

std::string MaybeSeal(const SealKey* key, std::string_view plain) {
    return key ? SealBytes(*key, plain) : std::string(plain);
}

RecoveredRecord ReadRecord(const std::string& folder, const Manifest& manifest,
                           std::shared_ptr<const SealKey> key) {
    const std::string& name = manifest.path;
    const bool sealed = manifest.protection != RecordProtection::None;
    if (sealed != static_cast<bool>(key)) {
        throw WrongKey(Format(kWrongKey, name));
    }
    RecoveredRecord record;
    record.manifest = manifest;
    // The run's state first: a wrong key shows here, before anything large is read.
    record.run = DecodeRun(sealed ? UnsealBytes(manifest.run, *key, name) : manifest.run, name);
    if (static_cast<std::size_t>(record.run.lastSection) + 1 != manifest.sections.size()) {
        Damaged(name);
    }
    record.titles =
        DecodeStrings(Unseal(ReadPart(folder, manifest.titles, true, name), key.get(), name), name);
    for (const SectionParts& parts : manifest.sections) {
        RecoveredSection section;
        section.parts = parts;
        section.text = Unseal(ReadPart(folder, parts.base, true, name), key.get(), name);
        if (parts.journal) {
            const std::string journal = ReadPart(folder, parts.journal, false, name);
            section.journalSum.Update(journal);
            In frames(journal, name);
            while (!frames.AtEnd()) {
                const std::string_view frame = frames.Take(frames.Number<std::uint64_t>());
                ApplyEdits(section.text,
                           DecodeEdits(Unseal(std::string(frame), key.get(), name), name), name);
            }
        }
        record.sections.push_back(std::move(section));
    }
    record.key = std::move(key);
    return record;
}

}  // namespace velloran
