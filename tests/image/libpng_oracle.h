#pragma once

// libpng as an independent oracle for tests and benchmarks: it encodes images
// with every colour type, filter and interlace method, and reads them back.

#include <png.h>

#include <cstdio>
#include <optional>
#include <random>
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

struct Image {
    std::uint32_t width, height;
    int colorType, depth, interlace, filters;
    ByteVector rows;  // packed samples, as the file stores them
    std::vector<png_color> palette;
    ByteVector paletteAlpha;
    std::optional<png_color_16> key;
};

// Random samples over few values, so that colour keys match often; the first
// sample becomes the key, palettes are full and get partial alpha.
inline Image randomImage(int colorType, int depth, std::uint32_t width, std::uint32_t height, int interlace,
                         int filters, std::mt19937& rng) {
    const std::uint8_t alphabet[] = {0x00, 0x12, 0xFE, 0xFF};
    Image image{width, height, colorType, depth, interlace, filters, {}, {}, {}, {}};
    const std::size_t channels = colorType == 2 ? 3 : colorType == 4 ? 2 : colorType == 6 ? 4 : 1;
    image.rows.resize((width * channels * depth + 7) / 8 * height);
    for (auto& byte : image.rows) byte = depth >= 8 ? alphabet[rng() % 4] : std::uint8_t(rng());
    if (!image.rows.empty()) {
        const auto sample = std::uint16_t(depth == 16  ? image.rows[0] << 8 | image.rows[1]
                                          : depth == 8 ? image.rows[0]
                                                       : image.rows[0] >> (8 - depth));
        if (colorType == 0) image.key = png_color_16{0, 0, 0, 0, sample};
        if (colorType == 2) image.key = png_color_16{0, sample, sample, sample, 0};
    }
    for (int i = 0; colorType == 3 && i < 1 << depth; ++i) {
        image.palette.push_back({std::uint8_t(rng()), std::uint8_t(rng()), std::uint8_t(rng())});
        if (i % 3 != 2) image.paletteAlpha.push_back(std::uint8_t(rng()));
    }
    return image;
}

inline ByteVector encodeWithLibpng(const Image& image) {
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
    png_set_IHDR(png, info, image.width, image.height, image.depth, image.colorType, image.interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, 0, image.filters);
    png_set_compression_buffer_size(png, 97);  // several IDAT chunks
    if (!image.palette.empty()) png_set_PLTE(png, info, image.palette.data(), int(image.palette.size()));
    if (!image.paletteAlpha.empty() || image.key) {
        png_color_16 key = image.key.value_or(png_color_16{});
        png_set_tRNS(png, info, image.paletteAlpha.data(), int(image.paletteAlpha.size()), &key);
    }
    png_write_info(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<png_bytep> rows(image.height);
    for (std::size_t y = 0; y < image.height; ++y) rows[y] = const_cast<png_bytep>(image.rows.data() + y * rowBytes);
    png_write_image(png, rows.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return file;
}
