#include "core/protection/Seal.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/document/Sections.h"
#include "support/TempDir.h"

namespace velloran {
namespace {

using testing::TempDir;
using testing::WriteBytes;

constexpr std::size_t kCheckEnd = kSealHeaderBytes + 17;  // header, then the key check

const SealKey& TestKey() {
    static const auto key = SealKey::Derive("correct horse", kQuickestSealParams);
    return *key;
}

// Every byte value, and every line-end form between texts.
std::string AllBytesAndLineEnds() {
    std::string s;
    for (int round = 0; round < 3; ++round) {
        for (int b = 0; b < 256; ++b) {
            s.push_back(static_cast<char>(b));
        }
    }
    return s + "crlf\r\ncr\rlf\nlfcr\n\rcrcrlf\r\r\nno final break";
}

void Patch(std::string& sealed, std::size_t offset, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        sealed[offset + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
    }
}

std::string Message(const std::function<void()>& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.what();
    }
    return "opened";
}

struct RoundTrip {
    const char* name;
    std::string plain;
    std::size_t chunkSize;
};

class SealRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(SealRoundTrip, OpensToTheSameBytesInTheDeclaredRecords) {
    const RoundTrip& row = GetParam();
    const std::string sealed = SealBytes(TestKey(), row.plain, row.chunkSize);
    EXPECT_EQ(UnsealBytes(sealed, TestKey(), "doc.vls"), row.plain);
    EXPECT_EQ(UnsealBytes(sealed, "correct horse", "doc.vls"), row.plain);

    // A key check, then one record per chunk: no empty record after an exact multiple.
    const std::size_t n = row.plain.size();
    const std::size_t records = std::max<std::size_t>(1, (n + row.chunkSize - 1) / row.chunkSize);
    EXPECT_EQ(sealed.size(), kSealHeaderBytes + 17 * (records + 1) + n);

    // Pieces of any size make the same records.
    std::string pieced;
    SealWriter writer(
        TestKey(), [&](std::string_view b) { pieced.append(b); }, row.chunkSize);
    for (std::size_t at = 0, step = 1; at < n; at += step, step = step * 2 + 1) {
        writer.Write(std::string_view(row.plain).substr(at, step));
    }
    writer.Finish();
    EXPECT_EQ(pieced.size(), sealed.size());
    EXPECT_EQ(UnsealBytes(pieced, TestKey(), "doc.vls"), row.plain);
}

INSTANTIATE_TEST_SUITE_P(
    Documents, SealRoundTrip,
    ::testing::Values(RoundTrip{"Empty", "", kSealChunk},
                      RoundTrip{"EveryByteAndLineEndInSmallChunks", AllBytesAndLineEnds(), 7},
                      RoundTrip{"EveryByteAndLineEndInOneChunk", AllBytesAndLineEnds(), kSealChunk},
                      RoundTrip{"ExactlyTwoChunks", std::string(32, 'x'), 16},
                      RoundTrip{"OneByteChunks", "[S] One\r\nbody\r\n", 1},
                      RoundTrip{"SeveralDefaultChunks", std::string(3 * kSealChunk + 5, '\xe9'),
                                kSealChunk}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Seal, HeaderCarriesTheLayoutItIsReadWith) {
    const std::string sealed = SealBytes(TestKey(), "text", 16);
    const auto* b = reinterpret_cast<const unsigned char*>(sealed.data());
    EXPECT_EQ(sealed.substr(0, 8), std::string("\x89VLS\r\n\x1a\n", 8));
    EXPECT_EQ(b[8] | b[9] << 8, 1);
    EXPECT_EQ(b[10], 1);                  // opsLimit
    EXPECT_EQ(b[14] | b[15] << 8, 8192);  // memLimit
    EXPECT_EQ(b[22], 16);                 // chunk size
    EXPECT_EQ(std::memcmp(b + 26, TestKey().salt().data(), 16), 0);
}

TEST(Seal, WrongKeyIsToldApartFromDamage) {
    const std::string sealed = SealBytes(TestKey(), "Dear diary");
    EXPECT_EQ(Message([&] { UnsealBytes(sealed, "correct hors", "June.vls"); }),
              "Wrong key for June.vls");
    EXPECT_THROW(UnsealBytes(sealed, "Correct horse", "June.vls"), WrongKey);
    // The same passphrase with another salt is another key.
    const auto other = SealKey::Derive("correct horse", kQuickestSealParams);
    EXPECT_THROW(UnsealBytes(sealed, *other, "June.vls"), WrongKey);
}

// A document of several chunks, changed one byte at a time: nothing ever opens. The header and
// the key check can only fail as a wrong key or a refused header; every later byte is damage.
TEST(Seal, EveryChangedByteIsDetected) {
    const std::string sealed = SealBytes(TestKey(), AllBytesAndLineEnds().substr(0, 90), 16);
    for (std::size_t at = 0; at < sealed.size(); ++at) {
        for (unsigned char flip : {0x01, 0x80}) {
            std::string changed = sealed;
            changed[at] = static_cast<char>(changed[at] ^ flip);
            const std::string message =
                Message([&] { UnsealBytes(changed, TestKey(), "doc.vls"); });
            if (at >= kCheckEnd) {
                EXPECT_EQ(message, "doc.vls is damaged") << "byte " << at;
            } else if (at >= 10) {  // after the magic and the version
                EXPECT_TRUE(message == "Wrong key for doc.vls" || message == "doc.vls is damaged")
                    << "byte " << at << ": " << message;
            } else {
                EXPECT_NE(message, "opened") << "byte " << at;
            }
        }
    }
}

TEST(Seal, EveryTruncationAndAnyAdditionIsDamage) {
    const std::string sealed = SealBytes(TestKey(), std::string(80, 'a'), 16);
    for (std::size_t size = 0; size < sealed.size(); ++size) {
        EXPECT_EQ(Message([&] { UnsealBytes(sealed.substr(0, size), TestKey(), "doc.vls"); }),
                  "doc.vls is damaged")
            << "cut at " << size;
    }
    EXPECT_EQ(Message([&] { UnsealBytes(sealed + '\0', TestKey(), "doc.vls"); }),
              "doc.vls is damaged");
}

TEST(Seal, RecordsRemovedReorderedOrRepeatedAreDamage) {
    // Six records of 33 bytes after the key check: five full chunks and the final one.
    const std::string sealed = SealBytes(TestKey(), std::string(90, 'b'), 16);
    const std::string head = sealed.substr(0, kCheckEnd);
    auto record = [&](int i) { return sealed.substr(kCheckEnd + 33 * i, 33); };
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"second removed",
         head + record(0) + record(2) + record(3) + record(4) + sealed.substr(kCheckEnd + 165)},
        {"two swapped", head + record(1) + record(0) + sealed.substr(kCheckEnd + 66)},
        {"one repeated", head + record(0) + sealed.substr(kCheckEnd)},
        {"final one dropped", sealed.substr(0, kCheckEnd + 165)},
    };
    for (const auto& [name, bytes] : cases) {
        EXPECT_EQ(Message([&] { UnsealBytes(bytes, TestKey(), "doc.vls"); }), "doc.vls is damaged")
            << name;
    }
}

