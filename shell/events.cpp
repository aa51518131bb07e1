#include "shell/shell.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

// When a key's command is carried out.
enum class Trigger {
    PRESS_OR_RELEASE,  // a key pressed before the window had the focus counts when let go
    PRESS,             // auto-repeats included: a held key acts again and again
    FIRST_PRESS,       // held down, it does not flicker between two states
};

struct KeyBinding {
    SDL_Keycode key;
    Command command;
    Trigger trigger;
    Uint16 modifiers = KMOD_NONE;  // one of them must be held
};

constexpr KeyBinding KEYS[] = {
    {SDLK_ESCAPE, Command::QUIT, Trigger::PRESS_OR_RELEASE},
    {SDLK_SPACE, Command::START, Trigger::PRESS_OR_RELEASE},
    {SDLK_3, Command::VIEW, Trigger::PRESS},
    {SDLK_h, Command::FOG, Trigger::PRESS},
    {SDLK_F11, Command::FULL_SCREEN, Trigger::FIRST_PRESS},
    {SDLK_RETURN, Command::FULL_SCREEN, Trigger::FIRST_PRESS, KMOD_ALT},
    {SDLK_p, Command::PAUSE, Trigger::FIRST_PRESS},
    {SDLK_m, Command::MUTE, Trigger::FIRST_PRESS},
    {SDLK_LEFT, Command::STEER_LEFT, Trigger::PRESS},
    {SDLK_UP, Command::STEER_UP, Trigger::PRESS},
    {SDLK_RIGHT, Command::STEER_RIGHT, Trigger::PRESS},
    {SDLK_DOWN, Command::STEER_DOWN, Trigger::PRESS},
    {SDLK_a, Command::STEER_LEFT, Trigger::PRESS},
    {SDLK_w, Command::STEER_UP, Trigger::PRESS},
    {SDLK_d, Command::STEER_RIGHT, Trigger::PRESS},
    {SDLK_s, Command::STEER_DOWN, Trigger::PRESS},
};

// A pad's buttons act when pressed, and none of them quits: a pad is easily
// knocked. Start is bound twice, pause first: on the title screen the pause
// does nothing and the start closes it; in play the start does nothing.
struct ButtonBinding {
    SDL_GameControllerButton button;
    Command command;
};

constexpr ButtonBinding BUTTONS[] = {
    {SDL_CONTROLLER_BUTTON_DPAD_LEFT, Command::STEER_LEFT},
    {SDL_CONTROLLER_BUTTON_DPAD_UP, Command::STEER_UP},
    {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, Command::STEER_RIGHT},
    {SDL_CONTROLLER_BUTTON_DPAD_DOWN, Command::STEER_DOWN},
    {SDL_CONTROLLER_BUTTON_A, Command::START},
    {SDL_CONTROLLER_BUTTON_START, Command::PAUSE},
    {SDL_CONTROLLER_BUTTON_START, Command::START},
    {SDL_CONTROLLER_BUTTON_Y, Command::FOG},
    {SDL_CONTROLLER_BUTTON_X, Command::VIEW},
    {SDL_CONTROLLER_BUTTON_BACK, Command::MUTE},
};

// A stick pushed no further than half its range asks for nothing, so that
// one at rest, or worn, never steers.
constexpr int STICK_DEAD_ZONE = 16384;

bool triggers(const KeyBinding& binding, const SDL_KeyboardEvent& key) {
    if (binding.key != key.keysym.sym) return false;
    if (binding.modifiers != KMOD_NONE && (key.keysym.mod & binding.modifiers) == 0) return false;
    const bool pressed = key.state == SDL_PRESSED;  // key-down, auto-repeats included
    switch (binding.trigger) {
    case Trigger::PRESS_OR_RELEASE: return true;
    case Trigger::PRESS: return pressed;
    case Trigger::FIRST_PRESS: return pressed && key.repeat == 0;
    }
    return false;
}

// The window's commands here, the game's through its own operations. True when it asks to quit.
bool perform(Command command, Game& game) {
    switch (command) {
    case Command::QUIT: return true;
    case Command::FULL_SCREEN: toggleFullScreen(game.window); break;
    case Command::VIEW: game.setProjection(!game.perspective); break;
    default: game.apply(command); break;
    }
    return false;
}

}  // namespace

void startGameControllers() {
    SDL_SetHint(SDL_HINT_GAMECONTROLLER_USE_BUTTON_LABELS, "0");
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0)
        std::fprintf(stderr, "Playing without game controllers: %s\n", SDL_GetError());
}

bool Input::handleEvent(const SDL_Event& event, Game& game) {
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
    case SDL_CONTROLLERBUTTONDOWN: {
        bool quit = false;
        for (const ButtonBinding& binding : BUTTONS)
            if (binding.button == event.cbutton.button) quit = perform(binding.command, game) || quit;
        return quit;
    }
    case SDL_CONTROLLERAXISMOTION: moveStick(event.caxis, game); return false;
    case SDL_CONTROLLERDEVICEADDED: addPad(event.cdevice.which); return false;
    case SDL_CONTROLLERDEVICEREMOVED: removePad(event.cdevice.which, game); return false;
    default: return false;
    }
}

bool Input::handleKey(const SDL_KeyboardEvent& key, Game& game) {
    bool quit = false;
    for (const KeyBinding& binding : KEYS)
        if (triggers(binding, key)) quit = perform(binding.command, game) || quit;
    return quit;
}

// An added pad comes as a device index, which SDL hands out again once it is
// gone; it is known by its instance id from then on.
void Input::addPad(int deviceIndex) {
    SDL_GameController* controller = SDL_GameControllerOpen(deviceIndex);
    if (controller == nullptr) return;
    pads.push_back({controller, SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(controller))});
}

// A player whose pad came loose is not there to steer either.
void Input::removePad(SDL_JoystickID id, Game& game) {
    const auto pad = std::ranges::find(pads, id, &Pad::id);
    if (pad != pads.end()) {
        SDL_GameControllerClose(pad->controller);
        pads.erase(pad);
    }
    game.pause(true);
}

// The left stick steers as the arrows do, its larger axis deciding. A push
// turns the snake once, and the stick must come back within the dead zone
// before it turns it again; a push that the guard refuses is tried again at
// the stick's next move.
void Input::moveStick(const SDL_ControllerAxisEvent& motion, Game& game) {
    const auto pad = std::ranges::find(pads, motion.which, &Pad::id);
    if (pad == pads.end()) return;
    if (motion.axis == SDL_CONTROLLER_AXIS_LEFTX) pad->x = motion.value;
    if (motion.axis == SDL_CONTROLLER_AXIS_LEFTY) pad->y = motion.value;
    const int x = pad->x, y = pad->y;
    if (std::abs(x) <= STICK_DEAD_ZONE && std::abs(y) <= STICK_DEAD_ZONE) {
        pad->stickSteered = false;
        return;
    }
    if (pad->stickSteered) return;
    const Heading toward =
        std::abs(x) >= std::abs(y) ? (x < 0 ? HEADING_LEFT : HEADING_RIGHT) : (y < 0 ? HEADING_UP : HEADING_DOWN);
    pad->stickSteered = game.steer(toward);
}

void Input::closePads() {
    for (const Pad& pad : pads) SDL_GameControllerClose(pad.controller);
    pads.clear();
}
