#include "image/zlib_stream.h"

#include <algorithm>

namespace {

// The room a stream gets when its caller hands over none: four times its
// size covers most data, which DEFLATE seldom packs tighter, so the output
// need not grow and be copied. Room never written costs no memory: the
// vector leaves its bytes unset, and untouched pages are never mapped in.
constexpr std::size_t FIRST_ROOM_RATIO = 4;
constexpr std::size_t FIRST_ROOM_EXTRA = std::size_t{64} << 10;

}  // namespace

unsigned decompressZlibStream(ByteVector& out, std::span<const std::uint8_t> in, std::size_t enough) {
    return decompressZlibStream(out, WholeInput(in), enough, nullptr);
}

unsigned decompressZlibStream(ByteVector& out, const InputPieces& in, std::size_t enough, OutputSink* sink) {
    // The header's two bytes may lie in two pieces.
    if (in.size() < 2) return ZLIB_INPUT_TOO_SHORT;
    const InputPieces::Piece first = in.first();
    const unsigned cmf = first.bytes[0];
    const unsigned flg = first.bytes.size() > 1 ? first.bytes[1] : in.next(first).bytes[0];
    if ((cmf * 256 + flg) % 31 != 0) return ZLIB_HEADER_CHECK_FAILED;
    if ((cmf & 15) != 8 || (cmf >> 4) > 7) return ZLIB_UNSUPPORTED_METHOD;
    if ((flg & 32) != 0) return ZLIB_PRESET_DICTIONARY;

    if (out.empty()) out.resize(std::min(FIRST_ROOM_RATIO * in.size() + FIRST_ROOM_EXTRA, enough));
    DeflateDecoder decoder;
    decoder.inflate(out, in, 2, enough, sink);
    return decoder.errorCode;
}
