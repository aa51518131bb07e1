// The plain decoder as it stood before the fast rewrite, kept as the reference
// that the differential test and the fuzz targets hold the fast decoder to.
// Do not change it: where the two differ, the fast one is wrong.

#pragma once

// DEFLATE (RFC 1951) decoding: stored, fixed-Huffman and dynamic-Huffman blocks.
//
// The decoder is deliberately direct: it reads one bit at a time, decodes each
// Huffman code by walking a tree held in a flat table, and keeps the whole
// output in one byte vector that doubles as the LZ77 history. Every malformed
// input it detects ends decoding with one of the codes below; no bit at or
// past the end of the data is ever read, and no byte before the start of the
// output.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/reference/byte_vector.h"

namespace reference {

// Result codes of the DEFLATE decoder; 0 is success.
inline constexpr unsigned INFLATE_CODE_PAST_END = 10;       // a Huffman code needs a bit at or past the end of the data
inline constexpr unsigned INFLATE_CODE_NOT_IN_TREE = 11;    // the bits read lead to an empty branch
inline constexpr unsigned INFLATE_REPEAT_OVERRUN = 13;      // a symbol-16 repeat writes past HLIT + HDIST places
inline constexpr unsigned INFLATE_ZEROS_OVERRUN = 14;       // a symbol-17 run of zeros writes past HLIT + HDIST places
inline constexpr unsigned INFLATE_LONG_ZEROS_OVERRUN = 15;  // a symbol-18 run of zeros writes past HLIT + HDIST places
inline constexpr unsigned INFLATE_REPEAT_WITHOUT_LENGTH =
    16;  // symbol 16 in the first place: no previous length to repeat
inline constexpr unsigned INFLATE_BAD_DISTANCE_SYMBOL = 18;     // distance symbol 30 or 31
inline constexpr unsigned INFLATE_DISTANCE_TOO_FAR = 19;        // a distance reaches before the start of the output
inline constexpr unsigned INFLATE_BAD_BLOCK_TYPE = 20;          // BTYPE 3
inline constexpr unsigned INFLATE_STORED_LENGTH_MISMATCH = 21;  // LEN + NLEN is not 65535
inline constexpr unsigned INFLATE_STORED_PAST_END = 23;         // the stored bytes run past the end of the data
inline constexpr unsigned INFLATE_DYNAMIC_HEADER_PAST_END =
    49;  // a dynamic header (or its 3-bit lengths) reaches past the end
inline constexpr unsigned INFLATE_REPEAT_COUNT_PAST_END =
    50;  // the repeat count of symbol 16, 17 or 18 reaches past the end
inline constexpr unsigned INFLATE_EXTRA_BITS_PAST_END =
    51;  // the extra bits of a length or distance reach past the end
inline constexpr unsigned INFLATE_BLOCK_HEADER_PAST_END =
    52;  // a block header, or a stored block's LEN and NLEN, reach past the end
inline constexpr unsigned INFLATE_TREE_OVERFULL = 55;    // the code lengths need an internal node beyond N - 2
inline constexpr unsigned INFLATE_NO_END_OF_BLOCK = 64;  // the end-of-block symbol 256 has no code

// One Huffman decoding tree over N symbols, held in 2N entries: entries 2k and
// 2k + 1 are the 0- and 1-branch of internal node k, node 0 being the root. An
// entry below N is a leaf (the symbol), N + j a branch to node j, and EMPTY a
// branch that no code reaches.
struct CodeTree {
    static constexpr std::uint32_t EMPTY = 32767;

    std::vector<std::uint32_t> nodes;

    // Builds the canonical code of the given lengths (0: no code). Returns 0, or
    // INFLATE_TREE_OVERFULL. Like the classic flat-table build it accepts some
    // over-subscribed codes: a clash fails only once a later bit needs a node.
    unsigned build(const std::vector<std::uint32_t>& lengths, std::uint32_t maxLength);
};

struct DeflateDecoder {
    unsigned errorCode = 0;
    CodeTree literalTree;     // 288 literal/length symbols
    CodeTree distanceTree;    // 32 distance symbols
    CodeTree codeLengthTree;  // 19 code-length symbols of a dynamic header

    // Decodes the DEFLATE data that starts at byte 2 of `in` (behind the zlib
    // header) into `out`, reusing its size as room. The outcome is errorCode; on
    // success `out` holds exactly the decoded bytes.
    void inflate(ByteVector& out, const ByteVector& in);

private:
    // State of one inflate call.
    const std::uint8_t* data_ = nullptr;  // the DEFLATE data
    std::size_t dataLength_ = 0;          // D: bytes of DEFLATE data
    std::uint64_t bitPos_ = 0;            // bits consumed from the data
    std::size_t outPos_ = 0;              // bytes produced so far
    ByteVector* out_ = nullptr;

    void fail(unsigned code);
    bool fieldFits(unsigned bits) const;
    std::uint32_t readBits(unsigned n);
    std::uint32_t readSymbol(const CodeTree& tree);

    void inflateStoredBlock();
    void inflateCodedBlock(unsigned btype);
    void buildFixedTrees();
    void readDynamicTrees();
    void copyMatch(std::size_t length, std::size_t distance);
};

}  // namespace reference
