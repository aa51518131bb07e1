#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include <filesystem>
#include <fstream>
#include <ranges>
#include <set>

#include "game/clock.h"
#include "game/game.h"
#include "game/level_file.h"
#include "game/random.h"
#include "image/png_decoder.h"
#include "tests/image/libpng_oracle.h"

namespace {

// Test levels drawn as rows of characters and written as PNG files, so that
// they go through the game's own loading:
//   '.' open floor   '#' wall (alpha 254)   ' ' wall never drawn (alpha 0)
//   'o' open floor of alpha 1   'f' open floor with food (set after loading)
// The pixel at (x, y) has the colour (x, y, x + 2y + 1): every channel differs.
using Art = std::vector<std::string>;

ByteVector levelFile(const Art& art, std::vector<Chunk> chunks = {}) {
    ByteVector rows;
    for (std::size_t y = 0; y < art.size(); ++y) {
        rows.push_back(0);  // filter type: none
        for (std::size_t x = 0; x < art[y].size(); ++x) {
            const char c = art[y][x];
            const std::uint8_t alpha = c == '#' ? 254 : c == ' ' ? 0 : c == 'o' ? 1 : 255;
            rows.insert(rows.end(), {std::uint8_t(x), std::uint8_t(y), std::uint8_t(x + 2 * y + 1), alpha});
        }
    }
    chunks.insert(chunks.begin(), {ihdr(std::uint32_t(art[0].size()), std::uint32_t(art.size()), 8, 6), idat(rows)});
    chunks.push_back(IEND);
    return assemble(chunks);
}

Level levelFromArt(const Art& art) {
    const ByteVector file = levelFile(art);
    Level level;
    EXPECT_EQ(level.build(file.data(), file.size()), 0u);
    for (Cell& cell : level.cells) cell.food = art[cell.y][cell.x] == 'f';
    return level;
}

void writeFile(const std::string& path, const ByteVector& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

ByteVector fileBytes(const std::string& path) {
    return ByteVector(std::istreambuf_iterator<char>(std::ifstream(path, std::ios::binary).rdbuf()), {});
}

ByteVector operator+(ByteVector a, const ByteVector& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The eight bytes that keep `best` behind a level's PNG data.
ByteVector trailer(std::int32_t best) {
    const auto b = std::uint32_t(best);
    return {
        0x35, 0x81, 0x00, 0x08, std::uint8_t(b), std::uint8_t(b >> 8), std::uint8_t(b >> 16), std::uint8_t(b >> 24)};
}

std::uint32_t fakeNow = 0;

// A game on a fake clock, in a fresh working directory, where level files are found.
class GameTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kestrivane-test-XXXXXX";
        std::filesystem::current_path(folder_ = mkdtemp(pattern));
        tickSource = [] { return fakeNow; };
        gameRandom = RandomGenerator{};
    }
    void TearDown() override {
        tickSource = steadyTicks;
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }
    // A frame at `now`, with all three clock readings equal.
    std::uint32_t frameAt(std::uint32_t now) { return fakeNow = now, game.advance(); }
    Game game;
    std::filesystem::path previous_ = std::filesystem::current_path(), folder_;
};

// On one long row the snake's head is laid at column 3. Each frame shows the
// title (t), is paused (p) or plays (o); a wall far ahead was seen at the start,
// and fades as any cell does, to 0 at least.
TEST_F(GameTest, FramesCreditTheirTimeAndStepAtMostOnce) {
    // frames, their states, then the head's column, the time kept, the last frame's and the wall's visibility
    const std::tuple<std::vector<std::uint32_t>, std::string, std::int32_t, std::uint32_t, std::uint32_t, std::int32_t>
        cases[] = {
            {{1000, 5000, 9000, 9030}, "ttto", 3, 30, 8030, 970},         // the title freezes the snake, not the clock
            {{1000, 1120}, "oo", 4, 70, 120, 880},                        // one step, the rest kept
            {{1000, 1120, 1121}, "ooo", 5, 21, 121, 879},                 // a short frame steps on what was kept
            {{0xFFFFFFF0u, 0x20}, "oo", 3, 48, 48, 952},                  // across the clock's wrap-around
            {{1000, 1030, 1100, 9000, 9010}, "ooppo", 3, 40, 8010, 960},  // a pause: nothing fades, nothing owed
            {{1000, 7000, 7001, 7002, 7003, 7004}, "oooooo", 7, 4, 6004, 0},  // a stall: four steps owed at most
            {{1000, 0x90000000u}, "oo", 4, 150, 0x8FFFFC18u, 0},              // a suspend of 28 days
        };
    writeFile("level1.png", levelFile({"....................#.........."}));
    for (const auto& [frames, states, headX, elapsed, sinceStart, visibility] : cases) {
        game.startGame();
        game.level.cellAt(20, 0)->visibility = FULL_VISIBILITY;
        std::uint32_t since = 0;
        for (std::size_t i = 0; i < frames.size(); ++i) {
            game.onTitle = states[i] == 't';
            game.paused = states[i] == 'p';
            since = frameAt(frames[i]);
        }
        EXPECT_EQ(std::tuple(game.snake.head().x, game.snake.elapsed, since, game.level.cellAt(20, 0)->visibility),
                  std::tuple(headX, elapsed, sinceStart, visibility));
    }
}

TEST_F(GameTest, DeathSavesTheScoreAndAFreshLevelTakesTheFrame) {
    const ByteVector png = levelFile({"#.....#", "#######"});  // laid on columns 1 to 4: dies on the second step
    writeFile("level1.png", png);
    game.startGame();
    game.onTitle = false;
    for (const std::uint32_t now : {1000u, 1050u}) frameAt(now);  // into column 5
    game.level.cellAt(3, 0)->visibility = 1000;
    game.fog = false;
    frameAt(1110);  // 60 ms: into the wall; the new snake then steps at once with 10 ms left
    EXPECT_EQ(std::tuple(game.snake.length, game.snake.head(), game.snake.elapsed, game.startTicks, game.fog),
              std::tuple(START_LENGTH, Segment{5, 0}, 10u, 0u, true));
    EXPECT_EQ(game.level.cellAt(3, 0)->visibility, 0);  // a fresh grid
    EXPECT_EQ(fileBytes("level1.png"), png + trailer(0));
}

// The levels from level1.png up to the first gap count, and those that cannot
// be played are passed over. Neither a FIFO nor a device nor a directory is
// read as a level, and none of them blocks the count or the start.
TEST_F(GameTest, OnlyTheRunFromOneCountsAndUnplayableLevelsArePassedOver) {
    writeFile("level1.png", {1, 2, 3});                              // does not decode
    writeFile("level2.png", levelFile({"....#....", "#.#.#.#.#"}));  // runs of four only
    writeFile("level3.png", levelFile({"#####", "     "}));          // no open cell
    writeFile("level4.png", levelFile({"#.........", "...#......"}));
    ASSERT_EQ(mkfifo("level5.png", 0600), 0);
    std::filesystem::create_directory("level6.png");
    writeFile("level8.png", levelFile({"......"}));  // behind a gap
    game.startGame();
    EXPECT_EQ(game.levelCount, 6);
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(game.startLevel() && game.levelNumber == 4 && (game.snake.body[0] == Segment{1, 0})) << i;
    writeFile("huge.png", {});
    std::filesystem::resize_file("huge.png", MAX_LEVEL_FILE_BYTES + 1);  // sparse
    for (const char* path : {"level5.png", "level6.png", "/dev/zero"})
        EXPECT_EQ(readRegularFile(path, MAX_LEVEL_FILE_BYTES).failure, ReadFailure::NOT_A_REGULAR_FILE) << path;
    EXPECT_EQ(readRegularFile("huge.png", MAX_LEVEL_FILE_BYTES).failure, ReadFailure::TOO_LARGE);
    std::filesystem::remove("level4.png");  // gone since the count
    EXPECT_FALSE(game.startLevel());
    ASSERT_NE(std::freopen("/dev/null", "r", stdin), nullptr);          // the wait for Enter must not block the test
    EXPECT_EXIT(game.startGame(), ::testing::ExitedWithCode(255), "");  // files, none playable
}

// The file at `path`, held open as a level start holds it.
OpenedFile loaded(const std::string& path) { return std::move(readRegularFile(path, MAX_LEVEL_FILE_BYTES).file); }

// A first death appends a trailer, even for a score of 0; only a higher score
// overwrites it. Only the file that was loaded gets a score, while it is still
// a PNG with at most a trailer behind it; a link to it is written through. The
// file is loaded, then rewritten in place as `before`, and offered `score`.
TEST_F(GameTest, AScoreGoesOnlyIntoTheLevelThatWasLoaded) {
    const ByteVector png = levelFile({"......"}), text = {'h', 'i', '\n'};
    constexpr std::int32_t HIGH = 0x01020304;
    const std::tuple<ByteVector, std::int32_t, ByteVector> cases[] = {
        {png, 0, png + trailer(0)},
        {png + trailer(0), 0, png + trailer(0)},
        {png + trailer(-7), -8, png + trailer(-7)},
        {png + trailer(-7), HIGH, png + trailer(HIGH)},
        {png + trailer(HIGH), HIGH - 1, png + trailer(HIGH)},
        {text, 9, text},
        {png + ByteVector{0}, 9, png + ByteVector{0}},                      // something behind IEND
        {png + trailer(3) + trailer(5), 9, png + trailer(3) + trailer(5)},  // a second trailer
    };
    for (const auto& [before, score, after] : cases) {
        writeFile("level1.png", png);
        const OpenedFile level = loaded("level1.png");
        writeFile("level1.png", before);
        offerScore("level1.png", score, level);
        EXPECT_EQ(fileBytes("level1.png"), after) << before.size() << " bytes offered " << score;
    }
    writeFile("level1.png", png);
    std::filesystem::create_symlink("level1.png", "link.png");
    offerScore("link.png", 9, loaded("link.png"));
    EXPECT_EQ(fileBytes("level1.png"), png + trailer(9));
    offerScore("missing.png", 5, {});  // silently nothing
    EXPECT_FALSE(std::filesystem::exists("missing.png"));
}

// A score never takes a level past the largest file read, which would refuse
// it for good: an append that would is given up, an overwrite is not. On a
// full disk an append stops part of the way: the file goes back to its old
// length rather than keep a torn trailer. Two games dying on one level at
// once: the second waits for the first's lock and then finds its trailer, so
// the file gains one.
TEST_F(GameTest, AScoreIsWrittenWholeOnceAndWithinTheLargestFileRead) {
    const ByteVector png = levelFile({"......"});
    constexpr std::size_t FITS = MAX_LEVEL_FILE_BYTES - TRAILER_SIZE;
    for (const auto& [size, after] : {std::pair{FITS, MAX_LEVEL_FILE_BYTES}, {FITS + 1, FITS + 1}}) {
        // padded to `size` by a private chunk: its length, type and CRC take 12 bytes
        writeFile("level1.png", levelFile({"......"}, {{"prVt", ByteVector(size - png.size() - 12, 0)}}));
        offerScore("level1.png", 3, loaded("level1.png"));
        offerScore("level1.png", 4, loaded("level1.png"));
        const FileContents file = readRegularFile("level1.png", MAX_LEVEL_FILE_BYTES);
        EXPECT_EQ(file.bytes.size(), after) << size;
        EXPECT_EQ(storedBest(file.bytes), after == size ? std::nullopt : std::optional(4)) << size;
    }
    writeFile("level1.png", png);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const rlimit limit{png.size() + 4, before.rlim_max};
    std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails instead of killing
    setrlimit(RLIMIT_FSIZE, &limit);
    offerScore("level1.png", 9, loaded("level1.png"));
    setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_EQ(fileBytes("level1.png"), png);

    const OpenedFile level = loaded("level1.png");
    const int other = ::open("level1.png", O_WRONLY | O_APPEND);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    std::thread dying([&] { offerScore("level1.png", 9, level); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(write(other, trailer(7).data(), TRAILER_SIZE), ssize_t(TRAILER_SIZE));
    close(other);  // and with it the lock
    dying.join();
    EXPECT_EQ(fileBytes("level1.png"), png + trailer(9));
    // A lock held longer than any write is not waited for: the level is read
    // all the same. (That a score is given up then, platform_tests shows.)
    const int holder = ::open("level1.png", O_RDONLY);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    EXPECT_EQ(readRegularFile("level1.png", MAX_LEVEL_FILE_BYTES).bytes, png + trailer(9));
    close(holder);
}

TEST(Loading, FillsEveryCellAndEmptiesTheGridOnFailure) {
    const ByteVector png = levelFile({".o", "# "});
    const std::uint8_t alpha[] = {255, 1, 254, 0};
    Level level;
    ASSERT_EQ(level.build(png.data(), png.size()), 0u);
    ASSERT_EQ(std::tuple(level.width, level.height, level.cells.size()), std::tuple(2, 2, 4u));
    for (int i = 0; i < 4; ++i) {
        const Cell& c = level.cells[i];
        const int x = i % 2, y = i / 2;
        EXPECT_EQ(std::tuple(c.r, c.g, c.b, c.a, c.wall, c.x, c.y, c.food, c.visibility),
                  std::tuple(x, y, x + 2 * y + 1, alpha[i], y == 1, x, y, false, 0));
    }
    EXPECT_FALSE(level.load("/nonexistent/level1.png"));
    EXPECT_TRUE(level.cells.empty() && level.width == 0 && level.height == 0);
    // A grid wider or taller than is played is refused, by its header before decoding.
    ByteVector huge = levelFile({"."});
    huge[16 + 2] = huge[20 + 2] = 0x10;  // 4097 x 4097
    EXPECT_EQ(level.build(huge.data(), huge.size()), LEVEL_TOO_LARGE);
    EXPECT_EQ(level.build(huge.data(), 20), PNG_INPUT_TOO_SHORT);
    for (const int side : {MAX_LEVEL_SIDE, MAX_LEVEL_SIDE + 1})
        for (const Art& art : {Art{std::string(side, '.')}, Art(side, ".")}) {
            const ByteVector png = levelFile(art);
            EXPECT_EQ(level.build(png.data(), png.size()), side > MAX_LEVEL_SIDE ? LEVEL_TOO_LARGE : 0u) << art.size();
        }
}

Heading headingOf(char move) { return static_cast<Heading>(std::string("LURD").find(move)); }

// The squares from `at` on along `moves` (L, U, R, D).
std::vector<Segment> trail(Segment at, const std::string& moves) {
    std::vector<Segment> squares = {at};
    for (const Heading h : moves | std::views::transform(headingOf))
        squares.push_back(
            at = {at.x + (h == HEADING_RIGHT) - (h == HEADING_LEFT), at.y + (h == HEADING_DOWN) - (h == HEADING_UP)});
    return squares;
}

std::ptrdiff_t foodCount(const Level& level) { return std::ranges::count_if(level.cells, &Cell::food); }

// A snake laid from (1, 1) along `body` makes `moves`; then it is the last
// `length` squares of its trail, or dead with a length of 0. Its body holds
// `capacity` squares, or with a capacity of 0 as many as the grid has cells.
TEST(SnakeStep, Rules) {
    const Art open = {"........", "........", "........"};
    const Art foodAhead = {"........", ".....f..", "........"};
    const std::tuple<const char*, Art, std::string, std::string, std::int32_t, std::int32_t> cases[] = {
        {"the head may enter the square the tail leaves", open, "RRR", "DLU", 4, 0},
        {"the head into the body dies", open, "RRRDL", "U", 0, 0},
        {"food under the body is eaten", {"........", "...f....", "........"}, "RRRDL", "U", 7, 0},
        {"a wall kills", {"........", ".....#..", "........"}, "RRR", "R", 0, 0},
        {"eating grows at the head", foodAhead, "RRR", "R", 5, 0},
        {"a full body eats without growing", foodAhead, "RRR", "R", 4, 4},
        {"an open border lets the snake out and back in", {"......", "......"}, "RRR", "RRUL", 4, 0},
    };
    for (const auto& [what, art, body, moves, length, capacity] : cases) {
        SCOPED_TRACE(what);
        Level level = levelFromArt(art);
        const std::ptrdiff_t food = foodCount(level);
        const std::vector<Segment> squares = trail({1, 1}, body + moves);
        Snake snake{std::vector<Segment>(capacity ? capacity : level.width * level.height),
                    static_cast<std::int32_t>(body.size() + 1)};
        std::copy_n(squares.begin(), snake.length, snake.body.begin());
        bool alive = true;
        for (const char move : moves) alive = snake.step(headingOf(move), level);
        EXPECT_EQ(snake.heading, headingOf(moves.back()));  // the sight fan looks this way
        EXPECT_EQ(foodCount(level), food);                  // eaten food is placed anew
        EXPECT_EQ(std::vector(snake.body.begin(), snake.body.begin() + (alive ? snake.length : 0)),
                  std::vector(squares.end() - length, squares.end()));
    }
}

TEST(PlaceFood, DrawsColumnThenRowAndStaysOnOpenCells) {
    gameRandom = RandomGenerator{};
    Level open = levelFromArt(Art(10, ".........."));
    open.placeFood();  // draws 41 and 18467: trunc(0.0125 * 10), trunc(5.636)
    EXPECT_TRUE(open.cellAt(0, 5)->food);
    Level level = levelFromArt({".###", "####", "###."});
    for (int i = 0; i < 100; ++i) {
        level.resetFood();
        ASSERT_TRUE(foodCount(level) == 1 && (level.cells[0].food || level.cells[11].food)) << foodCount(level);
    }
}

using Squares = std::set<std::pair<int, int>>;

Squares litSquares(const Level& level) {
    Squares lit;
    for (const Cell& cell : level.cells)
        if (cell.visibility == FULL_VISIBILITY) lit.insert({cell.x, cell.y});
    return lit;
}

TEST(Sight, CastRayLightsItsLineAndStopsAtTheFirstWall) {
    const std::tuple<Art, Segment, Segment, Squares> cases[] = {
        {{".....", ".....", "....."}, {0, 0}, {4, 2}, {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}}},
        {{"....", "....", "....", "...."}, {3, 3}, {0, 0}, {{3, 3}, {2, 2}, {1, 1}, {0, 0}}},
        {{"..#.."}, {0, 0}, {4, 0}, {{0, 0}, {1, 0}, {2, 0}}},
        {{".. .."}, {4, 0}, {0, 0}, {{4, 0}, {3, 0}, {2, 0}}},        // a wall that is never drawn stops sight too
        {{"...", "..."}, {1, 0}, {1, -15}, {{1, 0}}},                 // off the grid nothing is lit
        {{"...", "..."}, {-3, 1}, {5, 1}, {{0, 1}, {1, 1}, {2, 1}}},  // from outside, across the grid
    };
    for (const auto& [art, from, to, lit] : cases) {
        Level level = levelFromArt(art);
        level.castRay(from.x, from.y, to.x, to.y);
        EXPECT_EQ(litSquares(level), lit) << from.x << "," << from.y << " to " << to.x << "," << to.y;
    }
}

// A ray's end for each heading: cos 270 degrees is just below 0, so the
// straight-up ray ends left of the head, truncated toward 0, not floored. The
// fan of rays looks where the last step went.
TEST(Sight, RaysEndOnTheHeadingAndTheFanFollowsTheLastStep) {
    const std::tuple<Segment, Heading, float, Segment> cases[] = {
        {{10, 10}, HEADING_RIGHT, 0, {25, 10}}, {{10, 10}, HEADING_RIGHT, -1, {24, 9}},
        {{10, 10}, HEADING_UP, 0, {9, -5}},     {{0, 10}, HEADING_UP, 0, {0, -5}},
        {{10, 10}, HEADING_LEFT, 0, {-5, 10}},  {{10, 10}, HEADING_DOWN, 0, {10, 25}}};
    for (const auto& [head, heading, offset, end] : cases)
        EXPECT_EQ(sightRayEnd(head, heading, SIGHT_RANGE, offset), end) << heading << " " << offset;
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

}  // namespace
