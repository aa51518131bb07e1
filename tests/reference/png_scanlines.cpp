// The plain decoder as it stood before the fast rewrite, kept as the reference
// that the differential test and the fuzz targets hold the fast decoder to.
// Do not change it: where the two differ, the fast one is wrong.

#include "tests/reference/png_scanlines.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace reference {

namespace {

// ORs `count` bits, most significant first, from bit `from` of `source` into
// bit `to` of `target`. Only ever sets bits: the raw image starts zeroed.
void orBits(std::uint8_t* target, std::size_t to, const std::uint8_t* source, std::size_t from, std::size_t count) {
    for (std::size_t k = 0; k < count; ++k, ++from, ++to) {
        if ((source[from >> 3] >> (7 - (from & 7))) & 1u)
            target[to >> 3] = static_cast<std::uint8_t>(target[to >> 3] | (0x80u >> (to & 7)));
    }
}

std::uint32_t channelsOf(std::uint32_t colorType) {
    switch (colorType) {
    case 2: return 3;
    case 4: return 2;
    case 6: return 4;
    default: return 1;
    }
}

// Rows of the image, each a filter-type byte and its line; a row of width 0 still has its filter byte.
std::uint64_t rowsBytes(std::uint32_t width, std::uint32_t height, std::uint32_t bpp) {
    return std::uint64_t{height} * (1 + lineLength(width, bpp));
}

// An empty Adam7 pass, unlike an empty row, takes no bytes at all.
std::uint64_t passBytes(std::uint32_t passWidth, std::uint32_t passHeight, std::uint32_t bpp) {
    return passWidth == 0 || passHeight == 0 ? 0 : rowsBytes(passWidth, passHeight, bpp);
}

void reconstructRows(std::uint8_t* raw, const std::uint8_t* scanlines, PngImageInfo& info) {
    const std::uint32_t bpp = bitsPerPixel(info);
    const std::size_t pixelByteWidth = (bpp + 7) / 8;
    const std::size_t length = lineLength(info.width, bpp);

    if (bpp >= 8) {
        // Straight into the raw image, each row's predecessor being the raw row above.
        for (std::size_t y = 0; y < info.height && info.error == 0; ++y) {
            const std::uint8_t* line = scanlines + y * (1 + length);
            reconstructScanline(raw + y * length, line + 1, y == 0 ? nullptr : raw + (y - 1) * length, pixelByteWidth,
                                line[0], length, info);
        }
        return;
    }
    // Below a byte per pixel the raw image drops each scanline's padding bits.
    if (info.height == 0) return;
    ByteVector current(length), previous(length);
    const std::size_t rowBits = std::size_t{info.width} * bpp;
    for (std::size_t y = 0; y < info.height; ++y) {
        const std::uint8_t* line = scanlines + y * (1 + length);
        reconstructScanline(current.data(), line + 1, y == 0 ? nullptr : previous.data(), pixelByteWidth, line[0],
                            length, info);
        if (info.error != 0) return;
        orBits(raw, y * rowBits, current.data(), 0, rowBits);
        std::swap(current, previous);
    }
}

void reconstructInterlaced(std::uint8_t* raw, const std::uint8_t* scanlines, PngImageInfo& info) {
    if (info.width == 0 || info.height == 0) return;
    const std::uint32_t bpp = bitsPerPixel(info);
    const std::size_t length = lineLength(info.width, bpp);
    ByteVector bufferA(length), bufferB(length);

    for (const Adam7Pass& pass : ADAM7_PASSES) {
        const std::uint32_t passWidth = pass.width(info.width);
        const std::uint32_t passHeight = pass.height(info.height);
        reconstructAdam7Pass(raw, bufferA.data(), bufferB.data(), scanlines, info.width, pass.originX, pass.originY,
                             pass.spacingX, pass.spacingY, passWidth, passHeight, bpp, info);
        if (info.error != 0) return;
        scanlines += passBytes(passWidth, passHeight, bpp);
    }
}

void putPixel(std::uint8_t* out, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    out[0] = r;
    out[1] = g;
    out[2] = b;
    out[3] = a;
}

}  // namespace

std::uint32_t bitsPerPixel(const PngImageInfo& info) { return channelsOf(info.colorType) * info.bitDepth; }

std::uint64_t scanlineBytesNeeded(const PngImageInfo& info) {
    const std::uint32_t bpp = bitsPerPixel(info);
    if (info.interlaceMethod == 0) return rowsBytes(info.width, info.height, bpp);
    std::uint64_t total = 0;
    for (const Adam7Pass& pass : ADAM7_PASSES)
        total += passBytes(pass.width(info.width), pass.height(info.height), bpp);
    return total;
}

std::uint64_t rawImageBytes(const PngImageInfo& info) {
    return lineLength(std::uint64_t{info.width} * info.height, bitsPerPixel(info));
}

void reconstructImage(std::uint8_t* raw, const std::uint8_t* scanlines, PngImageInfo& info) {
    if (info.interlaceMethod == 0)
        reconstructRows(raw, scanlines, info);
    else
        reconstructInterlaced(raw, scanlines, info);
}

std::uint8_t paethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return static_cast<std::uint8_t>(a);
    return static_cast<std::uint8_t>(pb <= pc ? b : c);
}

