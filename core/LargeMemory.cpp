#include "LargeMemory.h"

#include <sys/mman.h>

#include <cstdint>

namespace velloran {
namespace {

constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;

}  // namespace

void ReserveLarge(std::string& text, std::size_t bytes) {
    if (bytes <= text.capacity()) {
        return;
    }
    text.reserve(bytes);
    if (bytes < 2 * kHugePage) {
        return;
    }
    // Only whole huge pages inside the block; the advice is a hint, and a refusal costs nothing.
    const auto begin = reinterpret_cast<std::uintptr_t>(text.data());
    const std::uintptr_t from = (begin + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t to = (begin + text.capacity()) & ~(kHugePage - 1);
    if (to > from) {
        ::madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    }
}

}  // namespace velloran
