// libFuzzer target: a zlib stream through the fast path and the exact path,
// the first two bytes choosing how much room `out` starts with (see
// differential::compareZlibFuzzInput); any difference aborts.

#include <cstdio>
#include <cstdlib>

#include "tests/image/differential.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string difference = differential::compareZlibFuzzInput(data, size);
    if (!difference.empty()) {
        std::fprintf(stderr, "fuzz_zlib: %s\n", difference.c_str());
        std::abort();
    }
    return 0;
}
