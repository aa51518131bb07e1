#include <gtest/gtest.h>

#include "game/clock.h"
#include "game/game.h"
#include "game/level_file.h"
#include "game/random.h"
#include "image/png_decoder.h"
#include "tests/game/level_art.h"

namespace {

std::uint32_t fakeNow = 0;
std::uint32_t fakeTicks() { return fakeNow; }

// A level whose snake dies on its second step: it is laid at columns 1 to 4 and
// the wall stands in column 6.
const Art DEADLY = {"#.....#", "#######"};

class GameTest : public InTempFolder {
protected:
    void SetUp() override {
        InTempFolder::SetUp();
        tickSource = fakeTicks;
        gameRandom = RandomGenerator{};
    }
    void TearDown() override {
        tickSource = steadyTicks;
        InTempFolder::TearDown();
    }
    // A frame at `now`, with all three clock readings equal.
    void frameAt(std::uint32_t now) {
        fakeNow = now;
        game.advance();
    }
    Game game;
};

TEST_F(GameTest, TitleFramesFreezeTheSnakeAndTheClockRunsOn) {
    writeFile("level1.png", levelFile({"..........", ".........."}));
    game.startGame();
    const std::vector<Segment> laid = game.snake.body;
    for (std::uint32_t t = 1000; t <= 9000; t += 200) frameAt(t);
    EXPECT_EQ(game.snake.body, laid);
    EXPECT_EQ(game.snake.elapsed, 0u);
    game.onTitle = false;  // Space
    frameAt(9030);         // credited only the time since the last title frame
    EXPECT_EQ(game.snake.elapsed, 30u);
}

TEST_F(GameTest, OneStepPerFrameAndTheRestKept) {
    writeFile("level1.png", levelFile({"..............................."}));
    game.startGame();
    game.onTitle = false;
    frameAt(1000);
    frameAt(1120);  // 120 ms: one step, 70 ms kept
    EXPECT_EQ(game.snake.head(), (Segment{4, 0}));
    EXPECT_EQ(game.snake.elapsed, 70u);
    frameAt(1121);  // a short frame steps again on what was kept
    EXPECT_EQ(game.snake.head(), (Segment{5, 0}));
    EXPECT_EQ(game.snake.elapsed, 21u);
    game.lastTicks = 0xFFFFFFF0u;
    game.snake.elapsed = 0;
    frameAt(0x20);  // 48 ms across the clock's wrap-around
    EXPECT_EQ(game.snake.elapsed, 48u);
}

TEST_F(GameTest, DeathSavesStartsANewLevelAndCreditsTheFrameToTheNewSnake) {
    const ByteVector png = levelFile(DEADLY);
    writeFile("level1.png", png);
    game.startGame();
    game.onTitle = false;
    frameAt(1000);
    frameAt(1050);  // into column 5
    game.level.cellAt(3, 0)->visibility = 1000;
    frameAt(1110);  // 60 ms: into the wall; the new snake then steps at once with 10 ms left
    EXPECT_EQ(game.snake.length, START_LENGTH);
    EXPECT_EQ(game.snake.head(), (Segment{5, 0}));
    EXPECT_EQ(game.snake.elapsed, 10u);
    EXPECT_EQ(game.startTicks, 0u);
    EXPECT_EQ(game.level.cellAt(3, 0)->visibility, 0);  // a fresh grid
    ByteVector expected = png;
    expected.insert(expected.end(), {0x35, 0x81, 0x00, 0x08, 0, 0, 0, 0});
    EXPECT_EQ(fileBytes("level1.png"), expected);
}

TEST_F(GameTest, CountsOnlyTheUnbrokenRunFromOne) {
    for (const char* name : {"level1.png", "level2.png", "level4.png"}) writeFile(name, levelFile({"......"}));
    game.startGame();
    EXPECT_EQ(game.levelCount, 2);
    for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(game.startLevel());
        ASSERT_TRUE(game.levelNumber == 1 || game.levelNumber == 2);
    }
}

TEST_F(GameTest, RefusedLevelsArePassedOver) {
    writeFile("level1.png", {1, 2, 3});                              // does not decode
    writeFile("level2.png", levelFile({"....#....", "#.#.#.#.#"}));  // runs of four only
    writeFile("level3.png", levelFile({"#####", "     "}));          // no open cell
    writeFile("level4.png", levelFile({"#.........", "...#......"}));
    writeFile("level5.png", levelFile({"......"}));
    std::filesystem::remove("level5.png");  // gone since the count
    game.levelCount = 5;
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(game.startLevel());
        EXPECT_EQ(game.levelNumber, 4);
        EXPECT_EQ(game.snake.body[0], (Segment{1, 0}));
    }
    std::filesystem::remove("level4.png");
    EXPECT_FALSE(game.startLevel());
}

TEST_F(GameTest, StartFailsWithExitCodeMinusOneWithoutAPlayableLevel) {
    const auto start = [this] {
        std::freopen("/dev/null", "r", stdin);  // the wait for Enter must not block the test
        game.startGame();
    };
    EXPECT_EXIT(start(), ::testing::ExitedWithCode(255), "");  // no level file at all
    writeFile("level1.png", levelFile({"...."}));
    EXPECT_EXIT(start(), ::testing::ExitedWithCode(255), "");
}

