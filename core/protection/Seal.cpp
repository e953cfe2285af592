#include "core/protection/Seal.h"

#include <fcntl.h>
#include <sodium.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "core/storage/DocumentFile.h"
#include "core/storage/FileIO.h"

namespace velloran {

// The secretstream state holds a key of its own, so it lives in locked memory too.
struct SealStream {
    crypto_secretstream_xchacha20poly1305_state state;
};

namespace {

constexpr unsigned char kMagic[8] = {0x89, 'V', 'L', 'S', '\r', '\n', 0x1A, '\n'};
constexpr std::size_t kABytes = crypto_secretstream_xchacha20poly1305_ABYTES;
constexpr std::size_t kStreamHeaderOffset = 42;
static_assert(kStreamHeaderOffset + crypto_secretstream_xchacha20poly1305_HEADERBYTES ==
              kSealHeaderBytes);
static_assert(std::tuple_size_v<SealSalt> == crypto_pwhash_argon2id_SALTBYTES);
static_assert(crypto_secretstream_xchacha20poly1305_KEYBYTES == 32);  // as SealKey holds

void EnsureSodium() {
    static const bool ready = sodium_init() >= 0;
    if (!ready) {
        throw Error("The cryptography library could not be started");
    }
}

void* SecureAlloc(std::size_t size) {
    void* p = sodium_malloc(size);
    if (!p) {
        throw std::bad_alloc();
    }
    return p;
}

void FreeStream(SealStream* stream) {
    sodium_free(stream);  // wipes it first
}

std::unique_ptr<SealStream, void (*)(SealStream*)> NewStream() {
    return {static_cast<SealStream*>(SecureAlloc(sizeof(SealStream))), FreeStream};
}

template <typename T>
void Put(unsigned char* at, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

template <typename T>
T Get(const unsigned char* at) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        value = static_cast<T>(value | static_cast<T>(static_cast<T>(at[i]) << (8 * i)));
    }
    return value;
}

bool WithinLimits(const SealHeader& h, const SealLimits& limits) {
    const SealParams& p = h.params;
    return p.opsLimit >= crypto_pwhash_argon2id_OPSLIMIT_MIN &&
           p.memLimit >= crypto_pwhash_argon2id_MEMLIMIT_MIN && p.memLimit <= limits.memLimit &&
           p.opsLimit <= limits.work / p.memLimit && h.chunkSize >= 1 &&
           h.chunkSize <= limits.chunkSize;
}

bool LowerEquals(char c, char lower) {
    return c == lower || c == static_cast<char>(lower - 'a' + 'A');
}

// A file opened for reading, closed when it goes.
struct InputFile {
    explicit InputFile(const std::string& path)
        : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {}
    ~InputFile() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    int fd;
};

}  // namespace

// ---- keys

std::shared_ptr<const SealKey> SealKey::Derive(std::string_view passphrase, SealParams params) {
    EnsureSodium();
    SealSalt salt;
    randombytes_buf(salt.data(), salt.size());
    return Derive(passphrase, salt, params);
}

std::shared_ptr<const SealKey> SealKey::Derive(std::string_view passphrase, const SealSalt& salt,
                                               SealParams params) {
    EnsureSodium();
    std::shared_ptr<SealKey> key(new SealKey);
    key->params_ = params;
    key->secret_ = new (SecureAlloc(sizeof(Secret))) Secret{};
    key->secret_->salt = salt;
    key->passphrase_ = static_cast<char*>(SecureAlloc(std::max<std::size_t>(passphrase.size(), 1)));
    std::memcpy(key->passphrase_, passphrase.data(), passphrase.size());
    key->passphraseSize_ = passphrase.size();
    if (crypto_pwhash(key->secret_->key.data(), key->secret_->key.size(), passphrase.data(),
                      passphrase.size(), salt.data(), params.opsLimit,
                      static_cast<std::size_t>(params.memLimit),
                      crypto_pwhash_ALG_ARGON2ID13) != 0) {
        throw Error(std::string(kSealNoMemory));
    }
    return key;
}

