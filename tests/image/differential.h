#pragma once

// The fast decoders in image/ against the plain ones kept in tests/reference/:
// each function runs one input through both and returns the first difference
// in words, or an empty string when they agree. The rewrite must keep every
// result code and every output byte, so anything a caller can rely on is
// compared. Shared by the differential test and the fuzz targets.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "image/png_decoder.h"
#include "image/zlib_stream.h"
#include "tests/reference/png_decoder.h"
#include "tests/reference/zlib_stream.h"

namespace differential {

// "what: fast vs reference", or "" when they are equal.
inline std::string differ(const char* what, std::uint64_t fast, std::uint64_t reference) {
    if (fast == reference) return {};
    return std::string(what) + ": " + std::to_string(fast) + " fast vs " + std::to_string(reference) + " reference";
}

inline std::string differ(const char* what, const ByteVector& fast, const ByteVector& reference) {
    if (fast == reference) return {};
    std::size_t at = 0;
    while (at < fast.size() && at < reference.size() && fast[at] == reference[at]) ++at;
    std::string message = std::string(what) + ": " + std::to_string(fast.size()) + " bytes fast vs " +
                          std::to_string(reference.size()) + " reference, first difference at byte " +
                          std::to_string(at);
    if (at < fast.size() && at < reference.size())
        message += " (" + std::to_string(fast[at]) + " vs " + std::to_string(reference[at]) + ")";
    return message;
}

// The fields a decode leaves in PngImageInfo, listed once for both decoders' types.
template <class FastInfo, class ReferenceInfo>
std::string compareInfo(const FastInfo& fast, const ReferenceInfo& reference, bool headerOnly) {
    std::string d;
    if (d.empty()) d = differ("width", fast.width, reference.width);
    if (d.empty()) d = differ("height", fast.height, reference.height);
    if (d.empty()) d = differ("colour type", fast.colorType, reference.colorType);
    if (d.empty()) d = differ("bit depth", fast.bitDepth, reference.bitDepth);
    if (d.empty()) d = differ("compression method", fast.compressionMethod, reference.compressionMethod);
    if (d.empty()) d = differ("filter method", fast.filterMethod, reference.filterMethod);
    if (d.empty()) d = differ("interlace method", fast.interlaceMethod, reference.interlaceMethod);
    if (headerOnly) return d;
    if (d.empty()) d = differ("colour key defined", fast.colorKeyDefined, reference.colorKeyDefined);
    if (d.empty()) d = differ("colour key red", fast.colorKeyRed, reference.colorKeyRed);
    if (d.empty()) d = differ("colour key green", fast.colorKeyGreen, reference.colorKeyGreen);
    if (d.empty()) d = differ("colour key blue", fast.colorKeyBlue, reference.colorKeyBlue);
    if (d.empty()) d = differ("palette", fast.palette, reference.palette);
    return d;
}

// readHeader on the first 29 bytes: the code, and the fields it stores before
// each check (the game reads the size from them before it decodes).
inline std::string compareHeader(const std::uint8_t* data) {
    PngImageInfo fast;
    reference::PngImageInfo ref;
    PngDecoder::readHeader(data, fast);
    reference::PngDecoder::readHeader(data, ref);
    std::string d = differ("readHeader error", fast.error, ref.error);
    if (d.empty()) d = compareInfo(fast, ref, true);
    return d.empty() ? d : "readHeader " + d;
}

// A whole decode: its code and whether it handed over a buffer; on success also
// everything in PngImageInfo and every RGBA byte.
inline std::string comparePng(const std::uint8_t* data, std::size_t size) {
    std::uint8_t* fastRaw = nullptr;
    std::uint8_t* refRaw = nullptr;
    PngImageInfo fast;
    reference::PngImageInfo ref;
    PngDecoder::decode(fastRaw, data, size, fast);
    reference::PngDecoder::decode(refRaw, data, size, ref);
    const std::unique_ptr<std::uint8_t[]> fastPixels(fastRaw), refPixels(refRaw);

    constexpr std::size_t HEADER_END = 29;
    std::string d = data != nullptr && size >= HEADER_END ? compareHeader(data) : std::string();
    if (d.empty()) d = differ("error", fast.error, ref.error);
    if (d.empty()) d = differ("pixels handed over", fastRaw != nullptr, refRaw != nullptr);
    if (!d.empty() || ref.error != 0) return d;

    d = compareInfo(fast, ref, false);
    if (!d.empty() || refRaw == nullptr) return d;
    const std::size_t bytes = std::size_t{ref.width} * ref.height * 4;
    return differ("RGBA", ByteVector(fastRaw, fastRaw + bytes), ByteVector(refRaw, refRaw + bytes));
}

// Both decoders on `in`, each into a vector that starts as `room` bytes of
// `fill`, as a caller that reuses or pre-sizes its buffer hands it over. The
// output counts only on success: after a failure it must not be used.
inline std::string compareZlib(const ByteVector& in, std::size_t room, std::uint8_t fill = 0xA5) {
    const ByteVector exact(in);  // capacity = size: the sanitizer sees a read past the end
    ByteVector fastOut(room, fill), refOut(room, fill);
    const unsigned fastCode = decompressZlibStream(fastOut, exact);
    const unsigned refCode = reference::decompressZlibStream(refOut, exact);
    std::string d = differ("zlib code", fastCode, refCode);
    if (d.empty() && refCode == 0) d = differ("zlib output", fastOut, refOut);
    return d.empty() ? d : d + " (room " + std::to_string(room) + ")";
}

// The reference's output size, or when it fails a guess from the input size:
// the room a caller that knows the result would hand over.
inline std::size_t expectedSize(const ByteVector& in) {
    ByteVector out;
    return reference::decompressZlibStream(out, in) == 0 ? out.size() : 4 * in.size();
}

// compareZlib with no room, the exact room, less and more.
inline std::string compareZlibAtSizes(const ByteVector& in) {
    const std::size_t exact = expectedSize(in);
    for (const std::size_t room : {std::size_t{0}, exact, exact / 2, exact + 1, 2 * exact + 100})
        if (std::string d = compareZlib(in, room); !d.empty()) return d;
    return {};
}

// A fuzz_zlib input: two bytes, little-endian, whose top two bits choose the
// room (given, exact, less, more) and whose low 14 bits give the size or the
// difference, then the stream. Shorter inputs are a stream with no room.
inline std::string compareZlibFuzzInput(const std::uint8_t* data, std::size_t size) {
    const unsigned choice = size >= 2 ? data[0] | data[1] << 8 : 0;
    const ByteVector stream(data + (size >= 2 ? 2 : 0), data + size);
    const std::size_t n = choice & 0x3FFF;
    std::size_t room = n;
    if (choice >> 14 != 0) {
        const std::size_t exact = expectedSize(stream);
        room = choice >> 14 == 1 ? exact : choice >> 14 == 2 ? exact - std::min(n, exact) : exact + n;
    }
    return compareZlib(stream, room);
}

}  // namespace differential
