#include "image/png_decoder.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "image/png_scanlines.h"
#include "image/zlib_stream.h"

namespace {

constexpr std::uint8_t SIGNATURE[8] = {137, 80, 78, 71, 13, 10, 26, 10};
constexpr std::size_t HEADER_END = 29;     // signature, IHDR length and type, 13 bytes of IHDR data
constexpr std::uint64_t FIRST_CHUNK = 33;  // behind IHDR and its CRC, whatever its length field says
constexpr std::uint32_t MAX_CHUNK_LENGTH = 0x7FFFFFFF;
constexpr std::size_t MAX_PALETTE_ENTRIES = 256;
// No DEFLATE stream expands more than this: a 258-byte match can cost two bits.
constexpr std::uint64_t MAX_INFLATE_RATIO = 1032;
// The scanline data passes through a window of the last HISTORY_BYTES and
// this much more, so that moving the history to its front is seldom.
constexpr std::size_t WINDOW_ROOM = std::size_t{64} << 10;

std::uint32_t readU32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::uint32_t readU16(const std::uint8_t* p) { return (std::uint32_t{p[0]} << 8) | p[1]; }

bool isType(const std::uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

void readPalette(const std::uint8_t* body, std::uint32_t length, PngImageInfo& info) {
    const std::size_t entries = length / 3;
    if (entries > MAX_PALETTE_ENTRIES) {
        info.error = PNG_PALETTE_TOO_LARGE;
        return;
    }
    info.palette.assign(entries * 4, 255);
    for (std::size_t i = 0; i < entries; ++i) std::memcpy(&info.palette[4 * i], body + 3 * i, 3);
}

void readTransparency(const std::uint8_t* body, std::uint32_t length, PngImageInfo& info) {
    switch (info.colorType) {
    case 3:
        if (length > info.palette.size() / 4) {
            info.error = PNG_TRNS_PALETTE_TOO_LONG;
            return;
        }
        for (std::size_t i = 0; i < length; ++i) info.palette[4 * i + 3] = body[i];
        return;
    case 0:
        if (length != 2) {
            info.error = PNG_TRNS_BAD_GREY_LENGTH;
            return;
        }
        info.colorKeyRed = info.colorKeyGreen = info.colorKeyBlue = readU16(body);
        info.colorKeyDefined = true;
        return;
    case 2:
        if (length != 6) {
            info.error = PNG_TRNS_BAD_RGB_LENGTH;
            return;
        }
        info.colorKeyRed = readU16(body);
        info.colorKeyGreen = readU16(body + 2);
        info.colorKeyBlue = readU16(body + 4);
        info.colorKeyDefined = true;
        return;
    default: info.error = PNG_TRNS_WITH_ALPHA; return;
    }
}

// Whether the RGBA buffer and the raw image both stay within MAX_IMAGE_BYTES.
bool fitsSizeLimit(const PngImageInfo& info) {
    // The pixel count goes first, so that the raw size cannot overflow.
    if (std::uint64_t{info.width} * info.height > MAX_IMAGE_BYTES / 4) return false;
    return rawImageBytes(info) <= MAX_IMAGE_BYTES;
}

// The window the scanline data is inflated through: the history and room
// beyond it, but no more than all the rows and the decoder's margin when they
// are fewer. The rows need no room in it: a row cut by the window's end is
// gathered by the scanline stage.
std::size_t windowBytes(std::uint64_t scanlineBytes) {
    return static_cast<std::size_t>(std::min(std::uint64_t{HISTORY_BYTES + WINDOW_ROOM}, scanlineBytes) +
                                    FAST_OUTPUT_MARGIN);
}

// Takes the bytes of a stream too short to fill the rows, only for its result code.
struct Discard final : OutputSink {
    std::size_t take(std::span<const std::uint8_t> bytes) override { return bytes.size(); }
};

}  // namespace

void ImageData::add(const std::uint8_t* chunk, std::uint32_t length) {
    if (length == 0) return;
    if (size_ == 0) firstChunk_ = chunk;
    size_ += length;
}

InputPieces::Piece ImageData::first() const {
    if (size_ == 0) return {};
    return {{firstChunk_ + 8, readU32(firstChunk_)}, 0};
}

// The walk up to IEND has checked every chunk on the way, and one with data lies ahead.
InputPieces::Piece ImageData::next(const Piece& piece) const {
    const std::size_t start = piece.start + piece.bytes.size();
    for (const std::uint8_t* chunk = piece.bytes.data() + piece.bytes.size() + 4;;) {
        ++chunksWalked;
        const std::uint32_t length = readU32(chunk);
        if (length > 0 && isType(chunk + 4, "IDAT")) return {{chunk + 8, length}, start};
        chunk += 12 + std::size_t{length};
    }
}

unsigned PngDecoder::checkColorTypeAndDepth(std::uint32_t colorType, std::uint32_t bitDepth) {
    switch (colorType) {
    case 0:
        return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16 ? 0
                                                                                                  : PNG_BAD_BIT_DEPTH;
    case 3: return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 ? 0 : PNG_BAD_BIT_DEPTH;
    case 2:
    case 4:
    case 6: return bitDepth == 8 || bitDepth == 16 ? 0 : PNG_BAD_BIT_DEPTH;
    default: return PNG_BAD_COLOR_TYPE;
    }
}

void PngDecoder::readHeader(const std::uint8_t* data, PngImageInfo& info) {
    if (std::memcmp(data, SIGNATURE, sizeof SIGNATURE) != 0) {
        info.error = PNG_BAD_SIGNATURE;
        return;
    }
    if (!isType(data + 12, "IHDR")) {
        info.error = PNG_NO_IHDR;
        return;
    }
    info.width = readU32(data + 16);
    info.height = readU32(data + 20);
    info.bitDepth = data[24];
    info.colorType = data[25];
    info.compressionMethod = data[26];
    if (info.compressionMethod != 0) {
        info.error = PNG_BAD_COMPRESSION_METHOD;
        return;
    }
    info.filterMethod = data[27];
    if (info.filterMethod != 0) {
        info.error = PNG_BAD_FILTER_METHOD;
        return;
    }
    info.interlaceMethod = data[28];
    if (info.interlaceMethod > 1) {
        info.error = PNG_BAD_INTERLACE_METHOD;
        return;
    }
    info.error = checkColorTypeAndDepth(info.colorType, info.bitDepth);
}

void PngDecoder::readChunks(const std::uint8_t* data, std::size_t size, PngImageInfo& info, ImageData& imageData) {
    info.colorKeyDefined = false;
    for (std::uint64_t p = FIRST_CHUNK;;) {
        if (p + 8 >= size) {
            info.error = PNG_NO_IEND;
            return;
        }
        const std::uint32_t length = readU32(data + p);
        if (length > MAX_CHUNK_LENGTH) {
            info.error = PNG_CHUNK_TOO_LONG;
            return;
        }
        if (p + 8 + length > size) {
            info.error = PNG_CHUNK_PAST_END;
            return;
        }
        const std::uint8_t* type = data + p + 4;
        const std::uint8_t* body = data + p + 8;
        if (isType(type, "IDAT"))
            imageData.add(data + p, length);
        else if (isType(type, "IEND"))
            return;
        else if (isType(type, "PLTE"))
            readPalette(body, length, info);
        else if (isType(type, "tRNS"))
            readTransparency(body, length, info);
        else if ((type[0] & 32) == 0)
            info.error = PNG_UNKNOWN_CRITICAL_CHUNK;
        if (info.error != 0) return;
        p += 12 + std::uint64_t{length};
    }
}

std::size_t PngDecoder::fileEnd(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof SIGNATURE || std::memcmp(data, SIGNATURE, sizeof SIGNATURE) != 0) return 0;
    for (std::uint64_t p = sizeof SIGNATURE; p + 12 <= size;) {
        const std::uint32_t length = readU32(data + p);
        const std::uint64_t next = p + 12 + std::uint64_t{length};
        if (length > MAX_CHUNK_LENGTH || next > size) return 0;
        if (isType(data + p + 4, "IEND")) return static_cast<std::size_t>(next);
        p = next;
    }
    return 0;
}

