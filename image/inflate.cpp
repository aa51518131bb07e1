// How this decoder works, and why it is fast.
//
// A DEFLATE stream is a run of blocks: stored bytes, or Huffman codes for
// literals, lengths and distances, with fixed codes or codes of the block's
// own. Every block is decoded into one output vector, which is also the
// history that matches copy from.
//
// Two paths decode the codes. The exact path reads the stream bit by bit and
// walks each code's tree; it is short, plainly right, and decides every error.
// The fast path does the work on valid data: it keeps 56 bits or more in a
// 64-bit buffer, refilled by one unaligned eight-byte load and a shift with no
// branch, and looks each code up in a table of LITERAL_LOOKUP_BITS (or
// DISTANCE_LOOKUP_BITS) bits, longer codes in a subtable behind it. An entry
// holds the code's length plus its extra bits, so that one shift consumes
// both, one flag per kind of symbol, so that a literal is told apart with one
// test, and the literal, base length or base distance itself. The next entry
// is looked up as soon as its bits are known, before the current match is
// copied, so that the load overlaps the copy. Each entry also comes with the
// distance entry at the index cut for its successor, looked up before the
// loop branches on the entry: for a length code it is the match's distance
// entry, loaded by the time a misprediction of the branch is found. The loop
// tests its input and output once per symbol against margins
// (FAST_INPUT_MARGIN, FAST_OUTPUT_MARGIN) rather than per byte, and where the
// processor has BMI2 the same loop is compiled a second time for it and
// chosen at run time.
// Whatever the tables cannot decide (an empty branch, a distance reaching
// before the output) goes back to the exact path before a bit of it is
// consumed, so both paths agree on every input.
//
// Data in pieces (a PNG's IDAT chunks) is read where it lies: the fast path
// reads a piece in place up to its last eight bytes, then a SEAM_BYTES copy
// across the seam, and walks on to the next piece, so that tiny pieces cost
// a copy each rather than a slow path.
//
// The stages below, in order: the format's tables; code trees, for the exact
// path; reading bits from the pieces; blocks and the output window; the
// lookup tables; dynamic block headers; coded data, fast and exact; matches.

#include "image/inflate.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

// On x86-64 the fast loop is built a second time for processors with BMI1
// and BMI2 and chosen at run time. BMI2's shifts by a register neither touch
// the flags nor need the count in CL, and BMI1's bit-field extraction cuts a
// table index from the bits in one operation rather than a shift and a mask:
// it shortens the chain of lookups that every literal waits on.
#if defined(__x86_64__) && defined(__GNUC__)
#define INFLATE_BMI2_LOOP 1
#endif

namespace {

#ifdef INFLATE_BMI2_LOOP
bool hasBmi() {
    static const bool has = __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
    return has && DeflateDecoder::bmiPath;
}
#endif

// ---- The format's tables ----------------------------------------------------

constexpr std::array<std::uint32_t, 29> LENGTH_BASE = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                                       31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<std::uint32_t, 29> LENGTH_EXTRA = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                        2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<std::uint32_t, 30> DISTANCE_BASE = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                                         33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                                         1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<std::uint32_t, 30> DISTANCE_EXTRA = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                          6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<std::uint32_t, 19> CODE_LENGTH_ORDER = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                             11, 4,  12, 3, 13, 2, 14, 1, 15};

constexpr std::size_t LITERAL_SYMBOLS = 288;
constexpr std::size_t DISTANCE_SYMBOLS = 32;
constexpr std::size_t CODE_LENGTH_SYMBOLS = 19;
constexpr std::uint32_t END_OF_BLOCK = 256;
constexpr std::uint32_t LAST_LENGTH_SYMBOL = 285;
constexpr std::uint32_t LAST_DISTANCE_SYMBOL = 29;
constexpr std::uint32_t MAX_CODE_LENGTH = 15;

