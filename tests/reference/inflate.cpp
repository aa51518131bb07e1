// The plain decoder as it stood before the fast rewrite, kept as the reference
// that the differential test and the fuzz targets hold the fast decoder to.
// Do not change it: where the two differ, the fast one is wrong.

#include "tests/reference/inflate.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace reference {

namespace {

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

std::vector<std::uint32_t> fixedLiteralLengths() {
    std::vector<std::uint32_t> lengths(LITERAL_SYMBOLS);
    for (std::size_t s = 0; s < LITERAL_SYMBOLS; ++s) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    return lengths;
}

}  // namespace

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

void DeflateDecoder::fail(unsigned code) {
    if (errorCode == 0) errorCode = code;
}

// True when a field of `bits` bits begins before the end of the data and ends within it.
bool DeflateDecoder::fieldFits(unsigned bits) const {
    const std::uint64_t end = 8 * static_cast<std::uint64_t>(dataLength_);
    return bitPos_ < end && bitPos_ + bits <= end;
}

std::uint32_t DeflateDecoder::readBits(unsigned n) {
    std::uint32_t value = 0;
    for (unsigned i = 0; i < n; ++i, ++bitPos_)
        value |= static_cast<std::uint32_t>((data_[bitPos_ >> 3] >> (bitPos_ & 7)) & 1u) << i;
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

void DeflateDecoder::inflate(ByteVector& out, const ByteVector& in) {
    errorCode = 0;
    data_ = in.data() + 2;
    dataLength_ = in.size() - 2;
    bitPos_ = 0;
    outPos_ = 0;
    out_ = &out;

    bool final = false;
    while (!final && errorCode == 0) {
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
    if (errorCode == 0) out.resize(outPos_);
    out_ = nullptr;
    data_ = nullptr;
}

void DeflateDecoder::inflateStoredBlock() {
    bitPos_ = (bitPos_ + 7) & ~std::uint64_t{7};
    const std::size_t p = static_cast<std::size_t>(bitPos_ >> 3);
    if (p > dataLength_ || dataLength_ - p < 4) return fail(INFLATE_BLOCK_HEADER_PAST_END);

    const std::size_t len = data_[p] + 256u * data_[p + 1];
    const std::size_t nlen = data_[p + 2] + 256u * data_[p + 3];
    if (len + nlen != 65535) return fail(INFLATE_STORED_LENGTH_MISMATCH);

    ByteVector& out = *out_;
    if (outPos_ + len >= out.size()) out.resize(outPos_ + len);
    if (p + 4 + len > dataLength_) return fail(INFLATE_STORED_PAST_END);

    if (len > 0) std::memcpy(out.data() + outPos_, data_ + p + 4, len);
    outPos_ += len;
    bitPos_ = 8 * static_cast<std::uint64_t>(p + 4 + len);
}

void DeflateDecoder::buildFixedTrees() {
    literalTree.build(fixedLiteralLengths(), MAX_CODE_LENGTH);
    distanceTree.build(std::vector<std::uint32_t>(DISTANCE_SYMBOLS, 5), MAX_CODE_LENGTH);
}

void DeflateDecoder::readDynamicTrees() {
    if (!fieldFits(14)) return fail(INFLATE_DYNAMIC_HEADER_PAST_END);
    const std::size_t hlit = 257 + readBits(5);
    const std::size_t hdist = 1 + readBits(5);
    const std::size_t hclen = 4 + readBits(4);

    if (!fieldFits(static_cast<unsigned>(3 * hclen))) return fail(INFLATE_DYNAMIC_HEADER_PAST_END);
    std::vector<std::uint32_t> codeLengthLengths(CODE_LENGTH_SYMBOLS, 0);
    for (std::size_t i = 0; i < hclen; ++i) codeLengthLengths[CODE_LENGTH_ORDER[i]] = readBits(3);
    errorCode = codeLengthTree.build(codeLengthLengths, 7);
    if (errorCode != 0) return;

    // Literal/length and distance lengths form one sequence, so that a repeat
    // crosses from the last literal/length length into the first distance one.
    const std::size_t places = hlit + hdist;
    std::vector<std::uint32_t> lengths(places, 0);
    std::size_t i = 0;
    while (i < places) {
        const std::uint32_t symbol = readSymbol(codeLengthTree);
        if (errorCode != 0) return;
        if (symbol < 16) {
            lengths[i++] = symbol;
            continue;
        }
        if (symbol == 16 && i == 0) return fail(INFLATE_REPEAT_WITHOUT_LENGTH);
        const unsigned countBits = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
        if (!fieldFits(countBits)) return fail(INFLATE_REPEAT_COUNT_PAST_END);
        const std::size_t count = (symbol == 18 ? 11 : 3) + readBits(countBits);
        const std::uint32_t value = symbol == 16 ? lengths[i - 1] : 0;
        const unsigned overrun = symbol == 16   ? INFLATE_REPEAT_OVERRUN
                                 : symbol == 17 ? INFLATE_ZEROS_OVERRUN
                                                : INFLATE_LONG_ZEROS_OVERRUN;
        for (std::size_t k = 0; k < count; ++k) {
            if (i == places) return fail(overrun);
            lengths[i++] = value;
        }
    }

    std::vector<std::uint32_t> literalLengths(LITERAL_SYMBOLS, 0);
    std::vector<std::uint32_t> distanceLengths(DISTANCE_SYMBOLS, 0);
    std::copy(lengths.begin(), lengths.begin() + static_cast<std::ptrdiff_t>(hlit), literalLengths.begin());
    std::copy(lengths.begin() + static_cast<std::ptrdiff_t>(hlit), lengths.end(), distanceLengths.begin());
    if (literalLengths[END_OF_BLOCK] == 0) return fail(INFLATE_NO_END_OF_BLOCK);

    errorCode = literalTree.build(literalLengths, MAX_CODE_LENGTH);
    if (errorCode == 0) errorCode = distanceTree.build(distanceLengths, MAX_CODE_LENGTH);
}

void DeflateDecoder::inflateCodedBlock(unsigned btype) {
    if (btype == 1)
        buildFixedTrees();
    else
        readDynamicTrees();
    ByteVector& out = *out_;

    while (errorCode == 0) {
        const std::uint32_t symbol = readSymbol(literalTree);
        if (errorCode != 0 || symbol == END_OF_BLOCK) return;
        if (symbol < END_OF_BLOCK) {
            if (outPos_ >= out.size()) out.resize((outPos_ + 1) * 2);
            out[outPos_++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        // Symbols 286 and 287 never occur in valid data; they are consumed
        // without output, as the classic decoder does, so files that carry one
        // still decode.
        if (symbol > LAST_LENGTH_SYMBOL) continue;

        const std::uint32_t lengthIndex = symbol - 257;
        if (!fieldFits(LENGTH_EXTRA[lengthIndex])) return fail(INFLATE_EXTRA_BITS_PAST_END);
        const std::size_t length = LENGTH_BASE[lengthIndex] + readBits(LENGTH_EXTRA[lengthIndex]);

        const std::uint32_t distanceSymbol = readSymbol(distanceTree);
        if (errorCode != 0) return;
        if (distanceSymbol > LAST_DISTANCE_SYMBOL) return fail(INFLATE_BAD_DISTANCE_SYMBOL);
        if (!fieldFits(DISTANCE_EXTRA[distanceSymbol])) return fail(INFLATE_EXTRA_BITS_PAST_END);
        const std::size_t distance = DISTANCE_BASE[distanceSymbol] + readBits(DISTANCE_EXTRA[distanceSymbol]);
        if (distance > outPos_) return fail(INFLATE_DISTANCE_TOO_FAR);

        copyMatch(length, distance);
    }
}

// Byte by byte, so that a distance shorter than the length repeats the last bytes.
void DeflateDecoder::copyMatch(std::size_t length, std::size_t distance) {
    ByteVector& out = *out_;
    if (outPos_ + length >= out.size()) out.resize((outPos_ + length) * 2);
    for (std::size_t k = 0; k < length; ++k, ++outPos_) out[outPos_] = out[outPos_ - distance];
}

}  // namespace reference
