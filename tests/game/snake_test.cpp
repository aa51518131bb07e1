#include <gtest/gtest.h>

#include "game/random.h"
#include "game/snake.h"
#include "tests/game/level_art.h"

namespace {

struct StepCase {
    const char* name;
    Art art;
    std::vector<Segment> body;  // tail first
    std::string moves;          // L, U, R, D
    bool survives;              // the last step's result
    std::vector<Segment> after;
    std::int32_t capacity = 0;  // 0: the grid's cell count
};

Heading headingOf(char move) { return static_cast<Heading>(std::string("LURD").find(move)); }

TEST(SnakeStep, Rules) {
    const Art open = {"........", "........", "........", "........"};
    const std::vector<Segment> laid = {{1, 1}, {2, 1}, {3, 1}, {4, 1}};
    const std::vector<Segment> six = {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {4, 2}, {3, 2}};
    const StepCase cases[] = {
        {"head may enter the square the tail leaves", open, laid, "DLU", true, {{4, 1}, {4, 2}, {3, 2}, {3, 1}}},
        {"head into the body dies", open, six, "U", false, {{2, 1}, {3, 1}, {3, 1}, {4, 1}, {4, 2}, {3, 1}}},
        {"food under the body is eaten without dying",
         {"........", "...f....", "........"},
         six,
         "U",
         true,
         {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {4, 2}, {3, 2}, {3, 1}}},
        {"a wall leaves the body where it was", {"........", ".....#..", "........"}, laid, "R", false, laid},
        {"eating grows at the head",
         {"........", ".....f..", "........"},
         laid,
         "R",
         true,
         {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}}},
        {"an open border lets the snake out and back in",
         {"......", "......"},
         {{2, 1}, {3, 1}, {4, 1}, {5, 1}},
         "RRULL",
         true,
         {{7, 1}, {7, 0}, {6, 0}, {5, 0}}},
        {"a full body eats without growing",
         {"........", ".....f..", "........"},
         laid,
         "R",
         true,
         {{2, 1}, {3, 1}, {4, 1}, {5, 1}},
         4},
    };
    for (const StepCase& c : cases) {
        SCOPED_TRACE(c.name);
        Level level = levelFromArt(c.art);
        Snake snake;
        snake.reset(0, 0, c.capacity ? c.capacity : level.width * level.height);
        snake.length = static_cast<std::int32_t>(c.body.size());
        std::copy(c.body.begin(), c.body.end(), snake.body.begin());
        bool alive = true;
        for (const char move : c.moves) alive = snake.step(headingOf(move), level);
        EXPECT_EQ(alive, c.survives);
        EXPECT_EQ(snake.heading, headingOf(c.moves.back()));
        EXPECT_EQ(std::vector<Segment>(snake.body.begin(), snake.body.begin() + snake.length), c.after);
        for (const Cell& cell : level.cells) EXPECT_FALSE(cell.food && cell.wall);
    }
}

TEST(Random, DrawsTheWindowsRuntimeSequence) {
    RandomGenerator generator;
    for (const std::int32_t expected : {41, 18467, 6334, 26500, 19169}) EXPECT_EQ(generator.draw(), expected);
}

TEST(PlaceFood, DrawsColumnThenRowAndStaysOnOpenCells) {
    gameRandom = RandomGenerator{};
    Level open = levelFromArt(Art(10, ".........."));
    open.placeFood();  // draws 41 and 18467: trunc(0.0125 * 10), trunc(5.636)
    EXPECT_TRUE(open.cellAt(0, 5)->food);

    for (const Art& art : {Art{"####", "####", "###."}, Art{".###", "####"}, Art{"#", "o"}}) {
        Level level = levelFromArt(art);
        for (int i = 0; i < 50; ++i) {
            level.resetFood();
            ASSERT_EQ(std::count_if(level.cells.begin(), level.cells.end(), [](const Cell& c) { return c.food; }), 1);
            for (const Cell& cell : level.cells) EXPECT_FALSE(cell.food && cell.wall);
        }
    }
}

}  // namespace
