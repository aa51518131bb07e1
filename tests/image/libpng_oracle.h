#pragma once

// libpng as an independent oracle for the tests: it decodes PNG files, and
// writes the game tests' levels.

#include <png.h>

#include <cstdio>
#include <vector>

#include "image/byte_vector.h"

// libpng as the oracle: expanded to 8-bit RGBA, 16-bit samples cut to their high byte, CRCs ignored.
inline ByteVector decodeWithLibpng(const ByteVector& file) {
    std::FILE* in = fmemopen(const_cast<std::uint8_t*>(file.data()), file.size(), "rb");
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    ByteVector rgba;
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, in);
        png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
        png_read_info(png, info);
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_gray_to_rgb(png);
        png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        const std::size_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
        rgba.resize(width * height * 4);
        std::vector<png_bytep> rows(height);
        for (std::size_t y = 0; y < height; ++y) rows[y] = rgba.data() + y * width * 4;
        png_read_image(png, rows.data());
    } else {
        rgba.clear();  // libpng refused the file
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(in);
    return rgba;
}

// 8-bit RGBA pixels, rows top to bottom, written by libpng in several IDAT chunks.
inline ByteVector encodeRgbaWithLibpng(std::uint32_t width, std::uint32_t height, const ByteVector& rgba) {
    ByteVector file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &file,
        [](png_structp p, png_bytep data, png_size_t n) {
            auto* out = static_cast<ByteVector*>(png_get_io_ptr(p));
            out->insert(out->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_buffer_size(png, 97);
    png_write_info(png, info);
    for (std::uint32_t y = 0; y < height; ++y) png_write_row(png, rgba.data() + std::size_t{y} * width * 4);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}
