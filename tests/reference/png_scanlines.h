// The plain decoder as it stood before the fast rewrite, kept as the reference
// that the differential test and the fuzz targets hold the fast decoder to.
// Do not change it: where the two differ, the fast one is wrong.

#pragma once

// The scanline stage of PNG decoding: undoing the filters row by row, undoing
// Adam7 interlacing, and converting the raw samples to 8-bit RGBA.
//
// The raw image keeps the samples in their stored form. At 8 or more bits per
// pixel its rows lie back to back without filter bytes; below 8 bits it is one
// continuous bit sequence, most significant bit first, with no row padding.

#include <cstddef>
#include <cstdint>

#include "tests/reference/png_decoder.h"

namespace reference {

// Reconstructs `length` bytes into `recon` from the filtered bytes at
// `scanline`; `previous` is the row above, or null for the first row of an
// image or pass. A filter type above 4 sets info.error and writes nothing.
void reconstructScanline(std::uint8_t* recon, const std::uint8_t* scanline, const std::uint8_t* previous,
                         std::size_t pixelByteWidth, std::uint32_t filterType, std::size_t length, PngImageInfo& info);

std::uint8_t paethPredictor(int a, int b, int c);

// Rebuilds one Adam7 pass from `passData` and places its pixels into `raw`.
// The two row buffers hold at least one line of the image's full width.
void reconstructAdam7Pass(std::uint8_t* raw, std::uint8_t* rowBufferA, std::uint8_t* rowBufferB,
                          const std::uint8_t* passData, std::uint32_t width, std::uint32_t originX,
                          std::uint32_t originY, std::uint32_t spacingX, std::uint32_t spacingY,
                          std::uint32_t passWidth, std::uint32_t passHeight, std::uint32_t bitsPerPixel,
                          PngImageInfo& info);

// The n-bit value whose most significant bit is at `bitPosition` of `data`.
std::uint32_t readBitsMsbFirst(std::size_t& bitPosition, const std::uint8_t* data, std::uint32_t n);

// Replaces the raw image `raw`, held in `pixels`, by its RGBA conversion.
// Returns 0, or the palette-index code at the first index outside the palette,
// the pixels before it converted.
unsigned convertToRgba(std::uint8_t*& pixels, const std::uint8_t* raw, const PngImageInfo& info, std::uint32_t width,
                       std::uint32_t height);

// Rebuilds the whole raw image (zero-filled on entry) from the scanline data,
// row by row or in the seven Adam7 passes. The caller has made sure that
// `scanlines` holds scanlineBytesNeeded(info) bytes. Stops at the first filter
// type above 4, with info.error set.
void reconstructImage(std::uint8_t* raw, const std::uint8_t* scanlines, PngImageInfo& info);

// Bytes of scanline data (filter-type bytes included) that the image's rows need.
std::uint64_t scanlineBytesNeeded(const PngImageInfo& info);

// Bytes of the raw image: all pixels as one unpadded sequence of samples.
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

}  // namespace reference
