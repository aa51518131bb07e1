// libFuzzer targets: an input through the decoders' fast path and their exact
// path; any difference aborts, so that libFuzzer keeps the input. Built twice:
// fuzz_png takes a whole PNG file, fuzz_zlib a zlib stream behind two bytes
// that choose how much room `out` starts with (differential::compareZlibFuzzInput).

#include <cstdio>
#include <cstdlib>

#include "tests/image/differential.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
#ifdef FUZZ_PNG
    const std::string difference = differential::comparePng(ByteVector(data, data + size));
#else
    const std::string difference = differential::compareZlibFuzzInput(data, size);
#endif
    if (!difference.empty()) {
        std::fprintf(stderr, "%s\n", difference.c_str());
        std::abort();
    }
    return 0;
}
