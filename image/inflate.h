#pragma once

// DEFLATE (RFC 1951) decoding: stored, fixed-Huffman and dynamic-Huffman blocks.
//
// Two paths decode the same symbols. The exact path reads one bit at a time
// and decodes each Huffman code by walking its tree; it alone decides every
// error. The fast path, taken while at least FAST_INPUT_MARGIN bytes of data
// and FAST_OUTPUT_MARGIN bytes of output room lie ahead, looks whole codes up
// in tables that decode exactly as those trees walk (filled from the trees,
// or, for plain prefix codes, from the codes, the trees then being built only
// if the exact path comes to need them). It hands anything unusual (an empty
// branch, a bad or too distant distance) to the exact path before consuming a
// bit of it, so both paths agree on every input, valid or not.
//
// The data may lie in pieces, as a PNG's lies in its chunks: they are read as
// one stream, without being joined, and a code, a field or a stored block may
// run from one piece into the next. The output lives in one byte vector that
// doubles as the LZ77 history: either the whole of it, or, for a caller that
// takes the bytes as they come (an OutputSink), a window that keeps only the
// last HISTORY_BYTES and what the sink has not taken yet. No bit at or past
// the end of the data is ever read, and no byte before the start of the output.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "image/byte_vector.h"

// A compressed stream that lies in pieces, read in order without being joined.
// Only the first piece and the one behind each piece are asked for, so that
// the pieces need no list: a PNG's image data finds them among its chunks.
struct InputPieces {
    struct Piece {
        std::span<const std::uint8_t> bytes;  // never empty, but for the first of an empty stream
        std::size_t start = 0;                // where they begin in the stream
    };

    virtual std::size_t size() const = 0;  // the bytes of all the pieces
    virtual Piece first() const = 0;
    // The piece behind `piece`, which is not the last.
    virtual Piece next(const Piece& piece) const = 0;

protected:
    ~InputPieces() = default;
};

// A stream that lies whole in one span.
struct WholeInput final : InputPieces {
    std::span<const std::uint8_t> bytes;

    explicit WholeInput(std::span<const std::uint8_t> whole) : bytes(whole) {}
    std::size_t size() const override { return bytes.size(); }
    Piece first() const override { return {bytes, 0}; }
    Piece next(const Piece&) const override { return {}; }
};

// Takes the decoded bytes as they come, for a caller that does not keep them all.
struct OutputSink {
    // Offered the bytes not taken yet, in order, returns how many of them,
    // from the first, it takes; the rest are offered again with more behind them.
    virtual std::size_t take(std::span<const std::uint8_t> bytes) = 0;

protected:
    ~OutputSink() = default;
};

// The farthest a match reaches back: what a windowed output keeps.
inline constexpr std::size_t HISTORY_BYTES = 32768;

// Result codes of the DEFLATE decoder; 0 is success. "Past the end": a field
// that would need a bit at or past the end of the data.
inline constexpr unsigned INFLATE_CODE_PAST_END = 10;            // a Huffman code runs past the end
inline constexpr unsigned INFLATE_CODE_NOT_IN_TREE = 11;         // the bits read lead to an empty branch
inline constexpr unsigned INFLATE_REPEAT_OVERRUN = 13;           // a symbol-16 repeat writes past HLIT + HDIST places
inline constexpr unsigned INFLATE_ZEROS_OVERRUN = 14;            // a symbol-17 run of zeros does so
inline constexpr unsigned INFLATE_LONG_ZEROS_OVERRUN = 15;       // a symbol-18 run of zeros does so
inline constexpr unsigned INFLATE_REPEAT_WITHOUT_LENGTH = 16;    // symbol 16 first: no previous length to repeat
inline constexpr unsigned INFLATE_BAD_DISTANCE_SYMBOL = 18;      // distance symbol 30 or 31
inline constexpr unsigned INFLATE_DISTANCE_TOO_FAR = 19;         // a distance reaches before the start of the output
inline constexpr unsigned INFLATE_BAD_BLOCK_TYPE = 20;           // BTYPE 3
inline constexpr unsigned INFLATE_STORED_LENGTH_MISMATCH = 21;   // LEN + NLEN is not 65535
inline constexpr unsigned INFLATE_STORED_PAST_END = 23;          // the stored bytes run past the end
inline constexpr unsigned INFLATE_DYNAMIC_HEADER_PAST_END = 49;  // a dynamic header or its 3-bit lengths do so
inline constexpr unsigned INFLATE_REPEAT_COUNT_PAST_END = 50;    // the count of symbol 16, 17 or 18 does so
inline constexpr unsigned INFLATE_EXTRA_BITS_PAST_END = 51;      // the extra bits of a length or distance do so
inline constexpr unsigned INFLATE_BLOCK_HEADER_PAST_END = 52;    // a block header, or a stored LEN and NLEN, do so
inline constexpr unsigned INFLATE_TREE_OVERFULL = 55;            // the lengths need an internal node beyond N - 2
inline constexpr unsigned INFLATE_NO_END_OF_BLOCK = 64;          // the end-of-block symbol 256 has no code

