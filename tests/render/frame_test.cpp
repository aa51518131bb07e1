// Drawing checked by reading the window's pixels back. Needs a display (make
// test runs these under Xvfb). Window rows are counted from the top, as in the
// flat view.

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "bench/per_cell_frame.h"
#include "render/canvas.h"
#include "render/render.h"
#include "shell/shell.h"

namespace {

using Pixel = std::array<std::uint8_t, 3>;
using Lit = std::function<bool(Pixel)>;
constexpr Pixel BLACK{0, 0, 0}, FLOOR{0, 100, 50};  // no red, whatever the light
const Lit NOT_BLACK = [](Pixel p) { return p != BLACK; };

class Drawing : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        openWindow();
        game.level = Level{40, 40, {}};  // unseen open floor
        for (int i = 0; i < 1600; ++i) game.level.cells.push_back({0, 100, 50, 255, false, i % 40, i / 40});
        game.snake.reset(2, 30, 40 * 40);
    }
    void openWindow() {
        setGlAttributes();
        SDL_Window* window = createGameWindow();
        ASSERT_TRUE(game.initRenderer(window, SDL_GL_CreateContext(window))) << SDL_GetError();
        ASSERT_NE(game.canvas, nullptr);
        game.canvas->resolution = {.step = ONE_SAMPLE_STEP, .adapts = false};  // however slow the frames
    }
    void TearDown() override {
        for (int i = 0; i < 2; ++i) game.releaseRenderer();  // the second release finds nothing to do
        EXPECT_FALSE(game.initRenderer(nullptr, nullptr));   // nor takes half a pair
    }

    // Draws with `draw` and reads the whole drawable back. Mesa keeps the back
    // buffer's content through the swap, and reads it reliably, unlike the front buffer.
    void show(const std::function<void(Game&)>& draw) {
        draw(game);
        frame.resize(std::size_t(game.width) * game.height);
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, game.width, game.height, GL_RGB, GL_UNSIGNED_BYTE, frame.data());
    }
    Pixel at(int x, int y) const { return frame[(game.height - 1 - y) * game.width + x]; }

    // The colour of every pixel of the cell's square, or {1, 2, 3} when they differ.
    Pixel cellColour(int column, int row) const {
        const Pixel corner = at(CELL_SIZE * column, CELL_SIZE * row);
        for (int i = 0; i < CELL_SIZE * CELL_SIZE; ++i)
            if (at(CELL_SIZE * column + i % CELL_SIZE, CELL_SIZE * row + i / CELL_SIZE) != corner) return {1, 2, 3};
        return corner;
    }

    // How many pixels of the rectangle pass `test`, and their extent as left, top, right, bottom.
    std::pair<int, std::array<int, 4>> lit(const Lit& test = NOT_BLACK, int left = 0, int top = 0,
                                           int right = WINDOW_SIZE, int bottom = WINDOW_SIZE) const {
        int count = 0;
        std::array<int, 4> box{right, bottom, -1, -1};
        for (int y = top; y < bottom; ++y)
            for (int x = left; x < right; ++x) {
                if (!test(at(x, y))) continue;
                box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
                ++count;
            }
        return {count, box};
    }

    // How many pixels differ from `reference`, and how many of those lie
    // neither on an edge, by a neighbour `reach` pixels away at most of
    // clearly another colour in `reference`, nor a step of rounding from it in
    // every channel.
    std::pair<int, int> differences(const std::vector<Pixel>& reference, int reach) const {
        const auto apart = [](Pixel p, Pixel q) {
            return std::max({std::abs(p[0] - q[0]), std::abs(p[1] - q[1]), std::abs(p[2] - q[2])});
        };
        int differing = 0, strays = 0;
        for (int i = 0; i < WINDOW_SIZE * WINDOW_SIZE; ++i) {
            if (frame[i] == reference[i]) continue;
            ++differing;
            const int x = i % WINDOW_SIZE, y = i / WINDOW_SIZE;
            bool edge = apart(frame[i], reference[i]) <= 1;
            for (int ny = std::max(y - reach, 0); ny <= std::min(y + reach, WINDOW_SIZE - 1); ++ny)
                for (int nx = std::max(x - reach, 0); nx <= std::min(x + reach, WINDOW_SIZE - 1); ++nx)
                    edge = edge || apart(reference[ny * WINDOW_SIZE + nx], reference[i]) > 2;
            strays += !edge;
        }
        return {differing, strays};
    }

    Game game;
    std::vector<Pixel> frame;
};

