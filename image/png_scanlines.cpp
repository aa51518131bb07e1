#include "image/png_scanlines.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Written to choose by selects rather than branches, so that the scalar Paeth
// loop does not mispredict on every byte.
std::uint8_t paethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    const int bOrC = pb <= pc ? b : c;
    return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : bOrC);
}

namespace {

constexpr std::uint32_t MAX_FILTER_TYPE = 4;

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

// ---- Filters ------------------------------------------------------------------
// Each writes the reconstructed row to `to` from the filtered bytes at `from`,
// which may be the same place. Each loop has one job, without a branch per
// byte; the bytes of the first pixel, which have no left neighbour, go apart.

std::size_t firstPixelBytes(std::size_t bpp, std::size_t length) { return bpp < length ? bpp : length; }

// A row of an image 0 pixels wide has no bytes, and its `to` may be null.
void unfilterNone(std::uint8_t* to, const std::uint8_t* from, std::size_t length) {
    if (to != from && length != 0) std::memcpy(to, from, length);
}

void unfilterUp(std::uint8_t* to, const std::uint8_t* from, const std::uint8_t* previous, std::size_t length) {
    if (previous == nullptr) return unfilterNone(to, from, length);
    std::size_t i = 0;
#ifdef __SSE2__
    // Sixteen bytes at a time; `to` may be `from`, which each block reads before writing.
    for (; i + 16 <= length; i += 16) {
        const __m128i sum = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(previous + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), sum);
    }
#endif
    for (; i < length; ++i) to[i] = static_cast<std::uint8_t>(from[i] + previous[i]);
}

#ifdef __SSE2__
// The filters that look left, on whole pixels of four bytes in 16-bit lanes:
// the serial dependency runs from pixel to pixel instead of from byte to byte.
// (Three-byte pixels gain nothing: moved as four bytes, each store would
// overlap the next load.) `predict` takes the left, upper and upper-left
// pixels. Returns where the scalar loop takes over.
template <typename Predict>
std::size_t unfilterPixels(std::uint8_t* to, const std::uint8_t* from, const std::uint8_t* previous, std::size_t bpp,
                           std::size_t length, Predict predict) {
    if (bpp != 4 || length < 2 * bpp) return bpp;
    const auto load = [](const std::uint8_t* p) {
        std::int32_t word;
        std::memcpy(&word, p, 4);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(word), _mm_setzero_si128());
    };
    __m128i a = load(to);  // the first pixel, done by the caller
    __m128i c = load(previous);
    std::size_t i = bpp;
    for (; i + bpp <= length; i += bpp) {
        const __m128i b = load(previous + i);
        const __m128i predicted = predict(a, b, c);
        a = _mm_and_si128(_mm_add_epi16(load(from + i), predicted), _mm_set1_epi16(0xFF));
        const std::int32_t word = _mm_cvtsi128_si32(_mm_packus_epi16(a, a));
        std::memcpy(to + i, &word, 4);
        c = b;
    }
    return i;
}

__m128i averagePredictor(__m128i a, __m128i b, __m128i) { return _mm_srli_epi16(_mm_add_epi16(a, b), 1); }

// a when pa <= pb and pa <= pc; else b when pb <= pc; else c.
__m128i paethPredictorPixels(__m128i a, __m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bc = _mm_sub_epi16(b, c);
    const __m128i ac = _mm_sub_epi16(a, c);
    const __m128i abc = _mm_add_epi16(bc, ac);
    const __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc));
    const __m128i pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
    const __m128i pc = _mm_max_epi16(abc, _mm_sub_epi16(zero, abc));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i notB = _mm_cmpgt_epi16(pb, pc);
    const __m128i bOrC = _mm_or_si128(_mm_andnot_si128(notB, b), _mm_and_si128(notB, c));
    return _mm_or_si128(_mm_andnot_si128(notA, a), _mm_and_si128(notA, bOrC));
}
#endif

