#pragma once

// The decoders' fast path, in each of its builds, against their exact path
// (DeflateDecoder::fastPath off: every code decoded bit by bit through its
// tree) on the same input. Each function returns the first difference in
// words, or an empty string when the paths agree on the result code and, on
// success, on every output byte. Shared by the differential test and the fuzz
// targets.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>

#include "image/inflate.h"
#include "image/png_decoder.h"
#include "image/zlib_stream.h"

namespace differential {

// A decode's result code and its output.
struct Decoded {
    unsigned code;
    ByteVector out;
};

// What differs between the two outcomes, code first, or "" when nothing does.
inline std::string differ(const char* what, const Decoded& fast, const Decoded& exact) {
    if (fast.code != exact.code)
        return std::string(what) + " code " + std::to_string(fast.code) + " fast vs " + std::to_string(exact.code);
    if (fast.out == exact.out) return {};
    const auto at = std::mismatch(fast.out.begin(), fast.out.end(), exact.out.begin(), exact.out.end()).first;
    return std::string(what) + " output: " + std::to_string(fast.out.size()) + " bytes fast vs " +
           std::to_string(exact.out.size()) + ", first difference at " + std::to_string(at - fast.out.begin());
}

// `decode()` once on each path: the fast one as the processor has it, the
// exact one, and the fast one in its plain build, which processors without
// BMI take.
template <class Decode>
auto onEachPath(Decode decode) {
    DeflateDecoder::fastPath = false;
    auto exact = decode();
    DeflateDecoder::fastPath = true;
    DeflateDecoder::bmiPath = false;
    auto plain = decode();
    DeflateDecoder::bmiPath = true;
    return std::tuple{decode(), std::move(exact), std::move(plain)};
}

// One PNG decode, through an exact copy of the file (capacity = size: the
// sanitizer sees a read past its end), into `pixels` as the caller hands them over.
inline Decoded decodePng(const ByteVector& file, ByteVector pixels = {}) {
    const ByteVector exactCopy(file);
    PngImageInfo info;
    PngDecoder::decode(pixels, exactCopy.data(), exactCopy.size(), info);
    return {info.error, std::move(pixels)};
}

// The file with the data of each IDAT chunk cut into an empty chunk and then
// chunks of `first`, first + `growth`, ... bytes, so that codes, fields and
// stored blocks straddle chunks. The chunks are walked from byte 33, as the
// decoder walks them; from one that does not lie whole in the file on, the
// bytes are kept as they are, and so is every other chunk.
inline ByteVector recut(const ByteVector& file, std::size_t first = 1, std::size_t growth = 1) {
    std::size_t p = std::min<std::size_t>(33, file.size());
    ByteVector out(file.begin(), file.begin() + std::ptrdiff_t(p));
    const auto put = [&out](const std::uint8_t* data, std::size_t n) {
        const std::uint8_t head[8] = {
            std::uint8_t(n >> 24), std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n), 'I', 'D', 'A', 'T'};
        out.insert(out.end(), head, head + 8);
        out.insert(out.end(), data, data + n);
        out.insert(out.end(), 4, 0);  // a CRC, never checked
    };
    for (std::size_t length; p + 12 <= file.size(); p += 12 + length) {
        length = std::size_t{file[p]} << 24 | file[p + 1] << 16 | file[p + 2] << 8 | file[p + 3];
        if (length > 0x7FFFFFFF || p + 12 + length > file.size()) break;
        if (std::equal(file.begin() + std::ptrdiff_t(p + 4), file.begin() + std::ptrdiff_t(p + 8), "IDAT")) {
            put(nullptr, 0);
            for (std::size_t at = 0, n = first; at < length; at += n, n += growth)
                put(&file[p + 8 + at], std::min(n, length - at));
        } else {
            out.insert(out.end(), file.begin() + std::ptrdiff_t(p), file.begin() + std::ptrdiff_t(p + 12 + length));
        }
    }
    out.insert(out.end(), file.begin() + std::ptrdiff_t(p), file.end());
    return out;
}

// A whole PNG decode on each path, as the file lies and recut(): the code,
// whether the pixels were handed over, and every RGBA byte.
inline std::string comparePng(const ByteVector& file, const ByteVector& cut) {
    const auto [fast, exact, plain] = onEachPath([&] { return decodePng(file); });
    const auto [fastCut, exactCut, plainCut] = onEachPath([&] { return decodePng(cut); });
    for (const auto& [what, other] : {std::pair{"PNG", &exact},
                                      {"PNG plain", &plain},
                                      {"PNG cut", &fastCut},
                                      {"PNG cut exact", &exactCut},
                                      {"PNG cut plain", &plainCut}})
        if (std::string d = differ(what, fast, *other); !d.empty()) return d;
    return "";
}

inline std::string comparePng(const ByteVector& file) { return comparePng(file, recut(file)); }

// A zlib stream decoded into a vector that starts as `room` bytes of junk, as
// a caller that reuses or pre-sizes its buffer hands it over: whole, and
// ended once `room` bytes have come out, as the PNG decoder ends its data. The
// output counts only on success: after a failure it must not be used.
inline std::string compareZlib(const ByteVector& in, std::size_t room) {
    const ByteVector exactCopy(in);  // capacity = size: the sanitizer sees a read past the end
    for (const std::size_t enough : {SIZE_MAX, room}) {
        auto [fast, exact, plain] = onEachPath([&] {
            Decoded d{0, ByteVector(room, 0xA5)};
            d.code = decompressZlibStream(d.out, exactCopy, enough);
            return d;
        });
        if (exact.code != 0) fast.out = plain.out = exact.out;  // the output of a failure means nothing
        std::string d = differ("zlib", fast, exact);
        if (d.empty()) d = differ("zlib plain", plain, exact);
        if (!d.empty()) return d + " (room " + std::to_string(room) + (enough == room ? ", ended there)" : ")");
    }
    return "";
}

// The decoded size, or when the stream fails a guess from its size: the room a
// caller that knows the result would hand over.
inline std::size_t expectedSize(const ByteVector& in) {
    ByteVector out;
    return decompressZlibStream(out, in) == 0 ? out.size() : 4 * in.size();
}

// A fuzz_zlib input: two bytes, little-endian, whose top two bits choose the
// room (given, exact, less, more) and whose low 14 bits give the size or the
// difference, then the stream. Shorter inputs are a stream with no room.
inline std::string compareZlibFuzzInput(const std::uint8_t* data, std::size_t size) {
    const unsigned choice = size >= 2 ? data[0] | data[1] << 8 : 0;
    const ByteVector stream(data + (size >= 2 ? 2 : 0), data + size);
    const std::size_t n = choice & 0x3FFF, exact = choice >> 14 == 0 ? 0 : expectedSize(stream);
    return compareZlib(stream, std::array{n, exact, exact - std::min(n, exact), exact + n}[choice >> 14]);
}

}  // namespace differential