TEST(Seal, EverySealHasAFreshStreamHeaderAndEveryKeyAFreshSalt) {
    const std::string first = SealBytes(TestKey(), "same text");
    const std::string second = SealBytes(TestKey(), "same text");
    EXPECT_EQ(first.substr(0, 42), second.substr(0, 42));  // the key's salt and parameters
    EXPECT_NE(first.substr(42, 24), second.substr(42, 24));
    EXPECT_NE(first.substr(kSealHeaderBytes), second.substr(kSealHeaderBytes));

    const auto again = SealKey::Derive("correct horse", kQuickestSealParams);
    EXPECT_NE(again->salt(), TestKey().salt());
    EXPECT_NE(std::memcmp(again->bytes(), TestKey().bytes(), 32), 0);
    // The same passphrase, salt and parameters give the same key.
    const auto same = SealKey::Derive("correct horse", TestKey().salt(), kQuickestSealParams);
    EXPECT_EQ(std::memcmp(same->bytes(), TestKey().bytes(), 32), 0);
}

TEST(Seal, PassphraseMatchesOnlyItself) {
    EXPECT_TRUE(TestKey().Matches("correct horse"));
    for (const char* other : {"correct hors", "correct horsee", "Correct horse", ""}) {
        EXPECT_FALSE(TestKey().Matches(other)) << other;
    }
    EXPECT_TRUE(SealKey::Derive("", kQuickestSealParams)->Matches(""));
}

TEST(Seal, SealedNamesInAnyCase) {
    for (const char* name : {"x.vls", "x.VLS", "dir/x.Vls", ".vls"}) {
        EXPECT_TRUE(IsSealedName(name)) << name;
    }
    for (const char* name : {"x.vle", "x.vlp", "xvls", "vls", "x.vls~"}) {
        EXPECT_FALSE(IsSealedName(name)) << name;
    }
}

// Headers a crafted file could carry: refused before any key is derived.
struct Hostile {
    const char* name;
    std::size_t offset;
    std::uint64_t value;
    int bytes;
    const char* message;
};

class HostileHeader : public ::testing::TestWithParam<Hostile> {};

TEST_P(HostileHeader, IsRefusedBeforeAnyKeyIsAskedFor) {
    const Hostile& row = GetParam();
    std::string sealed = SealBytes(TestKey(), "text", 16);
    Patch(sealed, row.offset, row.value, row.bytes);
    TempDir dir;
    const std::string path = dir / "doc.vls";
    WriteBytes(path, sealed);
    int asked = 0;
    const std::string message = Message([&] {
        UnsealFile(path, [&](const SealHeader&, bool) {
            ++asked;
            return std::shared_ptr<const SealKey>();
        });
    });
    EXPECT_EQ(message, Format(row.message, path));
    EXPECT_EQ(asked, 0);
}