TEST(SnakePlacement, FirstRunOfFiveInReadingOrder) {
    struct Case {
        Art art;
        std::optional<Segment> tail;
    } const cases[] = {
        {{"....#....", "##.....##"}, Segment{2, 1}},
        {{".....#", "......"}, Segment{0, 0}},
        {{"....o....."}, Segment{0, 0}},  // alpha 1 is floor
        {{".... .....", "#########."}, Segment{5, 0}},
        {{"....#....", "#.#.#.#.#"}, std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(levelFromArt(c.art).snakeTail(), c.tail) << c.art[0];
}

TEST_F(GameTest, ScoreTrailer) {
    const ByteVector png = levelFile({"......"});
    ByteVector withTrailer = png;
    withTrailer.insert(withTrailer.end(), {0x35, 0x81, 0x00, 0x08, 0, 0, 0, 0});
    struct Offer {
        std::int32_t score;
        std::vector<std::uint8_t> lastEight;  // empty: the file as before
    } const offers[] = {
        {0, {0x35, 0x81, 0x00, 0x08, 0, 0, 0, 0}},  // a first death appends, even with 0
        {0, {}},                                    // equal: not a byte changes
        {300, {0x35, 0x81, 0x00, 0x08, 0x2C, 0x01, 0, 0}},
        {299, {}},
    };
    writeFile("level1.png", png);
    for (const Offer& offer : offers) {
        ByteVector before = fileBytes("level1.png");
        offerScore("level1.png", offer.score);
        ByteVector after = fileBytes("level1.png");
        if (offer.lastEight.empty()) {
            EXPECT_EQ(after, before) << offer.score;
            continue;
        }
        ASSERT_EQ(after.size(), png.size() + 8);
        EXPECT_TRUE(std::equal(png.begin(), png.end(), after.begin())) << offer.score;
        EXPECT_TRUE(std::equal(offer.lastEight.begin(), offer.lastEight.end(), after.end() - 8)) << offer.score;
    }
    EXPECT_EQ(readStoredBest("level1.png"), 300);

    ByteVector negative = png;
    negative.insert(negative.end(), {0x35, 0x81, 0x00, 0x08, 0xF9, 0xFF, 0xFF, 0xFF});
    writeFile("level2.png", negative);
    EXPECT_EQ(readStoredBest("level2.png"), -7);
    offerScore("level2.png", -8);
    EXPECT_EQ(fileBytes("level2.png"), negative);

    writeFile("short.png", {0x35, 0x81});  // shorter than a trailer: nothing to take for one
    EXPECT_EQ(readStoredBest("short.png"), std::nullopt);
    EXPECT_EQ(readStoredBest("missing.png"), std::nullopt);
    offerScore("missing.png", 5);  // silently nothing
    EXPECT_FALSE(std::filesystem::exists("missing.png"));
}

TEST_F(GameTest, LoadingFillsEveryCellAndEmptiesTheGridOnFailure) {
    Image image{2,
                2,
                PNG_COLOR_TYPE_RGBA,
                8,
                PNG_INTERLACE_NONE,
                PNG_FILTER_NONE,
                {255, 0, 0, 255, 0, 255, 0, 1, 0, 0, 255, 254, 9, 8, 7, 0},
                {},
                {},
                {}};
    ByteVector png = encodeWithLibpng(image);
    writeFile("plain.png", png);
    png.insert(png.end(), {0x35, 0x81, 0x00, 0x08, 1, 0, 0, 0});
    writeFile("trailer.png", png);
    for (const char* name : {"plain.png", "trailer.png"}) {
        Level level;
        ASSERT_TRUE(level.load(name));
        ASSERT_EQ(level.cells.size(), 4u);
        const auto fields = [](const Cell& c) {
            return std::tuple(c.r, c.g, c.b, c.a, c.wall, c.x, c.y, c.food, c.visibility);
        };
        EXPECT_EQ(fields(level.cells[0]), std::tuple(255, 0, 0, 255, false, 0, 0, false, 0)) << name;
        EXPECT_EQ(fields(level.cells[1]), std::tuple(0, 255, 0, 1, false, 1, 0, false, 0)) << name;
        EXPECT_EQ(fields(level.cells[2]), std::tuple(0, 0, 255, 254, true, 0, 1, false, 0)) << name;
        EXPECT_EQ(fields(level.cells[3]), std::tuple(9, 8, 7, 0, true, 1, 1, false, 0)) << name;
        EXPECT_FALSE(level.load("missing.png"));
        EXPECT_TRUE(level.cells.empty() && level.width == 0 && level.height == 0);
        EXPECT_EQ(level.cellAt(0, 0), nullptr);
    }

    // A header announcing more cells than are played is refused before decoding.
    ByteVector huge = levelFile({"."});
    huge[16 + 2] = 0x10;  // width 4097
    huge[20 + 2] = 0x10;  // height 4097
    Level level;
    EXPECT_EQ(level.build(huge.data(), huge.size()), LEVEL_TOO_LARGE);
    EXPECT_EQ(level.build(huge.data(), 20), PNG_INPUT_TOO_SHORT);
    EXPECT_TRUE(level.cells.empty());
}

}  // namespace
