// Decoding throughput of the game's decoders beside established ones, on the
// same inputs in one run: zlib streams against zlib and libdeflate, PNG files
// decoded to 8-bit RGBA against libpng, spng and stb_image. The peers are here
// to give our numbers a scale; the game never links them.
//
// usage: decode_bench [INPUTS] [--benchmark_...]
// INPUTS is the folder scripts/make-bench-inputs writes (default: the build
// folder's bench-inputs). Before anything is timed, every peer's output is
// compared with ours byte for byte, so that no one wins by doing less. After
// the runs a table gives each input's throughput and the ratios ours / peer.

#include <benchmark/benchmark.h>
#include <libdeflate.h>
#include <png.h>
#include <spng.h>
#include <zlib.h>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_PNG
#include <stb/stb_image.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/repetitions.h"
#include "image/png_decoder.h"
#include "image/zlib_stream.h"

#ifndef KESTRIVANE_BENCH_INPUTS
#define KESTRIVANE_BENCH_INPUTS "build/bench-inputs"
#endif

namespace {

using Bytes = std::span<const std::uint8_t>;

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "decode_bench: %s\n", message.c_str());
    std::exit(1);
}

enum class Kind { Zlib, Png };

struct Input {
    std::string name;
    Kind kind;
    std::vector<ByteVector> files;  // level-sized images come several to an input
    std::vector<std::size_t> outputSizes;
    std::size_t outputBytes = 0;  // one iteration's decoded bytes, over all files
    std::size_t largestOutput = 0;
    std::uint32_t largestHeight = 0;
};

ByteVector readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot read " + path + "; run scripts/make-bench-inputs on the inputs folder first");
    return ByteVector(std::istreambuf_iterator<char>(in), {});
}

// The decoded size of a zlib stream, learnt from zlib itself so that our decoder plays no part in it.
std::size_t inflatedSize(const ByteVector& stream, const std::string& name) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) fail("inflateInit failed");
    z.next_in = const_cast<Bytef*>(stream.data());
    z.avail_in = uInt(stream.size());
    std::vector<Bytef> chunk(1 << 16);
    std::size_t total = 0;
    int result = Z_OK;
    while (result == Z_OK) {
        z.next_out = chunk.data();
        z.avail_out = uInt(chunk.size());
        result = inflate(&z, Z_NO_FLUSH);
        total += chunk.size() - z.avail_out;
    }
    inflateEnd(&z);
    if (result != Z_STREAM_END) fail(name + ": zlib cannot inflate the stream (" + std::to_string(result) + ")");
    return total;
}

Input loadInput(const std::string& folder, const std::string& name, Kind kind, const std::vector<std::string>& files) {
    Input input{name, kind, {}, {}, 0, 0, 0};
    for (const auto& file : files) {
        ByteVector bytes = readFile(folder + "/" + file);
        std::size_t size = 0;
        std::uint32_t height = 0;
        if (kind == Kind::Zlib) {
            size = inflatedSize(bytes, file);
        } else {
            if (bytes.size() < 29) fail(file + " is too short for a PNG file");
            auto be32 = [&](std::size_t at) {
                return std::uint32_t(bytes[at]) << 24 | std::uint32_t(bytes[at + 1]) << 16 |
                       std::uint32_t(bytes[at + 2]) << 8 | bytes[at + 3];
            };
            height = be32(20);
            size = std::size_t{be32(16)} * height * 4;
        }
        input.files.push_back(std::move(bytes));
        input.outputSizes.push_back(size);
        input.outputBytes += size;
        input.largestOutput = std::max(input.largestOutput, size);
        input.largestHeight = std::max(input.largestHeight, height);
    }
    return input;
}

// One decoder behind one interface. prepare() does, outside the timed loop,
// the allocations that the decoder's API lets the caller make ahead; decode()
// returns the decoded bytes, valid until the next call, or an empty span with
// `error` set.
class Decoder {
public:
    virtual ~Decoder() = default;
    virtual void prepare(const Input&) {}
    virtual Bytes decode(const ByteVector& file) = 0;
    std::string error;
};

// A decoder that writes into a buffer of the caller's, made once for the largest file.
class IntoBuffer : public Decoder {
public:
    void prepare(const Input& input) override { out_.resize(input.largestOutput); }

protected:
    ByteVector out_;
};

class OwnInflate : public IntoBuffer {
public:
    Bytes decode(const ByteVector& stream) override {
        if (unsigned code = decompressZlibStream(out_, stream)) {
            error = "error " + std::to_string(code);
            return {};
        }
        return out_;
    }
};

