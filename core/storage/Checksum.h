#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velloran {

// A 64-bit checksum of bytes given in any pieces, to tell a damaged or cut short file from a whole
// one. It keeps pace with memory, unlike a cryptographic hash; it proves nothing against intent.
class Checksum {
  public:
    void Update(std::string_view bytes);
    // The checksum of everything given so far; more may be given afterwards.
    std::uint64_t Value() const;

    static std::uint64_t Of(std::string_view bytes) {
        Checksum sum;
        sum.Update(bytes);
        return sum.Value();
    }

  private:
    static constexpr std::size_t kStripe = 32;
    std::array<std::uint64_t, 4> lanes_{0x9E3779B185EBCA87ULL, 0xC2B2AE3D27D4EB4FULL, 0,
                                        0x61C8864E7A143579ULL};
    std::array<unsigned char, kStripe> pending_{};
    std::size_t pendingSize_ = 0;
    std::uint64_t total_ = 0;
};

}  // namespace velloran
