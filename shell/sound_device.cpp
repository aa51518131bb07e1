// The sound device: SDL's default output, fed by the mixer from SDL's audio
// thread. Where there is none, the game plays on in silence.

#include <SDL.h>

#include <cstdio>

#include "sound/sound.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// About 11 ms a buffer: a cue asked for in a frame is mixed into the next
// buffer, so it is heard within two of them.
constexpr Uint16 BUFFER_SAMPLES = 512;

void SDLCALL mixInto(void* sound, Uint8* stream, int bytes) {
    static_cast<Sound*>(sound)->mix(reinterpret_cast<std::int16_t*>(stream),
                                    static_cast<std::size_t>(bytes) / sizeof(std::int16_t));
}

// ALSA, asked for a sound card that is not there, writes eight lines of its own
// to standard error; the game says what matters once, in a line of its own.
struct QuietStandardError {
#ifndef _WIN32
    int saved = dup(STDERR_FILENO);
    QuietStandardError() {
        const int nothing = ::open("/dev/null", O_WRONLY);
        if (nothing >= 0) {
            dup2(nothing, STDERR_FILENO);
            close(nothing);
        }
    }
    ~QuietStandardError() {
        if (saved < 0) return;
        dup2(saved, STDERR_FILENO);
        close(saved);
    }
#endif
};

SDL_AudioDeviceID openDevice(Sound& sound) {
    [[maybe_unused]] const QuietStandardError quiet;  // nothing to quieten on Windows
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return 0;
    SDL_AudioSpec wanted{};
    wanted.freq = SAMPLE_RATE;
    wanted.format = AUDIO_S16SYS;
    wanted.channels = 1;
    wanted.samples = BUFFER_SAMPLES;
    wanted.callback = mixInto;
    wanted.userdata = &sound;
    // Any other format the device needs, SDL converts to.
    return SDL_OpenAudioDevice(nullptr, 0, &wanted, nullptr, 0);
}

}  // namespace

void Sound::open() {
    device = openDevice(*this);
    if (device == 0) {
        std::fprintf(stderr, "Playing without sound: %s\n", SDL_GetError());
        return;
    }
    cues = synthesizeCues();
    live = true;
    SDL_PauseAudioDevice(device, 0);  // opened paused: the mixer starts now
}

void Sound::close() {
    if (device != 0) SDL_CloseAudioDevice(device);
    device = 0;
    live = false;
}
