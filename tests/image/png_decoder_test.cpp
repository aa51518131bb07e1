// PNG decoding: hand-built files for each failure code and for the chunk rules
// that still decode.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "image/png_decoder.h"
#include "image/zlib_stream.h"
#include "tests/image/differential.h"
#include "tests/image/libpng_oracle.h"

namespace {

const Chunk GREY_2x2 = ihdr(2, 2, 8, 0);
const Chunk GREY_2x2_ROWS = idat({0, 10, 20, 0, 30, 40});

ByteVector withByte(ByteVector file, std::size_t at, std::uint8_t value) {
    file[at] = value;
    return file;
}

}  // namespace

// Every failure code the chunks can give, and the chunk rules that still decode.
TEST(PngDecoder, EveryFileDecodesOrFailsWithItsCode) {
    const ByteVector valid = assemble({GREY_2x2, GREY_2x2_ROWS, IEND});
    const ByteVector grey = {10, 10, 10, 255, 20, 20, 20, 255, 30, 30, 30, 255, 40, 40, 40, 255};
    const Chunk palette1{"PLTE", {1, 2, 3}}, text{"tEXt", {'k', 0, 'v'}}, rgbKey{"tRNS", {0, 1, 0, 2, 0, 3}};
    const ByteVector& rows = GREY_2x2_ROWS.data;
    const Chunk firstRows{"IDAT", {rows.begin(), rows.begin() + 3}}, lastRows{"IDAT", {rows.begin() + 3, rows.end()}};
    const struct {
        const char* name;
        ByteVector file;
        unsigned code;
        ByteVector rgba = {};
    } cases[] = {
        {"empty", {}, PNG_NO_INPUT},
        {"28 bytes", ByteVector(valid.begin(), valid.begin() + 28), PNG_INPUT_TOO_SHORT},
        // IHDR's bytes: width 16-19, height 20-23, then depth, colour type, compression, filter and interlace
        {"signature before IHDR", withByte(withByte(valid, 1, 'p'), 12, 'i'), PNG_BAD_SIGNATURE},
        {"no IHDR", withByte(valid, 12, 'i'), PNG_NO_IHDR},
        {"compression before colour type", withByte(withByte(valid, 26, 1), 25, 5), PNG_BAD_COMPRESSION_METHOD},
        {"filter method", withByte(valid, 27, 1), PNG_BAD_FILTER_METHOD},
        {"interlace method", withByte(valid, 28, 2), PNG_BAD_INTERLACE_METHOD},
        {"16-bit palette", withByte(withByte(valid, 24, 16), 25, 3), PNG_BAD_BIT_DEPTH},
        {"3-bit grey", withByte(valid, 24, 3), PNG_BAD_BIT_DEPTH},
        {"no IEND", assemble({GREY_2x2, GREY_2x2_ROWS}), PNG_NO_IEND},
        {"ends after IEND type", ByteVector(valid.begin(), valid.end() - 4), PNG_NO_IEND},
        {"chunk too long", withByte(assemble({GREY_2x2, text, GREY_2x2_ROWS, IEND}), 33, 0x80), PNG_CHUNK_TOO_LONG},
        {"chunk a byte past the end", withByte(assemble({GREY_2x2, text}), 36, 8), PNG_CHUNK_PAST_END},
        {"257 entries", assemble({ihdr(1, 1, 8, 3), {"PLTE", ByteVector(771, 0)}, IEND}), PNG_PALETTE_TOO_LARGE},
        {"tRNS before PLTE", assemble({ihdr(1, 1, 8, 3), {"tRNS", {0}}, palette1, IEND}), PNG_TRNS_PALETTE_TOO_LONG},
        {"tRNS too long", assemble({ihdr(1, 1, 8, 3), palette1, {"tRNS", {0, 0}}, IEND}), PNG_TRNS_PALETTE_TOO_LONG},
        {"grey tRNS", assemble({GREY_2x2, {"tRNS", {0, 0, 0}}, IEND}), PNG_TRNS_BAD_GREY_LENGTH},
        {"RGB tRNS", assemble({ihdr(1, 1, 8, 2), {"tRNS", {0, 0}}, IEND}), PNG_TRNS_BAD_RGB_LENGTH},
        {"RGBA tRNS", assemble({ihdr(1, 1, 8, 6), {"tRNS", {}}, IEND}), PNG_TRNS_WITH_ALPHA},
        {"grey-alpha tRNS", assemble({ihdr(1, 1, 8, 4), {"tRNS", {0, 0}}, IEND}), PNG_TRNS_WITH_ALPHA},
        {"unknown critical", assemble({GREY_2x2, {"ABCD", {}}, GREY_2x2_ROWS, IEND}), PNG_UNKNOWN_CRITICAL_CHUNK},
        {"second IHDR", assemble({GREY_2x2, GREY_2x2, GREY_2x2_ROWS, IEND}), PNG_UNKNOWN_CRITICAL_CHUNK},
        {"zlib header", assemble({GREY_2x2, {"IDAT", {0x78, 0x9D, 3, 0}}, IEND}), ZLIB_HEADER_CHECK_FAILED},
        {"filter type 5", assemble({GREY_2x2, idat({0, 1, 2, 5, 3, 4}), IEND}), PNG_BAD_FILTER_TYPE},
        {"filter 5 in pass 7", assemble({ihdr(2, 2, 8, 0, 1), idat({0, 1, 0, 2, 5, 3, 4}), IEND}), PNG_BAD_FILTER_TYPE},
        {"8-bit index", assemble({ihdr(2, 1, 8, 3), palette1, idat({0, 0, 1}), IEND}), PNG_PALETTE_INDEX_8_BIT},
        {"2-bit index", assemble({ihdr(2, 1, 2, 3), palette1, idat({0, 0x10}), IEND}), PNG_PALETTE_INDEX_LOW_BIT},
        // pixels up to the bad index convert, even within the byte that holds it
        {"4-bit index", assemble({ihdr(6, 1, 4, 3), {"PLTE", {1, 2, 3, 4, 5, 6}}, idat({0, 0x01, 0x02, 0x10}), IEND}),
         PNG_PALETTE_INDEX_LOW_BIT,
         ByteVector{1, 2, 3, 255, 4, 5, 6, 255, 1, 2, 3, 255, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"no PLTE 8-bit", assemble({ihdr(1, 1, 8, 3), idat({0, 0}), IEND}), PNG_PALETTE_INDEX_8_BIT},
        {"no PLTE 1-bit", assemble({ihdr(1, 1, 1, 3), idat({0, 0}), IEND}), PNG_PALETTE_INDEX_LOW_BIT},
        {"one row short", assemble({GREY_2x2, idat({0, 1, 2}), IEND}), PNG_SCANLINES_TOO_SHORT},
        {"zero width, filter bytes missing", assemble({ihdr(0, 5, 8, 6), idat({0, 0}), IEND}), PNG_SCANLINES_TOO_SHORT},
        {"zero width, 2^21 rows", assemble({ihdr(0, 1 << 21, 1, 0), idat({}), IEND}), PNG_SCANLINES_TOO_SHORT},
        {"one byte short", assemble({ihdr(2, 2, 8, 0, 1), idat({0, 1, 0, 2, 0, 3}), IEND}), PNG_SCANLINES_TOO_SHORT},
        {"65536 squared", assemble({ihdr(65536, 65536, 8, 6), GREY_2x2_ROWS, IEND}), PNG_IMAGE_TOO_LARGE},
        {"16-bit RGBA raw over 1 GiB", assemble({ihdr(16384, 16384, 16, 6), GREY_2x2_ROWS, IEND}), PNG_IMAGE_TOO_LARGE},
        {"bad CRCs and IHDR length", withByte(valid, 11, 99), 0, grey},  // the walk starts at byte 33 all the same
        {"IEND CRC cut short", ByteVector(valid.begin(), valid.end() - 1), 0, grey},
        {"IEND with data", assemble({GREY_2x2, GREY_2x2_ROWS, {"IEND", {1, 2}}}), 0, grey},
        {"ancillary between IDATs", assemble({GREY_2x2, text, firstRows, {"gAMA", {0, 0, 0, 1}}, lastRows, IEND}), 0,
         grey},
        {"grey key 256 never matches", assemble({GREY_2x2, {"tRNS", {1, 0}}, GREY_2x2_ROWS, IEND}), 0, grey},
        // 256 entries and two bytes more, entry 255 being 1, 9, 9
        {"770-byte PLTE",
         assemble({ihdr(1, 1, 8, 3), {"PLTE", withByte(ByteVector(770, 9), 765, 1)}, idat({0, 255}), IEND}), 0,
         ByteVector{1, 9, 9, 255}},
        {"empty tRNS", assemble({ihdr(1, 1, 8, 3), palette1, {"tRNS", {}}, idat({0, 0}), IEND}), 0, {1, 2, 3, 255}},
        {"later PLTE resets alpha",
         assemble({ihdr(1, 1, 8, 3), palette1, {"tRNS", {5}}, {"PLTE", {4, 5, 6}}, idat({0, 0}), IEND}), 0,
         ByteVector{4, 5, 6, 255}},
        {"16-bit key needs the low byte",
         assemble({ihdr(2, 1, 16, 0), {"tRNS", {18, 255}}, idat({0, 18, 255, 18, 254}), IEND}), 0,
         ByteVector{18, 18, 18, 0, 18, 18, 18, 255}},
        {"RGB key: all three samples", assemble({ihdr(2, 1, 8, 2), rgbKey, idat({0, 1, 2, 3, 1, 2, 4}), IEND}), 0,
         ByteVector{1, 2, 3, 0, 1, 2, 4, 255}},
        {"16-bit RGB key", assemble({ihdr(2, 1, 16, 2), rgbKey, idat({0, 0, 1, 0, 2, 0, 3, 0, 1, 0, 2, 0, 4}), IEND}),
         0, ByteVector{0, 0, 0, 0, 0, 0, 0, 255}},
        {"zero width", assemble({ihdr(0, 3, 8, 2), idat({0, 1, 2}), IEND}), 0},
        {"2^31 wide, no rows", assemble({ihdr(1u << 31, 0, 16, 6), idat({}), IEND}), 0},  // no room made for a row
        // a stored block of the rows, then a block of type 3, which nothing reads
        {"data past the scanlines unread",
         assemble({GREY_2x2, {"IDAT", {0x78, 0x01, 0, 6, 0, 0xF9, 0xFF, 0, 10, 20, 0, 30, 40, 7}}, IEND}), 0, grey},
    };
    const ByteVector untouched = {1, 2, 3};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The pixels are the caller's: left alone until decompression has succeeded.
        const differential::Decoded decoded = differential::decodePng(c.file, untouched);
        if (c.code == 0 || !c.rgba.empty()) {
            EXPECT_EQ(decoded.out, c.rgba);
        }
        const bool decompressed = c.code == 0 || c.code == PNG_BAD_FILTER_TYPE || c.code == PNG_PALETTE_INDEX_8_BIT ||
                                  c.code == PNG_PALETTE_INDEX_LOW_BIT;
        EXPECT_EQ(std::tuple(decoded.code, decoded.out != untouched), std::tuple(c.code, decompressed));
    }
}

