// Drawing checked by reading the window's pixels back. Needs a display (make
// test runs these under Xvfb). Window rows are counted from the top, as in the
// flat view.

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "render/render.h"
#include "shell/shell.h"

namespace {

struct Pixel {
    std::uint8_t r, g, b;
    bool operator==(const Pixel&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Pixel& p) {
    return out << "(" << int(p.r) << ", " << int(p.g) << ", " << int(p.b) << ")";
}

constexpr Pixel BLACK{0, 0, 0};
constexpr Pixel GREEN{0, 255, 0};
constexpr Pixel BLUE{0, 0, 255};

// A grid of open floor in `colour`, every cell unseen.
Level floorGrid(std::int32_t width, std::int32_t height, Pixel colour) {
    Level level;
    level.width = width;
    level.height = height;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            level.cells.push_back({colour.r, colour.g, colour.b, 255, false, x, y, false, 0});
        }
    }
    return level;
}

class Drawing : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError(); }

    void SetUp() override {
        setGlAttributes();
        SDL_Window* window = createGameWindow();
        ASSERT_NE(window, nullptr) << SDL_GetError();
        SDL_GLContext context = SDL_GL_CreateContext(window);
        ASSERT_NE(context, nullptr) << SDL_GetError();
        ASSERT_TRUE(game.initRenderer(window, context));
        game.level = floorGrid(40, 40, {200, 100, 50});
        game.snake.reset(2, 30, 40 * 40);
        game.onTitle = false;
    }

    void TearDown() override {
        game.releaseRenderer();
        game.releaseRenderer();  // a second release finds nothing to do
        EXPECT_EQ(game.window, nullptr);
        EXPECT_EQ(game.font, nullptr);
    }

    // What the last shown frame looks like. Mesa keeps the back buffer's
    // content through the swap, and reads it reliably, unlike the front buffer.
    void readFrame() {
        frame.assign(static_cast<std::size_t>(WINDOW_SIZE) * WINDOW_SIZE * 3, 0);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, WINDOW_SIZE, WINDOW_SIZE, GL_RGB, GL_UNSIGNED_BYTE, frame.data());
    }

    Pixel at(int x, int y) const {
        const std::uint8_t* p = &frame[(static_cast<std::size_t>(WINDOW_SIZE - 1 - y) * WINDOW_SIZE + x) * 3];
        return {p[0], p[1], p[2]};
    }

    // The colour of every pixel of the cell's square, or a sentinel when they differ.
    Pixel cellColour(int column, int row) const {
        const Pixel first = at(CELL_SIZE * column, CELL_SIZE * row);
        for (int y = 0; y < CELL_SIZE; ++y) {
            for (int x = 0; x < CELL_SIZE; ++x) {
                if (!(at(CELL_SIZE * column + x, CELL_SIZE * row + y) == first)) return {1, 2, 3};
            }
        }
        return first;
    }

    template <typename Lit = bool (*)(Pixel)>
    int litPixels(
        int left, int top, int right, int bottom, Lit lit = [](Pixel p) { return !(p == BLACK); }) const {
        int count = 0;
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) count += lit(at(x, y));
        }
        return count;
    }

    // The extent of the pixels brighter than half, as left, top, right, bottom.
    std::array<int, 4> brightBox() const {
        std::array<int, 4> box{WINDOW_SIZE, WINDOW_SIZE, -1, -1};
        for (int y = 0; y < WINDOW_SIZE; ++y) {
            for (int x = 0; x < WINDOW_SIZE; ++x) {
                if (std::max({at(x, y).r, at(x, y).g, at(x, y).b}) < 128) continue;
                box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
            }
        }
        return box;
    }

    // Draws `text` in white on a cleared frame and shows it.
    void showText(float x, float y, float scale, const char* text) {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glEnableClientState(GL_VERTEX_ARRAY);
        beginText();
        glColor4f(1, 1, 1, 1);
        game.drawText(x, y, scale, text);
        endText();
        SDL_GL_SwapWindow(game.window);
        readFrame();
    }

    Cell& cell(int x, int y) { return *game.level.cellAt(x, y); }

    Game game;
    std::vector<std::uint8_t> frame;
};