SealKey::~SealKey() {
    if (secret_) {
        sodium_memzero(secret_, sizeof(Secret));
        sodium_free(secret_);
    }
    if (passphrase_) {
        sodium_memzero(passphrase_, passphraseSize_);
        sodium_free(passphrase_);
    }
}

bool SealKey::Matches(std::string_view passphrase) const {
    return passphrase.size() == passphraseSize_ &&
           (passphraseSize_ == 0 ||
            sodium_memcmp(passphrase_, passphrase.data(), passphraseSize_) == 0);
}

// ---- writing

SealWriter::SealWriter(const SealKey& key, Sink sink, std::size_t chunkSize)
    : sink_(std::move(sink)),
      chunkSize_(std::max<std::size_t>(chunkSize, 1)),
      stream_(nullptr, FreeStream) {
    EnsureSodium();
    stream_ = NewStream();
    unsigned char* h = header_.data();
    std::memcpy(h, kMagic, sizeof kMagic);
    Put<std::uint16_t>(h + 8, kSealVersion);
    Put<std::uint32_t>(h + 10, key.params().opsLimit);
    Put<std::uint64_t>(h + 14, key.params().memLimit);
    Put<std::uint32_t>(h + 22, static_cast<std::uint32_t>(chunkSize_));
    std::memcpy(h + 26, key.salt().data(), key.salt().size());
    crypto_secretstream_xchacha20poly1305_init_push(&stream_->state, h + kStreamHeaderOffset,
                                                    key.bytes());
    sink_(std::string_view(reinterpret_cast<const char*>(h), header_.size()));
    sealed_.resize(chunkSize_ + kABytes);
    Push({}, false);  // the key check
}

SealWriter::~SealWriter() = default;

void SealWriter::Push(std::string_view plain, bool final) {
    unsigned long long length = 0;
    crypto_secretstream_xchacha20poly1305_push(
        &stream_->state, reinterpret_cast<unsigned char*>(sealed_.data()), &length,
        reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), header_.data(),
        header_.size(),
        final ? crypto_secretstream_xchacha20poly1305_TAG_FINAL
              : crypto_secretstream_xchacha20poly1305_TAG_MESSAGE);
    sink_(std::string_view(sealed_.data(), static_cast<std::size_t>(length)));
}

void SealWriter::Write(std::string_view plain) {
    // A full chunk waits until more bytes show that it is not the last one.
    if (!pending_.empty()) {
        const std::size_t take = std::min(chunkSize_ - pending_.size(), plain.size());
        pending_.append(plain.substr(0, take));
        plain.remove_prefix(take);
        if (plain.empty()) {
            return;
        }
        Push(pending_, false);
        pending_.clear();
    }
    while (plain.size() > chunkSize_) {
        Push(plain.substr(0, chunkSize_), false);
        plain.remove_prefix(chunkSize_);
    }
    pending_.assign(plain);
}

void SealWriter::Finish() {
    Push(pending_, true);
    pending_.clear();
}

// ---- reading

SealReader::SealReader(Source source, std::string name, const SealLimits& limits)
    : source_(std::move(source)), name_(std::move(name)), stream_(nullptr, FreeStream) {
    EnsureSodium();
    std::string raw;
    if (ReadUpTo(raw, kSealHeaderBytes) != kSealHeaderBytes ||
        std::memcmp(raw.data(), kMagic, sizeof kMagic) != 0) {
        Damaged();
    }
    std::memcpy(raw_.data(), raw.data(), raw_.size());
    const unsigned char* h = raw_.data();
    header_.version = Get<std::uint16_t>(h + 8);
    header_.params.opsLimit = Get<std::uint32_t>(h + 10);
    header_.params.memLimit = Get<std::uint64_t>(h + 14);
    header_.chunkSize = Get<std::uint32_t>(h + 22);
    std::memcpy(header_.salt.data(), h + 26, header_.salt.size());
    if (header_.version > kSealVersion) {
        throw Error(Format(kSealNewer, name_));
    }
    if (header_.version != kSealVersion || !WithinLimits(header_, limits) ||
        ReadUpTo(check_, kABytes) != kABytes) {
        Damaged();
    }
    stream_ = NewStream();
}

SealReader::~SealReader() = default;

