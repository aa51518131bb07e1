#pragma once

// The system zlib as the maker of test streams, and the data they carry.

#include <zlib.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "image/byte_vector.h"

struct Deflate {
    int level, strategy, windowBits;
};

// `data` deflated by zlib, as a zlib stream with its Adler-32 trailer.
inline ByteVector compressWithZlib(const ByteVector& data, Deflate how) {
    z_stream z{};
    deflateInit2(&z, how.level, Z_DEFLATED, how.windowBits, 8, how.strategy);
    ByteVector out(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Every level, every strategy, and windows from 256 bytes up: every kind of
// block, and distances limited to every window size.
inline std::vector<Deflate> everySetting() {
    std::vector<Deflate> settings;
    for (int level = 0; level <= 9; ++level) settings.push_back({level, Z_DEFAULT_STRATEGY, 15});
    for (int strategy : {Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED}) settings.push_back({6, strategy, 15});
    for (int windowBits : {8, 9, 11, 13}) settings.push_back({9, Z_DEFAULT_STRATEGY, windowBits});
    return settings;
}

inline std::size_t pick(std::mt19937& rng, std::size_t n) { return n == 0 ? 0 : rng() % n; }

// Segments of text from a few words, random bytes, runs of one byte, and copies
// from up to 32 KiB back, so that every block type and distance range occurs.
// `only` keeps to one kind of segment.
inline ByteVector sampleData(std::size_t size, std::mt19937& rng, int only = -1) {
    static const std::string words[] = {"snake ", "food ", "level ", "the ", "fading ", "grid\n", "sight, "};
    const std::size_t segment = std::clamp<std::size_t>(size / 8, 16, 4000);
    ByteVector data;
    while (data.size() < size) {
        std::size_t n = 1 + pick(rng, segment);
        switch (only >= 0 ? only : rng() % 4) {
        case 0:
            while (n-- > 0) {
                const std::string& word = words[pick(rng, std::size(words))];
                data.insert(data.end(), word.begin(), word.end());
            }
            break;
        case 1:
            while (n-- > 0) data.push_back(std::uint8_t(rng()));
            break;
        case 2: data.insert(data.end(), n, std::uint8_t(rng())); break;
        default:
            if (data.empty()) break;
            for (const std::size_t distance = 1 + pick(rng, std::min<std::size_t>(data.size(), 32768)); n-- > 0;)
                data.push_back(data[data.size() - distance]);
            break;
        }
    }
    data.resize(size);
    return data;
}
