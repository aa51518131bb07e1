// libFuzzer target: a whole PNG file through the fast path and the exact path;
// any difference aborts, so that libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>

#include "tests/image/differential.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string difference = differential::comparePng(ByteVector(data, data + size));
    if (!difference.empty()) {
        std::fprintf(stderr, "fuzz_png: %s\n", difference.c_str());
        std::abort();
    }
    return 0;
}
