#pragma once

// PNG decoding into 8-bit RGBA: signature and header, the chunk walk, the
// image data inflated as one zlib stream from the IDAT chunks where they lie,
// and the scanline stage (unfilter, Adam7, conversion) fed row by row as the
// data inflates. Everything of one decode lives in the call and in the
// PngImageInfo the caller hands in. CRCs are never checked, and nothing
// behind the IEND chunk is ever read: level files keep their score there.
// The image data is inflated only as far as the scanlines need: what it holds
// beyond them is never read, whether it is valid or not, so that a small file
// cannot inflate to gigabytes. Beside the file and the pixels, a decode holds
// a window of the inflated data and two rows.

#include <cstddef>
#include <cstdint>

#include "image/byte_vector.h"
#include "image/inflate.h"

// Result codes of the PNG decoder; the zlib and DEFLATE codes pass through unchanged.
inline constexpr unsigned PNG_INPUT_TOO_SHORT = 27;         // fewer than 29 bytes: no room for signature and IHDR
inline constexpr unsigned PNG_BAD_SIGNATURE = 28;           // bytes 0 to 7 are not the PNG signature
inline constexpr unsigned PNG_NO_IHDR = 29;                 // bytes 12 to 15 are not IHDR
inline constexpr unsigned PNG_NO_IEND = 30;                 // the input ended before an IEND chunk
inline constexpr unsigned PNG_BAD_COLOR_TYPE = 31;          // colour type is not 0, 2, 3, 4 or 6
inline constexpr unsigned PNG_BAD_COMPRESSION_METHOD = 32;  // compression method is not 0
inline constexpr unsigned PNG_BAD_FILTER_METHOD = 33;       // filter method is not 0
inline constexpr unsigned PNG_BAD_INTERLACE_METHOD = 34;    // interlace method is above 1
inline constexpr unsigned PNG_CHUNK_PAST_END = 35;          // a chunk's data runs past the end of the input
inline constexpr unsigned PNG_BAD_FILTER_TYPE = 36;         // a scanline's filter-type byte is above 4
inline constexpr unsigned PNG_BAD_BIT_DEPTH = 37;           // bit depth not allowed for the colour type
inline constexpr unsigned PNG_PALETTE_TOO_LARGE = 38;       // more than 256 palette entries
inline constexpr unsigned PNG_TRNS_PALETTE_TOO_LONG = 39;   // more alpha values than palette entries
inline constexpr unsigned PNG_TRNS_BAD_GREY_LENGTH = 40;    // greyscale tRNS whose length is not 2
inline constexpr unsigned PNG_TRNS_BAD_RGB_LENGTH = 41;     // RGB tRNS whose length is not 6
inline constexpr unsigned PNG_TRNS_WITH_ALPHA = 42;         // tRNS for a colour type that has an alpha channel
inline constexpr unsigned PNG_SCANLINES_TOO_SHORT = 43;     // the decompressed data is shorter than the scanlines need
inline constexpr unsigned PNG_IMAGE_TOO_LARGE = 44;         // a buffer of the image would exceed MAX_IMAGE_BYTES
inline constexpr unsigned PNG_PALETTE_INDEX_8_BIT = 46;     // an 8-bit palette index not below the number of entries
inline constexpr unsigned PNG_PALETTE_INDEX_LOW_BIT = 47;   // a 1-, 2- or 4-bit palette index not below that
inline constexpr unsigned PNG_NO_INPUT = 48;                // input size 0 or no input
inline constexpr unsigned PNG_CHUNK_TOO_LONG = 63;          // chunk length above 2^31 - 1
inline constexpr unsigned PNG_UNKNOWN_CRITICAL_CHUNK = 69;  // an unknown chunk whose first letter is upper case

// The colour types a header may name, as PNG numbers them.
inline constexpr std::uint32_t PNG_GREY = 0;
inline constexpr std::uint32_t PNG_RGB = 2;
inline constexpr std::uint32_t PNG_PALETTE = 3;
inline constexpr std::uint32_t PNG_GREY_ALPHA = 4;
inline constexpr std::uint32_t PNG_RGB_ALPHA = 6;

// Neither the RGBA buffer nor the raw image of one decode may exceed this, so
// that a hostile header cannot make the program allocate gigabytes.
inline constexpr std::uint64_t MAX_IMAGE_BYTES = std::uint64_t{1} << 30;

struct PngImageInfo {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t colorType = 0;
    std::uint32_t bitDepth = 0;
    std::uint32_t compressionMethod = 0;
    std::uint32_t filterMethod = 0;
    std::uint32_t interlaceMethod = 0;
    std::uint32_t colorKeyRed = 0;  // the grey sample for colour type 0
    std::uint32_t colorKeyGreen = 0;
    std::uint32_t colorKeyBlue = 0;
    bool colorKeyDefined = false;
    ByteVector palette;  // R, G, B, A per entry
    std::uint32_t error = 0;
};

// Where a PNG's image data lies: the data of its IDAT chunks in file order,
// read in place. It holds only where the first non-empty one lies and how
// much there is, and finds each next piece by walking the chunks behind the
// last, so that it costs the same however finely the data is cut, and empty
// chunks cost nothing.
class ImageData final : public InputPieces {
public:
    // Notes the IDAT chunk that begins at `chunk` (its length field), the
    // chunks being met in file order.
    void add(const std::uint8_t* chunk, std::uint32_t length);

    std::size_t size() const override { return size_; }
    Piece first() const override;
    Piece next(const Piece& piece) const override;

    // The chunks next() has stepped onto: the work of finding the pieces.
    mutable std::size_t chunksWalked = 0;

private:
    const std::uint8_t* firstChunk_ = nullptr;
    std::size_t size_ = 0;
};

struct PngDecoder {
    // Decodes the PNG file image `data` of `size` bytes. The outcome is
    // info.error. `pixels` is the caller's, left as it was until decompression
    // has succeeded and then replaced by the decoder's width * height * 4
    // bytes; on success they are the RGBA pixels, rows top to bottom.
    static void decode(ByteVector& pixels, const std::uint8_t* data, std::size_t size, PngImageInfo& info);

    // Checks the signature and IHDR and stores the header fields, each before its check.
    static void readHeader(const std::uint8_t* data, PngImageInfo& info);

    // Walks the chunks behind IHDR up to IEND: reads PLTE and tRNS into
    // `info` and notes each IDAT in `imageData`.
    static void readChunks(const std::uint8_t* data, std::size_t size, PngImageInfo& info, ImageData& imageData);

    // Where the PNG data of a file ends: the offset just past the IEND chunk's
    // CRC, found by walking the chunks from the signature; 0 when the
    // signature is wrong or a chunk runs past `size` before a whole IEND.
    static std::size_t fileEnd(const std::uint8_t* data, std::size_t size);

    // 0, PNG_BAD_COLOR_TYPE or PNG_BAD_BIT_DEPTH.
    static unsigned checkColorTypeAndDepth(std::uint32_t colorType, std::uint32_t bitDepth);
};
