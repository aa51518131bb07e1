#pragma once

// The five filters a PNG row may carry (None, Sub, Up, Average, Paeth),
// undone on one row at a time. All inline: the scanline stage calls them with
// a constant pixel width for 8-bit RGBA rows, which the loops are worth
// compiling for.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

inline constexpr std::uint32_t MAX_FILTER_TYPE = 4;

// Written to choose by selects rather than branches, so that the scalar Paeth
// loop does not mispredict on every byte.
inline std::uint8_t paethPredictor(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    const int bOrC = pb <= pc ? b : c;
    return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : bOrC);
}

// The filters one by one, for reconstructScanline.
namespace filters {

// Each writes the reconstructed row to `to` from the filtered bytes at `from`,
// which may be the same place. Each loop has one job, without a branch per
// byte; the bytes of the first pixel, which have no left neighbour, go apart.

inline std::size_t firstPixelBytes(std::size_t bpp, std::size_t length) { return bpp < length ? bpp : length; }

// A row of an image 0 pixels wide has no bytes, and its `to` may be null.
inline void unfilterNone(std::uint8_t* to, const std::uint8_t* from, std::size_t length) {
    if (to != from && length != 0) std::memcpy(to, from, length);
}

inline void unfilterUp(std::uint8_t* to, const std::uint8_t* from, const std::uint8_t* previous, std::size_t length) {
    if (previous == nullptr) return unfilterNone(to, from, length);
    std::size_t i = 0;
#ifdef __SSE2__
    // Sixteen bytes at a time; `to` may be `from`, which each block reads before writing.
    for (; i + 16 <= length; i += 16) {
        const __m128i sum = _mm_add_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)),
                                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(previous + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), sum);
    }
#endif
    for (; i < length; ++i) to[i] = static_cast<std::uint8_t>(from[i] + previous[i]);
}

#ifdef __SSE2__
// The filters that look left, on whole pixels of four bytes in 16-bit lanes:
// the serial dependency runs from pixel to pixel instead of from byte to byte.
// (Three-byte pixels gain nothing: moved as four bytes, each store would
// overlap the next load.) `predict` takes the left, upper and upper-left
// pixels. Returns where the scalar loop takes over.
template <typename Predict>
inline std::size_t unfilterPixels(std::uint8_t* to, const std::uint8_t* from, const std::uint8_t* previous,
                                  std::size_t bpp, std::size_t length, Predict predict) {
    if (bpp != 4 || length < 2 * bpp) return bpp;
    const auto load = [](const std::uint8_t* p) {
        std::int32_t word;
        std::memcpy(&word, p, 4);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(word), _mm_setzero_si128());
    };
    __m128i a = load(to);  // the first pixel, done by the caller
    __m128i c = load(previous);
    std::size_t i = bpp;
    for (; i + bpp <= length; i += bpp) {
        const __m128i b = load(previous + i);
        const __m128i predicted = predict(a, b, c);
        a = _mm_and_si128(_mm_add_epi16(load(from + i), predicted), _mm_set1_epi16(0xFF));
        const std::int32_t word = _mm_cvtsi128_si32(_mm_packus_epi16(a, a));
        std::memcpy(to + i, &word, 4);
        c = b;
    }
    return i;
}

inline __m128i averagePredictor(__m128i a, __m128i b, __m128i) { return _mm_srli_epi16(_mm_add_epi16(a, b), 1); }

// a when pa <= pb and pa <= pc; else b when pb <= pc; else c.
inline __m128i paethPredictorPixels(__m128i a, __m128i b, __m128i c) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bc = _mm_sub_epi16(b, c);
    const __m128i ac = _mm_sub_epi16(a, c);
    const __m128i abc = _mm_add_epi16(bc, ac);
    const __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc));
    const __m128i pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
    const __m128i pc = _mm_max_epi16(abc, _mm_sub_epi16(zero, abc));
    const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
    const __m128i notB = _mm_cmpgt_epi16(pb, pc);
    const __m128i bOrC = _mm_or_si128(_mm_andnot_si128(notB, b), _mm_and_si128(notB, c));
    return _mm_or_si128(_mm_andnot_si128(notA, a), _mm_and_si128(notA, bOrC));
}
#endif

inline void unfilterSub(std::uint8_t* to, const std::uint8_t* from, std::size_t bpp, std::size_t length) {
    unfilterNone(to, from, firstPixelBytes(bpp, length));
    std::size_t i = bpp;
#ifdef __SSE2__
    // Sub has no row above; the filtered row stands in for it, unread by the predictor.
    i = unfilterPixels(to, from, from, bpp, length, [](__m128i a, __m128i, __m128i) { return a; });
#endif
    for (; i < length; ++i) to[i] = static_cast<std::uint8_t>(from[i] + to[i - bpp]);
}

inline void unfilterAverage(std::uint8_t* to, const std::uint8_t* from, const std::uint8_t* previous, std::size_t bpp,
                            std::size_t length) {
    const std::size_t first = firstPixelBytes(bpp, length);
    if (previous == nullptr) {
        unfilterNone(to, from, first);
        for (std::size_t i = bpp; i < length; ++i) to[i] = static_cast<std::uint8_t>(from[i] + (to[i - bpp] >> 1));
        return;
    }
    for (std::size_t i = 0; i < first; ++i) to[i] = static_cast<std::uint8_t>(from[i] + (previous[i] >> 1));
    std::size_t i = bpp;
#ifdef __SSE2__
    i = unfilterPixels(to, from, previous, bpp, length, averagePredictor);
#endif
    for (; i < length; ++i) to[i] = static_cast<std::uint8_t>(from[i] + ((to[i - bpp] + previous[i]) >> 1));
}

inline void unfilterPaeth(std::uint8_t* to, const std::uint8_t* from, const std::uint8_t* previous, std::size_t bpp,
                          std::size_t length) {
    if (previous == nullptr) return unfilterSub(to, from, bpp, length);  // with no row above, Paeth picks the left byte
    const std::size_t first = firstPixelBytes(bpp, length);
    for (std::size_t i = 0; i < first; ++i) to[i] = static_cast<std::uint8_t>(from[i] + previous[i]);
    std::size_t i = bpp;
#ifdef __SSE2__
    i = unfilterPixels(to, from, previous, bpp, length, paethPredictorPixels);
#endif
    for (; i < length; ++i)
        to[i] = static_cast<std::uint8_t>(from[i] + paethPredictor(to[i - bpp], previous[i], previous[i - bpp]));
}

}  // namespace filters

// Undoes filter `filterType` (0 to 4) on the `length` bytes at `from`, writing
// them to `to`, which may be `from` itself; `previous` is the reconstructed
// row above, or null for the first row of an image or pass.
inline void reconstructScanline(std::uint8_t* to, const std::uint8_t* from, const std::uint8_t* previous,
                                std::size_t pixelByteWidth, std::uint32_t filterType, std::size_t length) {
    switch (filterType) {
    case 1: filters::unfilterSub(to, from, pixelByteWidth, length); break;
    case 2: filters::unfilterUp(to, from, previous, length); break;
    case 3: filters::unfilterAverage(to, from, previous, pixelByteWidth, length); break;
    case 4: filters::unfilterPaeth(to, from, previous, pixelByteWidth, length); break;
    default: filters::unfilterNone(to, from, length); break;
    }
}
