#pragma once

// Sealed documents: a document's file bytes encrypted and authenticated with libsodium's
// secretstream (XChaCha20-Poly1305), under a key that Argon2id derives from a passphrase.
//
// File layout, integers little-endian:
//    0   8  magic 89 56 4C 53 0D 0A 1A 0A ("\x89VLS\r\n\x1a\n": a text-mode copy breaks it)
//    8   2  format version, 1
//   10   4  Argon2id opslimit
//   14   8  Argon2id memlimit, in bytes
//   22   4  plain bytes per chunk
//   26  16  salt
//   42  24  secretstream header
//   66      secretstream messages, each with bytes 0 to 65 as additional data: first a key check
//           without plain bytes, then the plain bytes in chunks of the size above; the last
//           chunk (shorter, or empty for an empty document) is tagged FINAL and ends the file.
// A wrong key fails the key check; any other failure, truncation included, means damage.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/document/Error.h"
#include "core/storage/FileAccess.h"

namespace velloran {

struct SealParams {
    std::uint32_t opsLimit = 0;
    std::uint64_t memLimit = 0;
    bool operator==(const SealParams&) const = default;
    // Costs at least as much to attack as other in both respects.
    bool AtLeast(const SealParams& other) const {
        return opsLimit >= other.opsLimit && memLimit >= other.memLimit;
    }
};

// libsodium's moderate limits: about 0.4 s and 256 MiB to derive a key on a current machine.
inline constexpr SealParams kSealParams{3, std::uint64_t{256} << 20};
// libsodium's smallest: for tests, where the cost of deriving is only waiting.
inline constexpr SealParams kQuickestSealParams{1, 8192};

// What the keys this program makes are derived with: kSealParams, unless a test chose less.
SealParams& SealingParams();

// The most a file may ask of the reader; a header beyond them is refused as damaged before any
// key is derived, so a crafted file cannot make the program allocate gigabytes or run for minutes.
struct SealLimits {
    std::uint64_t memLimit = std::uint64_t{1} << 30;
    // opsLimit times memLimit, which the time to derive follows: about 4 s here.
    std::uint64_t work = std::uint64_t{4} << 30;
    std::uint32_t chunkSize = 16u << 20;
};

inline constexpr std::size_t kSealChunk = 64 << 10;
inline constexpr std::size_t kSealHeaderBytes = 66;
inline constexpr std::uint16_t kSealVersion = 1;

using SealSalt = std::array<unsigned char, 16>;

// A key derived from a passphrase, with the salt and parameters that derived it. The key, its salt
// and the passphrase live in locked memory (sodium_malloc) and are wiped when the object goes;
// the passphrase is kept only to tell whether a passphrase typed later is the same one.
class SealKey {
  public:
    // With a fresh random salt. Throws Error when there is not enough memory.
    static std::shared_ptr<const SealKey> Derive(std::string_view passphrase, SealParams params);
    static std::shared_ptr<const SealKey> Derive(std::string_view passphrase, const SealSalt& salt,
                                                 SealParams params);
    ~SealKey();
    SealKey(const SealKey&) = delete;
    SealKey& operator=(const SealKey&) = delete;

    bool Matches(std::string_view passphrase) const;
    // The same passphrase's key for a file with another salt or parameters.
    std::shared_ptr<const SealKey> WithSaltOf(const SealSalt& salt, SealParams params) const {
        return Derive(std::string_view(passphrase_, passphraseSize_), salt, params);
    }
    // True when this key is the one derived for a file with this salt and these parameters.
    bool Fits(const SealSalt& salt, const SealParams& params) const {
        return salt == secret_->salt && params == params_;
    }
    const SealSalt& salt() const { return secret_->salt; }
    const SealParams& params() const { return params_; }
    const unsigned char* bytes() const { return secret_->key.data(); }

  private:
    struct Secret {
        std::array<unsigned char, 32> key;
        SealSalt salt;
    };
    SealKey() = default;
    Secret* secret_ = nullptr;
    char* passphrase_ = nullptr;
    std::size_t passphraseSize_ = 0;
    SealParams params_;
};

// What a file's header declares.
struct SealHeader {
    std::uint16_t version = kSealVersion;
    SealParams params;
    std::uint32_t chunkSize = 0;
    SealSalt salt{};
};

struct SealStream;

// Seals bytes given in pieces and hands the sealed bytes to sink: the header and the key check
// at once, then each chunk as soon as it is known not to be the last one, the rest at Finish.
class SealWriter {
  public:
    using Sink = std::function<void(std::string_view)>;
    SealWriter(const SealKey& key, Sink sink, std::size_t chunkSize = kSealChunk);
    ~SealWriter();
    SealWriter(const SealWriter&) = delete;
    SealWriter& operator=(const SealWriter&) = delete;

    void Write(std::string_view plain);
    void Finish();

  private:
    void Push(std::string_view plain, bool final);

