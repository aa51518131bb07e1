// DEFLATE and zlib decoding: hand-built streams for each failure code and edge case.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "image/inflate.h"
#include "image/png_writer.h"
#include "image/zlib_stream.h"
#include "tests/image/differential.h"

namespace {

// Builds DEFLATE data by hand: fields go in least significant bit first, Huffman codes most significant bit first.
struct BitWriter {
    ByteVector bytes;  // a zlib stream of the data so far, the last byte padded with zero bits; no trailer
    std::size_t bits = 0;

    BitWriter() { put(0x0178, 16); }  // the zlib header 78 01: deflate, a 32 KiB window
    // Appends the low `nbits` bits of `value` (up to 32), least significant first.
    BitWriter& put(std::uint32_t value, unsigned nbits) {
        for (unsigned i = 0; i < nbits; ++i, ++bits) {
            if (bits % 8 == 0) bytes.push_back(0);
            bytes.back() |= static_cast<std::uint8_t>(((value >> i) & 1u) << (bits % 8));
        }
        return *this;
    }
    // Appends a Huffman code of `length` bits, most significant first.
    BitWriter& putHuffman(std::uint32_t code, unsigned length) {
        for (unsigned i = length; i-- > 0;) put(code >> i, 1);
        return *this;
    }
    operator ByteVector() const { return bytes; }
};

using Lengths = std::vector<std::uint32_t>;
using Seq = std::vector<std::pair<unsigned, unsigned>>;  // code-length symbols, each with its repeat count
constexpr unsigned DIST = 1000;                          // DIST + d: distance symbol d in a fixed block

// A fixed block of literal/length and distance symbols behind the blocks in `w`. Codes: 0-143 8 bits from 0x30,
// 144-255 9 bits from 0x190, 256-279 7 bits from 0, 280-287 8 bits from 0xC0, distances 5 bits.
BitWriter fixed(unsigned bfinal, std::initializer_list<unsigned> symbols, BitWriter w = {}) {
    w.put(bfinal, 1).put(1, 2);  // BFINAL, BTYPE: fixed
    const unsigned first[] = {0, 144, 256, 280}, code[] = {0x30, 0x190, 0, 0xC0}, bits[] = {8, 9, 7, 8};
    for (unsigned s : symbols) {
        const int r = (s >= 144) + (s >= 256) + (s >= 280);
        s >= DIST ? w.putHuffman(s - DIST, 5) : w.putHuffman(code[r] + s - first[r], bits[r]);
    }
    return w;
}

// A stored block holding `data` behind the blocks in `w`.
BitWriter stored(unsigned bfinal, const std::string& data, BitWriter w = {}) {
    w.put(bfinal, 1).put(0, 2);                    // BFINAL, BTYPE: stored
    w.put(0, (8 - w.bits % 8) % 8);                // pad to a byte
    w.put(data.size(), 16).put(~data.size(), 16);  // LEN, NLEN
    for (char c : data) w.put(c, 8);
    return w;
}

// The code-length code of `dynamic`: 0 -> 100, 1 -> 101, 2 -> 110, 16 -> 1110, 17 -> 1111, 18 -> 0.
const Lengths CL = {3, 3, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 1};
const Lengths CL_CODES = {4, 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 14, 15, 0};

// A final dynamic block header (74 bits) with code-length code lengths `cl`, then the code-length symbols of `seq`
// in the code above, each followed by its repeat count (a count of 0 leaves the count out).
BitWriter dynamic(unsigned hlit, unsigned hdist, const Seq& seq, const Lengths& cl = CL) {
    // BFINAL: last, BTYPE: dynamic, HLIT, HDIST, HCLEN: 19
    BitWriter w = BitWriter().put(1, 1).put(2, 2).put(hlit - 257, 5).put(hdist - 1, 5).put(15, 4);
    for (unsigned s : {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15}) w.put(cl[s], 3);
    for (auto [s, count] : seq) {
        w.putHuffman(CL_CODES[s], CL[s]);
        if (count > 0) w.put(count - (s == 18 ? 11 : 3), s == 16 ? 2 : s == 17 ? 3 : 7);  // repeat count
    }
    return w;
}

// CL with the code of 2 (110) given to 6, and a sequence in it for HLIT 257 and HDIST 32: literal/length lengths
// 'a' -> 1 and 256 -> 1, then 32 distance lengths of 6, each written as 2 or repeated by 16.
const Lengths CL_SIX = {3, 3, 0, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 4, 1};
const Seq SIX_BIT_DISTANCES = {{18, 97}, {1, 0},  {18, 138}, {18, 20}, {1, 0},  {2, 0},
                               {16, 6},  {16, 6}, {16, 6},   {16, 6},  {16, 6}, {2, 0}};

// A dynamic block with literal/length codes 'a' -> 0, 256 -> 10, 257 -> 11 and distance lengths from `tail`;
// then, if `k` >= 0, 'a's until `k` more bits end a byte.
BitWriter aBlock(unsigned hdist, Seq tail, int k = -1) {
    tail.insert(tail.begin(), {{18, 97}, {1, 0}, {18, 138}, {18, 20}, {2, 0}, {2, 0}});
    BitWriter w = dynamic(258, hdist, tail);
    while (k >= 0 && (w.bits + k) % 8) w.putHuffman(0, 1);
    return w;
}

}  // namespace

