#include "image/zlib_stream.h"

#include "image/inflate.h"

unsigned decompressZlibStream(ByteVector& out, const ByteVector& in, std::size_t enough) {
    if (in.size() < 2) return ZLIB_INPUT_TOO_SHORT;
    const unsigned cmf = in[0];
    const unsigned flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0) return ZLIB_HEADER_CHECK_FAILED;
    if ((cmf & 15) != 8 || (cmf >> 4) > 7) return ZLIB_UNSUPPORTED_METHOD;
    if ((flg & 32) != 0) return ZLIB_PRESET_DICTIONARY;

    DeflateDecoder decoder;
    decoder.inflate(out, in, enough);
    return decoder.errorCode;
}