// Cells of each kind side by side, between unseen floor, seen with fog, once
// more with fog, and without. The snake lies on food; its sight lights the
// floor ahead of it from the frame after it was cast.
TEST_F(Drawing, CellsShowInTheirShadedColourUnderTheFogAndTheSnakeOverAll) {
    constexpr Pixel OWN{90, 80, 70};
    // each cell (its place set below), and its colour with fog and without
    const std::tuple<Cell, Pixel, Pixel> cases[] = {
        {{90, 80, 70, 255, false, 0, 0, false, 1000}, OWN, OWN},
        {{90, 80, 70, 255, false, 0, 0, false, 0}, BLACK, OWN},
        {{90, 80, 70, 254, true, 0, 0, false, 0}, BLACK, OWN},
        {{90, 80, 70, 1, false, 0, 0, false, 1000}, OWN, OWN},                  // alpha 1: blending is off outside text
        {{90, 80, 70, 0, true, 0, 0, false, 1000}, BLACK, BLACK},               // a wall never drawn
        {{90, 80, 70, 255, false, 0, 0, true, 500}, {0, 0, 127}, {0, 0, 255}},  // food, half faded: truncated
    };
    for (int i = 0; i < 6; ++i) *game.level.cellAt(2 * i, 0) = std::get<Cell>(cases[i]);
    game.level.cellAt(3, 30)->food = true;  // under the snake's second segment
    game.level.cellAt(3, 30)->visibility = 1000;
    for (const int pass : {0, 1, 2}) {
        game.fog = pass < 2;
        show(&Game::drawFrame);
        for (int i = 0; i < 6; ++i)
            EXPECT_EQ(cellColour(2 * i, 0), game.fog ? std::get<1>(cases[i]) : std::get<2>(cases[i])) << i;
        EXPECT_EQ(std::tuple(cellColour(2, 30), cellColour(3, 30), cellColour(6, 30)),
                  std::tuple(Pixel{0, 255, 0}, Pixel{0, 0, 255}, pass == 0 ? BLACK : FLOOR));
    }
}

// The one reddish cell. Key 3 turns to the perspective view: a wall stands up
// there as a box on its own cell, far larger than a floor tile. Back in the
// flat view (by a pad's X), the cell shows unlit, in its own colour.
TEST_F(Drawing, KeyThreeSwitchesToThePerspectiveViewWhichRaisesWallsAsBoxes) {
    SDL_Event three{SDL_KEYDOWN};
    three.key.state = SDL_PRESSED;
    three.key.keysym.sym = SDLK_3;
    const auto red = [this](bool wall) {
        *game.level.cellAt(20, 20) = {200, 100, 50, std::uint8_t(wall ? 254 : 255), wall, 20, 20, false, 1000};
        show(&Game::drawFrame);
        return lit([](Pixel p) { return p[0] > 0; });
    };
    EXPECT_FALSE(Input().handleEvent(three, game));
    const auto [tile, tileBox] = red(false);
    const auto [box, boxBox] = red(true);
    EXPECT_TRUE(tile > 0 && box > 2 * tile) << tile << " " << box;
    EXPECT_NEAR(boxBox[0] + boxBox[2], tileBox[0] + tileBox[2], 1);  // on the same column
    EXPECT_NEAR(boxBox[3], tileBox[3], 1);                           // standing on the floor
    SDL_Event padX{SDL_CONTROLLERBUTTONDOWN};                        // a pad's X does as 3
    padX.cbutton.button = SDL_CONTROLLER_BUTTON_X;
    Input().handleEvent(padX, game);
    red(true);
    EXPECT_EQ(cellColour(20, 20), (Pixel{200, 100, 50}));
}

