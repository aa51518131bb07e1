// Decoding throughput of the game's decoders beside established ones, on the
// same inputs in one run: zlib streams against zlib and libdeflate, PNG files
// decoded to 8-bit RGBA against libpng, spng and stb_image. The peers are here
// to give our numbers a scale; the game never links them.
//
// usage: decode_bench [INPUTS] [--benchmark_...]
// INPUTS is the folder scripts/make-bench-inputs writes (default: the build
// folder's bench-inputs). Before anything is timed, every peer's output is
// compared with ours byte for byte, so that no one wins by doing less. After
// the runs a table gives each input's throughput and the ratios ours / peer,
// and alternating rounds against libdeflate judge the target on zlib streams.

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>

#include <unistd.h>

#include "bench/peers.h"
#include "bench/repetitions.h"

#ifndef KESTRIVANE_BENCH_INPUTS
#define KESTRIVANE_BENCH_INPUTS "build/bench-inputs"
#endif

namespace {

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
            const PngSize png = pngSize(bytes, file);
            height = png.height;
            size = std::size_t{png.width} * height * 4;
        }
        input.files.push_back(std::move(bytes));
        input.outputSizes.push_back(size);
        input.outputBytes += size;
        input.largestOutput = std::max(input.largestOutput, size);
        input.largestHeight = std::max(input.largestHeight, height);
    }
    return input;
}

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

    // Whether ours was timed on the input: the command line may have filtered it out.
    bool ran(const Input& input) const { return find(input, "ours") != nullptr; }

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

std::unique_ptr<Decoder> makeDecoder(Kind kind, const char* name) {
    for (const auto& decoder : DECODERS)
        if (decoder.kind == kind && std::strcmp(decoder.name, name) == 0) return decoder.make();
    fail(std::string("no decoder ") + name);
}

// libdeflate's time over ours for the stream, the median of alternating
// rounds: each times three decodes by ours, then three by libdeflate, so that
// both meet the machine in the same moment. Timed one after the other, as the
// benchmarks are, the two drift apart by several percent from run to run.
double alternatingRatio(const Input& input) {
    constexpr int ROUNDS = 21;
    constexpr int DECODES = 3;
    const auto ours = makeDecoder(Kind::Zlib, "ours");
    const auto peer = makeDecoder(Kind::Zlib, "libdeflate");
    ours->prepare(input);
    peer->prepare(input);
    const auto time = [&input](Decoder& decoder) {
        const auto start = std::chrono::steady_clock::now();
        for (int k = 0; k < DECODES; ++k)
            for (const auto& file : input.files) benchmark::DoNotOptimize(decoder.decode(file).data());
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    std::vector<double> ratios;
    for (int round = 0; round < ROUNDS; ++round) {
        const double oursSeconds = time(*ours);
        ratios.push_back(time(*peer) / oursSeconds);
    }
    std::nth_element(ratios.begin(), ratios.begin() + ROUNDS / 2, ratios.end());
    return ratios[ROUNDS / 2];
}

// In process, the compressed streams are to decode at least 1.10 times as
// fast as libdeflate decodes them; stored ones are all copying.
void printZlibTarget(const std::vector<Input>& inputs, const RatioReporter& reporter) {
    constexpr double TARGET = 1.10;
    std::string ratios, missed;
    for (const auto& input : inputs) {
        if (input.kind != Kind::Zlib || input.name.find("stored") != std::string::npos || !reporter.ran(input))
            continue;
        const double ratio = alternatingRatio(input);
        char cell[64];
        std::snprintf(cell, sizeof cell, "%s%s %.3f", ratios.empty() ? "" : ", ", input.name.c_str(), ratio);
        ratios += cell;
        if (ratio < TARGET) missed += (missed.empty() ? "" : ", ") + input.name;
    }
    if (ratios.empty()) return;
    std::printf(
        "\nTarget, ours at least %.2f times libdeflate on each compressed stream, in alternating rounds "
        "(%s): %s\n",
        TARGET, ratios.c_str(), missed.empty() ? "met" : ("missed on " + missed).c_str());
}

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
          "palette8", "grey8", "palette4", "flat-palette4", "grey1", "chunks-100k", "chunks-1m"})
        inputs.push_back(loadInput(folder, name, Kind::Png, {std::string(name) + ".png"}));
    inputs.push_back(
        loadInput(folder, "levels-4x100x100", Kind::Png, {"level1.png", "level2.png", "level3.png", "level4.png"}));

    for (const auto& input : inputs) verify(input);
    std::fprintf(stderr, "decode_bench: every peer's output equals ours on all %zu inputs\n", inputs.size());

    for (const auto& input : inputs) registerBenchmarks(input);
    RatioReporter reporter(inputs);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printZlibTarget(inputs, reporter);
    benchmark::Shutdown();
}