constexpr std::uint64_t kAll = ~std::uint64_t{0};
INSTANTIATE_TEST_SUITE_P(
    Crafted, HostileHeader,
    ::testing::Values(
        Hostile{"NotSealedAtAll", 0, 'V', 1, "%s is damaged"},
        Hostile{"VersionZero", 8, 0, 2, "%s is damaged"},
        Hostile{
            "NewerVersion", 8, 2, 2,
            "%s was sealed by a newer version of Velloran Editor and cannot be opened by this one"},
        Hostile{"NoPasses", 10, 0, 4, "%s is damaged"},
        Hostile{"EndlessPasses", 10, 0xffffffff, 4, "%s is damaged"},
        Hostile{"MemoryBelowMinimum", 14, 8191, 8, "%s is damaged"},
        Hostile{"TwoGibibytesOfMemory", 14, std::uint64_t{2} << 30, 8, "%s is damaged"},
        Hostile{"AllMemory", 14, kAll, 8, "%s is damaged"},
        Hostile{"EmptyChunks", 22, 0, 4, "%s is damaged"},
        Hostile{"FourGibibyteChunks", 22, 0xffffffff, 4, "%s is damaged"}),
    [](const auto& info) { return std::string(info.param.name); });

// Memory and passes each within bounds, but together minutes of work.
TEST(Seal, WorkBeyondTheLimitIsRefused) {
    std::string heavy = SealBytes(TestKey(), "text", 16);
    Patch(heavy, 10, 5, 4);
    Patch(heavy, 14, std::uint64_t{1} << 30, 8);
    EXPECT_EQ(Message([&] { UnsealBytes(heavy, "correct horse", "doc.vls"); }),
              "doc.vls is damaged");
    const SealLimits roomy{std::uint64_t{1} << 30, std::uint64_t{8} << 30, 16};
    EXPECT_EQ(Message([&] { UnsealBytes(heavy, TestKey(), "doc.vls", roomy); }),
              "Wrong key for doc.vls");
}

class UnsealFileTest : public ::testing::Test {
  protected:
    void SetUp() override { WriteBytes(path, SealBytes(TestKey(), "[S] Secret\r\n", 4)); }
    TempDir dir;
    std::string path = dir / "June.vls";
};

TEST_F(UnsealFileTest, AsksAgainAfterEachWrongKeyUntilOneOpens) {
    const auto wrong = SealKey::Derive("guess", TestKey().salt(), TestKey().params());
    std::vector<bool> told;
    std::shared_ptr<const SealKey> opened;
    auto plain = UnsealFile(
        path,
        [&](const SealHeader& header, bool previousWrong) {
            EXPECT_EQ(header.salt, TestKey().salt());
            EXPECT_EQ(header.chunkSize, 4u);
            told.push_back(previousWrong);
            return told.size() < 3 ? wrong
                                   : SealKey::Derive("correct horse", header.salt, header.params);
        },
        &opened);
    ASSERT_TRUE(plain);
    EXPECT_EQ(*plain, "[S] Secret\r\n");
    EXPECT_EQ(told, (std::vector<bool>{false, true, true}));
    ASSERT_TRUE(opened);
    EXPECT_TRUE(opened->Matches("correct horse"));
}

TEST_F(UnsealFileTest, StoppedAtTheKeyOrTooLargeGivesNothing) {
    EXPECT_FALSE(
        UnsealFile(path, [](const SealHeader&, bool) { return std::shared_ptr<const SealKey>(); }));
    auto right = [](const SealHeader& h, bool) {
        return SealKey::Derive("correct horse", h.salt, h.params);
    };
    EXPECT_EQ(Message([&] { UnsealFile(path, right, nullptr, 11); }), "Cannot open file " + path);
    EXPECT_TRUE(UnsealFile(path, right, nullptr, 12));
    // Far too large: refused before the key is asked for.
    EXPECT_EQ(Message([&] {
                  UnsealFile(
                      path,
                      [](const SealHeader&, bool) -> std::shared_ptr<const SealKey> {
                          throw std::logic_error("asked for a key");
                      },
                      nullptr, 3);
              }),
              "Cannot open file " + path);
}

TEST_F(UnsealFileTest, WhatIsNoRegularFileCannotBeOpened) {
    ::mkfifo((dir / "pipe.vls").c_str(), 0600);
    ::mkdir((dir / "folder.vls").c_str(), 0700);
    for (const std::string name : {"pipe.vls", "folder.vls", "missing.vls"}) {
        EXPECT_EQ(Message([&] {
                      UnsealFile(dir / name, [](const SealHeader&, bool) { return nullptr; });
                  }),
                  "Cannot open file " + (dir / name));
    }
}

TEST_F(UnsealFileTest, WriteFailureLeavesNothingBehind) {
    EXPECT_EQ(
        Message([&] { WriteSealedFile(dir / "missing/June.vls", TestKey(), [](SealWriter&) {}); }),
        "Cannot create file " + (dir / "missing/June.vls"));
    WriteSealedFile(path, TestKey(), [](SealWriter& w) { w.Write("new"); });
    EXPECT_EQ(UnsealBytes(testing::ReadBytes(path), TestKey(), "June.vls"), "new");
    EXPECT_EQ(dir.EntryCount(), 1u);
}

}  // namespace
}  // namespace velloran