class ZlibInflate : public IntoBuffer {
public:
    Bytes decode(const ByteVector& stream) override {
        uLongf size = uLongf(out_.size());
        if (int result = uncompress(out_.data(), &size, stream.data(), uLong(stream.size())); result != Z_OK) {
            error = "error " + std::to_string(result);
            return {};
        }
        return {out_.data(), size};
    }
};

class LibdeflateInflate : public IntoBuffer {
    libdeflate_decompressor* decompressor_ = libdeflate_alloc_decompressor();

public:
    ~LibdeflateInflate() override { libdeflate_free_decompressor(decompressor_); }
    Bytes decode(const ByteVector& stream) override {
        std::size_t size = 0;
        libdeflate_result result =
            libdeflate_zlib_decompress(decompressor_, stream.data(), stream.size(), out_.data(), out_.size(), &size);
        if (result != LIBDEFLATE_SUCCESS) {
            error = "error " + std::to_string(int(result));
            return {};
        }
        return {out_.data(), size};
    }
};

// Into a buffer kept from one decode to the next, as the peers that write
// into ours are given one.
class OwnPng : public Decoder {
    ByteVector pixels_;

public:
    Bytes decode(const ByteVector& file) override {
        PngImageInfo info;
        PngDecoder::decode(pixels_, file.data(), file.size(), info);
        if (info.error) {
            error = "error " + std::to_string(info.error);
            return {};
        }
        return {pixels_.data(), pixels_.size()};
    }
};

// libpng through its row interface, with the transforms that give our output:
// palette and low depths expanded, tRNS turned into alpha, 16-bit samples cut
// to their high byte, grey spread to RGB, opaque alpha added where none is.
// Its simplified API is not used: it takes a 16-bit file without gAMA for
// linear light and converts it to sRGB, which is other work and other bytes.
class LibpngDecode : public IntoBuffer {
    std::vector<png_bytep> rows_;

    struct Reader {
        const std::uint8_t* next;
        std::size_t left;
    };

    static void read(png_structp png, png_bytep data, png_size_t size) {
        auto* reader = static_cast<Reader*>(png_get_io_ptr(png));
        if (size > reader->left) png_error(png, "read past the end of the file");
        std::memcpy(data, reader->next, size);
        reader->next += size;
        reader->left -= size;
    }

    // No C++ objects are made between setjmp and the end of this function, so a longjmp skips no destructor.
    bool decodeRows(const ByteVector& file, std::size_t& size) {
        Reader reader{file.data(), file.size()};
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        bool ok = false;
        if (setjmp(png_jmpbuf(png)) == 0) {
            png_set_read_fn(png, &reader, read);
            png_read_info(png, info);
            png_set_expand(png);
            png_set_strip_16(png);
            png_set_gray_to_rgb(png);
            png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
            png_set_interlace_handling(png);
            png_read_update_info(png, info);
            const std::size_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
            size = width * height * 4;
            if (size <= out_.size() && height <= rows_.size()) {
                for (std::size_t y = 0; y < height; ++y) rows_[y] = out_.data() + y * width * 4;
                png_read_image(png, rows_.data());
                png_read_end(png, nullptr);
                ok = true;
            }
        }
        png_destroy_read_struct(&png, &info, nullptr);
        return ok;
    }

public:
    void prepare(const Input& input) override {
        IntoBuffer::prepare(input);
        rows_.resize(input.largestHeight);
    }
    Bytes decode(const ByteVector& file) override {
        std::size_t size = 0;
        if (!decodeRows(file, size)) {
            error = "libpng refused the file";
            return {};
        }
        return {out_.data(), size};
    }
};

class SpngDecode : public IntoBuffer {
public:
    Bytes decode(const ByteVector& file) override {
        spng_ctx* ctx = spng_ctx_new(0);
        std::size_t size = 0;
        int result = spng_set_png_buffer(ctx, file.data(), file.size());
        if (result == 0) result = spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size);
        if (result == 0 && size > out_.size()) result = SPNG_EOVERFLOW;
        // SPNG_DECODE_TRNS: a tRNS chunk becomes alpha, as in ours.
        if (result == 0) result = spng_decode_image(ctx, out_.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
        spng_ctx_free(ctx);
        if (result != 0) {
            error = spng_strerror(result);
            return {};
        }
        return {out_.data(), size};
    }
};

