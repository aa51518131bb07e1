// Writes the window's 16 x 16 icon as an RGBA PNG of SIZE x SIZE pixels, each
// icon pixel enlarged to a square block, so that the desktop's menu shows the
// same art as the window, sharp at every size. An icon needs no compression:
// the image data goes in stored DEFLATE blocks.
//
// usage: icon_png SIZE OUT.png   (SIZE a multiple of 16)

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "image/png_writer.h"
#include "shell/shell.h"

namespace {

// Scanlines of SIZE pixels, each led by filter type 0, from the ARGB 4-4-4-4 art.
ByteVector scanlines(int size) {
    ByteVector raw;
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
    const ByteVector png = assemble({ihdr(size, size, 8, 6), {"IDAT", storedZlib(scanlines(size))}, IEND});
    std::FILE* out = std::fopen(argv[2], "wb");
    const bool written = out != nullptr && std::fwrite(png.data(), 1, png.size(), out) == png.size();
    if (out == nullptr || std::fclose(out) != 0 || !written) {
        std::fprintf(stderr, "icon_png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
