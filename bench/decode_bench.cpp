// Decoding throughput of the game's decoders beside zlib and libpng, on the
// same inputs in one run. Inputs are generated with a fixed seed.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <memory>
#include <random>
#include <vector>

#include "image/png_decoder.h"
#include "image/zlib_stream.h"
#include "tests/image/libpng_oracle.h"

namespace {

// Photo-like bytes: a smooth random walk with noise, which compresses moderately.
ByteVector mixedData(std::size_t size) {
    std::mt19937 rng(1);
    ByteVector data(size);
    int level = 128;
    for (auto& byte : data) {
        level = (level + int(rng() % 9) - 4) & 255;
        byte = std::uint8_t(rng() % 16 == 0 ? rng() : unsigned(level));
    }
    return data;
}

ByteVector zlibCompress(const ByteVector& data, int level) {
    uLongf size = compressBound(uLong(data.size()));
    ByteVector out(size);
    compress2(out.data(), &size, data.data(), uLong(data.size()), level);
    out.resize(size);
    return out;
}

ByteVector encodeRgba(std::uint32_t width, std::uint32_t height) {
    return encodeWithLibpng({width, height, PNG_COLOR_TYPE_RGBA, 8, PNG_INTERLACE_NONE, PNG_ALL_FILTERS,
                             mixedData(std::size_t{width} * height * 4), {}, {}, {}});
}

const ByteVector DATA = mixedData(8 << 20);
const ByteVector STREAM = zlibCompress(DATA, 6);
const ByteVector STORED = zlibCompress(DATA, 0);
const ByteVector IMAGE = encodeRgba(1024, 1024);

void ownInflate(benchmark::State& state, const ByteVector* stream) {
    ByteVector out;
    for (auto _ : state) benchmark::DoNotOptimize(decompressZlibStream(out, *stream));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(DATA.size()));
}

void zlibInflate(benchmark::State& state, const ByteVector* stream) {
    ByteVector out(DATA.size());
    for (auto _ : state) {
        uLongf size = uLongf(out.size());
        benchmark::DoNotOptimize(uncompress(out.data(), &size, stream->data(), uLong(stream->size())));
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(DATA.size()));
}

void ownPng(benchmark::State& state) {
    for (auto _ : state) {
        std::uint8_t* pixels = nullptr;
        PngImageInfo info;
        PngDecoder::decode(pixels, IMAGE.data(), IMAGE.size(), info);
        delete[] pixels;
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * 1024 * 1024 * 4);
}

void libpngPng(benchmark::State& state) {
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        png_image_begin_read_from_memory(&image, IMAGE.data(), IMAGE.size());
        image.format = PNG_FORMAT_RGBA;
        std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
        png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * 1024 * 1024 * 4);
}

} // namespace

BENCHMARK_CAPTURE(ownInflate, compressed, &STREAM)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zlibInflate, compressed, &STREAM)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ownInflate, stored, &STORED)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(zlibInflate, stored, &STORED)->Unit(benchmark::kMillisecond);
BENCHMARK(ownPng)->Unit(benchmark::kMillisecond);
BENCHMARK(libpngPng)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
