// What a playing frame costs to draw with Mesa's software renderer, batched as
// the game draws it and one call per cell as it first did, in the same run:
// the shipped meadow level (100 x 100, with walls) and the meadow tiled to
// 1024 x 1024, the largest level played, in both views with the fog off (every
// cell drawn) and on (only what the snake has seen), at full resolution in the
// 800 x 800 window. The snake steps twenty times a second but at most once a
// frame, so below twenty frames a second the game itself slows down. Beside
// them, the frame's work outside drawing: the fading of every cell and the
// casting of the sight. Then the meadow's frames in windows as large as full
// screens, with the resolution adapting as in the game: each row's median
// frame against its target, its share of frames over a step, and the side it
// settled on; beside each, the frame held at full resolution with smoothed
// edges, which costs about what every frame cost in a multisampled window.
//
// usage: frame_bench [--benchmark_...]   (needs a display of 2160 x 2160 at
// least: make bench runs it under Xvfb)

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include <unistd.h>

#include "bench/per_cell_frame.h"
#include "bench/repetitions.h"
#include "render/canvas.h"
#include "render/render.h"
#include "shell/shell.h"

#ifndef KESTRIVANE_LEVELS
#error "KESTRIVANE_LEVELS must name the shipped levels' folder"
#endif

namespace {

constexpr std::int32_t SIZES[] = {100, 1024};
constexpr std::int32_t SCREEN_SIDES[] = {1080, 1440, 2160};
constexpr int SETTLING_FRAMES = 150;  // enough for the resolution to have tried the steps above it
constexpr int MEASURED_FRAMES = 150;
constexpr double STEP_MS = 50;  // a frame slower than this slows the game

// The median frame each screen should keep to.
double targetMs(std::int32_t side) { return side > 1440 ? 40 : 25; }

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

// Gives the window `side` pixels both ways, as the game learns it from its events.
void resizeWindow(Game& game, std::int32_t side) {
    SDL_SetWindowSize(game.window, side, side);
    for (const Uint32 start = SDL_GetTicks(); SDL_GetTicks() - start < 2000; SDL_Delay(5)) {
        SDL_PumpEvents();
        game.fitWindow();
        if (game.width == side && game.height == side) return;
    }
    std::fprintf(stderr, "frame_bench: the window did not take %d x %d pixels\n", side, side);
    std::exit(1);
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
    resizeWindow(game, WINDOW_SIZE);
    game.canvas->resolution = {.step = ONE_SAMPLE_STEP, .adapts = false};  // the drawing alone, at full resolution
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

// The meadow in a window as large as a full screen, in one view and fog: its
// frames from where the resolution settled, adapting as in the game, or held
// at full resolution, smoothed.
void BM_ScreenFrame(benchmark::State& state) {
    Game& game = benchGame();
    resizeWindow(game, static_cast<std::int32_t>(state.range(0)));
    loadMeadow(game, SIZES[0]);
    game.fog = state.range(1) != 0;
    game.setProjection(state.range(2) != 0);
    game.canvas->resolution = {.adapts = state.range(3) != 0};  // full resolution at first, as at the game's start
    for (int i = 0; i < SETTLING_FRAMES; ++i) game.drawFrame();
    std::vector<double> ms;
    for (auto _ : state) {
        const Uint64 start = SDL_GetPerformanceCounter();
        game.drawFrame();
        ms.push_back(static_cast<double>(SDL_GetPerformanceCounter() - start) * 1000 /
                     static_cast<double>(SDL_GetPerformanceFrequency()));
    }
    std::sort(ms.begin(), ms.end());
    state.counters["median_ms"] = ms[ms.size() / 2];
    state.counters["over_step"] = static_cast<double>(ms.end() - std::upper_bound(ms.begin(), ms.end(), STEP_MS)) /
                                  static_cast<double>(ms.size());
    state.counters["side"] = game.canvas->resolution.side(state.range(0));
    state.counters["smoothed"] = game.canvas->resolution.multisampled();
    game.setProjection(false);
}

BENCHMARK(BM_ScreenFrame)
    ->ArgNames({"side", "fog", "perspective", "adapting"})
    ->ArgsProduct({{SCREEN_SIDES[0], SCREEN_SIDES[1], SCREEN_SIDES[2]}, {0, 1}, {0, 1}, {1, 0}})
    ->Iterations(MEASURED_FRAMES)
    ->Repetitions(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

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
            if (run.error_occurred || !(median || run.run_type == Run::RT_Iteration)) continue;
            for (const auto& [name, counter] : run.counters) counters_[run.run_name.args][name] = counter.value;
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
        reportScreens(out);
    }

private:
    // Each screen's rows: the median frame against its target, the share of
    // frames over a step, the side drawn at, and the smoothed full resolution's
    // median beside it.
    void reportScreens(std::FILE* out) const {
        std::fprintf(out,
                     "\nThe meadow on large screens, adapting (median frame, of its target, frames over %.0f ms,"
                     " side drawn at) against smoothed full resolution:\n",
                     STEP_MS);
        std::fprintf(out, "%-6s %-12s %-4s %9s %9s %9s %6s %9s %9s\n", "side", "view", "fog", "median", "of target",
                     "over step", "drawn", "smoothed", "speedup");
        bool met = true;
        for (const std::int32_t side : SCREEN_SIDES)
            for (const int perspective : {0, 1})
                for (const int fog : {1, 0}) {
                    const auto key = [&](int adapting) {
                        return "side:" + std::to_string(side) + "/fog:" + std::to_string(fog) +
                               "/perspective:" + std::to_string(perspective) + "/adapting:" + std::to_string(adapting);
                    };
                    const auto adapting = counters_.find(key(1)), held = counters_.find(key(0));
                    if (adapting == counters_.end() || held == counters_.end()) continue;
                    const auto& a = adapting->second;
                    const double ofTarget = a.at("median_ms") / targetMs(side);
                    met = met && ofTarget <= 1 && a.at("over_step") <= 0.05;
                    std::fprintf(out, "%-6d %-12s %-4s %7.1fms %9.2f %8.1f%% %6.0f%s %7.1fms %8.2fx\n", side,
                                 perspective ? "perspective" : "flat", fog ? "on" : "off", a.at("median_ms"), ofTarget,
                                 100 * a.at("over_step"), a.at("side"), a.at("smoothed") != 0 ? "s" : " ",
                                 held->second.at("median_ms"), held->second.at("median_ms") / a.at("median_ms"));
                }
        std::fprintf(out, "Targets (median up to 25 ms to 1440, 40 ms at 2160; at most 5%% over a step): %s\n",
                     met ? "met" : "MISSED");
    }

    double fps(std::int32_t size, int fog, const char* view, Drawing drawing) const {
        const std::string perspective = std::string(view) == "flat" ? "0" : "1";
        const auto it = counters_.find("size:" + std::to_string(size) + "/fog:" + std::to_string(fog) +
                                       "/perspective:" + perspective + "/per_cell:" + std::to_string(drawing));
        return it == counters_.end() ? 0.0 : it->second.at("fps");
    }

    std::map<std::string, std::map<std::string, double>> counters_;  // by the benchmark's arguments
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
