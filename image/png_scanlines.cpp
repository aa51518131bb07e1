#include "image/png_scanlines.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "image/png_filters.h"
#include "image/png_rgba.h"

namespace {

std::uint32_t channelsOf(std::uint32_t colorType) {
    switch (colorType) {
    case PNG_RGB: return 3;
    case PNG_GREY_ALPHA: return 2;
    case PNG_RGB_ALPHA: return 4;
    default: return 1;
    }
}

// Rows of the image, each a filter-type byte and its line; a row of width 0 still has its filter byte.
std::uint64_t rowsBytes(std::uint32_t width, std::uint32_t height, std::uint32_t bpp) {
    return std::uint64_t{height} * (1 + lineLength(width, bpp));
}

// The rows of an image without interlacing, as if one pass.
constexpr Adam7Pass WHOLE_IMAGE = {0, 0, 1, 1};

// Calls visit(width, height, pass) for each block of rows: the whole image,
// or each Adam7 pass that is not empty. An empty pass takes no bytes at all,
// unlike an empty row.
template <typename Visit>
void forEachBlock(const PngImageInfo& info, Visit visit) {
    if (info.interlaceMethod == 0) {
        visit(info.width, info.height, WHOLE_IMAGE);
        return;
    }
    for (const Adam7Pass& pass : ADAM7_PASSES) {
        const std::uint32_t w = pass.width(info.width);
        const std::uint32_t h = pass.height(info.height);
        if (w != 0 && h != 0) visit(w, h, pass);
    }
}

}  // namespace

std::uint32_t bitsPerPixel(const PngImageInfo& info) { return channelsOf(info.colorType) * info.bitDepth; }

std::uint64_t scanlineBytesNeeded(const PngImageInfo& info) {
    const std::uint32_t bpp = bitsPerPixel(info);
    std::uint64_t total = 0;
    forEachBlock(info, [&](std::uint32_t w, std::uint32_t h, const Adam7Pass&) { total += rowsBytes(w, h, bpp); });
    return total;
}

std::uint64_t rawImageBytes(const PngImageInfo& info) {
    return lineLength(std::uint64_t{info.width} * info.height, bitsPerPixel(info));
}

ScanlineDecoder::ScanlineDecoder(std::uint8_t* pixels, const PngImageInfo& info)
    : pixels_(pixels),
      info_(info),
      bitsPerPixel_(::bitsPerPixel(info)),
      rgba8Rows_(info.colorType == PNG_RGB_ALPHA && info.bitDepth == 8 && info.interlaceMethod == 0),
      converter_(std::make_unique<RgbaConverter>(info, info.palette.size() / 4)) {
    forEachBlock(info, [&](std::uint32_t w, std::uint32_t h, const Adam7Pass& pass) {
        if (h == 0) return;  // an image 0 rows high has no rows
        blocks_[blockCount_++] = {w, h, pass.originX, pass.originY, pass.spacingX, pass.spacingY};
    });
    // The passes' rows are no longer than the image's. An image without rows
    // gets no room for them, however wide its header says it is.
    if (!rgba8Rows_ && blockCount_ > 0) rows_.resize(2 * lineLength(info.width, bitsPerPixel_));
}

ScanlineDecoder::~ScanlineDecoder() = default;

// Whole rows are unfiltered straight from the bytes offered. A row that the
// offer cuts is gathered where it is to be unfiltered, in place, so that the
// window never has to hold a whole row, however wide.
std::size_t ScanlineDecoder::take(std::span<const std::uint8_t> bytes) {
    std::size_t used = 0;
    while (!complete() && used < bytes.size()) {
        const RowBlock& block = blocks_[block_];
        const std::size_t stride = 1 + lineLength(block.width, bitsPerPixel_);
        if (gathered_ == 0 && bytes.size() - used >= stride) {
            decodeRow(bytes[used], bytes.data() + used + 1);
            used += stride;
        } else {
            const std::size_t n = std::min(stride - gathered_, bytes.size() - used);
            gather(bytes.subspan(used, n));
            used += n;
            if (gathered_ < stride) break;
            gathered_ = 0;
            decodeRow(gatheredFilterType_, rowTarget());
        }
        if (++row_ == block.height) {
            ++block_;
            row_ = 0;
            previous_ = nullptr;
        }
    }
    return complete() ? bytes.size() : used;
}

// Where the current row is unfiltered: its own pixels for 8-bit RGBA rows,
// else the row room not holding the row above.
std::uint8_t* ScanlineDecoder::rowTarget() {
    if (rgba8Rows_) return pixels_ + std::size_t{4} * row_ * info_.width;
    return rows_.data() + nextRow_ * (rows_.size() / 2);
}

void ScanlineDecoder::gather(std::span<const std::uint8_t> bytes) {
    if (gathered_ == 0) {
        gatheredFilterType_ = bytes[0];
        bytes = bytes.subspan(1);
        gathered_ = 1;
    }
    if (!bytes.empty()) std::memcpy(rowTarget() + gathered_ - 1, bytes.data(), bytes.size());
    gathered_ += bytes.size();
}

// Once a filter type is bad, no later row matters; once an index is outside
// the palette, only the later rows' filter types do, and their pixels are zero.
void ScanlineDecoder::decodeRow(std::uint32_t filterType, const std::uint8_t* filtered) {
    if (result_ == PNG_BAD_FILTER_TYPE) return;
    if (filterType > MAX_FILTER_TYPE) {
        result_ = PNG_BAD_FILTER_TYPE;
        return;
    }
    const RowBlock& block = blocks_[block_];
    const std::size_t y = block.originY + std::size_t{row_} * block.spacingY;
    std::uint8_t* out = pixels_ + 4 * (y * info_.width + block.originX);
    const std::size_t step = 4 * std::size_t{block.spacingX};
    if (result_ != 0) return clearPixels(out, block.width, step);

    const std::size_t length = lineLength(block.width, bitsPerPixel_);
    if (rgba8Rows_) {
        // 8-bit RGBA rows are the pixels' own rows, each unfiltered against the pixel row above.
        reconstructScanline(out, filtered, previous_, 4, filterType, length);
        previous_ = out;
        return;
    }
    std::uint8_t* line = rowTarget();
    reconstructScanline(line, filtered, previous_, (bitsPerPixel_ + 7) / 8, filterType, length);
    previous_ = line;
    nextRow_ ^= 1;
    result_ = converter_->convert(line, block.width, out, step);
}

unsigned ScanlineDecoder::finish() {
    // Nothing converted counts: the pixels are all zero, as after a bad
    // palette index every pixel from it on is.
    if (result_ == PNG_BAD_FILTER_TYPE) std::fill_n(pixels_, std::size_t{info_.width} * info_.height * 4, 0);
    return result_;
}