void SealReader::Damaged() const {
    throw Error(Format(kSealDamaged, name_));
}

std::size_t SealReader::ReadUpTo(std::string& into, std::size_t want) {
    // Grown by what actually arrives, not by what was asked for, and kept for the next record.
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    std::size_t got = 0;
    while (got < want) {
        if (into.size() <= got) {
            into.resize(got + std::min(want - got, kPiece));
        }
        const std::size_t n = source_(into.data() + got, std::min(want, into.size()) - got);
        if (n == 0) {
            break;
        }
        got += n;
    }
    return got;
}

bool SealReader::Unlock(const SealKey& key) {
    if (!key.Fits(header_.salt, header_.params)) {
        return false;
    }
    unsigned char tag = 0;
    unsigned char none[1];
    unsigned long long length = 0;
    if (crypto_secretstream_xchacha20poly1305_init_pull(
            &stream_->state, raw_.data() + kStreamHeaderOffset, key.bytes()) != 0 ||
        crypto_secretstream_xchacha20poly1305_pull(
            &stream_->state, none, &length, &tag,
            reinterpret_cast<const unsigned char*>(check_.data()), check_.size(), raw_.data(),
            raw_.size()) != 0) {
        return false;
    }
    // Authentic, so written with this key; a key check that ends the stream was not written here.
    if (tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE) {
        Damaged();
    }
    unlocked_ = true;
    return true;
}

std::string SealReader::ReadAll(std::size_t reserve, std::size_t maxPlain) {
    if (!unlocked_) {
        throw WrongKey(Format(kWrongKey, name_));
    }
    unlocked_ = false;  // the stream state moves on: one reading per key check
    std::string plain;
    plain.reserve(std::min(reserve, maxPlain));
    // Whatever ends the reading before the last chunk, what was read of the text is wiped.
    struct WipeUnlessDone {
        std::string& text;
        bool done = false;
        ~WipeUnlessDone() {
            if (!done) {
                sodium_memzero(text.data(), text.size());
            }
        }
    } wipe{plain};
    std::string record;
    const std::size_t full = std::size_t{header_.chunkSize} + kABytes;
    auto fail = [&](std::string_view message) { throw Error(Format(message, name_)); };
    for (;;) {
        const std::size_t got = ReadUpTo(record, full);
        if (got < kABytes) {
            fail(kSealDamaged);
        }
        const std::size_t at = plain.size();
        if (got - kABytes > maxPlain - at) {
            fail(kCannotOpen);
        }
        plain.resize(at + got - kABytes);
        unsigned long long length = 0;
        unsigned char tag = 0;
        if (crypto_secretstream_xchacha20poly1305_pull(
                &stream_->state, reinterpret_cast<unsigned char*>(plain.data() + at), &length, &tag,
                reinterpret_cast<const unsigned char*>(record.data()), got, raw_.data(),
                raw_.size()) != 0) {
            fail(kSealDamaged);
        }
        if (tag == crypto_secretstream_xchacha20poly1305_TAG_FINAL) {
            char more;
            if (source_(&more, 1) != 0) {
                fail(kSealDamaged);
            }
            wipe.done = true;
            return plain;
        }
        // Only the last chunk may be short, and it is tagged FINAL.
        if (tag != crypto_secretstream_xchacha20poly1305_TAG_MESSAGE || got != full) {
            fail(kSealDamaged);
        }
    }
}

// ---- files and memory

std::optional<std::string> UnsealFile(const std::string& path, const SealKeySource& keyFor,
                                      std::shared_ptr<const SealKey>* opened, std::size_t maxPlain,
                                      const SealLimits& limits) {
    InputFile file(path);
    return UnsealOpenFile(file.fd, path, keyFor, opened, maxPlain, limits);
}