void unfilterSub(std::uint8_t* to, const std::uint8_t* from, std::size_t bpp, std::size_t length) {
    unfilterNone(to, from, firstPixelBytes(bpp, length));
    std::size_t i = bpp;
#ifdef __SSE2__
    // Sub has no row above; the filtered row stands in for it, unread by the predictor.
    i = unfilterPixels(to, from, from, bpp, length, [](__m128i a, __m128i, __m128i) { return a; });
#endif
    for (; i < length; ++i) to[i] = static_cast<std::uint8_t>(from[i] + to[i - bpp]);
}

void unfilterAverage(std::uint8_t* to, const std::uint8_t* from, const std::uint8_t* previous, std::size_t bpp,
                     std::size_t length) {
    const std::size_t first = firstPixelBytes(bpp, length);
    if (previous == nullptr) {
        unfilterNone(to, from, first);
        for (std::size_t i = bpp; i < length; ++i) to[i] = static_cast<std::uint8_t>(from[i] + (to[i - bpp] >> 1));
        return;
    }
    for (std::size_t i = 0; i < first; ++i) to[i] = static_cast<std::uint8_t>(from[i] + (previous[i] >> 1));
    std::size_t i = bpp;
#ifdef __SSE2__
    i = unfilterPixels(to, from, previous, bpp, length, averagePredictor);
#endif
    for (; i < length; ++i) to[i] = static_cast<std::uint8_t>(from[i] + ((to[i - bpp] + previous[i]) >> 1));
}

void unfilterPaeth(std::uint8_t* to, const std::uint8_t* from, const std::uint8_t* previous, std::size_t bpp,
                   std::size_t length) {
    if (previous == nullptr) return unfilterSub(to, from, bpp, length);  // with no row above, Paeth picks the left byte
    const std::size_t first = firstPixelBytes(bpp, length);
    for (std::size_t i = 0; i < first; ++i) to[i] = static_cast<std::uint8_t>(from[i] + previous[i]);
    std::size_t i = bpp;
#ifdef __SSE2__
    i = unfilterPixels(to, from, previous, bpp, length, paethPredictorPixels);
#endif
    for (; i < length; ++i)
        to[i] = static_cast<std::uint8_t>(from[i] + paethPredictor(to[i - bpp], previous[i], previous[i - bpp]));
}

// ---- Conversion to RGBA ---------------------------------------------------------
// Each converter writes `count` pixels from one reconstructed row to `out`,
// `step` bytes apart, and returns 0 or the code of the first bad palette index.
// From a bad index on, pixels are left zero, as in an image converted up to it.

void clearPixels(std::uint8_t* out, std::uint32_t count, std::size_t step) {
    for (std::uint32_t x = 0; x < count; ++x, out += step) std::memset(out, 0, 4);
}

// Samples below eight bits, most significant first: the RGBA of each value,
// and every whole byte of them expanded to its 8 / depth pixels, so that a row
// converts by one table copy a byte. A palette may have fewer entries than
// the depth allows; a byte holding an index without one is marked, and the
// row goes pixel by pixel from it, to stop exactly at that index.
struct LowSamples {
    std::array<std::array<std::uint8_t, 4>, 16> colours{};
    std::uint32_t coloured = 0;  // values below this have a colour
    std::array<std::array<std::uint8_t, 32>, 256> bytes{};
    std::array<bool, 256> wholeByteColoured{};

    void fill(unsigned depth) {
        const unsigned perByte = 8 / depth, mask = (1u << depth) - 1;
        for (unsigned byte = 0; byte < 256; ++byte) {
            wholeByteColoured[byte] = true;
            for (unsigned k = 1; k <= perByte; ++k) {
                const unsigned value = (byte >> (8 - depth * k)) & mask;
                wholeByteColoured[byte] = wholeByteColoured[byte] && value < coloured;
                std::memcpy(&bytes[byte][4 * (k - 1)], colours[value].data(), 4);
            }
        }
    }

