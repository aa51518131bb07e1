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

unsigned readPalette(const std::uint8_t* body, std::uint32_t length, PngImageInfo& info) {
    const std::size_t entries = length / 3;
    if (entries > MAX_PALETTE_ENTRIES) return PNG_PALETTE_TOO_LARGE;
    info.palette.assign(entries * 4, 255);
    for (std::size_t i = 0; i < entries; ++i) std::memcpy(&info.palette[4 * i], body + 3 * i, 3);
    return 0;
}

unsigned readTransparency(const std::uint8_t* body, std::uint32_t length, PngImageInfo& info) {
    switch (info.colorType) {
    case PNG_PALETTE:
        if (length > info.palette.size() / 4) return PNG_TRNS_PALETTE_TOO_LONG;
        for (std::size_t i = 0; i < length; ++i) info.palette[4 * i + 3] = body[i];
        return 0;
    case PNG_GREY:
        if (length != 2) return PNG_TRNS_BAD_GREY_LENGTH;
        info.colorKeyRed = info.colorKeyGreen = info.colorKeyBlue = readU16(body);
        info.colorKeyDefined = true;
        return 0;
    case PNG_RGB:
        if (length != 6) return PNG_TRNS_BAD_RGB_LENGTH;
        info.colorKeyRed = readU16(body);
        info.colorKeyGreen = readU16(body + 2);
        info.colorKeyBlue = readU16(body + 4);
        info.colorKeyDefined = true;
        return 0;
    default: return PNG_TRNS_WITH_ALPHA;
    }
}

// The header's fields, each stored before its check; the first failing code.
unsigned readHeaderFields(const std::uint8_t* data, PngImageInfo& info) {
    if (std::memcmp(data, SIGNATURE, sizeof SIGNATURE) != 0) return PNG_BAD_SIGNATURE;
    if (!isType(data + 12, "IHDR")) return PNG_NO_IHDR;
    info.width = readU32(data + 16);
    info.height = readU32(data + 20);
    info.bitDepth = data[24];
    info.colorType = data[25];
    info.compressionMethod = data[26];
    if (info.compressionMethod != 0) return PNG_BAD_COMPRESSION_METHOD;
    info.filterMethod = data[27];
    if (info.filterMethod != 0) return PNG_BAD_FILTER_METHOD;
    info.interlaceMethod = data[28];
    if (info.interlaceMethod > 1) return PNG_BAD_INTERLACE_METHOD;
    return PngDecoder::checkColorTypeAndDepth(info.colorType, info.bitDepth);
}

// The chunks behind IHDR up to IEND; the first failing code.
unsigned walkChunks(const std::uint8_t* data, std::size_t size, PngImageInfo& info, ImageData& imageData) {
    info.colorKeyDefined = false;
    for (std::uint64_t p = FIRST_CHUNK;;) {
        if (p + 8 >= size) return PNG_NO_IEND;
        const std::uint32_t length = readU32(data + p);
        if (length > MAX_CHUNK_LENGTH) return PNG_CHUNK_TOO_LONG;
        if (p + 8 + length > size) return PNG_CHUNK_PAST_END;
        const std::uint8_t* type = data + p + 4;
        const std::uint8_t* body = data + p + 8;
        unsigned error = 0;
        if (isType(type, "IDAT"))
            imageData.add(data + p, length);
        else if (isType(type, "IEND"))
            return 0;
        else if (isType(type, "PLTE"))
            error = readPalette(body, length, info);
        else if (isType(type, "tRNS"))
            error = readTransparency(body, length, info);
        else if ((type[0] & 32) == 0)
            error = PNG_UNKNOWN_CRITICAL_CHUNK;
        if (error != 0) return error;
        p += 12 + std::uint64_t{length};
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

// The rows of the image data's stream, converted; the first failing code.
unsigned inflateRows(ByteVector& pixels, const ImageData& imageData, const PngImageInfo& info) {
    // Only the bytes the scanlines need are inflated: whatever data follows
    // them is never read, so that no stream inflates without bound.
    const std::uint64_t scanlineBytes = scanlineBytesNeeded(info);
    ByteVector window(windowBytes(scanlineBytes));

    // The rows go into pixels of the decoder's own, handed over only once the
    // data has inflated whole, so that the caller's are untouched when it
    // fails. Data that cannot fill the rows gets no pixels at all: only the
    // stream's own failure can come before the shortfall's.
    ByteVector rgba;
    std::optional<ScanlineDecoder> rows;
    Discard discard;
    if (scanlineBytes <= imageData.size() * MAX_INFLATE_RATIO) {
        rgba.resize(std::size_t{info.width} * info.height * 4);
        rows.emplace(rgba.data(), info);
    }
    const unsigned streamError = decompressZlibStream(window, imageData, static_cast<std::size_t>(scanlineBytes),
                                                      rows ? static_cast<OutputSink*>(&*rows) : &discard);
    if (streamError != 0) return streamError;
    if (!rows || !rows->complete()) return PNG_SCANLINES_TOO_SHORT;
    const unsigned conversionError = rows->finish();  // the pixels before a bad palette index are kept
    pixels = std::move(rgba);
    return conversionError;
}

unsigned decodeFile(ByteVector& pixels, const std::uint8_t* data, std::size_t size, PngImageInfo& info) {
    if (size == 0 || data == nullptr) return PNG_NO_INPUT;
    if (size < HEADER_END) return PNG_INPUT_TOO_SHORT;
    if (const unsigned error = readHeaderFields(data, info)) return error;
    ImageData imageData;
    if (const unsigned error = walkChunks(data, size, info, imageData)) return error;
    if (!fitsSizeLimit(info)) return PNG_IMAGE_TOO_LARGE;
    return inflateRows(pixels, imageData, info);
}

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
    const bool lowDepth = bitDepth == 1 || bitDepth == 2 || bitDepth == 4;
    const bool wholeBytes = bitDepth == 8 || bitDepth == 16;
    switch (colorType) {
    case PNG_GREY: return lowDepth || wholeBytes ? 0 : PNG_BAD_BIT_DEPTH;
    case PNG_PALETTE: return lowDepth || bitDepth == 8 ? 0 : PNG_BAD_BIT_DEPTH;
    case PNG_RGB:
    case PNG_GREY_ALPHA:
    case PNG_RGB_ALPHA: return wholeBytes ? 0 : PNG_BAD_BIT_DEPTH;
    default: return PNG_BAD_COLOR_TYPE;
    }
}

void PngDecoder::readHeader(const std::uint8_t* data, PngImageInfo& info) { info.error = readHeaderFields(data, info); }

void PngDecoder::readChunks(const std::uint8_t* data, std::size_t size, PngImageInfo& info, ImageData& imageData) {
    info.error = walkChunks(data, size, info, imageData);
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
    info.error = decodeFile(pixels, data, size, info);
}
