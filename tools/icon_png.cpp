// Writes the window's 16 x 16 icon as an RGBA PNG of SIZE x SIZE pixels, each
// icon pixel enlarged to a square block, so that the desktop's menu shows the
// same art as the window, sharp at every size. The game links no image
// library, and an icon needs no compression: the image data goes in stored
// DEFLATE blocks.
//
// usage: icon_png SIZE OUT.png   (SIZE a multiple of 16)

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "shell/shell.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void putU32(Bytes& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

void putChunk(Bytes& png, const char* type, const Bytes& data) {
    putU32(png, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    putU32(png, crc32(png.data() + start, png.size() - start));
}

// A zlib stream of stored blocks, at most 65535 bytes each.
Bytes storedZlib(const Bytes& raw) {
    Bytes out{0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t length = std::min<std::size_t>(raw.size() - at, 65535);
        out.push_back(at + length == raw.size() ? 1 : 0);  // last block or not, stored
        for (const std::size_t half : {length, ~length & 0xFFFF}) {
            out.push_back(static_cast<std::uint8_t>(half));
            out.push_back(static_cast<std::uint8_t>(half >> 8));
        }
        out.insert(out.end(), raw.begin() + at, raw.begin() + at + length);
        at += length;
    } while (at < raw.size());
    std::uint32_t a = 1, b = 0;
    for (const std::uint8_t byte : raw) a = (a + byte) % 65521, b = (b + a) % 65521;
    putU32(out, b << 16 | a);
    return out;
}

// Scanlines of SIZE pixels, each led by filter type 0, from the ARGB 4-4-4-4 art.
Bytes scanlines(int size) {
    Bytes raw;
    const int block = size / ICON_SIZE;
    for (int y = 0; y < size; ++y) {
        raw.push_back(0);
        for (int x = 0; x < size; ++x) {
            const std::uint16_t argb = WINDOW_ICON[(y / block) * ICON_SIZE + x / block];
            for (const int shift : {8, 4, 0, 12}) raw.push_back(static_cast<std::uint8_t>((argb >> shift & 0xF) * 17));
        }
    }
    return raw;
}

}  // namespace

int main(int argc, char** argv) {
    const int size = argc == 3 ? std::atoi(argv[1]) : 0;
    if (size <= 0 || size % ICON_SIZE != 0 || size > 4096) {
        std::fputs("usage: icon_png SIZE OUT.png   (SIZE a multiple of 16)\n", stderr);
        return 2;
    }
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    putU32(header, static_cast<std::uint32_t>(size));
    putU32(header, static_cast<std::uint32_t>(size));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, not interlaced
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", storedZlib(scanlines(size)));
    putChunk(png, "IEND", {});
    std::FILE* out = std::fopen(argv[2], "wb");
    const bool written = out != nullptr && std::fwrite(png.data(), 1, png.size(), out) == png.size();
    if (out == nullptr || std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "icon_png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