    // Converts the row's whole bytes up to the first not wholly coloured;
    // returns the pixels done.
    template <unsigned DEPTH>
    std::uint32_t expandWholeBytes(const std::uint8_t* row, std::uint32_t count, std::uint8_t* out,
                                   std::size_t step) const {
        constexpr unsigned PER_BYTE = 8 / DEPTH;
        const std::uint32_t whole = count / PER_BYTE * PER_BYTE;
        std::uint32_t x = 0;
        if (step == 4) {
            for (; x < whole && wholeByteColoured[*row]; x += PER_BYTE, ++row, out += 4 * PER_BYTE)
                std::memcpy(out, bytes[*row].data(), 4 * PER_BYTE);
            return x;
        }
        for (; x < whole && wholeByteColoured[*row]; x += PER_BYTE, ++row)
            for (unsigned k = 0; k < PER_BYTE; ++k, out += step) std::memcpy(out, &bytes[*row][4 * k], 4);
        return x;
    }
};

}  // namespace

struct ScanlineDecoder::Converter {
    const PngImageInfo& info;
    std::size_t paletteEntries;
    LowSamples low;  // for depths below 8, grey levels or palette entries

    Converter(const PngImageInfo& image, std::size_t entries) : info(image), paletteEntries(entries) {
        if (info.bitDepth >= 8) return;
        const std::uint32_t values = 1u << info.bitDepth;
        if (info.colorType == PNG_PALETTE) {
            low.coloured = static_cast<std::uint32_t>(std::min<std::size_t>(paletteEntries, values));
            for (std::uint32_t v = 0; v < low.coloured; ++v)
                std::memcpy(low.colours[v].data(), &info.palette[4 * v], 4);
        } else {
            low.coloured = values;
            for (std::uint32_t v = 0; v < values; ++v) {
                const auto level = static_cast<std::uint8_t>(v * 255 / (values - 1));
                const bool keyed = info.colorKeyDefined && v == info.colorKeyRed;
                low.colours[v] = {level, level, level, static_cast<std::uint8_t>(keyed ? 0 : 255)};
            }
        }
        low.fill(info.bitDepth);
    }

    unsigned convert(const std::uint8_t* row, std::uint32_t count, std::uint8_t* out, std::size_t step) const {
        switch (info.bitDepth) {
        case 1: return lowRow<1>(row, count, out, step);
        case 2: return lowRow<2>(row, count, out, step);
        case 4: return lowRow<4>(row, count, out, step);
        default: break;
        }
        switch (info.colorType) {
        case PNG_PALETTE: return palette8(row, count, out, step);
        case PNG_GREY: grey(row, count, out, step); return 0;
        case PNG_GREY_ALPHA: greyAlpha(row, count, out, step); return 0;
        case PNG_RGB: rgb(row, count, out, step); return 0;
        default: rgba(row, count, out, step); return 0;
        }
    }

    // Whole bytes through the table, the rest of the row pixel by pixel.
    template <unsigned DEPTH>
    unsigned lowRow(const std::uint8_t* row, std::uint32_t count, std::uint8_t* out, std::size_t step) const {
        std::uint32_t x = low.expandWholeBytes<DEPTH>(row, count, out, step);
        for (; x < count; ++x) {
            const std::uint32_t value = lowSample(row, x);
            if (value >= low.coloured) return clearPixels(out + x * step, count - x, step), PNG_PALETTE_INDEX_LOW_BIT;
            std::memcpy(out + x * step, low.colours[value].data(), 4);
        }
        return 0;
    }

    static void put(std::uint8_t* out, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
        out[0] = r;
        out[1] = g;
        out[2] = b;
        out[3] = a;
    }

    unsigned palette8(const std::uint8_t* row, std::uint32_t count, std::uint8_t* out, std::size_t step) const {
        for (std::uint32_t x = 0; x < count; ++x, out += step) {
            if (row[x] >= paletteEntries) return clearPixels(out, count - x, step), PNG_PALETTE_INDEX_8_BIT;
            std::memcpy(out, &info.palette[4 * std::size_t{row[x]}], 4);
        }
        return 0;
    }

