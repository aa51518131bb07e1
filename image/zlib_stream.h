#pragma once

// zlib (RFC 1950) streams held in memory, whole or in pieces: the two header
// bytes are tested, the DEFLATE data behind them is inflated. The Adler-32 trailer is not checked
// and preset dictionaries are not supported.

#include <cstddef>
#include <cstdint>
#include <span>

#include "image/byte_vector.h"
#include "image/inflate.h"

// Result codes of the zlib stream wrapper; the DEFLATE decoder's pass through unchanged.
inline constexpr unsigned ZLIB_HEADER_CHECK_FAILED = 24;  // CMF * 256 + FLG is not a multiple of 31
inline constexpr unsigned ZLIB_UNSUPPORTED_METHOD = 25;   // CM is not 8, or CINFO is above 7
inline constexpr unsigned ZLIB_PRESET_DICTIONARY = 26;    // FDICT is set
inline constexpr unsigned ZLIB_INPUT_TOO_SHORT = 53;      // fewer than the two header bytes

// Decodes the zlib stream `in` into `out`, whose existing size serves as room.
// Returns 0 with `out` holding exactly the decoded bytes, or a nonzero code
// after which `out` must not be used. Decoding ends early, successfully, once
// `enough` bytes have come out (see DeflateDecoder::inflate).
unsigned decompressZlibStream(ByteVector& out, std::span<const std::uint8_t> in, std::size_t enough = SIZE_MAX);

// The same for a stream that lies in pieces. With a sink, `out` is a window
// through which the sink is offered the decoded bytes as they come (see
// DeflateDecoder::inflate); it needs room for HISTORY_BYTES and a little more
// to go without growing.
unsigned decompressZlibStream(ByteVector& out, const InputPieces& in, std::size_t enough, OutputSink* sink);
