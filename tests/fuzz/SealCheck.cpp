#include <string>

#include "Checks.h"
#include "core/document/Error.h"
#include "core/protection/Seal.h"

namespace velloran::fuzz {
namespace {

// Small enough that every header the reader accepts derives its key in a moment.
constexpr SealLimits kLimits{64 << 10, 256 << 10, 1 << 20};

const SealKey& Key() {
    static const auto key = SealKey::Derive("fuzz", kQuickestSealParams);
    return *key;
}

bool Opens(std::string_view sealed) {
    try {
        UnsealBytes(sealed, Key(), "input.vls", kLimits);
        return true;
    } catch (const Error&) {
        return false;
    }
}

const char* Check(std::string_view bytes) {
    // The input as a sealed file, opened with the passphrase "fuzz": it may open, or be refused
    // with a message; any other end (a crash, an exception of another kind, memory beyond the
    // fuzzer's limit) breaks the reader's promise.
    try {
        const std::string plain = UnsealBytes(bytes, "fuzz", "input.vls", kLimits);
        if (plain.size() + kSealHeaderBytes + 2 * 17 > bytes.size()) {
            return "more plain bytes came out than the input holds";
        }
    } catch (const Error&) {
    }

    // Chunk size, then a place in the sealed bytes, then the plain bytes: what the writer seals
    // opens to itself, and no change of one byte and no truncation opens at all.
    if (bytes.size() < 3) {
        return nullptr;
    }
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const std::size_t chunkSize = at(0) % 32 + 1;
    const std::string_view plain = bytes.substr(3);
    const std::string sealed = SealBytes(Key(), plain, chunkSize);
    if (UnsealBytes(sealed, Key(), "input.vls", kLimits) != plain) {
        return "sealed bytes do not open to themselves";
    }
    const std::size_t where = (at(1) | std::size_t{at(2)} << 8) % sealed.size();
    std::string changed = sealed;
    changed[where] = static_cast<char>(changed[where] ^ (1 << (at(1) % 8)));
    if (Opens(changed)) {
        return "a changed byte went unnoticed";
    }
    if (Opens(std::string_view(sealed).substr(0, where))) {
        return "a truncated file opened";
    }
    return nullptr;
}

}  // namespace

const char* CheckSeal(const std::uint8_t* data, std::size_t size) {
    return Check(std::string_view(reinterpret_cast<const char*>(data), size));
}

}  // namespace velloran::fuzz
