#include <gtest/gtest.h>

#include "shell/shell.h"

namespace {

SDL_Event keyEvent(SDL_Keycode key, bool down, bool repeat = false) {
    SDL_Event event{};
    event.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.repeat = repeat ? 1 : 0;
    event.key.keysym.sym = key;
    return event;
}

TEST(Events, QuitComesFromTheWindowAndFromEscapeEitherWay) {
    Game game;
    SDL_Event close{};
    close.type = SDL_QUIT;
    EXPECT_TRUE(handleEvent(close, game));
    EXPECT_TRUE(handleEvent(keyEvent(SDLK_ESCAPE, true), game));
    EXPECT_TRUE(handleEvent(keyEvent(SDLK_ESCAPE, false), game));  // pressed before the window had focus
    EXPECT_FALSE(handleEvent(keyEvent(SDLK_q, true), game));
}

TEST(Events, SpaceOnlyClosesTheTitle) {
    for (const bool down : {true, false}) {
        Game game;
        EXPECT_FALSE(handleEvent(keyEvent(SDLK_SPACE, down), game));
        EXPECT_FALSE(game.onTitle);
        handleEvent(keyEvent(SDLK_SPACE, down), game);
        EXPECT_FALSE(game.onTitle);  // nothing opens it again
    }
}

TEST(Events, FogTogglesOnEveryPressIncludingRepeats) {
    Game game;
    handleEvent(keyEvent(SDLK_h, true), game);
    EXPECT_FALSE(game.fog);
    handleEvent(keyEvent(SDLK_h, true, true), game);
    EXPECT_TRUE(game.fog);
    handleEvent(keyEvent(SDLK_h, false), game);
    EXPECT_TRUE(game.fog);
}

TEST(Events, SizeChangesAreOnlyRecorded) {
    Game game;
    SDL_Event resized{};
    resized.type = SDL_WINDOWEVENT;
    resized.window.event = SDL_WINDOWEVENT_SIZE_CHANGED;
    resized.window.data1 = 640;
    resized.window.data2 = 480;
    EXPECT_FALSE(handleEvent(resized, game));
    EXPECT_EQ(game.width, 640);
    EXPECT_EQ(game.height, 480);
    resized.window.event = SDL_WINDOWEVENT_MOVED;
    resized.window.data1 = 7;
    handleEvent(resized, game);
    EXPECT_EQ(game.width, 640);
}

// The guard compares with the heading of the last step, not with the heading
// asked for since: no run of presses can turn the snake onto its neck.
TEST(Events, ArrowsSteerButNeverBackOntoTheNeck) {
    struct Case {
        const char* what;
        Heading lastStep;
        std::vector<SDL_Event> keys;
        Heading expected;
    };
    const Case cases[] = {
        {"left while heading right", HEADING_RIGHT, {keyEvent(SDLK_LEFT, true)}, HEADING_RIGHT},
        {"up then left before the step",
         HEADING_RIGHT,
         {keyEvent(SDLK_UP, true), keyEvent(SDLK_LEFT, true)},
         HEADING_UP},
        {"down while heading up", HEADING_UP, {keyEvent(SDLK_DOWN, true)}, HEADING_RIGHT},
        {"right while heading left", HEADING_LEFT, {keyEvent(SDLK_RIGHT, true)}, HEADING_RIGHT},
        {"up while heading down", HEADING_DOWN, {keyEvent(SDLK_UP, true)}, HEADING_RIGHT},
        {"down while heading left", HEADING_LEFT, {keyEvent(SDLK_DOWN, true)}, HEADING_DOWN},
        {"left while heading up", HEADING_UP, {keyEvent(SDLK_LEFT, true)}, HEADING_LEFT},
        {"a release does nothing", HEADING_RIGHT, {keyEvent(SDLK_UP, false)}, HEADING_RIGHT},
        {"a repeat steers", HEADING_RIGHT, {keyEvent(SDLK_DOWN, true, true)}, HEADING_DOWN},
        {"the last press wins", HEADING_UP, {keyEvent(SDLK_LEFT, true), keyEvent(SDLK_RIGHT, true)}, HEADING_RIGHT},
    };
    for (const Case& c : cases) {
        Game game;  // on the title screen: arrows work there too
        game.snake.heading = c.lastStep;
        for (const SDL_Event& key : c.keys) EXPECT_FALSE(handleEvent(key, game));
        EXPECT_EQ(game.nextHeading, c.expected) << c.what;
    }
}

}  // namespace