TEST_F(Drawing, CellsShowInTheirShadedColourUnderTheFog) {
    struct Case {
        const char* what;
        std::uint8_t a;
        Pixel colour;
        bool wall;
        std::int32_t visibility;
        bool fog;
        Pixel expected;
    };
    const Case cases[] = {
        {"seen floor", 255, {200, 100, 50}, false, 1000, true, {200, 100, 50}},
        {"half faded", 255, {255, 255, 255}, false, 500, true, {127, 127, 127}},
        {"faded out", 255, {200, 100, 50}, false, 0, true, BLACK},
        {"fog off", 255, {200, 100, 50}, false, 0, false, {200, 100, 50}},
        {"wall, fog off", 254, {90, 80, 70}, true, 0, false, {90, 80, 70}},
        {"odd alpha below opaque", 1, {200, 100, 50}, false, 1000, true, {200, 100, 50}},
        {"invisible wall", 0, {200, 100, 50}, true, 1000, false, BLACK},
        {"black floor", 255, BLACK, false, 1000, false, BLACK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Cell& target = cell(20, 10);
        target = {c.colour.r, c.colour.g, c.colour.b, c.a, c.wall, 20, 10, false, c.visibility};
        game.fog = c.fog;
        game.drawFrame();
        readFrame();
        // Blending is off outside text: even alpha 1 draws at full colour.
        EXPECT_EQ(cellColour(20, 10), c.expected);
        const Pixel neighbour = c.fog ? BLACK : Pixel{200, 100, 50};
        EXPECT_EQ(at(CELL_SIZE * 20 - 1, CELL_SIZE * 10), neighbour);
    }
}

TEST_F(Drawing, FoodShowsBlueOverTheSnakeWhichIsPureGreen) {
    cell(3, 30).food = true;  // under the snake's second segment
    cell(3, 30).visibility = 1000;
    cell(10, 10).food = true;  // food away from the snake, half faded
    cell(10, 10).visibility = 500;
    game.drawFrame();
    readFrame();
    EXPECT_EQ(cellColour(2, 30), GREEN);  // unseen cell, undimmed snake
    EXPECT_EQ(cellColour(3, 30), BLUE);
    EXPECT_EQ(cellColour(5, 30), GREEN);
    EXPECT_EQ(cellColour(10, 10), (Pixel{0, 0, 127}));
    EXPECT_EQ(cellColour(6, 30), BLACK);  // lit by the sight only for the next frame
    game.drawFrame();
    readFrame();
    EXPECT_NE(cellColour(6, 30), BLACK);
}

// One coloured cell on a black floor, seen in perspective: as a wall it stands
// up as a box and covers much more of the picture than as a floor tile.
TEST_F(Drawing, ThePerspectiveViewRaisesWallsAsBoxes) {
    game.level = floorGrid(40, 40, BLACK);
    game.fog = false;
    game.drawFrame();
    readFrame();
    const std::vector<std::uint8_t> flat = frame;
    game.setProjection(true);
    const auto reddish = [this](bool wall) {
        cell(20, 20) = {200, 100, 50, wall ? std::uint8_t{254} : std::uint8_t{255}, wall, 20, 20, false, 0};
        game.drawFrame();
        readFrame();
        return litPixels(0, 0, WINDOW_SIZE, WINDOW_SIZE, [](Pixel p) { return p.r > 0; });  // the snake has none
    };
    const int tile = reddish(false);
    EXPECT_NE(frame, flat);
    const int box = reddish(true);
    EXPECT_GT(tile, 0);
    EXPECT_GT(box, 2 * tile);
}

TEST_F(Drawing, KeyThreeSwitchesViewsAndTheFlatViewKeepsItsPixels) {
    SDL_Event press{};
    press.type = SDL_KEYDOWN;
    press.key.state = SDL_PRESSED;
    press.key.keysym.sym = SDLK_3;
    EXPECT_FALSE(handleEvent(press, game));
    EXPECT_TRUE(game.perspective);
    EXPECT_TRUE(glIsEnabled(GL_LIGHTING));
    EXPECT_FALSE(handleEvent(press, game));
    EXPECT_FALSE(game.perspective);
    EXPECT_FALSE(glIsEnabled(GL_LIGHTING));

    // A size change alone moves nothing; the perspective view then takes it up,
    // and the flat view adopts the viewport it left.
    game.width = 400;
    game.height = 300;
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], WINDOW_SIZE);
    game.setProjection(true);
    game.setProjection(false);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 400);
    EXPECT_EQ(viewport[3], 300);
}