// A stream of 16 MiB of zeros, a decompression bomb, decodes no further than
// the bytes asked for, and takes little more room than they need.
TEST(ZlibStream, InflatesNoFurtherThanAsked) {
    const ByteVector bomb = compressWithZlib(ByteVector(16 << 20, 0));
    for (const std::size_t enough : {0, 1, 5, 100000}) {
        ByteVector out;
        EXPECT_EQ(decompressZlibStream(out, bomb, enough), 0u);
        EXPECT_TRUE(out.size() >= enough && out.size() <= enough + 258 && out.capacity() <= 2 * enough + 258)
            << enough << ": " << out.size() << " in " << out.capacity();
    }
}

// Image data cut into one-byte chunks, each behind an empty IDAT and an
// ancillary chunk, is found in little more than one walk over the chunks,
// whatever its blocks: never a walk from the first chunk for each byte, nor
// twice over the bytes a copy has passed.
TEST(PngDecoder, FindsTheImageDataInOneWalkOverTheChunks) {
    ByteVector rows(256 * 257);
    for (std::uint32_t i = 0, x = 1; i < rows.size(); ++i, x = x * 1103515245 + 12345) rows[i] = std::uint8_t(x >> 27);
    for (const int level : {0, 1, 9}) {
        std::vector<Chunk> chunks = {ihdr(256, 256, 8, 0)};
        for (const std::uint8_t byte : compressWithZlib(rows, level))
            chunks.insert(chunks.end(), {{"IDAT", {}}, {"tEXt", {}}, {"IDAT", {byte}}});
        chunks.push_back(IEND);
        const ByteVector file = assemble(chunks);
        PngImageInfo info;
        ImageData imageData;
        PngDecoder::readChunks(file.data(), file.size(), info, imageData);
        ByteVector out;
        ASSERT_EQ(decompressZlibStream(out, imageData, SIZE_MAX, nullptr), 0u) << level;
        EXPECT_EQ(out, rows) << level;
        EXPECT_LE(imageData.chunksWalked, 3 * chunks.size() / 2) << level;
    }
}