// Every kind of cell in every state of fading, on a grid larger than the view
// both ways and on one smaller, which the snake leaves: batched, with only what
// the view shows, the frame must look as it does drawn cell by cell, smoothed
// off screen, straight in the window, and drawn smaller and scaled up. The
// sight is cast first, so that the frames' own casts change nothing between
// them. The perspective view's vertices are transformed in another order, so
// there a triangle's edge may move by a rounding step, and a lit colour by one.
TEST_F(Drawing, BatchedFramesLookAsFramesDrawnCellByCell) {
    for (const std::uint32_t step : {0u, ONE_SAMPLE_STEP, 5u}) {
        game.canvas->resolution.step = step;
        for (const auto& [width, height] : {std::pair{240, 160}, std::pair{90, 70}}) {
            game.level = Level{width, height, {}};
            for (std::uint32_t i = 0; i < std::uint32_t(width * height); ++i) {
                const std::uint32_t h = i * 2654435761u >> 8;
                const std::uint8_t a = h % 7 == 0 ? 0 : h % 7 == 1 ? 254 : 255;  // invisible walls, walls, floor
                const Rgb colour = h % 11 == 0 ? Rgb{} : Rgb{std::uint8_t(h >> 8), std::uint8_t(h >> 16), 200};
                const std::int32_t visibility = std::clamp(std::int32_t(h >> 4) % 1400 - 200, 0, 1000);
                game.level.cells.push_back({colour.r, colour.g, colour.b, a, a % 2 == 0, std::int32_t(i) % width,
                                            std::int32_t(i) / width, h % 13 == 0, visibility});
            }
            game.snake.reset(88, 30, width * height);  // half out of the narrow grid
            game.castSight();
            for (const int view : {0, 1, 2, 3}) {  // flat, then in perspective; each without fog and with
                const bool perspective = view >= 2;
                game.setProjection(perspective);
                game.fog = view % 2 == 1;
                show(per_cell::drawFrame);
                const std::vector<Pixel> perCell = frame;
                show(&Game::drawFrame);
                const auto [moved, strays] = differences(perCell, step == 5 ? 2 : 1);  // scaled up twice
                EXPECT_EQ(strays, 0) << step;
                EXPECT_LE(moved, perspective ? WINDOW_SIZE * WINDOW_SIZE / 2000 : 0)
                    << "step " << step << ", " << width << " x " << height << (perspective ? ", perspective" : ", flat")
                    << (game.fog ? ", fog" : "");
            }
        }
    }
}

// "CURRENT: 0       HIGH: -7" at half size from (10, 10): glyphs 10.5 high and
// FONT_ZOOM / 2 wide per used column, each followed by 1 unit, the space too.
TEST_F(Drawing, TheScoreLineShowsTheScoreAndTheStoredBestInMagenta) {
    game.bestScore = -7;
    show(&Game::drawFrame);  // the floor is unseen: only the snake and the text show
    EXPECT_EQ(lit([](Pixel p) { return p[0] > 127; }).second, (std::array<int, 4>{10, 10, 208, 19}));
    const std::vector<Pixel> drawn = frame;
    show([](Game& g) {  // the same text, drawn directly
        glClear(GL_COLOR_BUFFER_BIT);
        beginText();
        glColor4f(1, 0, 1, 1);
        g.drawText(10, 10, 0.5f, "CURRENT: 0       HIGH: -7");
        endText();
    });
    EXPECT_TRUE(
        std::equal(frame.end() - 4 * CELL_SIZE * WINDOW_SIZE, frame.end(), drawn.end() - 4 * CELL_SIZE * WINDOW_SIZE));
    // Paused: "PAUSED" in white at twice the size, centred; the sight is not
    // cast, so the floor ahead of the snake stays unseen frame after frame.
    game.paused = true;
    for (Cell& cell : game.level.cells) cell.visibility = 0;
    for (int i = 0; i < 2; ++i) show(&Game::drawFrame);
    EXPECT_EQ(lit([](Pixel p) { return p[0] > 127 && p[1] > 127; }).second, (std::array<int, 4>{307, 379, 491, 420}));
    EXPECT_EQ(cellColour(6, 30), BLACK);
}