std::optional<std::string> UnsealOpenFile(int fd, const std::string& path,
                                          const SealKeySource& keyFor,
                                          std::shared_ptr<const SealKey>* opened,
                                          std::size_t maxPlain, const SealLimits& limits) {
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        throw Error(Format(kCannotOpen, path));
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    SealReader reader(
        [&](char* into, std::size_t room) -> std::size_t {
            for (;;) {
                const ssize_t r = ::read(fd, into, room);
                if (r >= 0) {
                    return static_cast<std::size_t>(r);
                }
                if (errno != EINTR) {
                    throw Error(Format(kCannotOpen, path));
                }
            }
        },
        path, limits);
    // A file too large for any document it may hold is refused before a key is asked for.
    const std::uint64_t chunk = reader.header().chunkSize;
    if (maxPlain != static_cast<std::size_t>(-1) &&
        size > kSealHeaderBytes + kABytes + (maxPlain / chunk + 1) * (chunk + kABytes)) {
        throw Error(Format(kCannotOpen, path));
    }
    bool wrong = false;
    for (;;) {
        std::shared_ptr<const SealKey> key = keyFor(reader.header(), wrong);
        if (!key) {
            return std::nullopt;
        }
        if (reader.Unlock(*key)) {
            std::string plain = reader.ReadAll(size, maxPlain);
            if (opened) {
                *opened = std::move(key);
            }
            return plain;
        }
        wrong = true;
    }
}

void WriteSealedFile(const std::string& path, const SealKey& key,
                     const std::function<void(SealWriter&)>& produce,
                     const std::optional<FileAccess>& access, Naming naming,
                     std::size_t chunkSize) {
    const WriteResult written = ReplaceFile(
        path,
        [&](OutputFile& out) {
            SealWriter writer(
                key, [&](std::string_view bytes) { out.Write(bytes); }, chunkSize);
            produce(writer);
            writer.Finish();
        },
        access, naming);
    if (!written) {
        throw Error(Format(kCannotCreate, path), written.Reason());
    }
}

std::string SealBytes(const SealKey& key, std::string_view plain, std::size_t chunkSize) {
    std::string sealed;
    sealed.reserve(kSealHeaderBytes + plain.size() +
                   (plain.size() / std::max<std::size_t>(chunkSize, 1) + 2) * kABytes);
    SealWriter writer(
        key, [&](std::string_view bytes) { sealed.append(bytes); }, chunkSize);
    writer.Write(plain);
    writer.Finish();
    return sealed;
}

namespace {

SealReader::Source FromMemory(std::string_view& rest) {
    return [&rest](char* into, std::size_t room) {
        const std::size_t n = std::min(room, rest.size());
        std::memcpy(into, rest.data(), n);
        rest.remove_prefix(n);
        return n;
    };
}

}  // namespace

std::string UnsealBytes(std::string_view sealed, const SealKey& key, const std::string& name,
                        const SealLimits& limits) {
    const std::size_t size = sealed.size();
    SealReader reader(FromMemory(sealed), name, limits);
    if (!reader.Unlock(key)) {
        throw WrongKey(Format(kWrongKey, name));
    }
    return reader.ReadAll(size);
}

std::string UnsealBytes(std::string_view sealed, std::string_view passphrase,
                        const std::string& name, const SealLimits& limits,
                        std::shared_ptr<const SealKey>* opened) {
    const std::size_t size = sealed.size();
    SealReader reader(FromMemory(sealed), name, limits);
    auto key = SealKey::Derive(passphrase, reader.header().salt, reader.header().params);
    if (!reader.Unlock(*key)) {
        throw WrongKey(Format(kWrongKey, name));
    }
    std::string plain = reader.ReadAll(size);
    if (opened) {
        *opened = std::move(key);
    }
    return plain;
}

SealParams& SealingParams() {
    static SealParams params = kSealParams;
    return params;
}

bool IsSealedName(std::string_view path) {
    if (path.size() < 4) {
        return false;
    }
    const auto end = path.substr(path.size() - 4);
    return end[0] == '.' && LowerEquals(end[1], 'v') && LowerEquals(end[2], 'l') &&
           LowerEquals(end[3], 's');
}

void Wipe(std::string& secret) {
    // Beyond the text too, up to the capacity, where a shorter text or a move leaves bytes of a
    // longer one; growing to the capacity allocates nothing.
    secret.resize(secret.capacity());
    sodium_memzero(secret.data(), secret.size());
    secret.clear();
}

}  // namespace velloran
