#include "render/resolution.h"

#include <gtest/gtest.h>

namespace {

constexpr float BUDGET_MS = 20;

// Frames that take what the case says at each step (now and then six times
// as long), 3000 of them: where the resolution ends, and how often it moved
// in all and in the last thousand frames.
TEST(Resolution, SettlesOnTheFinestStepThatFitsAndStaysThere) {
    const struct {
        const char* what;
        std::array<float, RESOLUTION_STEPS.size()> ms;  // smoothed, full, then smaller
        int slowFrameEvery;
        std::uint32_t step;
        int moves, lateMoves;
        std::uint32_t start = 0;
    } cases[] = {
        {"cheap, with every other frame slow", {10, 3, 3, 3, 3, 3, 3, 3, 3}, 2, 0, 0, 0},
        {"smoothing too dear", {40, 6, 6, 6, 5, 5, 5, 5, 5}, 0, ONE_SAMPLE_STEP, 1, 0},
        {"a step up that would just fit", {60, 25, 19, 13, 10, 8, 7, 6, 5}, 0, 3, 2, 0},
        {"a step up that looks as if it fits", {60, 30, 25, 25, 11, 9, 8, 7, 6}, 0, 4, 14, 1},
        {"pixels dear", {90, 30, 26, 21, 17, 14, 12, 10, 9}, 0, 4, 2, 0},
        {"just over at full resolution", {60, 21, 19, 17, 15, 13, 11, 10, 9}, 0, 3, 2, 0},
        {"scaling up costs what it saves", {90, 28, 29, 29, 28, 28, 27, 27, 27}, 0, ONE_SAMPLE_STEP, 15, 2},
        {"nothing fits", {200, 100, 90, 80, 75, 70, 65, 60, 60}, 0, 7, 22, 2},
        {"smaller, where the window's resolution costs less", {60, 9, 22, 22, 22, 22, 22, 22, 22}, 0, 1, 5, 0, 4},
    };
    for (const auto& c : cases) {
        Resolution resolution{.step = c.start};
        int moves = 0, lateMoves = 0;
        for (int frame = 0; frame < 3000; ++frame) {
            const std::uint32_t was = resolution.step;
            const bool slow = c.slowFrameEvery != 0 && frame % c.slowFrameEvery == c.slowFrameEvery - 1;
            resolution.record(c.ms[was] * (slow ? 6 : 1), BUDGET_MS);
            moves += resolution.step != was;
            lateMoves += resolution.step != was && frame >= 2000;
        }
        EXPECT_EQ(resolution.step, c.step) << c.what;
        EXPECT_EQ(moves, c.moves) << c.what;
        EXPECT_EQ(lateMoves, c.lateMoves) << c.what;
    }
}

TEST(Resolution, GivesWholePixelsAndHoldsWhereItDoesNotAdapt) {
    EXPECT_EQ(Resolution{}.side(2160), 2160);
    EXPECT_EQ(Resolution{.step = 8}.side(2160), 691);
    EXPECT_EQ(Resolution{.step = 8}.side(1), 1);
    EXPECT_EQ(Resolution{.step = 8}.side(0), 0);
    Resolution held{.step = 5, .adapts = false};
    for (int frame = 0; frame < int(RESOLUTION_QUORUM); ++frame) held.record(1000, BUDGET_MS);
    EXPECT_EQ(held.step, 5u);
}

}  // namespace