class StbDecode : public Decoder {
    std::unique_ptr<stbi_uc, decltype(&stbi_image_free)> pixels_{nullptr, stbi_image_free};

public:
    Bytes decode(const ByteVector& file) override {
        pixels_.reset();
        int width = 0, height = 0, channels = 0;
        pixels_.reset(stbi_load_from_memory(file.data(), int(file.size()), &width, &height, &channels, 4));
        if (!pixels_) {
            error = stbi_failure_reason();
            return {};
        }
        return {pixels_.get(), std::size_t(width) * std::size_t(height) * 4};
    }
};

struct DecoderKind {
    const char* name;
    Kind kind;
    std::unique_ptr<Decoder> (*make)();
};

template <class T>
std::unique_ptr<Decoder> make() {
    return std::make_unique<T>();
}

// Ours comes first in each group: the others are compared with it.
const DecoderKind DECODERS[] = {
    {"ours", Kind::Zlib, make<OwnInflate>},
    {"zlib", Kind::Zlib, make<ZlibInflate>},
    {"libdeflate", Kind::Zlib, make<LibdeflateInflate>},
    {"ours", Kind::Png, make<OwnPng>},
    {"libpng", Kind::Png, make<LibpngDecode>},
    {"spng", Kind::Png, make<SpngDecode>},
    {"stb_image", Kind::Png, make<StbDecode>},
};

// "zlib/level6/ours": how the benchmarks are registered, and found again for the table.
std::string benchmarkName(const Input& input, const char* decoder) {
    return std::string(input.kind == Kind::Zlib ? "zlib" : "png") + "/" + input.name + "/" + decoder;
}

// Decodes every file of the input with every decoder of its kind once and
// stops the program at the first output that is not ours byte for byte.
void verify(const Input& input) {
    std::vector<ByteVector> reference;
    for (const auto& decoder : DECODERS) {
        if (decoder.kind != input.kind) continue;
        auto instance = decoder.make();
        instance->prepare(input);
        for (std::size_t i = 0; i < input.files.size(); ++i) {
            const std::string what = std::string(decoder.name) + " on " + input.name +
                                     (input.files.size() > 1 ? " (file " + std::to_string(i + 1) + ")" : "");
            Bytes out = instance->decode(input.files[i]);
            if (out.empty()) fail(what + " failed: " + instance->error);
            if (out.size() != input.outputSizes[i])
                fail(what + ": " + std::to_string(out.size()) + " bytes decoded, " +
                     std::to_string(input.outputSizes[i]) + " expected");
            if (reference.size() <= i) {
                reference.emplace_back(out.begin(), out.end());
                continue;
            }
            auto [mine, theirs] = std::mismatch(reference[i].begin(), reference[i].end(), out.begin());
            if (mine != reference[i].end()) {
                const std::size_t at = std::size_t(mine - reference[i].begin());
                fail(what + ": output differs from ours at byte " + std::to_string(at) + " (ours " +
                     std::to_string(*mine) + ", " + decoder.name + " " + std::to_string(*theirs) + ")");
            }
        }
    }
}

void registerBenchmarks(const Input& input) {
    for (const auto& decoder : DECODERS) {
        if (decoder.kind != input.kind) continue;
        benchmark::RegisterBenchmark(
            benchmarkName(input, decoder.name).c_str(),
            [&input, &decoder](benchmark::State& state) {
                auto instance = decoder.make();
                instance->prepare(input);
                for (auto _ : state) {
                    for (const auto& file : input.files) {
                        Bytes out = instance->decode(file);
                        benchmark::DoNotOptimize(out.data());
                        if (out.empty()) state.SkipWithError(instance->error.c_str());
                    }
                    benchmark::ClobberMemory();
                }
                state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(input.outputBytes));
            })
            // A decode of the large inputs takes tens of milliseconds: a quarter second a
            // repetition gives a handful of iterations and keeps the whole run within minutes.
            ->MinTime(0.25)
            ->Unit(benchmark::kMillisecond);
    }
}

// The console report as usual, then the table of ratios, from the medians of
// the repetitions when there are several.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal: the default reporter decides so, one handed in is not asked.
    explicit RatioReporter(const std::vector<Input>& inputs)
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular), inputs_(inputs) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median) continue;
            auto rate = run.counters.find("bytes_per_second");
            if (rate == run.counters.end()) continue;
            Result& result = results_[run.run_name.function_name];
            // A median outranks single repetitions; among single ones the last stays.
            if (median || !result.median) result = {rate->second.value / (1 << 20), median, run.repetitions};
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        printTable(out, Kind::Zlib, "zlib stream");
        printTable(out, Kind::Png, "PNG to RGBA8");
    }

