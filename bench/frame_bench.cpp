// What a playing frame costs to draw with Mesa's software renderer: the shipped
// meadow level in both views with the fog off (every cell drawn) and on (only
// what the snake sees), and a level four times as wide with the fog off. The
// snake steps twenty times a second but at most once a frame, so below twenty
// frames a second the game itself slows down.
//
// usage: frame_bench [--benchmark_...]   (needs a display: make bench runs it under Xvfb)

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "render/render.h"
#include "shell/shell.h"

#ifndef KESTRIVANE_LEVELS
#error "KESTRIVANE_LEVELS must name the shipped levels' folder"
#endif

namespace {

Game& benchGame() {
    static Game game = [] {
        Game g;
        if (SDL_Init(SDL_INIT_VIDEO) != 0) {
            std::fprintf(stderr, "frame_bench: %s\n", SDL_GetError());
            std::exit(1);
        }
        setGlAttributes();
        SDL_Window* window = createGameWindow();
        if (window == nullptr || !g.initRenderer(window, SDL_GL_CreateContext(window))) {
            std::fprintf(stderr, "frame_bench: no window: %s\n", SDL_GetError());
            std::exit(1);
        }
        g.onTitle = false;
        return g;
    }();
    return game;
}

// Loads the meadow, or `repeat` x `repeat` copies of it side by side.
void loadMeadow(Game& game, std::int32_t repeat) {
    Level meadow;
    if (!meadow.load(KESTRIVANE_LEVELS "/level1.png")) std::exit(1);
    Level& level = game.level;
    level.width = meadow.width * repeat;
    level.height = meadow.height * repeat;
    level.cells.assign(static_cast<std::size_t>(level.width) * level.height, Cell{});
    for (std::int32_t y = 0; y < level.height; ++y) {
        for (std::int32_t x = 0; x < level.width; ++x) {
            Cell& cell = *level.cellAt(x, y);
            cell = *meadow.cellAt(x % meadow.width, y % meadow.height);
            cell.x = x;
            cell.y = y;
        }
    }
    const std::optional<Segment> tail = level.snakeTail();
    game.snake.reset(tail->x, tail->y, level.width * level.height);
    level.resetFood();
}

void BM_Frame(benchmark::State& state) {
    Game& game = benchGame();
    loadMeadow(game, static_cast<std::int32_t>(state.range(0)));
    game.fog = state.range(1) != 0;
    game.setProjection(state.range(2) != 0);
    for (auto _ : state) game.drawFrame();
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    game.setProjection(false);
}

BENCHMARK(BM_Frame)
    ->ArgNames({"repeat", "fog", "perspective"})
    ->Args({1, 1, 0})
    ->Args({1, 0, 0})
    ->Args({1, 1, 1})
    ->Args({1, 0, 1})
    ->Args({4, 0, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();  // the renderer's own threads draw too

}  // namespace

BENCHMARK_MAIN();
