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

SDL_Event button(SDL_GameControllerButton which) {
    SDL_Event event{SDL_CONTROLLERBUTTONDOWN};
    event.cbutton.button = static_cast<Uint8>(which);
    event.cbutton.state = SDL_PRESSED;
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
// toward `lastStep`. Arrows, W A S D and the D-pad steer there too, but never
// back onto the neck: the guard looks at the last step, not at the heading
// asked for since. (X, like 3, switches the view, which needs a window.)
TEST(Events, WhatEachDoesToTheGame) {
    const SDL_Event lostFocus = windowEvent(SDL_WINDOWEVENT_FOCUS_LOST);
    std::vector<SDL_Event> everyButton;
    for (int b = 0; b < SDL_CONTROLLER_BUTTON_MAX; ++b)
        if (b != SDL_CONTROLLER_BUTTON_X) everyButton.push_back(button(SDL_GameControllerButton(b)));
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
        {.what = "another key, a mouse move, a window move",
         .events = {key(SDLK_q), SDL_Event{SDL_MOUSEMOTION}, windowEvent(SDL_WINDOWEVENT_MOVED, 7, 9)}},
        {.what = "Space twice: once", .events = {key(SDLK_SPACE), key(SDLK_SPACE)}, .title = false, .cues = "L"},
        {.what = "Space let go", .events = {key(SDLK_SPACE, false)}, .title = false, .cues = "L"},
        {.what = "H", .events = {key(SDLK_h)}, .fog = false},
        {.what = "H, a repeat and a release", .events = {key(SDLK_h), key(SDLK_h, true, true), key(SDLK_h, false)}},
        {.what = "a resize", .events = {windowEvent(SDL_WINDOWEVENT_SIZE_CHANGED, 640, 480)}, .size = {640, 480}},
        {.what = "left, heading right", .events = {key(SDLK_LEFT)}},
        {.what = "up then left, heading right", .events = {key(SDLK_UP), key(SDLK_LEFT)}, .heading = HEADING_UP},
        {.what = "down, heading up", .events = {key(SDLK_DOWN)}, .lastStep = HEADING_UP},
        {.what = "up, heading down", .events = {key(SDLK_UP)}, .lastStep = HEADING_DOWN},
        {.what = "down, heading left", .events = {key(SDLK_DOWN)}, .lastStep = HEADING_LEFT, .heading = HEADING_DOWN},
        {.what = "left, heading up", .events = {key(SDLK_LEFT)}, .lastStep = HEADING_UP, .heading = HEADING_LEFT},
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
        {.what = "W then A, heading right", .events = {key(SDLK_w), key(SDLK_a)}, .heading = HEADING_UP},
        {.what = "S; D and up let go",
         .events = {key(SDLK_s), key(SDLK_d, false), key(SDLK_UP, false)},
         .heading = HEADING_DOWN},
        {.what = "the D-pad: up then left, heading right",
         .events = {button(SDL_CONTROLLER_BUTTON_DPAD_UP), button(SDL_CONTROLLER_BUTTON_DPAD_LEFT)},
         .heading = HEADING_UP},
        {.what = "no button quits", .events = everyButton, .title = false, .fog = false, .paused = true, .cues = "LM"},
        {.what = "M twice", .events = {key(SDLK_m), key(SDLK_m), key(SDLK_SPACE)}, .title = false, .cues = "ML"},
    };
    for (const Case& c : cases) {
        Game game;
        game.sound.live = true;  // asks, with no device to hear it
        game.snake.heading = c.lastStep;
        Input input;
        bool quits = false;
        for (const SDL_Event& event : c.events) quits = input.handleEvent(event, game) || quits;
        EXPECT_EQ(std::tuple(quits, game.onTitle, game.fog, game.paused, game.nextHeading,
                             std::pair(game.width, game.height), cuesAsked(game.sound)),
                  std::tuple(c.quits, c.title, c.fog, c.paused, c.heading, c.size, c.cues))
            << c.what;
    }
}

// Pads as SDL hands them over, from its virtual game controllers: one there
// at start and one plugged in during play, each steering under the guard,
// the stick only past its dead zone; an unplugged pad pauses, the other
// resumes.
TEST(Events, PadsPluggedInAtAnyTimeDriveTheSnake) {
    startGameControllers();
    Game game;
    game.sound.live = true;
    Input input;
    const auto handle = [&] {
        SDL_Event event;
        while (SDL_PollEvent(&event)) EXPECT_FALSE(input.handleEvent(event, game));
        return input.pads.size();
    };
    const auto attach = [&] {
        SDL_VirtualJoystickDesc pad{};
        pad.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        pad.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        pad.naxes = SDL_CONTROLLER_AXIS_MAX;
        pad.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        SDL_JoystickAttachVirtualEx(&pad);
        return handle();
    };
    const auto joystick = [&](std::size_t pad) { return SDL_GameControllerGetJoystick(input.pads.at(pad).controller); };
    const auto press = [&](std::size_t pad, SDL_GameControllerButton which) {
        SDL_JoystickSetVirtualButton(joystick(pad), which, SDL_PRESSED);
        handle();
    };
    const auto stick = [&](Sint16 x, Sint16 y) {
        SDL_JoystickSetVirtualAxis(joystick(0), SDL_CONTROLLER_AXIS_LEFTX, x);
        SDL_JoystickSetVirtualAxis(joystick(0), SDL_CONTROLLER_AXIS_LEFTY, y);
        handle();
        return game.nextHeading;
    };
    ASSERT_EQ(attach(), 1u) << SDL_GetError();
    press(0, SDL_CONTROLLER_BUTTON_START);
    // The snake heads right; left is refused, however far the stick goes.
    EXPECT_EQ(std::vector({stick(-32768, 0), stick(-20000, -30000), stick(32767, -100), stick(0, 0), stick(16384, 0),
                           stick(16385, 0)}),
              std::vector({HEADING_RIGHT, HEADING_UP, HEADING_UP, HEADING_UP, HEADING_UP, HEADING_RIGHT}));
    ASSERT_EQ(attach(), 2u) << SDL_GetError();
    press(1, SDL_CONTROLLER_BUTTON_DPAD_DOWN);
    EXPECT_EQ(game.nextHeading, HEADING_DOWN);
    SDL_JoystickDetachVirtual(0);
    ASSERT_EQ(std::pair(handle(), game.paused), std::pair(std::size_t{1}, true));
    press(0, SDL_CONTROLLER_BUTTON_START);
    press(0, SDL_CONTROLLER_BUTTON_DPAD_UP);
    EXPECT_EQ(std::tuple(game.onTitle, game.paused, game.nextHeading, cuesAsked(game.sound)),
              std::tuple(false, false, HEADING_UP, "LPR"));
    input.closePads();
}

}  // namespace