TEST_F(Drawing, TheTitlePromptBlinksAndThePerspectiveViewHidesText) {
    const auto title = [](std::uint32_t ms) { return [ms](Game& g) { g.drawTitle(ms); }; };
    show(title(0));
    const int titleLine = lit(NOT_BLACK, 120, 350, 500, 400).first;
    EXPECT_GT(titleLine, 500);
    EXPECT_GT(lit([](Pixel p) { return p[0] > 0 && p[1] == 0 && p[2] == 0; }, 550, 780).first, 100);  // the credit, red
    EXPECT_EQ(lit(NOT_BLACK, 0, 0, WINDOW_SIZE, 350).first, 0);  // no level, no snake, no score line
    for (const auto& [ms, shown] : std::vector<std::pair<std::uint32_t, bool>>{
             {0, true}, {499, true}, {500, false}, {999, false}, {1000, true}, {61499, true}, {61500, false}}) {
        show(title(ms));
        EXPECT_EQ(lit(NOT_BLACK, 280, 420, 500, 436).first > 100, shown) << ms;
        EXPECT_EQ(lit(NOT_BLACK, 120, 350, 500, 400).first, titleLine) << ms;
    }
    game.setProjection(true);  // text lies in the eye's plane there and is clipped away
    show(title(0));
    EXPECT_EQ(lit().first, 0);
}

// The game's own window under a window manager (with_window_manager.sh), on
// the screen that the test is given: where it starts, and its picture scaled
// into whatever size it takes. The level is a grid of black floor that fills
// the flat view, with a lit cell of its own colour in each corner.
class Window : public Drawing {
protected:
    static constexpr int SIDE = WINDOW_SIZE / CELL_SIZE;
    static constexpr std::array<Pixel, 4> CORNERS{{{255, 0, 0}, {255, 255, 0}, {0, 255, 255}, {255, 255, 255}}};
    using Centres = std::array<std::array<double, 2>, 4>;

    void SetUp() override {
        Drawing::SetUp();
        game.level = Level{SIDE, SIDE, {}};
        for (int i = 0; i < SIDE * SIDE; ++i) game.level.cells.push_back({0, 0, 0, 255, false, i % SIDE, i / SIDE});
        for (int i = 0; i < 4; ++i) {
            *game.level.cellAt(i % 2 * (SIDE - 1), i / 2 * (SIDE - 1)) = {
                CORNERS[i][0],      CORNERS[i][1],      CORNERS[i][2], 255, false,
                i % 2 * (SIDE - 1), i / 2 * (SIDE - 1), false,         1000};
        }
        game.snake.reset(SIDE / 2, SIDE / 2, SIDE * SIDE);
        settle({game.width, game.height});  // where the window manager puts it
    }

    // Handles the window's events as the game's loop does, for a moment and
    // then until the drawable has `size` (5 s at most).
    void settle(std::pair<int, int> size) {
        SDL_Event event;
        for (Uint32 start = SDL_GetTicks(); SDL_GetTicks() - start < 5000; SDL_Delay(10)) {
            while (SDL_PollEvent(&event)) Input().handleEvent(event, game);
            if (SDL_GetTicks() - start > 300 && std::pair(game.width, game.height) == size) break;
        }
    }

    // Where each corner's colour shows in `view`, lit or not (its channels
    // bright and dark where the colour's are), as fractions of the picture's
    // square; around the square, only black. The buffers take a new size at a
    // swap, so the second frame is read.
    Centres corners(bool view) {
        game.setProjection(view);
        for (int i = 0; i < 2; ++i) show(&Game::drawFrame);
        const int side = std::min(game.width, game.height);
        const int left = (game.width - side) / 2, top = (game.height - side + 1) / 2;
        EXPECT_EQ(lit(NOT_BLACK, 0, 0, game.width, game.height).first,
                  lit(NOT_BLACK, left, top, left + side, top + side).first)
            << "pixels not black around the picture";
        const auto level = [](std::uint8_t v) { return std::uint8_t(v >= 40 ? 255 : v <= 15 ? 0 : 1); };
        Centres centres{};
        for (int i = 0; i < 4; ++i) {
            const Lit shows = [&](Pixel p) { return Pixel{level(p[0]), level(p[1]), level(p[2])} == CORNERS[i]; };
            const auto [count, box] = lit(shows, left, top, left + side, top + side);
            EXPECT_GT(count, 0) << "corner " << i << " unseen";
            centres[i] = {(box[0] + box[2] + 1 - 2.0 * left) / 2 / side, (box[1] + box[3] + 1 - 2.0 * top) / 2 / side};
        }
        return centres;
    }
};

