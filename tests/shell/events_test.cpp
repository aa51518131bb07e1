#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "shell/shell.h"

namespace {

// The cues asked of the sound, a letter each: L a new level, P pause, R
// resume, and M the cut that muting makes.
std::string cuesAsked(const Sound& sound) {
    const Samples* const cues[] = {nullptr, &sound.cues.newLevel, &sound.cues.pause, &sound.cues.resume};
    std::string letters;
    for (std::uint32_t n = sound.taken; n != sound.requested; ++n)
        letters += "MLPR?"[std::ranges::find(cues, sound.requests[n % REQUEST_SLOTS].samples) - std::begin(cues)];
    return letters;
}

SDL_Event key(SDL_Keycode sym, bool down = true, bool repeat = false) {
    SDL_Event event{static_cast<Uint32>(down ? SDL_KEYDOWN : SDL_KEYUP)};
    event.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.key.repeat = repeat;
    event.key.keysym.sym = sym;
    return event;
}

SDL_Event windowEvent(SDL_WindowEventID what, Sint32 data1 = 0, Sint32 data2 = 0) {
    SDL_Event event{SDL_WINDOWEVENT};
    event.window.event = static_cast<Uint8>(what);
    event.window.data1 = data1;
    event.window.data2 = data2;
    return event;
}

// A run of events on a new game, on the title screen, whose snake last stepped
// toward `lastStep`. Arrows steer there too, but never back onto the neck: the
// guard looks at the last step, not at the heading asked for since.
TEST(Events, WhatEachDoesToTheGame) {
    const SDL_Event lostFocus = windowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    struct Case {
        const char* what;
        std::vector<SDL_Event> events;
        Heading lastStep = HEADING_RIGHT;
        Heading heading = HEADING_RIGHT;  // of the next step
        bool quits = false, title = true, fog = true, paused = false;
        std::string cues = {};
        std::pair<std::int32_t, std::int32_t> size = {WINDOW_SIZE, WINDOW_SIZE};
    } const cases[] = {
        {.what = "the window closes", .events = {SDL_Event{SDL_QUIT}}, .quits = true},
        {.what = "Escape", .events = {key(SDLK_ESCAPE)}, .quits = true},
        {.what = "Escape let go, pressed before the focus came", .events = {key(SDLK_ESCAPE, false)}, .quits = true},
        {.what = "another key", .events = {key(SDLK_q)}},
        {.what = "a mouse move", .events = {SDL_Event{SDL_MOUSEMOTION}}},
        {.what = "Space twice: nothing reopens",
         .events = {key(SDLK_SPACE), key(SDLK_SPACE)},
         .title = false,
         .cues = "L"},
        {.what = "Space let go", .events = {key(SDLK_SPACE, false)}, .title = false, .cues = "L"},
        {.what = "H", .events = {key(SDLK_h)}, .fog = false},
        {.what = "H, a repeat and a release", .events = {key(SDLK_h), key(SDLK_h, true, true), key(SDLK_h, false)}},
        {.what = "a move", .events = {windowEvent(SDL_WINDOWEVENT_MOVED, 7, 9)}},
        {.what = "a resize", .events = {windowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 640, 480)}, .size = {640, 480}},
        {.what = "left, heading right", .events = {key(SDLK_LEFT)}},
        {.what = "up then left, heading right", .events = {key(SDLK_UP), key(SDLK_LEFT)}, .heading = HEADING_UP},
        {.what = "down, heading up", .events = {key(SDLK_DOWN)}, .lastStep = HEADING_UP},
        {.what = "up, heading down", .events = {key(SDLK_UP)}, .lastStep = HEADING_DOWN},
        {.what = "down, heading left", .events = {key(SDLK_DOWN)}, .lastStep = HEADING_LEFT, .heading = HEADING_DOWN},
        {.what = "left, heading up", .events = {key(SDLK_LEFT)}, .lastStep = HEADING_UP, .heading = HEADING_LEFT},
        {.what = "an arrow let go", .events = {key(SDLK_UP, false)}},
        {.what = "an arrow's repeat", .events = {key(SDLK_DOWN, true, true)}, .heading = HEADING_DOWN},
        {.what = "the last press wins", .events = {key(SDLK_LEFT), key(SDLK_RIGHT)}, .lastStep = HEADING_UP},
        {.what = "P on the title screen", .events = {key(SDLK_p), lostFocus}},
        {.what = "P in play, held and let go",
         .events = {key(SDLK_SPACE), key(SDLK_p), key(SDLK_p, true, true), key(SDLK_p, false)},
         .title = false,
         .paused = true,
         .cues = "LP"},
        {.what = "P twice", .events = {key(SDLK_SPACE), key(SDLK_p), key(SDLK_p)}, .title = false, .cues = "LPR"},
        {.what = "the focus lost in play, and back, and lost again paused",
         .events = {key(SDLK_SPACE), lostFocus, windowEvent(SDL_WINDOWEVENT_FOCUS_GAINED), lostFocus},
         .title = false,
         .paused = true,
         .cues = "LP"},
        {.what = "M, held and let go: muted",
         .events = {key(SDLK_m), key(SDLK_m, true, true), key(SDLK_m, false), key(SDLK_SPACE), key(SDLK_p)},
         .title = false,
         .paused = true,
         .cues = "M"},
        {.what = "M twice: heard again",
         .events = {key(SDLK_m), key(SDLK_m), key(SDLK_SPACE)},
         .title = false,
         .cues = "ML"},
    };
    for (const Case& c : cases) {
        Game game;
        game.sound.live = true;  // asks, with no device to hear it
        game.snake.heading = c.lastStep;
        bool quits = false;
        for (const SDL_Event& event : c.events) quits = handleEvent(event, game) || quits;
        EXPECT_EQ(std::tuple(quits, game.onTitle, game.fog, game.paused, game.nextHeading,
                             std::pair(game.width, game.height), cuesAsked(game.sound)),
                  std::tuple(c.quits, c.title, c.fog, c.paused, c.heading, c.size, c.cues))
            << c.what;
    }
}

}  // namespace
