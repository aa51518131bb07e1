// Writes zlib fuzz inputs made by the system zlib into the folder given: text,
// random bytes, runs and a mix, at every kind of block and window, each once
// with no room and once with the exact room (the two leading bytes, see
// differential::compareZlibFuzzInput).

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "tests/image/zlib_oracle.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes sample(int kind, std::size_t size, std::mt19937& rng) {
    static const char text[] = "the snake eats the food and the level fades; ";
    Bytes data(size);
    for (std::size_t i = 0; i < size; ++i) {
        const int k = kind == 3 ? int(i / 500 % 3) : kind;
        data[i] = k == 0   ? std::uint8_t(text[i % (sizeof text - 1)])
                  : k == 1 ? std::uint8_t(rng())
                           : std::uint8_t(i / 97);
    }
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: zlib_seeds FOLDER\n", stderr);
        return 2;
    }
    const struct {
        int level, strategy, windowBits;
    } settings[] = {{0, Z_DEFAULT_STRATEGY, 15},
                    {1, Z_DEFAULT_STRATEGY, 15},
                    {6, Z_DEFAULT_STRATEGY, 15},
                    {9, Z_DEFAULT_STRATEGY, 9},
                    {6, Z_FILTERED, 15},
                    {6, Z_HUFFMAN_ONLY, 15},
                    {6, Z_RLE, 15},
                    {6, Z_FIXED, 15}};
    std::mt19937 rng(1950);
    int written = 0;
    for (int kind = 0; kind < 4; ++kind)
        for (const std::size_t size : {0, 5, 100, 1000, 6000})
            for (const auto& s : settings) {
                const Bytes stream = compressWithZlib(sample(kind, size, rng), s.level, s.strategy, s.windowBits);
                for (const std::uint8_t roomChoice : {0x00, 0x40}) {  // no room; exact room
                    std::ofstream out(std::string(argv[1]) + "/seed" + std::to_string(written++) + ".zlib",
                                      std::ios::binary);
                    const char choice[2] = {0, char(roomChoice)};
                    out.write(choice, 2);
                    out.write(reinterpret_cast<const char*>(stream.data()), std::streamsize(stream.size()));
                    if (!out) return 1;
                }
            }
    std::printf("zlib_seeds: %d inputs in %s\n", written, argv[1]);
    return 0;
}
