#pragma once

// The one record of a running game: window and context handles, the view
// switches, the level, the snake, the clock and the level bookkeeping. The
// rules need no window: the frame's logic runs in advance(), defined here; the
// renderer's members, drawing and the frame as a whole (tick) are defined in
// render/, which alone needs SDL and OpenGL.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "game/level.h"
#include "game/level_file.h"
#include "game/snake.h"
#include "sound/sound.h"

struct SDL_Window;
struct BitmapFont;
struct Canvas;

inline constexpr std::int32_t WINDOW_SIZE = 800;

// The tiles and boxes of a frame, gathered into client arrays and drawn some
// thousands at a time: per vertex three position floats, three normal floats
// and red, green, blue and alpha bytes. The renderer sizes the arrays once, when
// it is set up; `vertexCount` says how much of them is in use.
struct DrawBatch {
    std::vector<float> positions;
    std::vector<float> normals;
    std::vector<std::uint8_t> colours;
    std::size_t vertexCount = 0;
};

// What a key or a pad's button asks for. The four steering commands come
// first, in the order of the headings they ask for.
enum class Command { STEER_LEFT, STEER_UP, STEER_RIGHT, STEER_DOWN, START, FOG, VIEW, PAUSE, MUTE, FULL_SCREEN, QUIT };

struct Game {
    SDL_Window* window = nullptr;
    void* glContext = nullptr;  // an SDL_GLContext
    std::int32_t width = WINDOW_SIZE;
    std::int32_t height = WINDOW_SIZE;
    bool perspective = false;
    BitmapFont* font = nullptr;  // owned; created and freed with the renderer
    Level level;
    Snake snake;
    Heading nextHeading = HEADING_RIGHT;
    std::uint32_t startTicks = 0;  // 0: the level's clock starts at the next frame
    std::uint32_t lastTicks = 0;
    bool fog = true;
    std::int32_t levelCount = 0;
    std::int32_t levelNumber = 1;
    std::int32_t bestScore = 0;
    bool onTitle = true;
    // P and a lost focus set it in play, P clears it. While it is set nothing
    // advances, nothing is owed for the time, and the frame stays as it was.
    bool paused = false;
    Sound sound;               // silent until the shell opens its device
    DrawBatch batch;           // the renderer's; holds nothing between frames
    Canvas* canvas = nullptr;  // owned, with the renderer; none where the driver cannot draw off screen
    OpenedFile levelFile;      // the level's file, held open: the only one its score may go into

    // Counts the level files and starts the first level behind the title screen.
    // Ends the process with a message when there is no level file, or none that
    // can be played.
    void startGame();

    // Starts a random level: its stored best, its grid, its food and a new snake.
    // A level that cannot be played is passed over for another draw; false when
    // none of the counted files can be played.
    bool startLevel();

    // Space on the title screen: play begins, with the new level's notes.
    void closeTitle();

    // Turns the next step toward `toward`, unless that would take the snake
    // back onto its neck: the guard looks at the heading of the last step
    // made, not at the heading asked for since, so that no number of turns
    // between two steps can make it reverse. True when the turn is taken.
    bool steer(Heading toward);

    // Carries out the commands that are the game's: steering, start, fog,
    // pause and mute. The view, full screen and quitting are the window's.
    void apply(Command command);

    // Pauses (true) or resumes play, with a click. Nothing on the title screen,
    // nor when play already is as asked.
    void pause(bool on);

    // Offers the dying snake's score to the current level file's trailer.
    void saveScore();

    // One frame's logic: the clock, at most one step, a death with its new level,
    // the fading. Returns the milliseconds since the level's clock started, which
    // the title screen's blinking needs.
    std::uint32_t advance();

    // Lights the cells that the fan of rays ahead of the snake's head reaches.
    void castSight();

    std::int32_t score() const { return snake.length - START_LENGTH; }

    // Takes over the window and its context, sets up the renderer and starts the
    // first level behind the title screen. False when the renderer cannot be set
    // up; ends the process when no level can be played.
    bool init(SDL_Window* newWindow, void* newGlContext);

    // One frame: the logic, then the title screen or the playing frame, shown.
    void tick();

    // False, holding nothing, when either handle is missing.
    bool initRenderer(SDL_Window* newWindow, void* newGlContext);

    // Loads the flat top-down projection (false) or the perspective one (true),
    // either shown in the largest square centred in `width` by `height`.
    void setProjection(bool perspectiveView);

    // Takes the window's drawable size in pixels and fits the picture to it.
    void fitWindow();

    // Frees the font, the context and the window; safe to repeat.
    void releaseRenderer();

    void drawFrame();
    // The frame's start (clear, light, camera) and its end (shown).
    void beginFrame();
    void endFrame();
    // Puts the scene drawn so far under where the text goes: scaled into the
    // window, unless the scene is at the window's resolution, when the text
    // goes over it before it is shown.
    void showScene();
    // The cells and segments the view can show, into the batch.
    void drawLevel();
    void drawSnake();
    // Draws what the batch holds and empties it.
    void flushBatch();
    void drawScoreLine();
    void drawTitle(std::uint32_t msSinceStart);

    // A box `size` wide and `height` tall, and a flat tile, with their lower
    // corner at (x, y, z) in world units, added to the batch.
    void drawBox(std::int32_t x, std::int32_t y, std::int32_t z, float size, float height, std::uint8_t r,
                 std::uint8_t g, std::uint8_t b, std::uint8_t a);
    void drawTile(std::int32_t x, std::int32_t y, std::int32_t z, float size, std::uint8_t r, std::uint8_t g,
                  std::uint8_t b, std::uint8_t a);

    // Draws `text` with its first glyph's top-left corner at (x, y). The caller
    // brackets it with the text state (see render/text.h).
    void drawText(float x, float y, float scale, const char* text);
};

// Says `message` on standard output, waits for Enter and ends the process with -1.
[[noreturn]] void failStart(const char* message);