    // The sample of pixel x in a row of samples below eight bits, most significant first.
    std::uint32_t lowSample(const std::uint8_t* row, std::uint32_t x) const {
        const std::uint32_t depth = info.bitDepth;
        const std::size_t bit = std::size_t{x} * depth;
        return (row[bit >> 3] >> (8 - depth - (bit & 7))) & ((1u << depth) - 1);
    }

    // Samples of 8 and 16 bits: the whole value for key tests, the high byte for colour.
    static std::uint32_t sample16(const std::uint8_t* at) { return std::uint32_t{at[0]} << 8 | at[1]; }

    void grey(const std::uint8_t* row, std::uint32_t count, std::uint8_t* out, std::size_t step) const {
        const std::size_t bytes = info.bitDepth / 8;
        const bool keyed = info.colorKeyDefined;
        for (std::uint32_t x = 0; x < count; ++x, out += step, row += bytes) {
            const std::uint32_t v = bytes == 2 ? sample16(row) : row[0];
            put(out, row[0], row[0], row[0], keyed && v == info.colorKeyRed ? 0 : 255);
        }
    }

    void greyAlpha(const std::uint8_t* row, std::uint32_t count, std::uint8_t* out, std::size_t step) const {
        const std::size_t bytes = info.bitDepth / 8;
        for (std::uint32_t x = 0; x < count; ++x, out += step, row += 2 * bytes)
            put(out, row[0], row[0], row[0], row[bytes]);
    }

    void rgb(const std::uint8_t* row, std::uint32_t count, std::uint8_t* out, std::size_t step) const {
        if (info.bitDepth == 8 && !info.colorKeyDefined) {
            for (std::uint32_t x = 0; x < count; ++x, out += step, row += 3) put(out, row[0], row[1], row[2], 255);
            return;
        }
        const std::size_t bytes = info.bitDepth / 8;
        for (std::uint32_t x = 0; x < count; ++x, out += step, row += 3 * bytes) {
            const std::uint8_t* g = row + bytes;
            const std::uint8_t* b = row + 2 * bytes;
            const bool keyed =
                info.colorKeyDefined &&
                (bytes == 2 ? sample16(row) == info.colorKeyRed && sample16(g) == info.colorKeyGreen &&
                                  sample16(b) == info.colorKeyBlue
                            : row[0] == info.colorKeyRed && g[0] == info.colorKeyGreen && b[0] == info.colorKeyBlue);
            put(out, row[0], g[0], b[0], keyed ? 0 : 255);
        }
    }

    void rgba(const std::uint8_t* row, std::uint32_t count, std::uint8_t* out, std::size_t step) const {
        if (info.bitDepth == 8) {
            if (step == 4) {
                std::memcpy(out, row, std::size_t{count} * 4);
                return;
            }
            for (std::uint32_t x = 0; x < count; ++x, out += step, row += 4) std::memcpy(out, row, 4);
            return;
        }
        for (std::uint32_t x = 0; x < count; ++x, out += step, row += 8) put(out, row[0], row[2], row[4], row[6]);
    }
};

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

void reconstructScanline(std::uint8_t* to, const std::uint8_t* from, const std::uint8_t* previous,
                         std::size_t pixelByteWidth, std::uint32_t filterType, std::size_t length) {
    switch (filterType) {
    case 1: unfilterSub(to, from, pixelByteWidth, length); break;
    case 2: unfilterUp(to, from, previous, length); break;
    case 3: unfilterAverage(to, from, previous, pixelByteWidth, length); break;
    case 4: unfilterPaeth(to, from, previous, pixelByteWidth, length); break;
    default: unfilterNone(to, from, length); break;
    }
}

ScanlineDecoder::ScanlineDecoder(std::uint8_t* pixels, const PngImageInfo& info)
    : pixels_(pixels),
      info_(info),
      bitsPerPixel_(::bitsPerPixel(info)),
      rgba8Rows_(info.colorType == PNG_RGB_ALPHA && info.bitDepth == 8 && info.interlaceMethod == 0),
      converter_(std::make_unique<Converter>(info, info.palette.size() / 4)) {
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