// One Huffman decoding tree over N symbols, held in 2N entries: entries 2k and
// 2k + 1 are the 0- and 1-branch of internal node k, node 0 being the root. An
// entry below N is a leaf (the symbol), N + j a branch to node j, and EMPTY a
// branch that no code reaches.
struct CodeTree {
    static constexpr std::uint32_t EMPTY = 32767;

    std::vector<std::uint32_t> nodes;

    // Builds the canonical code of the given lengths (0: no code). Returns 0, or
    // INFLATE_TREE_OVERFULL. Some over-subscribed codes are accepted, since
    // encoders in the wild have written them and their files decode: a clash
    // fails only once a later bit needs a node.
    unsigned build(const std::vector<std::uint32_t>& lengths, std::uint32_t maxLength);
};

// Codes are looked up by the next few bits of the data (first bit lowest),
// longer ones through a second, smaller table. Each entry holds what the tree
// walk would find for those bits, ready for the fast path; see inflate.cpp
// for its layout. Distance codes are fewer, and their table smaller.
inline constexpr unsigned LITERAL_LOOKUP_BITS = 10;
inline constexpr unsigned DISTANCE_LOOKUP_BITS = 8;
inline constexpr unsigned CODE_LENGTH_LOOKUP_BITS = 7;  // the longest code-length code
using LookupEntry = std::uint64_t;
using LookupTable = std::vector<LookupEntry>;

// The fast path reads eight bytes at once, and writes a longest match of 258
// bytes in words of up to 16 bytes, the first 32 bytes whatever the length.
// Where fewer than eight bytes of a piece are left, it reads from a copy of
// the next SEAM_BYTES of the data instead: enough that data cut into tiny
// pieces is decoded in long runs, not a few bytes between two copies.
inline constexpr std::size_t FAST_INPUT_MARGIN = 8;
inline constexpr std::size_t FAST_OUTPUT_MARGIN = 258 + 32;
inline constexpr std::size_t SEAM_BYTES = 256;

struct LengthPlaces;

struct DeflateDecoder {
    // Off, no lookup table is consulted: every code is decoded bit by bit
    // through its tree, which is built as soon as its lengths are read. That is
    // the plain decoder the fast path has to match, code for code and byte for
    // byte; tests and fuzzers switch it off to compare the two. The game never does.
    static inline bool fastPath = true;
    // Off, the fast path runs its plain build even where the processor would
    // take the one for BMI, so that tests and fuzzers hold both to the exact path.
    static inline bool bmiPath = true;

    unsigned errorCode = 0;
    CodeTree literalTree;     // 288 literal/length symbols
    CodeTree distanceTree;    // 32 distance symbols
    CodeTree codeLengthTree;  // 19 code-length symbols of a dynamic header

