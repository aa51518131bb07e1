#pragma once

// libpng and zlib as independent oracles for the tests: libpng decodes PNG
// files, zlib compresses. Test files are put together chunk by chunk, so that
// tests can split, insert and corrupt chunks, and levels need no other writer.

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/byte_vector.h"

// libpng as the oracle: expanded to 8-bit RGBA, 16-bit samples cut to their high byte, CRCs ignored.
inline ByteVector decodeWithLibpng(const ByteVector& file) {
    std::FILE* in = fmemopen(const_cast<std::uint8_t*>(file.data()), file.size(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    ByteVector rgba;  // stays empty when libpng refuses the file
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, in);
        png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        png_read_png(png, info, PNG_TRANSFORM_EXPAND | PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_GRAY_TO_RGB, nullptr);
        const png_bytepp rows = png_get_rows(png, info);
        const std::size_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
        for (std::size_t y = 0; y < height; ++y) rgba.insert(rgba.end(), rows[y], rows[y] + 4 * width);
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(in);
    return rgba;
}

// `data` deflated by zlib, as a zlib stream with its Adler-32 trailer; by default as compress() does it.
inline ByteVector compressWithZlib(const ByteVector& data, int level = Z_DEFAULT_COMPRESSION,
                                   int strategy = Z_DEFAULT_STRATEGY, int windowBits = 15) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, strategy);
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

struct Chunk {
    std::string type;
    ByteVector data;
};

inline void putU32(ByteVector& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}

// The signature, then each chunk with its length and CRC.
inline ByteVector assemble(const std::vector<Chunk>& chunks) {
    ByteVector file = {137, 80, 78, 71, 13, 10, 26, 10};
    for (const Chunk& chunk : chunks) {
        putU32(file, std::uint32_t(chunk.data.size()));
        const std::size_t typeAt = file.size();
        file.insert(file.end(), chunk.type.begin(), chunk.type.end());
        file.insert(file.end(), chunk.data.begin(), chunk.data.end());
        putU32(file, std::uint32_t(crc32(0, file.data() + typeAt, uInt(file.size() - typeAt))));
    }
    return file;
}

inline Chunk ihdr(std::uint32_t width, std::uint32_t height, int depth, int colorType, int interlace = 0) {
    Chunk chunk{"IHDR", {}};
    putU32(chunk.data, width);
    putU32(chunk.data, height);
    chunk.data.insert(chunk.data.end(), {std::uint8_t(depth), std::uint8_t(colorType), 0, 0, std::uint8_t(interlace)});
    return chunk;
}

inline Chunk idat(const ByteVector& scanlines) { return {"IDAT", compressWithZlib(scanlines)}; }

inline const Chunk IEND{"IEND", {}};
