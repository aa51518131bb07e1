#pragma once

// PNG files put together chunk by chunk: the signature, then each chunk with
// its length and CRC. The game writes no images; its icon tool does, and the
// tests build their inputs this way so that they can split, insert and corrupt
// chunks at will.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "image/byte_vector.h"

struct Chunk {
    std::string type;
    ByteVector data;
};

inline void putU32(ByteVector& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

inline std::uint32_t crc32Of(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

inline ByteVector assemble(const std::vector<Chunk>& chunks) {
    ByteVector file = {137, 80, 78, 71, 13, 10, 26, 10};
    for (const Chunk& chunk : chunks) {
        putU32(file, static_cast<std::uint32_t>(chunk.data.size()));
        const std::size_t typeAt = file.size();
        file.insert(file.end(), chunk.type.begin(), chunk.type.end());
        file.insert(file.end(), chunk.data.begin(), chunk.data.end());
        putU32(file, crc32Of(file.data() + typeAt, file.size() - typeAt));
    }
    return file;
}

inline Chunk ihdr(std::uint32_t width, std::uint32_t height, int depth, int colorType, int interlace = 0) {
    Chunk chunk{"IHDR", {}};
    putU32(chunk.data, width);
    putU32(chunk.data, height);
    chunk.data.insert(chunk.data.end(), {static_cast<std::uint8_t>(depth), static_cast<std::uint8_t>(colorType), 0, 0,
                                         static_cast<std::uint8_t>(interlace)});
    return chunk;
}

inline const Chunk IEND{"IEND", {}};

// `raw` as a zlib stream of stored blocks, 65535 bytes at most each: no
// compression, for what is small or only needs to be read.
inline ByteVector storedZlib(const ByteVector& raw) {
    ByteVector out{0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t length = std::min<std::size_t>(raw.size() - at, 65535);
        out.push_back(at + length == raw.size() ? 1 : 0);  // the last block or not, stored
        for (const std::size_t half : {length, ~length & 0xFFFF}) {
            out.push_back(static_cast<std::uint8_t>(half));
            out.push_back(static_cast<std::uint8_t>(half >> 8));
        }
        out.insert(out.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                   raw.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    } while (at < raw.size());
    std::uint32_t a = 1, b = 0;
    for (const std::uint8_t byte : raw) a = (a + byte) % 65521, b = (b + a) % 65521;
    putU32(out, b << 16 | a);
    return out;
}
