#pragma once

// The program shell: the window, its icon and the key mapping. The entry point
// (main.cpp) starts SDL and OpenGL, hands them to the Game and runs the loop.

#include <SDL.h>

#include <array>
#include <cstdint>
#include <vector>

#include "game/game.h"

inline constexpr const char* WINDOW_TITLE = "Kestrivane";
inline constexpr int ICON_SIZE = 16;

// Turns SDL's events into the game's commands: the keys', the game
// controllers' and the window's own. Any pad plugged in drives the snake,
// those present at start and those plugged in later alike.
struct Input {
    struct Pad {
        SDL_GameController* controller;
        SDL_JoystickID id;
        Sint16 x = 0, y = 0;        // the left stick
        bool stickSteered = false;  // since the stick last came back within the dead zone
    };
    std::vector<Pad> pads;  // open

    // What the event does to the game. True when it asks to quit.
    bool handleEvent(const SDL_Event& event, Game& game);
    void closePads();

private:
    bool handleKey(const SDL_KeyboardEvent& key, Game& game);
    void addPad(int deviceIndex);
    void removePad(SDL_JoystickID id, Game& game);
    void moveStick(const SDL_ControllerAxisEvent& motion, Game& game);
};

// Game controllers are welcome but not needed: without them the keys play.
// Their buttons are taken by position, so that A is the south button on
// every pad, Nintendo's too.
void startGameControllers();

// Asks for an 8-bit RGB, 24-bit depth, double-buffered context.
void setGlAttributes();

// The game's window: resizable, WINDOW_SIZE squared where the screen holds it,
// frame and all, and otherwise the largest square that fits, centred in the
// display's usable area. Null, with SDL's error set, when it cannot be made.
SDL_Window* createGameWindow();

// Between the window and the desktop's full screen; nothing without a window.
void toggleFullScreen(SDL_Window* window);

// The window's icon as ARGB 4-4-4-4, rows top to bottom: a green snake turning
// toward a blue food, on a transparent ground.
extern const std::array<std::uint16_t, ICON_SIZE * ICON_SIZE> WINDOW_ICON;

void setWindowIcon(SDL_Window* window);