private:
    struct Result {
        double mibPerSecond = 0;
        bool median = false;
        std::int64_t repetitions = 1;
    };

    const Result* find(const Input& input, const char* decoder) const {
        auto it = results_.find(benchmarkName(input, decoder));
        return it == results_.end() ? nullptr : &it->second;
    }

    void printTable(std::ostream& out, Kind kind, const char* title) const {
        std::vector<const char*> peers;
        for (const auto& decoder : DECODERS)
            if (decoder.kind == kind && std::strcmp(decoder.name, "ours") != 0) peers.push_back(decoder.name);

        std::string text;
        auto add = [&text](const char* format, auto... values) {
            char cell[128];
            std::snprintf(cell, sizeof cell, format, values...);
            text += cell;
        };
        bool any = false, medians = true;
        std::int64_t repetitions = 1;
        auto width = [](const char* peer) { return int(std::strlen(peer)) + 5; };  // room for "ours/peer"
        add("%-24s %8s %9s", title, "out MiB", "ours");
        for (const char* peer : peers)
            add(" %*s %*s", width(peer), peer, width(peer), ("ours/" + std::string(peer)).c_str());
        add(" %9s  %s\n", "ours/best", "best peer");
        for (const auto& input : inputs_) {
            if (input.kind != kind) continue;
            const Result* ours = find(input, "ours");
            if (!ours) continue;
            any = true;
            medians = medians && ours->median;
            repetitions = ours->repetitions;
            add("%-24s %8.1f %9.1f", input.name.c_str(), double(input.outputBytes) / (1 << 20), ours->mibPerSecond);
            const char* best = nullptr;
            double bestRate = 0;
            for (const char* peer : peers) {
                const Result* theirs = find(input, peer);
                if (!theirs) {
                    add(" %*s %*s", width(peer), "-", width(peer), "-");
                    continue;
                }
                add(" %*.1f %*.2f", width(peer), theirs->mibPerSecond, width(peer),
                    ours->mibPerSecond / theirs->mibPerSecond);
                if (theirs->mibPerSecond > bestRate) best = peer, bestRate = theirs->mibPerSecond;
            }
            if (best)
                add(" %9.2f  %s\n", ours->mibPerSecond / bestRate, best);
            else
                add(" %9s\n", "-");
        }
        if (!any) return;
        out << "\n"
            << (medians ? "Medians of " + std::to_string(repetitions) + " repetitions" : std::string("Single runs"))
            << ", MiB/s of decoded output (CPU time); a ratio above 1 means ours is faster.\n"
            << text;
    }

    const std::vector<Input>& inputs_;
    std::map<std::string, Result> results_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::vector<char*> args = initializeWithMedians(argc, argv);
    const int count = static_cast<int>(args.size()) - 1;
    if (count > 2 || (count == 2 && args[1][0] == '-'))
        fail("usage: decode_bench [INPUTS] [--benchmark_...]; unknown argument " + std::string(args[count - 1]));
    const std::string folder = count == 2 ? args[1] : KESTRIVANE_BENCH_INPUTS;

    std::vector<Input> inputs;
    inputs.push_back(loadInput(folder, "level0-stored", Kind::Zlib, {"zlib-level0.zz"}));
    for (int level : {1, 6, 9}) {
        const std::string n = std::to_string(level);
        inputs.push_back(loadInput(folder, "level" + n, Kind::Zlib, {"zlib-level" + n + ".zz"}));
    }
    for (const char* name :
         {"photo-rgb8", "photo-rgba8", "photo-rgb16", "photo-rgb8-interlaced", "photo-rgba8-interlaced", "flat-rgba8",
          "palette8", "grey8", "palette4", "flat-palette4", "grey1"})
        inputs.push_back(loadInput(folder, name, Kind::Png, {std::string(name) + ".png"}));
    inputs.push_back(
        loadInput(folder, "levels-4x100x100", Kind::Png, {"level1.png", "level2.png", "level3.png", "level4.png"}));

    for (const auto& input : inputs) verify(input);
    std::fprintf(stderr, "decode_bench: every peer's output equals ours on all %zu inputs\n", inputs.size());

    for (const auto& input : inputs) registerBenchmarks(input);
    RatioReporter reporter(inputs);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