std::uint32_t loadLittleEndian32(const std::uint8_t* p) {
    return p[0] | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

void storeLittleEndian64(std::uint8_t* p, std::uint64_t value) {
    if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
    std::memcpy(p, &value, sizeof value);
}

std::vector<std::uint32_t> fixedLiteralLengths() {
    std::vector<std::uint32_t> lengths(LITERAL_SYMBOLS);
    for (std::size_t s = 0; s < LITERAL_SYMBOLS; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    return lengths;
}

}  // namespace

// ---- Code trees: the exact path's decoding ----------------------------------

unsigned CodeTree::build(const std::vector<std::uint32_t>& lengths, std::uint32_t maxLength) {
    const std::uint32_t n = static_cast<std::uint32_t>(lengths.size());

    // Inflate never asks for more than 15 bits; the clamp keeps other callers in bounds.
    const std::uint32_t longest = std::min(maxLength, MAX_CODE_LENGTH);
    std::array<std::uint32_t, MAX_CODE_LENGTH + 1> lengthCount{};
    for (std::uint32_t length : lengths) {
        if (length > longest) return INFLATE_TREE_OVERFULL;
        ++lengthCount[length];
    }
    lengthCount[0] = 0;
    std::array<std::uint32_t, MAX_CODE_LENGTH + 1> nextCode{};
    for (std::uint32_t bits = 1; bits <= longest; ++bits)
        nextCode[bits] = (nextCode[bits - 1] + lengthCount[bits - 1]) << 1;

    nodes.assign(2 * static_cast<std::size_t>(n), EMPTY);
    std::uint32_t node = 0;
    std::uint32_t used = 0;
    for (std::uint32_t symbol = 0; symbol < n; ++symbol) {
        const std::uint32_t length = lengths[symbol];
        if (length == 0) continue;
        // Over-subscribed lengths make codes longer than `length` bits; only the low bits count.
        const std::uint32_t code = nextCode[length]++;
        for (std::uint32_t i = 0; i < length; ++i) {
            if (n < 2 || node > n - 2) return INFLATE_TREE_OVERFULL;
            const std::uint32_t bit = (code >> (length - 1 - i)) & 1u;
            std::uint32_t& entry = nodes[2 * node + bit];
            if (entry == EMPTY) {
                if (i == length - 1) {
                    entry = symbol;
                    node = 0;
                } else {
                    ++used;
                    entry = n + used;
                    node = used;
                }
            } else {
                // Wraps for a leaf, so that the next bit fails the room test.
                node = entry - n;
            }
        }
    }
    return 0;
}

// ---- Reading bits from the pieces -------------------------------------------

void DeflateDecoder::fail(unsigned code) {
    if (errorCode == 0) errorCode = code;
}

// True when a field of `bits` bits begins before the end of the data and ends within it.
bool DeflateDecoder::fieldFits(unsigned bits) const {
    const std::uint64_t end = 8 * static_cast<std::uint64_t>(dataLength_);
    return bitPos_ < end && bitPos_ + bits <= end;
}

// Makes piece_ the piece that holds byte `byte` of the data, which lies
// before its end. The data is read forward, but for the bits the fast path
// read ahead and hands back, which never lie before the piece it marked
// (mark_): so no byte is sought from the first piece again, and finding the
// pieces costs one walk over them, however many there are.
void DeflateDecoder::seek(std::size_t byte) {
    if (byte < piece_.start) piece_ = byte >= mark_.start ? mark_ : pieces_->first();
    while (byte - piece_.start >= piece_.bytes.size()) piece_ = pieces_->next(piece_);
}

std::uint8_t DeflateDecoder::byteAt(std::size_t byte) {
    if (byte - piece_.start >= piece_.bytes.size()) seek(byte);
    return piece_.bytes[byte - piece_.start];
}

// Copies `count` bytes of the data from `byte` on, across pieces; they lie
// before its end. piece_ is left at the piece that holds `resume`, a byte of
// the copy, where reading goes on.
void DeflateDecoder::copyInput(std::uint8_t* to, std::size_t byte, std::size_t count, std::size_t resume) {
    seek(byte);
    InputPieces::Piece piece = piece_;
    for (std::size_t offset = byte - piece.start;; offset = 0) {
        if (resume - piece.start < piece.bytes.size()) piece_ = piece;
        const std::size_t n = std::min(count, piece.bytes.size() - offset);
        std::memcpy(to, piece.bytes.data() + offset, n);
        to += n;
        count -= n;
        if (count == 0) return;
        piece = pieces_->next(piece);
    }
}

// The next 25 bits or more, first bit lowest, when the four bytes that hold
// them lie in the current piece: a header's fields are then a load each
// rather than a loop over their bits.
[[gnu::always_inline]] inline bool DeflateDecoder::peekWord(std::uint32_t& bits) const {
    const std::size_t offset = static_cast<std::size_t>(bitPos_ >> 3) - piece_.start;
    if (offset >= piece_.bytes.size() || piece_.bytes.size() - offset < 4) return false;
    bits = loadLittleEndian32(piece_.bytes.data() + offset) >> (bitPos_ & 7);
    return true;
}

// Reads a field of `n` bits, at most 25, that fits in the data.
inline std::uint32_t DeflateDecoder::readBits(unsigned n) {
    if (std::uint32_t bits = 0; peekWord(bits)) {
        bitPos_ += n;
        return bits & ((1u << n) - 1);
    }
    std::uint32_t value = 0;
    for (unsigned i = 0; i < n; ++i, ++bitPos_)
        value |= static_cast<std::uint32_t>((byteAt(static_cast<std::size_t>(bitPos_ >> 3)) >> (bitPos_ & 7)) & 1u)
                 << i;
    return value;
}

std::uint32_t DeflateDecoder::readSymbol(const CodeTree& tree) {
    const std::uint32_t n = static_cast<std::uint32_t>(tree.nodes.size() / 2);
    std::uint32_t node = 0;
    for (;;) {
        if ((bitPos_ & 7) == 0 && (bitPos_ >> 3) >= dataLength_) {
            fail(INFLATE_CODE_PAST_END);
            return 0;
        }
        const std::uint32_t bit = readBits(1);
        if (node >= n) {
            fail(INFLATE_CODE_NOT_IN_TREE);
            return 0;
        }
        const std::uint32_t value = tree.nodes[2 * node + bit];
        if (value < n) return value;
        node = value - n;
    }
}

// ---- Blocks and the output window -------------------------------------------

void DeflateDecoder::inflate(ByteVector& out, const InputPieces& in, std::size_t begin, std::size_t enough,
                             OutputSink* sink) {
    errorCode = 0;
    pieces_ = &in;
    piece_ = mark_ = in.first();
    dataLength_ = in.size();
    bitPos_ = 8 * static_cast<std::uint64_t>(begin);
    outPos_ = 0;
    enough_ = enough;
    out_ = &out;
    sink_ = sink;
    taken_ = 0;

    bool final = false;
    while (!final && errorCode == 0 && outPos_ < enough_) {
        if (!fieldFits(3)) {
            fail(INFLATE_BLOCK_HEADER_PAST_END);
            break;
        }
        final = readBits(1) != 0;
        const unsigned btype = readBits(2);
        if (btype == 3)
            fail(INFLATE_BAD_BLOCK_TYPE);
        else if (btype == 0)
            inflateStoredBlock();
        else
            inflateCodedBlock(btype);
    }
    if (errorCode == 0 && sink_ != nullptr)
        sink_->take({out.data() + taken_, outPos_ - taken_});
    else if (errorCode == 0)
        out.resize(outPos_);
    out_ = nullptr;
    sink_ = nullptr;
    pieces_ = nullptr;
}

// Offers the sink what it has not taken, then drops from the front of the
// window what it took and no match can reach any more, and keeps room for
// the longest write the decoder makes at once. A sink that takes little
// makes the window grow rather than lose bytes.
void DeflateDecoder::flush() {
    ByteVector& out = *out_;
    taken_ += sink_->take({out.data() + taken_, outPos_ - taken_});
    const std::size_t unreachable = outPos_ > HISTORY_BYTES ? outPos_ - HISTORY_BYTES : 0;
    const std::size_t drop = std::min(taken_, unreachable);
    if (drop > 0) {
        std::memmove(out.data(), out.data() + drop, outPos_ - drop);
        outPos_ -= drop;
        taken_ -= drop;
        enough_ -= drop;
    }
    if (out.size() - outPos_ < FAST_OUTPUT_MARGIN) out.resize(outPos_ + FAST_OUTPUT_MARGIN);
}

// Room for `bytes` more (at most FAST_OUTPUT_MARGIN with a sink).
void DeflateDecoder::ensureRoom(std::size_t bytes) {
    if (out_->size() - outPos_ >= bytes) return;
    if (sink_ != nullptr)
        flush();
    else
        makeRoom(bytes);
}

void DeflateDecoder::inflateStoredBlock() {
    bitPos_ = (bitPos_ + 7) & ~std::uint64_t{7};
    const std::size_t p = static_cast<std::size_t>(bitPos_ >> 3);
    if (p > dataLength_ || dataLength_ - p < 4) return fail(INFLATE_BLOCK_HEADER_PAST_END);

    const std::size_t len = byteAt(p) + 256u * byteAt(p + 1);
    const std::size_t nlen = byteAt(p + 2) + 256u * byteAt(p + 3);
    if (len + nlen != 65535) return fail(INFLATE_STORED_LENGTH_MISMATCH);

    ByteVector& out = *out_;
    if (sink_ == nullptr && outPos_ + len >= out.size()) out.resize(outPos_ + len);
    if (p + 4 + len > dataLength_) return fail(INFLATE_STORED_PAST_END);

    // Through the window in parts, when there is one.
    for (std::size_t done = 0; done < len;) {
        ensureRoom(1);
        const std::size_t n = std::min(len - done, out.size() - outPos_);
        copyInput(out.data() + outPos_, p + 4 + done, n, p + 4 + done + n - 1);  // on from its last byte
        outPos_ += n;
        done += n;
    }
    bitPos_ = 8 * static_cast<std::uint64_t>(p + 4 + len);
}

namespace {

// ---- Lookup tables ----------------------------------------------------------
//
// An entry is 0 where the walk over those bits does not end at a leaf within
// the table's bits, or its subtable's (an empty branch, a code too long for
// the tables): the exact path decides there. Otherwise:
//   bits 0-7    the code's length plus its extra bits, so that one shift by
//               the entry's low six bits consumes both
//   bits 8-15   the width of the lookup that follows: the literal/length
//               table's after a literal or a distance, the distance table's
//               after a length. With bits 0-7 it is a bit-field extraction's
//               operand, which cuts the next index from the bits before the
//               code is consumed, in one instruction where BMI has it
//   bits 16-19  what the symbol is, one flag each, so that the loop tells the
//               common cases apart with one test each against a short
//               constant; a symbol never used in valid data (286, 287) has none
//   bits 32-39  the code's length, and bits 40-47 its extra bits: the
//               extraction's operand for the extra bits' value
//   bits 48-63  the literal byte, or the base length or distance, taken by
//               one shift
// A table is looked up by its first `bits` bits (LITERAL_LOOKUP_BITS or
// DISTANCE_LOOKUP_BITS). Codes longer than that have their entries in a
// subtable indexed by their remaining bits, up to MAX_CODE_LENGTH; the entry
// of their first bits is then SUBTABLE_FLAG, where the subtable starts in bits
// 48-63, and `bits` and the subtable's width as the extraction's operand.
constexpr LookupEntry END_OF_BLOCK_FLAG = LookupEntry{1} << 16;
constexpr LookupEntry SUBTABLE_FLAG = LookupEntry{1} << 17;
constexpr LookupEntry LENGTH_FLAG = LookupEntry{1} << 18;
constexpr LookupEntry LITERAL_FLAG = LookupEntry{1} << 19;

constexpr LookupEntry makeEntry(std::uint32_t codeLength, std::uint32_t extraBits, LookupEntry flags,
                                std::uint32_t value, std::uint32_t nextWidth) {
    return (codeLength + extraBits) | nextWidth << 8 | LookupEntry{value} << 48 | LookupEntry{codeLength} << 32 |
           LookupEntry{extraBits} << 40 | flags;
}

std::size_t subtableStart(LookupEntry head) { return static_cast<std::size_t>(head >> 48); }

// Every symbol's entry but for its code's length, which enters it twice:
// where it is consumed, and where the extra bits begin. Made once, as every
// dynamic block fills its tables from them.
constexpr LookupEntry CODE_LENGTH_UNIT = makeEntry(1, 0, 0, 0, 0);

constexpr std::array<LookupEntry, LITERAL_SYMBOLS> LITERAL_ENTRIES = [] {
    std::array<LookupEntry, LITERAL_SYMBOLS> entries{};
    for (std::uint32_t symbol = 0; symbol < LITERAL_SYMBOLS; ++symbol) {
        if (symbol < END_OF_BLOCK)
            entries[symbol] = makeEntry(0, 0, LITERAL_FLAG, symbol, LITERAL_LOOKUP_BITS);
        else if (symbol == END_OF_BLOCK)
            entries[symbol] = makeEntry(0, 0, END_OF_BLOCK_FLAG, 0, 0);
        else if (symbol <= LAST_LENGTH_SYMBOL)
            entries[symbol] =
                makeEntry(0, LENGTH_EXTRA[symbol - 257], LENGTH_FLAG, LENGTH_BASE[symbol - 257], DISTANCE_LOOKUP_BITS);
    }
    return entries;
}();

constexpr std::array<LookupEntry, LAST_DISTANCE_SYMBOL + 1> DISTANCE_ENTRIES = [] {
    std::array<LookupEntry, LAST_DISTANCE_SYMBOL + 1> entries{};
    for (std::uint32_t symbol = 0; symbol <= LAST_DISTANCE_SYMBOL; ++symbol)
        entries[symbol] = makeEntry(0, DISTANCE_EXTRA[symbol], 0, DISTANCE_BASE[symbol], LITERAL_LOOKUP_BITS);
    return entries;
}();

// A symbol never used in valid data (286, 287) has an entry with no flag, so
// that the loop consumes it without output.
LookupEntry literalEntry(std::uint32_t symbol, std::uint32_t codeLength) {
    return LITERAL_ENTRIES[symbol] + codeLength * CODE_LENGTH_UNIT;
}

LookupEntry distanceEntry(std::uint32_t symbol, std::uint32_t codeLength) {
    if (symbol > LAST_DISTANCE_SYMBOL) return 0;  // an error: the exact path reports it
    return DISTANCE_ENTRIES[symbol] + codeLength * CODE_LENGTH_UNIT;
}

// Follows the tree from `node`, reached after `depth` bits that read `prefix`,
// and fills the entries of every leaf within `Bits` bits. The steps are
// those of the walk in readSymbol, so the table agrees with it even for the
// odd trees that over-subscribed lengths leave.
template <unsigned Bits, typename EntryFor>
void fillLookup(const CodeTree& tree, LookupTable& table, EntryFor entryFor, std::uint32_t node, std::uint32_t depth,
                std::uint32_t prefix) {
    const std::uint32_t n = static_cast<std::uint32_t>(tree.nodes.size() / 2);
    if (node >= n) return;
    for (std::uint32_t bit = 0; bit < 2; ++bit) {
        const std::uint32_t value = tree.nodes[2 * node + bit];
        const std::uint32_t length = depth + 1;
        const std::uint32_t code = prefix | bit << depth;
        if (value < n) {
            const LookupEntry entry = entryFor(value, length);
            for (std::uint32_t i = code; i < table.size(); i += 1u << length) table[i] = entry;
        } else if (length < Bits) {
            fillLookup<Bits>(tree, table, entryFor, value - n, length, code);
        }
    }
}

template <unsigned Bits, typename EntryFor>
void deriveLookup(const CodeTree& tree, LookupTable& table, EntryFor entryFor) {
    table.assign(std::size_t{1} << Bits, 0);
    fillLookup<Bits>(tree, table, entryFor, 0, 0, 0);
}

// How many codes there are of each length, counted once a code for all that
// is worked out from them. Index 0, the symbols without a code, is not read.
using LengthCounts = std::array<std::uint64_t, MAX_CODE_LENGTH + 1>;

// The room the codes take, left-aligned to MAX_CODE_LENGTH bits: 2^15 for a
// complete code.
std::uint64_t kraftSum(const LengthCounts& count) {
    std::uint64_t kraft = 0;
    for (std::uint32_t length = 1; length <= MAX_CODE_LENGTH; ++length)
        kraft += count[length] << (MAX_CODE_LENGTH - length);
    return kraft;
}

// Whether the lengths are no more than a prefix code can have (the Kraft sum
// is at most one). Then the tree is the plain code tree of the canonical code,
// and tables can be filled from the code itself.
bool isPrefixCode(const LengthCounts& count) { return kraftSum(count) <= std::uint64_t{1} << MAX_CODE_LENGTH; }

// The internal nodes, root included, of the tree of a prefix code: the
// distinct proper prefixes of its codes. Left-aligned to MAX_CODE_LENGTH bits,
// the codes longer than d bits fill one run of values from `shorter` (the room
// of the codes of d bits or fewer) to `kraft`, so their d-bit prefixes form
// one run too. CodeTree::build fails exactly when these exceed N - 1.
std::uint64_t treeNodeCount(const LengthCounts& count) {
    const std::uint64_t kraft = kraftSum(count);
    std::uint64_t nodes = 0;
    std::uint64_t shorter = 0;
    for (std::uint32_t d = 0; d < MAX_CODE_LENGTH; ++d) {
        if (d > 0) shorter += count[d] << (MAX_CODE_LENGTH - d);
        const unsigned shift = MAX_CODE_LENGTH - d;
        if (shorter < kraft) nodes += ((kraft - 1) >> shift) - (shorter >> shift) + 1;
    }
    return nodes;
}

constexpr std::array<std::uint8_t, 256> REVERSED_BYTES = [] {
    std::array<std::uint8_t, 256> reversed{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        for (unsigned bit = 0; bit < 8; ++bit) reversed[byte] |= ((byte >> bit) & 1) << (7 - bit);
    }
    return reversed;
}();

// The low `length` bits of `code` in reverse order: a code as it lies in the
// data, first bit lowest. Through a table, as every code of every block needs it.
std::uint32_t reverseBits(std::uint32_t code, std::uint32_t length) {
    const std::uint32_t reversed16 = REVERSED_BYTES[code & 0xFF] << 8 | REVERSED_BYTES[(code >> 8) & 0xFF];
    return reversed16 >> (16 - length);
}

}  // namespace

// Where each code length of a dynamic header was read, by length, in the
// order read: the symbols of each length in symbol order, which is the order
// of their codes. Kept as the lengths are read, it spares the tables a sort.
// The places of length 0 are written but never read, which saves a branch.
struct LengthPlaces {
    // A repeat of the length before writes six places, however many it counts.
    static constexpr std::size_t MOST_PLACES = LITERAL_SYMBOLS + DISTANCE_SYMBOLS + 6;
    std::array<std::array<std::uint16_t, MOST_PLACES>, MAX_CODE_LENGTH + 1> ofLength;
    std::array<std::uint32_t, MAX_CODE_LENGTH + 1> count{};

    void add(std::uint32_t length, std::size_t place) {
        ofLength[length][count[length]++] = static_cast<std::uint16_t>(place);
    }
    // `repeats` places from `place` on, of the length before them: 3 to 6.
    void addRepeats(std::uint32_t length, std::size_t place, std::size_t repeats) {
        std::uint16_t* const to = ofLength[length].data() + count[length];
        for (std::size_t k = 0; k < 6; ++k) to[k] = static_cast<std::uint16_t>(place + k);
        count[length] += static_cast<std::uint32_t>(repeats);
    }
};

namespace {

// The symbols of a prefix code in the order of their codes, by length, then by
// symbol: count[length] of them from ofLength[length] on, less `firstPlace`.
struct CodeOrder {
    LengthCounts count{};
    std::array<const std::uint16_t*, MAX_CODE_LENGTH + 1> ofLength{};
    std::uint32_t firstPlace = 0;
};

// The code order of the code-length code, by a counting sort into `storage`.
CodeOrder sortByCode(const std::vector<std::uint32_t>& lengths,
                     std::array<std::uint16_t, CODE_LENGTH_SYMBOLS>& storage) {
    CodeOrder order;
    for (const std::uint32_t length : lengths) ++order.count[length];
    std::array<std::uint32_t, MAX_CODE_LENGTH + 1> place{};
    for (std::uint32_t length = 2; length <= MAX_CODE_LENGTH; ++length)
        place[length] = place[length - 1] + static_cast<std::uint32_t>(order.count[length - 1]);
    for (std::uint32_t length = 1; length <= MAX_CODE_LENGTH; ++length)
        order.ofLength[length] = &storage[place[length]];
    for (std::uint32_t symbol = 0; symbol < lengths.size(); ++symbol) {
        if (lengths[symbol] != 0) storage[place[lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
    }
    return order;
}

// The code orders of the literal/length code, read at the places before
// `hlit`, and of the distance code, read from there on.
std::pair<CodeOrder, CodeOrder> ordersFromPlaces(const LengthPlaces& places, std::size_t hlit) {
    CodeOrder literals;
    CodeOrder distances;
    distances.firstPlace = static_cast<std::uint32_t>(hlit);
    for (std::uint32_t length = 1; length <= MAX_CODE_LENGTH; ++length) {
        const std::uint16_t* const all = places.ofLength[length].data();
        // The places of a length rise; the distance code's few come last.
        std::size_t split = places.count[length];
        while (split > 0 && all[split - 1] >= hlit) --split;
        literals.ofLength[length] = all;
        literals.count[length] = split;
        distances.ofLength[length] = all + split;
        distances.count[length] = places.count[length] - split;
    }
    return {literals, distances};
}

// Fills the table of a prefix code from its canonical codes, the long ones in
// subtables. Entries no code reaches stay 0, for the exact path.
//
// The short codes go in by increasing length. Before the codes of a length
// are entered, the part of the table filled so far is doubled: an entry for
// a code of fewer bits belongs wherever its bits come first, whatever the
// bits behind them. So each entry is written once, and copied in bulk.
template <unsigned Bits, typename EntryFor>
void fillFromCode(const CodeOrder& order, LookupTable& table, EntryFor entryFor) {
    const LengthCounts& count = order.count;
    std::array<std::uint32_t, MAX_CODE_LENGTH + 1> nextCode{};
    for (std::uint32_t bits = 2; bits <= MAX_CODE_LENGTH; ++bits)
        nextCode[bits] = static_cast<std::uint32_t>((nextCode[bits - 1] + count[bits - 1]) << 1);
    const auto symbolOf = [&](std::uint32_t length, std::size_t k) {
        return order.ofLength[length][k] - order.firstPlace;
    };

    // The doubling copies every entry from the first two, so only they need
    // clearing: the table is sized, not filled.
    table.resize(std::size_t{1} << Bits);
    LookupEntry* const entries = table.data();
    entries[0] = entries[1] = 0;
    // Unrolled, so that each doubling copies a size known when compiling: the
    // short ones are a few moves rather than a call.
#pragma GCC unroll 16
    for (std::uint32_t length = 1; length <= Bits; ++length) {
        if (length >= 2) std::memcpy(entries + (1u << (length - 1)), entries, sizeof(LookupEntry) << (length - 1));
        for (std::size_t k = 0; k < count[length]; ++k)
            entries[reverseBits(nextCode[length]++, length)] = entryFor(symbolOf(length, k), length);
    }

    constexpr unsigned SUBTABLE_BITS = MAX_CODE_LENGTH - Bits;
    for (std::uint32_t length = Bits + 1; length <= MAX_CODE_LENGTH; ++length) {
        for (std::size_t k = 0; k < count[length]; ++k) {
            const std::uint32_t code = reverseBits(nextCode[length]++, length);  // first bit lowest
            const std::uint32_t head = code & ((1u << Bits) - 1);
            if (table[head] == 0) {  // the first long code under this head: a new subtable
                table[head] = Bits | SUBTABLE_BITS << 8 | LookupEntry{table.size()} << 48 | SUBTABLE_FLAG;
                table.resize(table.size() + (std::size_t{1} << SUBTABLE_BITS), 0);
            }
            LookupEntry* subtable = &table[subtableStart(table[head])];
            const LookupEntry entry = entryFor(symbolOf(length, k), length);
            for (std::uint32_t i = code >> Bits; i < (1u << SUBTABLE_BITS); i += 1u << (length - Bits))
                subtable[i] = entry;
        }
    }
}

// Makes the table of a literal/length or distance code. A prefix code is
// checked by counting and filled from its codes, and its tree is built only if
// the exact path comes to need it; other lengths get their tree built now and
// the table derived from it. Returns 0 or INFLATE_TREE_OVERFULL, as the build would.
template <unsigned Bits, typename EntryFor>
unsigned prepareCode(const std::vector<std::uint32_t>& lengths, const CodeOrder& order, CodeTree& tree,
                     LookupTable& table, EntryFor entryFor, bool& treeDeferred) {
    const LengthCounts& count = order.count;
    treeDeferred = DeflateDecoder::fastPath && isPrefixCode(count);
    if (!treeDeferred) {
        const unsigned code = tree.build(lengths, MAX_CODE_LENGTH);
        if (code == 0) deriveLookup<Bits>(tree, table, entryFor);
        return code;
    }
    if (treeNodeCount(count) > lengths.size() - 1) return INFLATE_TREE_OVERFULL;
    fillFromCode<Bits>(order, table, entryFor);
    return 0;
}

struct FixedCode {
    CodeTree literals;
    CodeTree distances;
    LookupTable literalLookup;
    LookupTable distanceLookup;
};

// The fixed code never changes, so it is built once.
const FixedCode& fixedCode() {
    static const FixedCode code = [] {
        FixedCode fixed;
        fixed.literals.build(fixedLiteralLengths(), MAX_CODE_LENGTH);
        fixed.distances.build(std::vector<std::uint32_t>(DISTANCE_SYMBOLS, 5), MAX_CODE_LENGTH);
        deriveLookup<LITERAL_LOOKUP_BITS>(fixed.literals, fixed.literalLookup, literalEntry);
        deriveLookup<DISTANCE_LOOKUP_BITS>(fixed.distances, fixed.distanceLookup, distanceEntry);
        return fixed;
    }();
    return code;
}

// Copies a match of `length` bytes from `distance` bytes back to `to` in whole
// words. May write up to 32 bytes past the match (past the shortest one),
// which later output overwrites; the caller keeps room for them.
[[gnu::always_inline]] inline void copyMatchFast(std::uint8_t* to, std::size_t distance, std::size_t length) {
    const std::uint8_t* from = to - distance;
    if (distance >= 16) [[likely]] {
        // Most matches are short: the first 32 bytes go without a loop branch.
        std::memcpy(to, from, 16);
        std::memcpy(to + 16, from + 16, 16);
        for (std::size_t k = 32; k < length; k += 16) std::memcpy(to + k, from + k, 16);
    } else if (distance >= 8) {
        for (std::size_t k = 0; k < length; k += 8) std::memcpy(to + k, from + k, 8);
    } else if (distance == 1) {
        // A run of one byte; inline, as most runs are too short to be worth a call.
        const std::uint64_t run = 0x0101010101010101u * *from;
        std::memcpy(to, &run, 8);
        std::memcpy(to + 8, &run, 8);
        for (std::size_t k = 16; k < length; k += 8) std::memcpy(to + k, &run, 8);
    } else {
        // A short distance repeats a pattern of `distance` bytes. It is
        // gathered a byte at a time, as a wider load of bytes stored one by
        // one, lately, would wait for them to reach the cache, and laid down
        // eight bytes at a time from a register.
        struct Repeats {
            std::uint64_t spread;  // copies the pattern to every `distance` bytes
            unsigned right, left;  // from one word of the pattern to the next
        };
        static constexpr Repeats REPEATS[8] = {
            {},
            {},
            {0x0001000100010001, 0, 16},
            {0x0001000001000001, 16, 8},
            {0x0000000100000001, 0, 32},
            {0x0000010000000001, 24, 16},
            {0x0001000000000001, 16, 32},
            {0x0100000000000001, 8, 48},
        };
        std::uint64_t pattern = 0;
        for (std::size_t k = 0; k < 7; ++k) pattern |= std::uint64_t{from[k]} << (8 * k);
        const Repeats repeats = REPEATS[distance];
        std::uint64_t word = (pattern & ((std::uint64_t{1} << (8 * distance)) - 1)) * repeats.spread;
        storeLittleEndian64(to, word);
        // The word eight bytes on starts 8 mod distance bytes further into the pattern.
        for (std::size_t k = 8; k < length; k += 8) {
            word = word >> repeats.right | word << repeats.left;
            storeLittleEndian64(to + k, word);
        }
    }
}

// The field of `bits` that `control` names, as BMI's bit-field extraction
// takes it: from bit `control & 0xFF`, `control >> 8 & 0xFF` bits, which
// the caller knows to be Width. Where BMI is not used, a shift and a mask.
template <bool Bmi, unsigned Width>
[[gnu::always_inline]] inline std::uint64_t bitField(std::uint64_t bits, std::uint64_t control) {
#ifdef INFLATE_BMI2_LOOP
    if constexpr (Bmi) {
        std::uint64_t field;
        asm("bextr %2, %1, %0" : "=r"(field) : "r"(bits), "r"(control) : "cc");
        return field;
    }
#endif
    return (bits >> (control & 63)) & ((std::uint64_t{1} << Width) - 1);
}

// The value of the extra bits behind the code of `entry` at the start of `bits`.
template <bool Bmi>
[[gnu::always_inline]] inline std::size_t extraValue(std::uint64_t bits, LookupEntry entry) {
#ifdef INFLATE_BMI2_LOOP
    if constexpr (Bmi) return bitField<true, 0>(bits, entry >> 32);
#endif
    const auto extraBits = static_cast<std::uint32_t>(entry >> 40) & 0xFF;
    return (bits >> ((entry >> 32) & 63)) & ((std::uint64_t{1} << extraBits) - 1);
}

// Keeps the load behind `value` where it stands: the compiler would sink a
// load into the one branch that reads it, and the fast loop wants it issued
// before that branch.
template <typename T>
[[gnu::always_inline]] inline void keepHere(T& value) {
#ifdef __GNUC__
    asm volatile("" : "+r"(value));
#endif
}

// The literal byte, base length or base distance of `entry`.
std::size_t entryValue(LookupEntry entry) { return static_cast<std::size_t>(entry >> 48); }

// The entry of a long code, whose first `Bits` bits at the start of `bits` gave the subtable entry `head`.
template <bool Bmi, unsigned Bits>
[[gnu::always_inline]] inline LookupEntry lookUpLong(const LookupEntry* table, LookupEntry head, std::uint64_t bits) {
    return table[subtableStart(head) + bitField<Bmi, MAX_CODE_LENGTH - Bits>(bits, head)];
}

std::uint64_t loadLittleEndian64(const std::uint8_t* p) {
    std::uint64_t value;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
    return value;
}

// Tops `bits` up to at least 56 bits from `in`, the byte behind the `count`
// bits it holds, and moves `in` on past the bytes taken in whole. Only the low
// six bits of `count` are read, so a count that has had whole table entries
// taken off it serves as well as an exact one.
[[gnu::always_inline]] inline void refillBits(std::uint64_t& bits, std::uint32_t& count, const std::uint8_t*& in) {
    bits |= loadLittleEndian64(in) << (count & 63);
    in += ((63 - count) >> 3) & 7;
    count |= 56;
}

}  // namespace

// ---- Dynamic block headers --------------------------------------------------

namespace {

// A repeat among the code lengths: 16 repeats the length before it 3 to 6
// times, 17 writes 3 to 10 zeros and 18 11 to 138, their counts in the bits
// behind their codes; each has its own code for running past the places.
struct Repeat {
    unsigned countBits;
    std::size_t countBase;
    unsigned overrun;
};

Repeat repeatOf(std::uint32_t symbol) {
    if (symbol == 16) return {2, 3, INFLATE_REPEAT_OVERRUN};
    if (symbol == 17) return {3, 3, INFLATE_ZEROS_OVERRUN};
    return {7, 11, INFLATE_LONG_ZEROS_OVERRUN};
}

}  // namespace

void DeflateDecoder::readDynamicTrees() {
    if (!fieldFits(14)) return fail(INFLATE_DYNAMIC_HEADER_PAST_END);
    const std::size_t hlit = 257 + readBits(5);
    const std::size_t hdist = 1 + readBits(5);
    const std::size_t hclen = 4 + readBits(4);

    if (!fieldFits(static_cast<unsigned>(3 * hclen))) return fail(INFLATE_DYNAMIC_HEADER_PAST_END);
    codeLengthLengths_.assign(CODE_LENGTH_SYMBOLS, 0);
    for (std::size_t i = 0; i < hclen; ++i) codeLengthLengths_[CODE_LENGTH_ORDER[i]] = readBits(3);
    // The code-length code is made as the others are; its lengths have 3 bits,
    // so none is too long for its table.
    const auto codeLengthEntry = [](std::uint32_t symbol, std::uint32_t length) {
        return LookupEntry{length | CODE_LENGTH_LOOKUP_BITS << 8 | symbol << 16};
    };
    std::array<std::uint16_t, CODE_LENGTH_SYMBOLS> sorted;
    errorCode =
        prepareCode<CODE_LENGTH_LOOKUP_BITS>(codeLengthLengths_, sortByCode(codeLengthLengths_, sorted), codeLengthTree,
                                             codeLengthLookup_, codeLengthEntry, codeLengthTreeDeferred_);
    if (errorCode != 0) return;

    // Literal/length and distance lengths form one sequence, so that a repeat
    // crosses from the last literal/length length into the first distance one.
    const std::size_t places = hlit + hdist;
    std::vector<std::uint32_t> lengths(places, 0);
    LengthPlaces placesOf;
    std::size_t i = 0;
    while (i < places) {
        if (fastPath) {
            i = readCodeLengthsFast(lengths.data(), placesOf, i, places);
            if (i == places || errorCode != 0) break;
        }
        // One symbol the exact way, where the fast reading stopped.
        const std::uint32_t symbol = readCodeLengthSymbol();
        if (errorCode != 0) return;
        if (symbol < 16) {
            placesOf.add(symbol, i);
            lengths[i++] = symbol;
            continue;
        }
        if (symbol == 16 && i == 0) return fail(INFLATE_REPEAT_WITHOUT_LENGTH);
        const Repeat repeat = repeatOf(symbol);
        if (!fieldFits(repeat.countBits)) return fail(INFLATE_REPEAT_COUNT_PAST_END);
        const std::size_t count = repeat.countBase + readBits(repeat.countBits);
        const std::uint32_t value = symbol == 16 ? lengths[i - 1] : 0;
        for (std::size_t k = 0; k < count; ++k) {
            if (i == places) return fail(repeat.overrun);
            placesOf.add(value, i);
            lengths[i++] = value;
        }
    }

    if (errorCode != 0) return;

    literalLengths_.assign(LITERAL_SYMBOLS, 0);
    distanceLengths_.assign(DISTANCE_SYMBOLS, 0);
    std::copy(lengths.begin(), lengths.begin() + static_cast<std::ptrdiff_t>(hlit), literalLengths_.begin());
    std::copy(lengths.begin() + static_cast<std::ptrdiff_t>(hlit), lengths.end(), distanceLengths_.begin());
    if (literalLengths_[END_OF_BLOCK] == 0) return fail(INFLATE_NO_END_OF_BLOCK);

    const auto [literalOrder, distanceOrder] = ordersFromPlaces(placesOf, hlit);
    errorCode = prepareCode<LITERAL_LOOKUP_BITS>(literalLengths_, literalOrder, literalTree, literalLookup_,
                                                 literalEntry, literalTreeDeferred_);
    if (errorCode != 0) return;
    errorCode = prepareCode<DISTANCE_LOOKUP_BITS>(distanceLengths_, distanceOrder, distanceTree, distanceLookup_,
                                                  distanceEntry, distanceTreeDeferred_);
}

// Reads code lengths into `lengths`, which holds zeros from place `i` on, and
// notes their places in `placesOf`, while eight bytes of the current piece lie
// ahead and the table knows each code: a symbol and its repeat count, 14 bits
// at most, then lie within the bits at hand, and cannot run past the end. A
// length waits on the one before it for a lookup and the extraction of its
// index only. Returns the place where it stopped, at `places`, at a symbol
// left to the exact reading, or on an error, which it reports as the exact
// reading would.
template <bool Bmi>
[[gnu::always_inline]] inline std::size_t DeflateDecoder::readCodeLengthsFastLoop(std::uint32_t* lengths,
                                                                                  LengthPlaces& placesOf, std::size_t i,
                                                                                  std::size_t places) {
    const std::size_t start = piece_.start;
    const std::size_t first = static_cast<std::size_t>(bitPos_ >> 3);  // of the data
    if (first < start || first - start + 1 + FAST_INPUT_MARGIN > piece_.bytes.size()) return i;
    const std::uint8_t* const bytes = piece_.bytes.data();
    const std::uint8_t* const limit = bytes + piece_.bytes.size() - FAST_INPUT_MARGIN;
    // As in the fast loop: `bits` holds `available` bits of the data before
    // `in`, topped up to at least 56 without a branch, and the index of the
    // next entry is cut from them before the refill.
    const std::uint8_t* in = bytes + (first - start) + 1;
    std::uint64_t bits = bytes[first - start] >> (bitPos_ & 7);
    std::uint32_t available = 8 - static_cast<std::uint32_t>(bitPos_ & 7);
    const auto refill = [&] { refillBits(bits, available, in); };
    constexpr std::uint64_t MASK = (1u << CODE_LENGTH_LOOKUP_BITS) - 1;
    refill();
    std::uint64_t index = bits & MASK;
    while (i < places && in <= limit) {
        const LookupEntry entry = codeLengthLookup_[index];
        if (entry == 0) break;
        const auto codeLength = static_cast<unsigned>(entry & 0xFF);
        const auto symbol = static_cast<std::uint32_t>(entry >> 16);
        if (symbol < 16) {
            index = bitField<Bmi, CODE_LENGTH_LOOKUP_BITS>(bits, entry);
            placesOf.add(symbol, i);
            lengths[i++] = symbol;
            bits >>= codeLength;
            available -= codeLength;
            refill();
            continue;
        }
        if (symbol == 16 && i == 0) {
            fail(INFLATE_REPEAT_WITHOUT_LENGTH);
            break;
        }
        const Repeat repeat = repeatOf(symbol);
        const std::size_t count = repeat.countBase + ((bits >> codeLength) & ((1u << repeat.countBits) - 1));
        if (count > places - i) {
            fail(repeat.overrun);
            break;
        }
        // The places hold zeros until written: a run of zeros is stepped over.
        if (symbol == 16) {
            std::fill_n(lengths + i, count, lengths[i - 1]);
            placesOf.addRepeats(lengths[i - 1], i, count);
        }
        i += count;
        bits >>= codeLength + repeat.countBits;
        available -= codeLength + repeat.countBits;
        index = bits & MASK;
        refill();
    }
    bitPos_ = 8 * static_cast<std::uint64_t>(start + static_cast<std::size_t>(in - bytes)) - available;
    return i;
}

std::size_t DeflateDecoder::readCodeLengthsFast(std::uint32_t* lengths, LengthPlaces& placesOf, std::size_t i,
                                                std::size_t places) {
#ifdef INFLATE_BMI2_LOOP
    if (hasBmi()) return readCodeLengthsFastBmi(lengths, placesOf, i, places);
#endif
    return readCodeLengthsFastLoop<false>(lengths, placesOf, i, places);
}

#ifdef INFLATE_BMI2_LOOP
[[gnu::target("bmi,bmi2")]] std::size_t DeflateDecoder::readCodeLengthsFastBmi(std::uint32_t* lengths,
                                                                               LengthPlaces& placesOf, std::size_t i,
                                                                               std::size_t places) {
    return readCodeLengthsFastLoop<true>(lengths, placesOf, i, places);
}
#endif

// Where the fast path goes on reading at `byte`, eight bytes of the data
// lying from there: in the piece that holds it while eight of its bytes are
// left, else in a copy of the next SEAM_BYTES of the data, across the pieces'
// ends.
DeflateDecoder::Stretch DeflateDecoder::stretchAt(std::size_t byte) {
    seek(byte);
    const std::span<const std::uint8_t> piece = piece_.bytes;
    const std::size_t offset = byte - piece_.start;
    if (piece.size() - offset >= FAST_INPUT_MARGIN)
        return {piece.data(), piece.data() + offset, piece.data() + piece.size() - FAST_INPUT_MARGIN, piece_.start};
    const std::size_t n = std::min(SEAM_BYTES, dataLength_ - byte);
    // piece_ is left at least eight bytes before where the next stretch will
    // begin, so that the fast path can mark it as lying behind every bit it
    // may hand back from there.
    copyInput(seam_.data(), byte, n, byte + n - std::min(n, 2 * FAST_INPUT_MARGIN));
    return {seam_.data(), seam_.data(), seam_.data() + n - FAST_INPUT_MARGIN, byte};
}

// A code-length symbol, from the table where the bits lie in one piece.
inline std::uint32_t DeflateDecoder::readCodeLengthSymbol() {
    std::uint32_t bits = 0;
    if (fastPath && peekWord(bits)) {
        const LookupEntry entry = codeLengthLookup_[bits & ((1u << CODE_LENGTH_LOOKUP_BITS) - 1)];
        if (entry != 0) {
            bitPos_ += entry & 0xFF;
            return static_cast<std::uint32_t>(entry >> 16);
        }
    }
    if (codeLengthTreeDeferred_) codeLengthTree.build(codeLengthLengths_, MAX_CODE_LENGTH);
    codeLengthTreeDeferred_ = false;
    return readSymbol(codeLengthTree);
}

// Builds the trees whose building prepareCode put off; the build cannot fail then.
void DeflateDecoder::buildDeferredTrees() {
    if (literalTreeDeferred_) literalTree.build(literalLengths_, MAX_CODE_LENGTH);
    if (distanceTreeDeferred_) distanceTree.build(distanceLengths_, MAX_CODE_LENGTH);
    literalTreeDeferred_ = distanceTreeDeferred_ = false;
}

// ---- Coded data: the fast loop and the exact path ---------------------------

void DeflateDecoder::inflateCodedBlock(unsigned btype) {
    literalTreeDeferred_ = distanceTreeDeferred_ = false;
    if (btype == 1) {
        const FixedCode& fixed = fixedCode();
        return decodeCodedData(fixed.literals, fixed.distances, fixed.literalLookup.data(),
                               fixed.distanceLookup.data());
    }
    readDynamicTrees();
    if (errorCode != 0) return;
    decodeCodedData(literalTree, distanceTree, literalLookup_.data(), distanceLookup_.data());
}

void DeflateDecoder::decodeCodedData(const CodeTree& literals, const CodeTree& distances,
                                     const LookupEntry* literalLookup, const LookupEntry* distanceLookup) {
    for (;;) {
        if (sink_ != nullptr && outPos_ < enough_ && out_->size() - outPos_ < FAST_OUTPUT_MARGIN) flush();
        if (fastPath && decodeFast(literalLookup, distanceLookup)) return;  // the end of the block
        if (!decodeSymbolExact(literals, distances)) return;
    }
}

// Decodes symbols from the lookup tables while the data and the output room
// allow. Returns true at the end of the block, false where the exact path has
// to take over: then nothing of the current symbol has been consumed.
//
// The state lives in locals, so that the byte stores into the output do not
// force it out of registers. `bitBuffer` holds the unconsumed bits (first bit
// lowest) of the data before `in`, as many as the low byte of `bitCount` says,
// and possibly some of the bits that follow, which are the data's own bits
// too. Only that low byte counts: whole entries are subtracted from it, which
// saves masking them. The entry of the next symbol is looked up from the
// table as soon as its bits are known, ahead of the refill and the copy; a
// long code's subtable is looked into at the top of the loop, after a refill.
//
// Most matches end a run of literals, where the branch has been predicting
// another literal: the match starts only once that misprediction is found.
// So every entry the loop holds comes with a guess at a distance entry, looked
// up before the branch from the index cut for the entry's successor. For a
// length code that index is its distance code's, and the match finds its
// distance entry loaded; for a literal the guess goes unused.
template <bool Bmi>
[[gnu::always_inline]] inline bool DeflateDecoder::decodeFastLoop(const LookupEntry* literalLookup,
                                                                  const LookupEntry* distanceLookup) {
    // The symbol that reaches `enough_` is always left to the exact path, which
    // ends there.
    const std::size_t room = std::min(out_->size(), enough_);
    const std::size_t first = static_cast<std::size_t>(bitPos_ >> 3);
    if (first + 1 + FAST_INPUT_MARGIN > dataLength_ || room < FAST_OUTPUT_MARGIN) return false;
    std::uint8_t* const out = out_->data();
    const std::uint8_t* const outLimit = out + room - FAST_OUTPUT_MARGIN;
    std::uint8_t* o = out + outPos_;                           // where the next byte goes
    std::uint64_t bitBuffer = byteAt(first) >> (bitPos_ & 7);  // the rest of the current byte
    mark_ = piece_;
    std::uint32_t bitCount = 8 - (bitPos_ & 7);
    Stretch input = stretchAt(first + 1);
    const std::uint8_t* in = input.at;
    bool endOfBlock = false;
    constexpr std::uint32_t LITERAL_MASK = (1u << LITERAL_LOOKUP_BITS) - 1;

    // Tops the buffer up to at least 56 bits: enough for three literals (the
    // first through a subtable, the others not) and the first bits of the
    // code after them; for two literals, a length code and its extra bits,
    // and the bits of the distance entry's index (48); or for a length code
    // and a distance code with their extra bits (48).
    const auto refill = [&] { refillBits(bitBuffer, bitCount, in); };
    // The index of the literal/length entry behind `entry`'s code, cut from
    // the bits before that code is consumed, so that the lookup waits on one
    // operation rather than on the shift and a mask.
    const auto nextLiteralIndex = [&](LookupEntry entry) {
        return bitField<Bmi, LITERAL_LOOKUP_BITS>(bitBuffer, entry);
    };
    // Consumes the code of `entry` and its extra bits.
    const auto consume = [&](LookupEntry entry) {
        bitBuffer >>= entry & 63;
        bitCount -= static_cast<std::uint32_t>(entry);
    };
    constexpr std::uint64_t DISTANCE_MASK = (1u << DISTANCE_LOOKUP_BITS) - 1;
    LookupEntry entry = 0;
    std::uint64_t nextIndex = 0;  // nextLiteralIndex(entry)
    LookupEntry distanceGuess = 0;
    const auto hold = [&](LookupEntry held) {
        entry = held;
        nextIndex = nextLiteralIndex(entry);
        distanceGuess = distanceLookup[nextIndex & DISTANCE_MASK];
        keepHere(distanceGuess);
    };
    refill();
    hold(literalLookup[bitBuffer & LITERAL_MASK]);
    const std::uint8_t* inLimit = input.limit;
    while (o <= outLimit) {
        if (in > inLimit) [[unlikely]] {
            // Past the piece's last eight bytes: on in the next stretch, or to the exact path at the end.
            const std::size_t next = input.origin + static_cast<std::size_t>(in - input.begin);
            if (next + FAST_INPUT_MARGIN > dataLength_) break;
            // The bits at hand all lie within eight bytes before `next`.
            if (piece_.start + FAST_INPUT_MARGIN <= next) mark_ = piece_;
            input = stretchAt(next);
            in = input.at;
            inLimit = input.limit;
        }
        if ((entry & LITERAL_FLAG) != 0) {
            // Up to two more literals straight from the table, without a refill.
            consume(entry);
            *o++ = static_cast<std::uint8_t>(entryValue(entry));
            hold(literalLookup[nextIndex]);
            if ((entry & LITERAL_FLAG) != 0) {
                consume(entry);
                *o++ = static_cast<std::uint8_t>(entryValue(entry));
                hold(literalLookup[nextIndex]);
                if ((entry & LITERAL_FLAG) != 0) {
                    consume(entry);
                    *o++ = static_cast<std::uint8_t>(entryValue(entry));
                    // The bits at hand may not reach a fourth symbol's distance index.
                    const LookupEntry fourth = literalLookup[nextIndex];
                    refill();
                    hold(fourth);
                    continue;
                }
            }
            refill();
            continue;
        }
        if ((entry & SUBTABLE_FLAG) != 0) [[unlikely]] {
            hold(lookUpLong<Bmi, LITERAL_LOOKUP_BITS>(literalLookup, entry, bitBuffer));
            continue;
        }
        if ((entry & LENGTH_FLAG) == 0) [[unlikely]] {
            if (entry == 0) break;
            consume(entry);
            if ((entry & END_OF_BLOCK_FLAG) != 0) {
                endOfBlock = true;
                break;
            }
            refill();  // after a skipped symbol
            hold(literalLookup[bitBuffer & LITERAL_MASK]);
            continue;
        }

        // A match: its distance entry is the guess, cut from the bits before
        // the length code was consumed, as a literal's successor is.
        const std::uint64_t beforeLength = bitBuffer;
        const std::size_t length = entryValue(entry) + extraValue<Bmi>(beforeLength, entry);
        LookupEntry distanceEntry = distanceGuess;
        consume(entry);
        if ((distanceEntry & SUBTABLE_FLAG) != 0) [[unlikely]]
            distanceEntry = lookUpLong<Bmi, DISTANCE_LOOKUP_BITS>(distanceLookup, distanceEntry, bitBuffer);
        const std::size_t distance = entryValue(distanceEntry) + extraValue<Bmi>(bitBuffer, distanceEntry);
        // An entry of 0 gives distance 0, which wraps here: one test finds both
        // a code with no distance and a distance before the output.
        if (distance - 1 >= static_cast<std::size_t>(o - out)) [[unlikely]] {
            // The exact path reports these; it starts again at the length code.
            bitCount += static_cast<std::uint32_t>(entry);
            bitBuffer = beforeLength;
            break;
        }
        // The next entry, from the bits at hand when there are enough of them,
        // so that its lookup need not wait for the refill's load.
        const bool enoughForNext = ((bitCount - distanceEntry) & 0xFF) >= LITERAL_LOOKUP_BITS;
        entry = literalLookup[nextLiteralIndex(distanceEntry)];
        consume(distanceEntry);
        refill();
        if (!enoughForNext) entry = literalLookup[bitBuffer & LITERAL_MASK];
        hold(entry);
        copyMatchFast(o, distance, length);
        o += length;
    }
    outPos_ = static_cast<std::size_t>(o - out);
    bitPos_ =
        8 * static_cast<std::uint64_t>(input.origin + static_cast<std::size_t>(in - input.begin)) - (bitCount & 0xFF);
    return endOfBlock;
}

bool DeflateDecoder::decodeFast(const LookupEntry* literalLookup, const LookupEntry* distanceLookup) {
#ifdef INFLATE_BMI2_LOOP
    if (hasBmi()) return decodeFastBmi2(literalLookup, distanceLookup);
#endif
    return decodeFastLoop<false>(literalLookup, distanceLookup);
}

#ifdef INFLATE_BMI2_LOOP
[[gnu::target("bmi,bmi2")]] bool DeflateDecoder::decodeFastBmi2(const LookupEntry* literalLookup,
                                                                const LookupEntry* distanceLookup) {
    return decodeFastLoop<true>(literalLookup, distanceLookup);
}
#endif

// Decodes one symbol, and the match it starts, bit by bit. Returns false at the
// end of the block or on an error.
bool DeflateDecoder::decodeSymbolExact(const CodeTree& literals, const CodeTree& distances) {
    if (outPos_ >= enough_) return false;  // the caller has what it needs
    buildDeferredTrees();
    ByteVector& out = *out_;
    const std::uint32_t symbol = readSymbol(literals);
    if (errorCode != 0 || symbol == END_OF_BLOCK) return false;
    if (symbol < END_OF_BLOCK) {
        ensureRoom(1);
        out[outPos_++] = static_cast<std::uint8_t>(symbol);
        return true;
    }
    // Symbols 286 and 287 never occur in valid data. They are consumed
    // without output rather than refused, so that a level whose encoder let
    // one slip through still loads.
    if (symbol > LAST_LENGTH_SYMBOL) return true;

    const std::uint32_t lengthIndex = symbol - 257;
    if (!fieldFits(LENGTH_EXTRA[lengthIndex])) return fail(INFLATE_EXTRA_BITS_PAST_END), false;
    const std::size_t length = LENGTH_BASE[lengthIndex] + readBits(LENGTH_EXTRA[lengthIndex]);

    const std::uint32_t distanceSymbol = readSymbol(distances);
    if (errorCode != 0) return false;
    if (distanceSymbol > LAST_DISTANCE_SYMBOL) return fail(INFLATE_BAD_DISTANCE_SYMBOL), false;
    if (!fieldFits(DISTANCE_EXTRA[distanceSymbol])) return fail(INFLATE_EXTRA_BITS_PAST_END), false;
    const std::size_t distance = DISTANCE_BASE[distanceSymbol] + readBits(DISTANCE_EXTRA[distanceSymbol]);
    if (distance > outPos_) return fail(INFLATE_DISTANCE_TOO_FAR), false;

    // Grows only when the match does not fit: a caller that sized the output
    // exactly keeps its buffer even when the data ends in a match.
    ensureRoom(length);
    copyMatch(length, distance);
    return true;
}

// ---- Matches ----------------------------------------------------------------

// Room for `bytes` more: twice what is then needed, but no more than
// `enough_` unless they need it.
void DeflateDecoder::makeRoom(std::size_t bytes) {
    const std::size_t needed = outPos_ + bytes;
    out_->resize(std::max(needed, std::min(2 * needed, enough_)));
}

// Byte by byte, so that a distance shorter than the length repeats the last bytes.
void DeflateDecoder::copyMatch(std::size_t length, std::size_t distance) {
    std::uint8_t* to = out_->data() + outPos_;
    const std::uint8_t* from = to - distance;
    for (std::size_t k = 0; k < length; ++k) to[k] = from[k];
    outPos_ += length;
}