void PngDecoder::decode(ByteVector& pixels, const std::uint8_t* data, std::size_t size, PngImageInfo& info) {
    info.error = 0;
    if (size == 0 || data == nullptr) {
        info.error = PNG_NO_INPUT;
        return;
    }
    if (size < HEADER_END) {
        info.error = PNG_INPUT_TOO_SHORT;
        return;
    }
    readHeader(data, info);
    if (info.error != 0) return;

    ImageData imageData;
    readChunks(data, size, info, imageData);
    if (info.error != 0) return;
    if (!fitsSizeLimit(info)) {
        info.error = PNG_IMAGE_TOO_LARGE;
        return;
    }

    // Only the bytes the scanlines need are inflated: whatever data follows
    // them is never read, so that no stream inflates without bound.
    const std::uint64_t scanlineBytes = scanlineBytesNeeded(info);
    ByteVector window(windowBytes(scanlineBytes));
    const std::uint64_t compressedBytes = imageData.size();

    // The rows go into pixels of the decoder's own, handed over only once the
    // data has inflated whole, so that the caller's are untouched when it
    // fails. Data that cannot fill the rows gets no pixels at all: only the
    // stream's own failure can come before the shortfall's.
    ByteVector rgba;
    std::optional<ScanlineDecoder> rows;
    Discard discard;
    if (scanlineBytes <= compressedBytes * MAX_INFLATE_RATIO) {
        rgba.resize(std::size_t{info.width} * info.height * 4);
        rows.emplace(rgba.data(), info);
    }
    info.error = decompressZlibStream(window, imageData, static_cast<std::size_t>(scanlineBytes),
                                      rows ? static_cast<OutputSink*>(&*rows) : &discard);
    if (info.error != 0) return;
    if (!rows || !rows->complete()) {
        info.error = PNG_SCANLINES_TOO_SHORT;
        return;
    }
    info.error = rows->finish();
    pixels = std::move(rgba);
}
