#include "shell/shell.h"

namespace {

// Arrows turn the snake, but never back onto its neck: the guard looks at the
// heading of the last step made, not at the heading asked for since.
void steer(Game& game, Heading toward) {
    if (game.snake.heading != (toward + 2) % 4) game.nextHeading = toward;
}

bool handleKey(const SDL_KeyboardEvent& key, Game& game) {
    const bool pressed = key.state == SDL_PRESSED;  // key-down, auto-repeats included
    switch (key.keysym.sym) {
    case SDLK_ESCAPE: return true;  // on key-up too
    case SDLK_SPACE: game.closeTitle(); break;
    case SDLK_3:
        if (pressed) game.setProjection(!game.perspective);
        break;
    case SDLK_h:
        if (pressed) game.fog = !game.fog;
        break;
    case SDLK_F11:
        if (pressed && key.repeat == 0) toggleFullScreen(game.window);
        break;
    case SDLK_RETURN:
        if (pressed && key.repeat == 0 && (key.keysym.mod & KMOD_ALT) != 0) toggleFullScreen(game.window);
        break;
    case SDLK_p:  // held down, it does not flicker between the two
        if (pressed && key.repeat == 0) game.pause(!game.paused);
        break;
    case SDLK_m:
        if (pressed && key.repeat == 0) game.sound.toggleMute();
        break;
    case SDLK_LEFT:
        if (pressed) steer(game, HEADING_LEFT);
        break;
    case SDLK_UP:
        if (pressed) steer(game, HEADING_UP);
        break;
    case SDLK_RIGHT:
        if (pressed) steer(game, HEADING_RIGHT);
        break;
    case SDLK_DOWN:
        if (pressed) steer(game, HEADING_DOWN);
        break;
    default: break;
    }
    return false;
}

}  // namespace

bool handleEvent(const SDL_Event& event, Game& game) {
    switch (event.type) {
    case SDL_QUIT: return true;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
            game.width = event.window.data1;
            game.height = event.window.data2;
            if (game.window != nullptr) game.fitWindow();  // in pixels, which a dense display has more of
        }
        // A player whose window went behind another is not there to steer.
        if (event.window.event == SDL_WINDOWEVENT_FOCUS_LOST) game.pause(true);
        return false;
    case SDL_KEYDOWN:
    case SDL_KEYUP: return handleKey(event.key, game);
    default: return false;
    }
}
