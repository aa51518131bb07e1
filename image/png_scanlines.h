#pragma once

// The scanline stage of PNG decoding, fed as the data is inflated: each row,
// or each row of an Adam7 pass, is unfiltered against the row before it
// (png_filters.h) and converted at once into the 8-bit RGBA pixels (png_rgba.h), scattered to their places for
// the passes (8-bit RGBA rows are unfiltered straight into the pixels). Only
// two rows are kept, never the whole scanline data or a raw image.
//
// The results are those of the plain order (rebuild the whole raw image, then
// convert it): a filter type above 4 anywhere wins over a palette index
// outside the palette, and leaves every pixel zero.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "image/inflate.h"
#include "image/png_decoder.h"

struct RgbaConverter;

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

// Takes the scanline data as it is inflated and writes the pixels
// (width * height * 4 bytes) row by row; bytes behind the last row are taken
// and ignored.
class ScanlineDecoder final : public OutputSink {
public:
    ScanlineDecoder(std::uint8_t* pixels, const PngImageInfo& info);
    ~ScanlineDecoder();

    std::size_t take(std::span<const std::uint8_t> bytes) override;

    // Whether every row has come.
    bool complete() const { return block_ == blockCount_; }

    // Once every row has come: 0, PNG_BAD_FILTER_TYPE with every pixel zero,
    // or the palette-index code of the first index outside the palette, the
    // pixels from it on zero.
    unsigned finish();

private:
    // One block of rows: the whole image, or one Adam7 pass, and where its pixels go.
    struct RowBlock {
        std::uint32_t width, height;  // in pixels of the block
        std::uint32_t originX, originY, spacingX, spacingY;
    };

    void decodeRow(std::uint32_t filterType, const std::uint8_t* filtered);
    std::uint8_t* rowTarget();
    void gather(std::span<const std::uint8_t> bytes);

    std::uint8_t* pixels_;
    const PngImageInfo& info_;
    std::uint32_t bitsPerPixel_;
    bool rgba8Rows_;  // rows unfiltered straight into the pixels
    std::array<RowBlock, 7> blocks_{};
    std::size_t blockCount_ = 0;
    std::size_t block_ = 0;  // the block and its row that come next
    std::uint32_t row_ = 0;
    const std::uint8_t* previous_ = nullptr;  // the row above, unfiltered; none for a block's first
    ByteVector rows_;                         // two rows' room, used in turn
    std::size_t nextRow_ = 0;                 // which of them the next row goes to
    std::size_t gathered_ = 0;                // bytes of a row cut by the offers, gathered so far
    std::uint8_t gatheredFilterType_ = 0;
    unsigned result_ = 0;
    std::unique_ptr<RgbaConverter> converter_;
};