TEST(ZlibStream, MalformedStreamsFailWithTheirCode) {
    const std::pair<unsigned, ByteVector> cases[] = {
        {ZLIB_INPUT_TOO_SHORT, {0x78}},
        {INFLATE_BLOCK_HEADER_PAST_END, {0x78, 0x01}},
        {ZLIB_HEADER_CHECK_FAILED, {0x89, 0x01, 3, 0}},  // CM 9 and CINFO 8 too; an empty fixed block follows
        {ZLIB_UNSUPPORTED_METHOD, {0x88, 0x1C, 3, 0}},   // CINFO 8
        {ZLIB_UNSUPPORTED_METHOD, {0x77, 0x09, 3, 0}},   // CM 7
        {ZLIB_PRESET_DICTIONARY, {0x78, 0x20}},          // no dictionary id follows
        {INFLATE_BAD_BLOCK_TYPE, BitWriter().put(0, 1).put(3, 2)},  // BFINAL: more, BTYPE: 3
        {INFLATE_BAD_BLOCK_TYPE, BitWriter().put(1, 1).put(3, 2)},  // BFINAL: last, BTYPE: 3
        // BFINAL: last, BTYPE: stored, pad (8 bits); LEN 3, NLEN off by one bit, "abc"; LEN 4 over 3 bytes
        {INFLATE_STORED_LENGTH_MISMATCH, BitWriter().put(1, 8).put(3, 16).put(0xFEFC, 16).put(0x636261, 24)},
        {INFLATE_STORED_PAST_END, BitWriter().put(1, 8).put(4, 16).put(0xFFFB, 16).put(0x636261, 24)},
        {INFLATE_BLOCK_HEADER_PAST_END, BitWriter().put(1, 8).put(0, 16).put(0xFF, 8)},  // LEN, half of NLEN
        {INFLATE_BLOCK_HEADER_PAST_END, stored(0, "ab")},  // no block after a non-final one
        {INFLATE_BLOCK_HEADER_PAST_END, fixed(0, {256}, fixed(0, {256}, fixed(0, {256})))},     // 2 bits of a header
        {INFLATE_DYNAMIC_HEADER_PAST_END, fixed(0, {200, 200, 200, 256}).put(1, 1).put(2, 2)},  // ends at bit 40
        {INFLATE_DYNAMIC_HEADER_PAST_END, BitWriter().put(1, 1).put(2, 2).put(0, 5)},           // HLIT, no HDIST
        // BFINAL, BTYPE: dynamic, HLIT, HDIST, HCLEN: 19, 7 of the 57 bits of code-length code lengths
        {INFLATE_DYNAMIC_HEADER_PAST_END, BitWriter().put(1, 1).put(2, 2).put(0, 10).put(15, 4).put(0, 5)},
        // 258 places: 255 zeros, then runs one place too long
        {INFLATE_REPEAT_OVERRUN, dynamic(257, 1, {{18, 138}, {18, 117}, {16, 4}})},
        {INFLATE_ZEROS_OVERRUN, dynamic(257, 1, {{18, 138}, {18, 117}, {17, 4}})},
        {INFLATE_LONG_ZEROS_OVERRUN, dynamic(257, 1, {{18, 138}, {18, 109}, {18, 12}})},
        {INFLATE_REPEAT_WITHOUT_LENGTH, dynamic(257, 1, {{16, 3}})},
        {INFLATE_REPEAT_COUNT_PAST_END, dynamic(257, 1, {{0, 0}, {0, 0}, {17, 3}, {18, 0}})},        // count at bit 88
        {INFLATE_REPEAT_COUNT_PAST_END, dynamic(257, 1, {{0, 0}, {0, 0}, {0, 0}, {16, 0}})},         // count bits 87-88
        {INFLATE_NO_END_OF_BLOCK, dynamic(257, 1, {{1, 0}, {1, 0}, {2, 0}, {18, 138}, {18, 117}})},  // 55 if built
        {INFLATE_TREE_OVERFULL, aBlock(3, {{1, 0}, {1, 0}, {2, 0}})},  // distance lengths 1, 1, 2 as below
        // 'a' and 256 of length 1, then 32 distance codes of 6 bits: a prefix code that needs node 31
        {INFLATE_TREE_OVERFULL, dynamic(257, 32, SIX_BIT_DISTANCES, CL_SIX)},
        // Code-length codes 16 -> 0, 17 -> 1, 18 -> 00: a clash, then one more bit; 18 -> 0 alone: 1 leads nowhere
        {INFLATE_TREE_OVERFULL, dynamic(257, 1, {}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2})},
        {INFLATE_CODE_NOT_IN_TREE,
         dynamic(257, 1, {}, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}).put(1, 1)},
        // Length 3, distance symbol 30 or 31: in a fixed block, in a dynamic one (257 -> 11, 30 -> 0, 31 -> 1)
        {INFLATE_BAD_DISTANCE_SYMBOL, fixed(1, {257, DIST + 30})},
        {INFLATE_BAD_DISTANCE_SYMBOL, fixed(1, {257, DIST + 31})},
        {INFLATE_BAD_DISTANCE_SYMBOL, aBlock(32, {{18, 30}, {1, 0}, {1, 0}}).putHuffman(0b110, 3)},
        {INFLATE_BAD_DISTANCE_SYMBOL, aBlock(32, {{18, 30}, {1, 0}, {1, 0}}).putHuffman(0b111, 3)},
        // The data ends (bit 24) after distance 0, at the extra bit of distance 4, within the extra bits of length 284
        {INFLATE_EXTRA_BITS_PAST_END, fixed(1, {200, 257, DIST})},
        {INFLATE_EXTRA_BITS_PAST_END, fixed(1, {200, 257, DIST + 4})},
        {INFLATE_EXTRA_BITS_PAST_END, fixed(1, {200, 284})},
        // No distance code: 257 (11) ends the data, is followed by 1 bit, by 8 bits
        {INFLATE_EXTRA_BITS_PAST_END, aBlock(1, {{0, 0}}, 2).putHuffman(3, 2)},
        {INFLATE_CODE_PAST_END, aBlock(1, {{0, 0}}, 3).putHuffman(3, 2).put(0, 1)},
        {INFLATE_CODE_NOT_IN_TREE, aBlock(1, {{0, 0}}).putHuffman(0, 1).putHuffman(3, 2).put(0, 8)},
        {INFLATE_CODE_PAST_END, fixed(1, {})},  // 5 padding bits of a 7-bit code
        // Length 3 at distance 1 with no output, at distance 2 after one byte
        {INFLATE_DISTANCE_TOO_FAR, fixed(1, {257, DIST})},
        {INFLATE_DISTANCE_TOO_FAR, fixed(1, {'a', 257, DIST + 1})},
    };
    // An exact copy of each input, so that the sanitizer sees any read past its end; with room for the fast path too.
    // With bytes behind, the fast path reads headers and codes ahead: but for running out of data, the same code.
    const unsigned outOfData[] = {
        ZLIB_INPUT_TOO_SHORT,          INFLATE_BLOCK_HEADER_PAST_END, INFLATE_DYNAMIC_HEADER_PAST_END,
        INFLATE_REPEAT_COUNT_PAST_END, INFLATE_EXTRA_BITS_PAST_END,   INFLATE_STORED_PAST_END,
        INFLATE_CODE_PAST_END};
    for (const auto& c : cases)
        for (const std::size_t room : {0, 1000}) {
            ByteVector out(room);
            EXPECT_EQ(decompressZlibStream(out, ByteVector(c.second)), c.first) << "case " << &c - cases;
            if (std::find(std::begin(outOfData), std::end(outOfData), c.first) != std::end(outOfData)) continue;
            ByteVector padded = c.second;
            padded.resize(padded.size() + 64, 0);
            EXPECT_EQ(decompressZlibStream(out, padded), c.first) << "case " << &c - cases << ", padded";
        }
}

