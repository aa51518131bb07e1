#include <algorithm>

#include "shell/shell.h"

namespace {

// No window manager draws a frame this thick: where the usable area is larger
// than the window by more than this both ways, the window fits whatever frame
// it gets, and start-up need not wait to learn it.
constexpr int FRAME_ALLOWANCE = 100;
constexpr Uint32 FRAME_WAIT_MS = 1000;

// The frame's thickness on each side (top, left, bottom, right), once the
// window manager has framed the window, which it does some time after the
// window is shown; zeros where none frames it within FRAME_WAIT_MS.
std::array<int, 4> awaitFrame(SDL_Window* window) {
    std::array<int, 4> frame{};
    const Uint32 start = SDL_GetTicks();
    do {
        SDL_PumpEvents();  // the frame's size arrives as a property change
        if (SDL_GetWindowBordersSize(window, &frame[0], &frame[1], &frame[2], &frame[3]) == 0 && frame[0] > 0)
            return frame;
        SDL_Delay(10);
    } while (SDL_GetTicks() - start < FRAME_WAIT_MS);
    return {};
}

// Where the display's usable area, less the window's frame, cannot hold the
// window, makes it the largest square that fits and centres it there.
void keepOnScreen(SDL_Window* window) {
    SDL_Rect usable;
    if (SDL_GetDisplayUsableBounds(std::max(SDL_GetWindowDisplayIndex(window), 0), &usable) != 0) return;
    if (usable.w >= WINDOW_SIZE + FRAME_ALLOWANCE && usable.h >= WINDOW_SIZE + FRAME_ALLOWANCE) return;
    const auto [top, left, bottom, right] = awaitFrame(window);
    const int roomX = usable.w - left - right, roomY = usable.h - top - bottom;
    const int side = std::max(std::min({WINDOW_SIZE, roomX, roomY}), 1);
    SDL_SetWindowSize(window, side, side);
    SDL_SetWindowPosition(window, usable.x + left + (roomX - side) / 2, usable.y + top + (roomY - side) / 2);
}

}  // namespace

void setGlAttributes() {
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // One sample per pixel: a multisampled window costs a software renderer
    // four times its pixels to clear and to show, whatever is drawn. Edges are
    // smoothed off screen instead (render/canvas.h).
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, 0);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, 0);
}

SDL_Window* createGameWindow() {
    SDL_Window* window =
        SDL_CreateWindow(WINDOW_TITLE, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, WINDOW_SIZE, WINDOW_SIZE,
                         SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_ALLOW_HIGHDPI);
    if (window != nullptr) keepOnScreen(window);
    return window;
}

void toggleFullScreen(SDL_Window* window) {
    if (window == nullptr) return;
    const bool full = (SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP) == SDL_WINDOW_FULLSCREEN_DESKTOP;
    SDL_SetWindowFullscreen(window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
}
