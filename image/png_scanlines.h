#pragma once

// The scanline stage of PNG decoding: undoing the filters row by row, in place
// in the decompressed data, and converting each row's samples straight into the
// 8-bit RGBA pixels, scattered to their places for the Adam7 passes (8-bit RGBA
// rows are reconstructed straight into the pixels). No raw image is kept
// between the two: the peak is the scanline data and the pixels.
//
// The results are those of the plain order (rebuild the whole raw image, then
// convert it): every filter type is checked before any pixel is written, so a
// filter type above 4 wins over a palette index outside the palette.

#include <cstddef>
#include <cstdint>

#include "image/png_decoder.h"

// Undoes filter `filterType` (0 to 4) on the `length` bytes at `from`, writing
// them to `to`, which may be `from` itself; `previous` is the reconstructed
// row above, or null for the first row of an image or pass.
void reconstructScanline(std::uint8_t* to, const std::uint8_t* from, const std::uint8_t* previous,
                         std::size_t pixelByteWidth, std::uint32_t filterType, std::size_t length);

std::uint8_t paethPredictor(int a, int b, int c);

// Reconstructs the scanline data (scanlineBytesNeeded(info) bytes, changed in
// place) and converts it into `pixels` (width * height * 4 bytes). Returns 0,
// PNG_BAD_FILTER_TYPE before any pixel is written, or the palette-index code
// of the first index outside the palette in raster order.
unsigned decodeScanlines(std::uint8_t* pixels, std::uint8_t* scanlines, const PngImageInfo& info);

// Bytes of scanline data (filter-type bytes included) that the image's rows need.
std::uint64_t scanlineBytesNeeded(const PngImageInfo& info);

// Bytes of the raw image, all pixels as one unpadded sequence of samples; the
// size limit counts it.
std::uint64_t rawImageBytes(const PngImageInfo& info);

std::uint32_t bitsPerPixel(const PngImageInfo& info);

// Bytes of a row of `pixelCount` pixels, without its filter-type byte.
inline std::uint64_t lineLength(std::uint64_t pixelCount, std::uint32_t bitsPerPixel) {
    return (pixelCount * bitsPerPixel + 7) / 8;
}

struct Adam7Pass {
    std::uint32_t originX, originY, spacingX, spacingY;

    std::uint32_t width(std::uint32_t imageWidth) const {
        return imageWidth > originX ? (imageWidth - originX + spacingX - 1) / spacingX : 0;
    }
    std::uint32_t height(std::uint32_t imageHeight) const {
        return imageHeight > originY ? (imageHeight - originY + spacingY - 1) / spacingY : 0;
    }
};

inline constexpr Adam7Pass ADAM7_PASSES[7] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                              {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