TEST_F(Drawing, TextGlyphsAndThePenAdvance) {
    // "A" at 0.5 is 7.5 x 10.5, all five columns and rows 0 to 6 lit: pixels
    // 100 to 106 across and 100 to 109 down have their centres inside.
    showText(100, 100, 0.5f, "A");
    EXPECT_EQ(brightBox(), (std::array<int, 4>{100, 100, 106, 109}));
    // The pen moves 7.5 + 1, so the second "A" ends at 116; control bytes and
    // DEL neither draw nor move it.
    showText(100, 100, 0.5f,
             "A\x01\n\x7f"
             "A");
    EXPECT_EQ(brightBox(), (std::array<int, 4>{100, 100, 115, 109}));
    // 192 units wide: the last "0" ends at 10 + 192 - 1.
    showText(10, 10, 0.5f, "CURRENT: 0       HIGH: 0");
    EXPECT_EQ(brightBox()[2], 200);
}

TEST_F(Drawing, TheScoreLineShowsTheScoreAndTheStoredBestInMagenta) {
    game.level = floorGrid(40, 40, BLACK);  // nothing shows but the text and the snake
    game.snake.body[4] = {6, 30};
    game.snake.body[5] = {7, 30};
    game.snake.length = 6;
    game.bestScore = -7;
    game.drawFrame();
    readFrame();
    const std::vector<std::uint8_t> drawn = frame;
    showText(10, 10, 0.5f, "CURRENT: 2       HIGH: -7");
    for (int y = 0; y < 4 * CELL_SIZE; ++y) {
        for (int x = 0; x < WINDOW_SIZE; ++x) {
            const Pixel white = at(x, y);
            const std::uint8_t* p = &drawn[(static_cast<std::size_t>(WINDOW_SIZE - 1 - y) * WINDOW_SIZE + x) * 3];
            ASSERT_EQ((Pixel{p[0], p[1], p[2]}), (Pixel{white.r, 0, white.b})) << x << "," << y;
        }
    }
}

TEST_F(Drawing, TheTitlePromptBlinksEveryHalfSecond) {
    game.onTitle = true;
    const int title = [&] {
        game.drawTitle(0);
        readFrame();
        return litPixels(120, 350, 500, 400);
    }();
    EXPECT_GT(title, 500);
    EXPECT_GT(litPixels(550, 780, WINDOW_SIZE, WINDOW_SIZE), 100);  // the credit line, red
    EXPECT_EQ(at(CELL_SIZE * 2, 30 * CELL_SIZE), BLACK);            // no level, no snake
    for (const auto& [ms, shown] : std::vector<std::pair<std::uint32_t, bool>>{
             {0, true}, {499, true}, {500, false}, {999, false}, {1000, true}, {61499, true}, {61500, false}}) {
        game.drawTitle(ms);
        readFrame();
        EXPECT_EQ(litPixels(280, 420, 500, 436) > 100, shown) << ms;
        EXPECT_EQ(litPixels(120, 350, 500, 400), title) << ms;
    }
}

TEST_F(Drawing, TextIsClippedAwayInThePerspectiveView) {
    game.setProjection(true);
    game.drawTitle(0);
    readFrame();
    EXPECT_EQ(litPixels(0, 0, WINDOW_SIZE, WINDOW_SIZE), 0);
    game.level = floorGrid(40, 40, BLACK);
    game.snake.length = 0;
    game.drawFrame();
    readFrame();
    EXPECT_EQ(litPixels(0, 0, WINDOW_SIZE, WINDOW_SIZE), 0);  // no score line either
}

TEST(GameWindow, StartsWithoutMultisamplingWhenNoVisualHasIt) {
    ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
    setGlAttributes();
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, 64);  // more than any visual offers
    SDL_Window* window = createGameWindow();
    ASSERT_NE(window, nullptr) << SDL_GetError();
    int w = 0;
    int h = 0;
    SDL_GetWindowSize(window, &w, &h);
    EXPECT_EQ(w, WINDOW_SIZE);
    EXPECT_EQ(h, WINDOW_SIZE);
    EXPECT_STREQ(SDL_GetWindowTitle(window), "Kestrivane");
    EXPECT_FALSE(SDL_GetWindowFlags(window) & SDL_WINDOW_RESIZABLE);
    SDL_DestroyWindow(window);
}

}  // namespace