// Wholly on the screen, frame and all, at 800 x 800 where the screen holds it,
// with the level's corners and the score line where the scaled picture puts
// them. Then resized, and in full screen by F11 and back by Alt+Enter: in both
// views the corners show where scaling the picture as first drawn puts them.
TEST_F(Window, StartsOnTheScreenAndScalesThePictureIntoEverySize) {
    SDL_Rect usable;
    ASSERT_EQ(SDL_GetDisplayUsableBounds(0, &usable), 0);
    int x, y, top, left, bottom, right;
    SDL_GetWindowPosition(game.window, &x, &y);
    ASSERT_EQ(SDL_GetWindowBordersSize(game.window, &top, &left, &bottom, &right), 0);
    EXPECT_TRUE(top > 0 && x - left >= usable.x && y - top >= usable.y &&
                x + game.width + right <= usable.x + usable.w && y + game.height + bottom <= usable.y + usable.h)
        << x << ", " << y << " framed by " << top << " in " << usable.w << " x " << usable.h;
    EXPECT_EQ(game.width, usable.h < 1000 ? game.height : WINDOW_SIZE);
    const std::array<Centres, 2> first{corners(false), corners(true)};
    for (int i = 0; i < 4; ++i)
        for (int axis : {0, 1}) EXPECT_NEAR(first[0][i][axis], i >> axis & 1 ? 1 - 0.5 / SIDE : 0.5 / SIDE, 0.002);
    game.bestScore = -7;  // the score line, magenta, from (10, 10) to (208, 19) unscaled
    corners(false);
    const auto box = lit([](Pixel p) { return p[0] > 127 && p[1] < 64 && p[2] > 127; }, 0, 0, game.width, game.height);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(box.second[i], (std::array{10, 10, 208, 19}[i] * game.width / WINDOW_SIZE), 1.5) << i;

    SDL_Event f11{SDL_KEYDOWN}, altEnter{SDL_KEYDOWN};
    f11.key.state = altEnter.key.state = SDL_PRESSED;
    f11.key.keysym.sym = SDLK_F11;
    altEnter.key.keysym = {SDL_SCANCODE_RETURN, SDLK_RETURN, KMOD_LALT, 0};
    SDL_DisplayMode screen;
    SDL_GetDesktopDisplayMode(0, &screen);
    // Last, drawn at about half the side and scaled up, as where frames are
    // slow: the score line, drawn over it at the window's own resolution, is
    // as sharp as before.
    const std::tuple<const char*, std::pair<int, int>, const SDL_Event*, std::uint32_t> sizes[] = {
        {"500 x 500", {500, 500}, nullptr, ONE_SAMPLE_STEP},
        {"1000 x 600", {1000, 600}, nullptr, ONE_SAMPLE_STEP},
        {"full screen", {screen.w, screen.h}, &f11, ONE_SAMPLE_STEP},
        {"back from full screen", {1000, 600}, &altEnter, ONE_SAMPLE_STEP},
        {"drawn smaller", {1000, 600}, nullptr, 5}};
    std::vector<Pixel> scoreLine, sharpScoreLine;
    for (const auto& [what, size, key, step] : sizes) {
        if (key == nullptr) SDL_SetWindowSize(game.window, size.first, size.second);
        if (key != nullptr) Input().handleEvent(*key, game);
        settle(size);
        game.canvas->resolution.step = step;
        glClearColor(1, 1, 1, 1);  // what the frames must clear around their picture
        glClear(GL_COLOR_BUFFER_BIT);
        EXPECT_EQ(std::pair(game.width, game.height), size) << what;
        const int drawnSide = game.canvas->resolution.side(std::min(size.first, size.second));
        for (const bool perspective : {true, false}) {
            const Centres now = corners(perspective);
            for (int i = 0; i < 4; ++i)
                for (int axis : {0, 1})
                    EXPECT_NEAR(now[i][axis], first[perspective][i][axis], 1.5 / drawnSide)
                        << what << (perspective ? ", perspective, corner " : ", flat, corner ") << i;
        }
        sharpScoreLine = std::exchange(scoreLine, {});
        const int left = (game.width - 600) / 2;  // of the picture's square, in the last two sizes
        for (int y = 7; y < 16; ++y)              // from 10 x 10 to 208 x 19 of 800 x 800
            for (int x = 10; x < 160; ++x) scoreLine.push_back(at(left + x, y));
    }
    EXPECT_EQ(scoreLine, sharpScoreLine);
}

}  // namespace
