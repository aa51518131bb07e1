#pragma once

// Conversion of reconstructed rows to 8-bit RGBA, for every colour type and
// bit depth: samples below eight bits through tables, 16-bit samples by their
// high byte, transparency from the palette or the colour key. A converter
// writes `count` pixels from one row to `out`, `step` bytes apart (the Adam7
// passes scatter them), and returns 0 or the code of the first palette index
// outside the palette; from that index on, pixels are left zero, as in an
// image converted up to it.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/png_decoder.h"

inline void clearPixels(std::uint8_t* out, std::uint32_t count, std::size_t step) {
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

// The converter of one image, its tables filled once for all its rows.
struct RgbaConverter {
    const PngImageInfo& info;
    std::size_t paletteEntries;
    LowSamples low;  // for depths below 8, grey levels or palette entries

    RgbaConverter(const PngImageInfo& image, std::size_t entries) : info(image), paletteEntries(entries) {
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
