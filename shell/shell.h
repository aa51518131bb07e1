#pragma once

// The program shell: the window, its icon and the key mapping. The entry point
// (main.cpp) starts SDL and OpenGL, hands them to the Game and runs the loop.

#include <SDL.h>

#include <array>
#include <cstdint>

#include "game/game.h"

inline constexpr const char* WINDOW_TITLE = "Kestrivane";
inline constexpr int ICON_SIZE = 16;

// What a key or window event does to the game. True when it asks to quit.
bool handleEvent(const SDL_Event& event, Game& game);

// Asks for an 8-bit RGB, 24-bit depth, double-buffered, multisampled context.
void setGlAttributes();

// The game's window: resizable, WINDOW_SIZE squared where the screen holds it,
// frame and all, and otherwise the largest square that fits, centred in the
// display's usable area. When the display has no multisampled visual it tries
// once more without multisampling. Null, with SDL's error set, when neither works.
SDL_Window* createGameWindow();

// Between the window and the desktop's full screen; nothing without a window.
void toggleFullScreen(SDL_Window* window);

// The window's icon as ARGB 4-4-4-4, rows top to bottom: a green snake turning
// toward a blue food, on a transparent ground.
extern const std::array<std::uint16_t, ICON_SIZE * ICON_SIZE> WINDOW_ICON;

void setWindowIcon(SDL_Window* window);
