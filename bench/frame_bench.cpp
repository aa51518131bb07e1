// What a playing frame costs to draw with Mesa's software renderer, batched as
// the game draws it and one call per cell as it first did, in the same run:
// the shipped meadow level (100 x 100, with walls) and the meadow tiled to
// 1024 x 1024, the largest level played, in both views with the fog off (every
// cell drawn) and on (only what the snake has seen). The snake steps twenty
// times a second but at most once a frame, so below twenty frames a second the
// game itself slows down. Beside them, the frame's work outside drawing: the
// fading of every cell and the casting of the sight.
//
// usage: frame_bench [--benchmark_...]   (needs a display: make bench runs it under Xvfb)

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include <unistd.h>

#include "bench/per_cell_frame.h"
#include "bench/repetitions.h"
#include "render/render.h"
#include "shell/shell.h"

#ifndef KESTRIVANE_LEVELS
#error "KESTRIVANE_LEVELS must name the shipped levels' folder"
#endif

namespace {

constexpr std::int32_t SIZES[] = {100, 1024};

Game& benchGame() {
    static Game game;  // not movable: its sound has a ring shared with another thread
    [[maybe_unused]] static const bool ready = [] {
        if (SDL_Init(SDL_INIT_VIDEO) != 0) {
            std::fprintf(stderr, "frame_bench: %s\n", SDL_GetError());
            std::exit(1);
        }
        setGlAttributes();
        SDL_Window* window = createGameWindow();
        if (window == nullptr || !game.initRenderer(window, SDL_GL_CreateContext(window))) {
            std::fprintf(stderr, "frame_bench: no window: %s\n", SDL_GetError());
            std::exit(1);
        }
        game.onTitle = false;
        return true;
    }();
    return game;
}

// The meadow, tiled to `size` x `size` cells, with food and a new snake.
void loadMeadow(Game& game, std::int32_t size) {
    Level meadow;
    if (!meadow.load(KESTRIVANE_LEVELS "/level1.png")) std::exit(1);
    Level& level = game.level;
    level.width = level.height = size;
    level.cells.assign(static_cast<std::size_t>(size) * size, Cell{});
    for (std::int32_t y = 0; y < size; ++y) {
        for (std::int32_t x = 0; x < size; ++x) {
            Cell& cell = *level.cellAt(x, y);
            cell = *meadow.cellAt(x % meadow.width, y % meadow.height);
            cell.x = x;
            cell.y = y;
        }
    }
    const std::optional<Segment> tail = level.snakeTail();
    game.snake.reset(tail->x, tail->y, size * size);
    level.resetFood();
}

enum Drawing { BATCHED, PER_CELL };

void BM_Frame(benchmark::State& state) {
    Game& game = benchGame();
    loadMeadow(game, static_cast<std::int32_t>(state.range(0)));
    game.fog = state.range(1) != 0;
    game.setProjection(state.range(2) != 0);
    const auto draw = state.range(3) == BATCHED ? [](Game& g) { g.drawFrame(); } : per_cell::drawFrame;
    draw(game);  // the renderer compiles what it needs for this state on the first frame
    for (auto _ : state) draw(game);
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    game.setProjection(false);
}

// Each batched frame beside its per-cell counterpart: the machine's speed drifts
// less between them than between the two halves of a run.
void registerFrames(benchmark::internal::Benchmark* frames) {
    for (const int perspective : {0, 1})
        for (const std::int32_t size : SIZES)
            for (const int fog : {0, 1})
                for (const int drawing : {BATCHED, PER_CELL}) frames->Args({size, fog, perspective, drawing});
}

BENCHMARK(BM_Frame)
    ->ArgNames({"size", "fog", "perspective", "per_cell"})
    ->Apply(registerFrames)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();  // the renderer's own threads draw too

// A frame's fade of every cell and its cast of the sight, which the game does
// whatever is drawn.
void BM_FadeAndSight(benchmark::State& state) {
    Game& game = benchGame();
    loadMeadow(game, static_cast<std::int32_t>(state.range(0)));
    for (auto _ : state) {
        game.level.fade(16);
        game.castSight();
    }
}

BENCHMARK(BM_FadeAndSight)->ArgName("size")->Arg(SIZES[0])->Arg(SIZES[1])->Unit(benchmark::kMillisecond);

// The console report, then a table of frames per second with the speedups,
// from the medians of the repetitions.
class SpeedupReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal: the default reporter decides so, one handed in is not asked.
    SpeedupReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const auto fps = run.counters.find("fps");
            if (run.error_occurred || fps == run.counters.end()) continue;
            if (median || run.run_type == Run::RT_Iteration) fps_[run.run_name.args] = fps->second.value;
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::FILE* out = stdout;
        std::fflush(out);
        std::fprintf(out, "\nFrames per second (medians), batched against one call per cell:\n");
        std::fprintf(out, "%-12s %-4s %-4s %10s %10s %8s\n", "view", "size", "fog", "batched", "per cell", "speedup");
        for (const char* view : {"flat", "perspective"}) {
            for (const std::int32_t size : SIZES) {
                for (const int fog : {0, 1}) {
                    const double batched = fps(size, fog, view, BATCHED), perCell = fps(size, fog, view, PER_CELL);
                    std::fprintf(out, "%-12s %-4d %-4s %10.1f %10.1f %7.2fx\n", view, size, fog ? "on" : "off", batched,
                                 perCell, batched / perCell);
                }
            }
        }
        for (const char* view : {"flat", "perspective"})
            std::fprintf(out, "%s view, fog off: a %d level's frame takes %.2f times a %d one's\n", view, SIZES[1],
                         fps(SIZES[0], 0, view, BATCHED) / fps(SIZES[1], 0, view, BATCHED), SIZES[0]);
    }

private:
    double fps(std::int32_t size, int fog, const char* view, Drawing drawing) const {
        const std::string perspective = std::string(view) == "flat" ? "0" : "1";
        const auto it = fps_.find("size:" + std::to_string(size) + "/fog:" + std::to_string(fog) +
                                  "/perspective:" + perspective + "/per_cell:" + std::to_string(drawing));
        return it == fps_.end() ? 0.0 : it->second;
    }

    std::map<std::string, double> fps_;  // by the benchmark's arguments
};

}  // namespace

int main(int argc, char** argv) {
    // Repetitions in random order, so that a drift in the machine's speed
    // spreads over both drawings alike.
    std::vector<char*> args = initializeWithMedians(argc, argv, {"--benchmark_enable_random_interleaving=true"});
    int count = static_cast<int>(args.size()) - 1;
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    SpeedupReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
}