void reconstructScanline(std::uint8_t* recon, const std::uint8_t* scanline, const std::uint8_t* previous,
                         std::size_t pixelByteWidth, std::uint32_t filterType, std::size_t length, PngImageInfo& info) {
    if (filterType > 4) {
        info.error = PNG_BAD_FILTER_TYPE;
        return;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const int a = i >= pixelByteWidth ? recon[i - pixelByteWidth] : 0;
        const int b = previous ? previous[i] : 0;
        const int c = previous && i >= pixelByteWidth ? previous[i - pixelByteWidth] : 0;
        int predicted = 0;
        switch (filterType) {
        case 1: predicted = a; break;
        case 2: predicted = b; break;
        case 3: predicted = (a + b) / 2; break;
        case 4: predicted = paethPredictor(a, b, c); break;
        default: break;
        }
        recon[i] = static_cast<std::uint8_t>(scanline[i] + predicted);
    }
}

void reconstructAdam7Pass(std::uint8_t* raw, std::uint8_t* rowBufferA, std::uint8_t* rowBufferB,
                          const std::uint8_t* passData, std::uint32_t width, std::uint32_t originX,
                          std::uint32_t originY, std::uint32_t spacingX, std::uint32_t spacingY,
                          std::uint32_t passWidth, std::uint32_t passHeight, std::uint32_t bitsPerPixel,
                          PngImageInfo& info) {
    if (passWidth == 0 || passHeight == 0) return;
    const std::size_t pixelByteWidth = (bitsPerPixel + 7) / 8;
    const std::size_t length = lineLength(passWidth, bitsPerPixel);
    std::uint8_t* current = rowBufferA;
    std::uint8_t* previous = rowBufferB;

    for (std::uint32_t r = 0; r < passHeight; ++r) {
        const std::uint8_t* line = passData + r * (1 + length);
        reconstructScanline(current, line + 1, r == 0 ? nullptr : previous, pixelByteWidth, line[0], length, info);
        if (info.error != 0) return;

        const std::size_t y = originY + static_cast<std::size_t>(r) * spacingY;
        for (std::size_t i = 0; i < passWidth; ++i) {
            const std::size_t pixel = y * width + originX + i * spacingX;
            if (bitsPerPixel >= 8)
                std::memcpy(raw + pixel * pixelByteWidth, current + i * pixelByteWidth, pixelByteWidth);
            else
                orBits(raw, pixel * bitsPerPixel, current, i * bitsPerPixel, bitsPerPixel);
        }
        std::swap(current, previous);
    }
}

std::uint32_t readBitsMsbFirst(std::size_t& bitPosition, const std::uint8_t* data, std::uint32_t n) {
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < n; ++i, ++bitPosition)
        value = (value << 1) | ((data[bitPosition >> 3] >> (7 - (bitPosition & 7))) & 1u);
    return value;
}

unsigned convertToRgba(std::uint8_t*& pixels, const std::uint8_t* raw, const PngImageInfo& info, std::uint32_t width,
                       std::uint32_t height) {
    const std::size_t count = static_cast<std::size_t>(width) * height;
    const std::uint32_t depth = info.bitDepth;
    const std::uint32_t channels = channelsOf(info.colorType);
    const std::size_t sampleBytes = depth == 16 ? 2 : 1;
    const std::size_t paletteEntries = info.palette.size() / 4;

    auto* rgba = new std::uint8_t[count * 4]();
    unsigned result = 0;

    // Samples of 8 and 16 bits: the whole value for key tests, the high byte for colour.
    auto sample = [&](std::size_t k, std::uint32_t c) -> std::uint32_t {
        const std::uint8_t* at = raw + (k * channels + c) * sampleBytes;
        return depth == 16 ? (std::uint32_t{at[0]} << 8) | at[1] : at[0];
    };
    auto high = [&](std::size_t k, std::uint32_t c) { return raw[(k * channels + c) * sampleBytes]; };

    if (info.colorType == 3) {
        std::size_t bitPosition = 0;
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint32_t index = depth < 8 ? readBitsMsbFirst(bitPosition, raw, depth) : raw[k];
            if (index >= paletteEntries) {
                result = depth < 8 ? PNG_PALETTE_INDEX_LOW_BIT : PNG_PALETTE_INDEX_8_BIT;
                break;
            }
            const std::uint8_t* entry = info.palette.data() + 4 * index;
            putPixel(rgba + 4 * k, entry[0], entry[1], entry[2], entry[3]);
        }
    } else if (depth < 8) {
        std::size_t bitPosition = 0;
        const std::uint32_t maxValue = (1u << depth) - 1;
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint32_t v = readBitsMsbFirst(bitPosition, raw, depth);
            const auto grey = static_cast<std::uint8_t>(v * 255 / maxValue);
            const bool keyed = info.colorKeyDefined && v == info.colorKeyRed;
            putPixel(rgba + 4 * k, grey, grey, grey, keyed ? 0 : 255);
        }
    } else if (channels <= 2) {
        for (std::size_t k = 0; k < count; ++k) {
            const std::uint8_t grey = high(k, 0);
            const std::uint8_t alpha =
                channels == 2 ? high(k, 1) : (info.colorKeyDefined && sample(k, 0) == info.colorKeyRed ? 0 : 255);
            putPixel(rgba + 4 * k, grey, grey, grey, alpha);
        }
    } else {
        for (std::size_t k = 0; k < count; ++k) {
            const bool keyed = channels == 3 && info.colorKeyDefined && sample(k, 0) == info.colorKeyRed &&
                               sample(k, 1) == info.colorKeyGreen && sample(k, 2) == info.colorKeyBlue;
            const std::uint8_t alpha = channels == 4 ? high(k, 3) : (keyed ? 0 : 255);
            putPixel(rgba + 4 * k, high(k, 0), high(k, 1), high(k, 2), alpha);
        }
    }

    pixels = rgba;
    delete[] raw;
    return result;
}

}  // namespace reference
