#pragma once

#include <cstdint>
#include <vector>

// A growable array of bytes that owns its storage: the decoders' input and output.
using ByteVector = std::vector<std::uint8_t>;
