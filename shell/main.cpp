// The process entry: start SDL and an OpenGL window, give them to the Game,
// then drain events and run one frame per pass until asked to quit.

#define SDL_MAIN_HANDLED  // this file provides main itself, on every platform
#include <SDL.h>

#include <cstdio>
#include <cstdlib>

#include "files/platform_file.h"
#include "game/clock.h"
#include "shell/shell.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// Start-up messages stay on the console until it goes; where there is no
// console window to hide, there is nothing to do.
void hideConsole() {
#ifdef _WIN32
    ShowWindow(GetConsoleWindow(), SW_HIDE);
#endif
}

void release(Game& game) {
    game.sound.close();  // first: the device's thread mixes from the game's cues
    game.snake.clear();
    game.level.clear();
    game.releaseRenderer();
}

// Says what failed, with SDL's reason where the message has a place for it, and
// waits for Enter so that the console stays readable.
int failStartUp(Game& game, const char* format) {
    std::printf(format, SDL_GetError());
    std::fflush(stdout);
    std::getchar();
    release(game);
    return -1;
}

}  // namespace

int SDL_main(int /*argc*/, char* /*argv*/[]) {
    Game game;
    // Windows otherwise enlarges the window's picture on a dense display, blurred:
    // with this, it gives the window as many pixels as it covers, as other systems do.
    SDL_SetHint(SDL_HINT_WINDOWS_DPI_SCALING, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "\nUnable to initialize SDL:  %s\n", SDL_GetError());
        release(game);
        return -1;
    }
    std::atexit(SDL_Quit);
    tickSource = SDL_GetTicks;
    startGameControllers();

    setGlAttributes();
    SDL_Window* window = createGameWindow();
    if (window == nullptr) return failStartUp(game, "Could not create window: %s\n");
    setWindowIcon(window);
    SDL_GLContext glContext = SDL_GL_CreateContext(window);
    if (glContext == nullptr) return failStartUp(game, "Could not create renderer: %s\n");
    if (!game.init(window, glContext)) return failStartUp(game, "Could not create game\n");
    game.sound.open();
    hideConsole();

    Input input;
    bool quit = false;
    SDL_Event event;
    while (!quit) {
        while (SDL_PollEvent(&event)) quit = input.handleEvent(event, game) || quit;
        game.tick();  // the frame of the quitting event is still drawn
    }
    input.closePads();
    release(game);
    return 0;
}

int main(int argc, char* argv[]) {
    // Before SDL opens its window-system connection, which would otherwise
    // take the number of a closed standard error and be sent the game's lines.
    platform::fillClosedStandardDescriptors(platform::ClosedOutput::DISCARDS);
    SDL_SetMainReady();
    std::exit(SDL_main(argc, argv));
}