    Sink sink_;
    std::size_t chunkSize_;
    std::array<unsigned char, kSealHeaderBytes> header_{};
    std::unique_ptr<SealStream, void (*)(SealStream*)> stream_;
    std::string pending_;
    std::string sealed_;
};

// Reads sealed bytes from source, one record at a time, so that what it holds beside the plain
// bytes stays within one chunk whatever the header declares. name stands in the messages.
class SealReader {
  public:
    // Reads into the buffer what there is, up to room bytes; 0 at the end.
    using Source = std::function<std::size_t(char* into, std::size_t room)>;

    // Reads and checks the header and the key check. Throws Error when the bytes are no sealed
    // document, are damaged, declare more than limits allow, or come from a newer version.
    SealReader(Source source, std::string name, const SealLimits& limits = {});
    ~SealReader();
    SealReader(const SealReader&) = delete;
    SealReader& operator=(const SealReader&) = delete;

    const SealHeader& header() const { return header_; }
    // True when key passes the key check; it may be tried again with another key.
    bool Unlock(const SealKey& key);
    // Every plain byte, once a key passed. Throws "%s is damaged" when any chunk fails
    // authentication, is missing or is followed by more bytes, and "Cannot open file %s" when
    // the plain bytes would exceed maxPlain. Nothing is returned half: what was read is wiped.
    std::string ReadAll(std::size_t reserve = 0,
                        std::size_t maxPlain = static_cast<std::size_t>(-1));

  private:
    std::size_t ReadUpTo(std::string& into, std::size_t want);
    [[noreturn]] void Damaged() const;

    Source source_;
    std::string name_;
    SealHeader header_;
    std::array<unsigned char, kSealHeaderBytes> raw_{};
    std::string check_;
    std::unique_ptr<SealStream, void (*)(SealStream*)> stream_;
    bool unlocked_ = false;
};

// A key failed the key check: the message is "Wrong key for %s".
class WrongKey : public Error {
  public:
    using Error::Error;
};

// Gives the key to try on a sealed file with this header; previousWrong tells that the key it
// gave last did not open it. nullptr stops.
using SealKeySource =
    std::function<std::shared_ptr<const SealKey>(const SealHeader& header, bool previousWrong)>;

// The plain bytes of the sealed file at path, with the first key from keyFor that opens it, or
// nothing when keyFor stopped. opened, when given, receives that key. Throws Error: "Cannot open
// file %s" (also for plain bytes beyond maxPlain), "%s is damaged", or the newer version message.
std::optional<std::string> UnsealFile(const std::string& path, const SealKeySource& keyFor,
                                      std::shared_ptr<const SealKey>* opened = nullptr,
                                      std::size_t maxPlain = static_cast<std::size_t>(-1),
                                      const SealLimits& limits = {});

// The same for the file open at fd (left open), named path in the messages.
std::optional<std::string> UnsealOpenFile(int fd, const std::string& path,
                                          const SealKeySource& keyFor,
                                          std::shared_ptr<const SealKey>* opened = nullptr,
                                          std::size_t maxPlain = static_cast<std::size_t>(-1),
                                          const SealLimits& limits = {});

// Replaces path, as ReplaceFile does (with access and naming), with what produce writes, sealed
// with key. Throws "Cannot create file %s".
void WriteSealedFile(const std::string& path, const SealKey& key,
                     const std::function<void(SealWriter&)>& produce,
                     const std::optional<FileAccess>& access = std::nullopt,
                     Naming naming = Naming::kGiven, std::size_t chunkSize = kSealChunk);

// The same in memory, for records kept elsewhere.
std::string SealBytes(const SealKey& key, std::string_view plain,
                      std::size_t chunkSize = kSealChunk);
// Throws WrongKey when key does not open sealed, Error when sealed is damaged.
std::string UnsealBytes(std::string_view sealed, const SealKey& key, const std::string& name,
                        const SealLimits& limits = {});
// Derives the key from passphrase with the salt and parameters of sealed's header (refused as
// damaged when they exceed limits); opened, when given, receives the key once it opened sealed.
std::string UnsealBytes(std::string_view sealed, std::string_view passphrase,
                        const std::string& name, const SealLimits& limits = {},
                        std::shared_ptr<const SealKey>* opened = nullptr);

// True when the path ends in ".vls", in any case.
bool IsSealedName(std::string_view path);

// Overwrites the bytes of secret with zeros, all its capacity, then empties it (keeping the
// capacity).
void Wipe(std::string& secret);

inline constexpr std::string_view kWrongKey = "Wrong key for %s";
inline constexpr std::string_view kSealDamaged = "%s is damaged";
inline constexpr std::string_view kSealNewer =
    "%s was sealed by a newer version of Velloran Editor and cannot be opened by this one";
inline constexpr std::string_view kSealNoMemory =
    "There is not enough memory to derive the key of a sealed document";

}  // namespace velloran
