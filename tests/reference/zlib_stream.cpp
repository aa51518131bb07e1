// The plain decoder as it stood before the fast rewrite, kept as the reference
// that the differential test and the fuzz targets hold the fast decoder to.
// Do not change it: where the two differ, the fast one is wrong.

#include "tests/reference/zlib_stream.h"

#include "tests/reference/inflate.h"

namespace reference {

unsigned decompressZlibStream(ByteVector& out, const ByteVector& in) {
    if (in.size() < 2) return ZLIB_INPUT_TOO_SHORT;
    const unsigned cmf = in[0];
    const unsigned flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0) return ZLIB_HEADER_CHECK_FAILED;
    if ((cmf & 15) != 8 || (cmf >> 4) > 7) return ZLIB_UNSUPPORTED_METHOD;
    if ((flg & 32) != 0) return ZLIB_PRESET_DICTIONARY;

    DeflateDecoder decoder;
    decoder.inflate(out, in);
    return decoder.errorCode;
}

}  // namespace reference
