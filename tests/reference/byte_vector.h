// The plain decoder as it stood before the fast rewrite, kept as the reference
// that the differential test and the fuzz targets hold the fast decoder to.
// Do not change it: where the two differ, the fast one is wrong.

#pragma once

#include <cstdint>
#include <vector>

namespace reference {

// A growable array of bytes that owns its storage: the decoders' input and output.
using ByteVector = std::vector<std::uint8_t>;

}  // namespace reference
