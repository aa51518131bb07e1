#pragma once

// Builds DEFLATE data by hand: fields go in least significant bit first, Huffman codes most significant bit first.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "image/byte_vector.h"

class BitWriter {
public:
    // Appends the low `nbits` bits of `value` (up to 32), least significant first.
    BitWriter& put(std::uint32_t value, unsigned nbits) {
        for (unsigned i = 0; i < nbits; ++i, ++bits_) {
            if (bits_ % 8 == 0) bytes_.push_back(0);
            bytes_.back() |= static_cast<std::uint8_t>(((value >> i) & 1u) << (bits_ % 8));
        }
        return *this;
    }
    // Appends a Huffman code of `length` bits, most significant first.
    BitWriter& putHuffman(std::uint32_t code, unsigned length) {
        for (unsigned i = length; i-- > 0;) put(code >> i, 1);
        return *this;
    }
    std::size_t bits() const { return bits_; }
    // The data so far, the last byte padded with zero bits.
    const ByteVector& bytes() const { return bytes_; }

private:
    ByteVector bytes_;
    std::size_t bits_ = 0;
};

// A zlib stream for decompressZlibStream: the header 78 01 (deflate, 32 KiB window), then `deflate`, no trailer.
inline ByteVector zlibWrap(const ByteVector& deflate) {
    ByteVector stream(2 + deflate.size());
    stream[0] = 0x78;
    stream[1] = 0x01;
    std::copy(deflate.begin(), deflate.end(), stream.begin() + 2);
    return stream;
}