    // Decodes the DEFLATE data that begins at byte `begin` of `in` (behind the
    // zlib header) into `out`, reusing its size as room. The outcome is
    // errorCode. Without a sink, `out` holds exactly the decoded
    // bytes on success. With one, `out` is a window: the sink is offered the
    // bytes whenever the window fills and once more at the end, on success.
    // Decoding ends, as after the last block, with the block or symbol that
    // brings the output to `enough` bytes: the data behind it is never read,
    // and the output never grows far beyond `enough` (by a stored block at most).
    void inflate(ByteVector& out, const InputPieces& in, std::size_t begin, std::size_t enough = SIZE_MAX,
                 OutputSink* sink = nullptr);

private:
    // Where the fast path reads eight bytes at a time: `at` within a piece, or
    // within the seam's copy. Byte `p` of it is byte origin + (p - begin) of
    // the data; from at most `limit` on, eight bytes can be read.
    struct Stretch {
        const std::uint8_t* begin;
        const std::uint8_t* at;
        const std::uint8_t* limit;
        std::size_t origin;
    };

    // State of one inflate call. Positions count from the start of the stream.
    const InputPieces* pieces_ = nullptr;
    InputPieces::Piece piece_;       // the piece last read from
    InputPieces::Piece mark_;        // a piece before every bit the fast path may hand back
    std::size_t dataLength_ = 0;     // where the data ends
    std::uint64_t bitPos_ = 0;       // bits consumed
    std::size_t outPos_ = 0;         // bytes in `out`
    std::size_t enough_ = SIZE_MAX;  // what `out` holds when decoding ends
    ByteVector* out_ = nullptr;
    OutputSink* sink_ = nullptr;
    std::size_t taken_ = 0;  // bytes of `out` the sink has taken
    std::array<std::uint8_t, SEAM_BYTES> seam_{};
    // The code of the current dynamic block: its lengths, its lookup tables,
    // and whether its trees are still to be built.
    std::vector<std::uint32_t> literalLengths_;
    std::vector<std::uint32_t> distanceLengths_;
    std::vector<std::uint32_t> codeLengthLengths_;
    LookupTable literalLookup_;
    LookupTable distanceLookup_;
    LookupTable codeLengthLookup_;
    bool literalTreeDeferred_ = false;
    bool distanceTreeDeferred_ = false;
    bool codeLengthTreeDeferred_ = false;

    void fail(unsigned code);
    bool fieldFits(unsigned bits) const;
    void seek(std::size_t byte);
    std::uint8_t byteAt(std::size_t byte);
    void copyInput(std::uint8_t* to, std::size_t byte, std::size_t count, std::size_t resume);
    Stretch stretchAt(std::size_t byte);
    void flush();
    void ensureRoom(std::size_t bytes);
    bool peekWord(std::uint32_t& bits) const;
    std::uint32_t readBits(unsigned n);
    std::uint32_t readSymbol(const CodeTree& tree);

    void inflateStoredBlock();
    void inflateCodedBlock(unsigned btype);
    void readDynamicTrees();
    std::size_t readCodeLengthsFast(std::uint32_t* lengths, LengthPlaces& placesOf, std::size_t i, std::size_t places);
    template <bool Bmi>
    std::size_t readCodeLengthsFastLoop(std::uint32_t* lengths, LengthPlaces& placesOf, std::size_t i,
                                        std::size_t places);
    std::size_t readCodeLengthsFastBmi(std::uint32_t* lengths, LengthPlaces& placesOf, std::size_t i,
                                       std::size_t places);
    std::uint32_t readCodeLengthSymbol();
    void buildDeferredTrees();
    void decodeCodedData(const CodeTree& literals, const CodeTree& distances, const LookupEntry* literalLookup,
                         const LookupEntry* distanceLookup);
    bool decodeFast(const LookupEntry* literalLookup, const LookupEntry* distanceLookup);
    template <bool Bmi>
    bool decodeFastLoop(const LookupEntry* literalLookup, const LookupEntry* distanceLookup);
    bool decodeFastBmi2(const LookupEntry* literalLookup, const LookupEntry* distanceLookup);
    bool decodeSymbolExact(const CodeTree& literals, const CodeTree& distances);
    void copyMatch(std::size_t length, std::size_t distance);
    void makeRoom(std::size_t bytes);
};
