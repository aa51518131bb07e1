#pragma once

// libpng and zlib as independent oracles for the tests: libpng decodes PNG
// files, zlib compresses the image data of the files the tests put together.

#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "image/byte_vector.h"
#include "image/png_writer.h"

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

inline Chunk idat(const ByteVector& scanlines) { return {"IDAT", compressWithZlib(scanlines)}; }