TEST(InflateValid, HandBuiltStreamsDecodeWhateverFollowsAndWhateverOutHolds) {
    const std::pair<std::string, ByteVector> cases[] = {
        {"\310\310\310ab", stored(1, "ab", fixed(0, {200, 200, 200, 256}))},  // a stored header ends a byte
        {"xabcxabc", fixed(1, {258, DIST + 3, 256}, stored(0, "abc", fixed(0, {'x', 256})))},  // 4 at distance 4
        {"xy", fixed(1, {'x', 286, 'y', 287, 256})},
        {"aa", aBlock(1, {{0, 0}}).putHuffman(0b0010, 4)},  // no distance code: 'a', 'a', end
        // A repeat at place HLIT gives distance symbols 0-2 the length of 257, 2: 'a', 257, distance 1 (00), end
        {"aaaa", aBlock(3, {{16, 3}}).putHuffman(0b0110010, 7)},
    };
    for (const auto& [expected, stream] : cases) {
        SCOPED_TRACE("expecting \"" + expected + "\"");
        // The Adler-32 trailer is never read: none, half of one, a wrong one and more all decode.
        for (const ByteVector& trailer : {ByteVector{}, ByteVector(2, 0xFF), ByteVector(4, 0xFF), ByteVector(9, 0x5A)})
            for (std::size_t room : {0, 1, 3, 500}) {
                ByteVector in = stream, out(room, 0xEE);
                in.insert(in.end(), trailer.begin(), trailer.end());
                EXPECT_EQ(decompressZlibStream(out, in), 0u);
                EXPECT_EQ(std::string(out.begin(), out.end()), expected) << "room " << room;
            }
    }
}

