#include <cstdio>
#include <cstdlib>

#include "Checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (const char* broken = velloran::fuzz::CheckDictionary(data, size)) {
        std::fprintf(stderr, "invariant broken: %s\n", broken);
        std::abort();
    }
    return 0;
}
