#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "game/game.h"
#include "tests/game/level_art.h"

namespace {

using Squares = std::set<std::pair<int, int>>;

Squares litSquares(const Level& level) {
    Squares lit;
    for (const Cell& cell : level.cells)
        if (cell.visibility == FULL_VISIBILITY) lit.insert({cell.x, cell.y});
    return lit;
}

TEST(Sight, RayEnds) {
    struct Case {
        Segment head;
        Heading heading;
        float offset;
        Segment end;
    } const cases[] = {
        {{10, 10}, HEADING_RIGHT, 0, {25, 10}}, {{10, 10}, HEADING_RIGHT, -42, {21, 0}},  // y -0.04 truncates to 0
        {{10, 10}, HEADING_RIGHT, -1, {24, 9}}, {{10, 10}, HEADING_RIGHT, 41, {21, 19}},
        {{10, 10}, HEADING_UP, 0, {9, -5}},  // cos 270 degrees is just below zero
        {{0, 10}, HEADING_UP, 0, {0, -5}},      {{10, 10}, HEADING_LEFT, 0, {-5, 10}},
        {{10, 10}, HEADING_DOWN, 0, {10, 25}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "heading " << c.heading << " offset " << c.offset);
        EXPECT_EQ(sightRayEnd(c.head, c.heading, SIGHT_RANGE, c.offset), c.end);
    }
}

TEST(Sight, CastRayLightsItsLineAndStopsAtTheFirstWall) {
    struct Case {
        Art art;
        Segment from, to;
        Squares lit;
        bool stoppedByWall;
    } const cases[] = {
        {{".....", ".....", "....."}, {0, 0}, {4, 2}, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}, false},
        {{"....", "....", "....", "...."}, {3, 3}, {0, 0}, {{3, 3}, {2, 2}, {1, 1}, {0, 0}}, false},
        {{"..#.."}, {0, 0}, {4, 0}, {{0, 0}, {1, 0}, {2, 0}}, true},
        {{".. .."}, {4, 0}, {0, 0}, {{4, 0}, {3, 0}, {2, 0}}, true},  // a wall that is never drawn stops sight too
        {{"...", "..."}, {1, 0}, {1, -15}, {{1, 0}}, false},          // off the grid nothing is lit
        {{"...", "..."}, {-3, 1}, {5, 1}, {{0, 1}, {1, 1}, {2, 1}}, false},  // from outside, across the grid
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "(" << c.from.x << "," << c.from.y << ") to (" << c.to.x << "," << c.to.y << ")");
        Level level = levelFromArt(c.art);
        const Cell* wall = level.castRay(c.from.x, c.from.y, c.to.x, c.to.y);
        EXPECT_EQ(litSquares(level), c.lit);
        EXPECT_EQ(wall != nullptr, c.stoppedByWall);
        EXPECT_TRUE(wall == nullptr || wall->wall);
    }
}

TEST(Sight, FanFollowsTheLastStepsHeading) {
    Game game;
    game.level = levelFromArt(Art(40, std::string(40, '.')));
    game.snake.reset(17, 20, 1600);  // head at (20, 20), heading right
    game.nextHeading = HEADING_UP;   // not taken yet: the fan still looks right
    game.castSight();
    const Squares lit = litSquares(game.level);
    // The ends of the middle and the two outer rays: -42 and +41 degrees.
    EXPECT_TRUE(lit.count({35, 20}) && lit.count({20, 20}) && lit.count({31, 9}) && lit.count({31, 29}));
    // Beyond the range, behind the head, ahead of nextHeading, and where a +42 ray would end.
    EXPECT_FALSE(lit.count({36, 20}) || lit.count({19, 20}) || lit.count({20, 5}) || lit.count({31, 30}));
}

TEST(Fade, LowersVisibilityToZeroAtLeast) {
    struct Case {
        std::int32_t before;
        std::uint32_t ms;
        std::int32_t after;
    } const cases[] = {{1000, 400, 600}, {1000, 1000, 0}, {300, 1000, 0}, {1000, 0, 1000}, {1000, 0xFFFFFFFFu, 0}};
    for (const Case& c : cases) {
        Level level = levelFromArt({"..", ".#"});
        for (Cell& cell : level.cells) cell.visibility = c.before;
        level.fade(c.ms);
        for (const Cell& cell : level.cells) EXPECT_EQ(cell.visibility, c.after) << c.before << " - " << c.ms;
    }
}

}  // namespace