// A PNG's rows pass through a window that keeps the last 32 KiB: matches that
// reach back exactly that far, after every move of the window, still find
// their bytes, on every path (zlib never reaches back so far), and the data
// behind the rows is still never read.
TEST(InflateValid, MatchesReachTheWholeWindowWhileItMoves) {
    std::string first(32768, 0);  // rows of 1024 bytes: filter type 0, then a grey ramp
    for (std::size_t k = 0; k < first.size(); ++k) first[k] = char(k % 1024 == 0 ? 0 : k * 7919 >> 5);
    BitWriter w = stored(0, first);
    w.put(1, 1).put(1, 2);                                                                 // the last block, fixed
    for (int n = 0; n < 1024; ++n) w.putHuffman(0xC5, 8).putHuffman(29, 5).put(8191, 13);  // 258 at 32768
    w.putHuffman(0xC5, 8).putHuffman(30, 5);  // a bad distance behind the rows, never read
    const ByteVector file = assemble({ihdr(1023, 290, 8, 0), {"IDAT", w}, IEND});
    const auto [fast, exact, plain] = differential::onEachPath([&] { return differential::decodePng(file); });
    ByteVector grey;  // the rows repeat every 32 of them
    for (std::size_t k = 0; k < 290 * 1024; ++k)
        if (k % 1024 != 0) grey.insert(grey.end(), {std::uint8_t(first[k % 32768]), 0, 0, 255});
    for (std::size_t k = 0; k < grey.size(); k += 4) grey[k + 1] = grey[k + 2] = grey[k];
    EXPECT_EQ(std::tuple(fast.code, exact.code, plain.code), std::tuple(0u, 0u, 0u));
    EXPECT_TRUE(fast.out == grey && exact.out == grey && plain.out == grey);
}

// Code-length symbols 0, 1, 2 of length 1 over-subscribe the code, but the clash is on the last code bit; a tree
// over N symbols has room for internal nodes 0 to N - 2 only.
TEST(InflateCodeTree, ClashOnTheLastCodeBuildsAndLeavesTheSymbolOut) {
    CodeTree tree;
    EXPECT_EQ(tree.build({1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 7), 0u);
    EXPECT_EQ(Lengths(tree.nodes.begin(), tree.nodes.begin() + 2), (Lengths{0, 1}));  // the root's two leaves
    EXPECT_EQ(std::count(tree.nodes.begin(), tree.nodes.end(), 2u), 0);               // no leaf of symbol 2
    EXPECT_EQ(tree.build(Lengths(32, 6), 15), INFLATE_TREE_OVERFULL);  // a prefix code, but it needs node 31
}
