#pragma once

// The system zlib as the maker of test streams.

#include <zlib.h>

#include "image/byte_vector.h"

// `data` deflated by zlib with the given level, strategy and window bits, as a zlib stream.
inline ByteVector compressWithZlib(const ByteVector& data, int level, int strategy, int windowBits) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, windowBits, 8, strategy);
    ByteVector out(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}
