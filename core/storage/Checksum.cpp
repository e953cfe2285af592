#include "core/storage/Checksum.h"

#include <algorithm>
#include <cstring>

namespace velloran {
namespace {

constexpr std::uint64_t kPrime1 = 0x9E3779B185EBCA87ULL;
constexpr std::uint64_t kPrime2 = 0xC2B2AE3D27D4EB4FULL;
constexpr std::uint64_t kPrime3 = 0x165667B19E3779F9ULL;

std::uint64_t Rotate(std::uint64_t x, int r) {
    return (x << r) | (x >> (64 - r));
}

std::uint64_t Word(const unsigned char* p) {
    std::uint64_t w = 0;
    for (int i = 7; i >= 0; --i) {
        w = (w << 8) | p[i];  // little-endian whatever the machine, so that files agree
    }
    return w;
}

// Four independent lanes, so that the multiplications of one stripe overlap.
void Stripe(std::array<std::uint64_t, 4>& lanes, const unsigned char* p) {
    for (std::size_t i = 0; i < 4; ++i) {
        lanes[i] = Rotate(lanes[i] + Word(p + 8 * i) * kPrime2, 31) * kPrime1;
    }
}

}  // namespace

void Checksum::Update(std::string_view bytes) {
    if (bytes.empty()) {
        return;  // an empty view may hold no pointer at all, which memcpy may not be given
    }
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    total_ += n;
    if (pendingSize_ > 0) {
        const std::size_t take = std::min(kStripe - pendingSize_, n);
        std::memcpy(pending_.data() + pendingSize_, p, take);
        pendingSize_ += take;
        p += take;
        n -= take;
        if (pendingSize_ < kStripe) {
            return;
        }
        Stripe(lanes_, pending_.data());
        pendingSize_ = 0;
    }
    for (; n >= kStripe; p += kStripe, n -= kStripe) {
        Stripe(lanes_, p);
    }
    std::memcpy(pending_.data(), p, n);
    pendingSize_ = n;
}

std::uint64_t Checksum::Value() const {
    std::uint64_t h =
        Rotate(lanes_[0], 1) + Rotate(lanes_[1], 7) + Rotate(lanes_[2], 12) + Rotate(lanes_[3], 18);
    h ^= total_ * kPrime3;
    for (std::size_t i = 0; i < pendingSize_; ++i) {
        h = Rotate(h ^ (pending_[i] * kPrime3), 11) * kPrime1;
    }
    h ^= h >> 33;
    h *= kPrime2;
    h ^= h >> 29;
    h *= kPrime3;
    return h ^ (h >> 32);
}

}  // namespace velloran
