#pragma once

// The game's sound: short cues made in code at start-up and mixed into one
// 16-bit mono stream. The game's thread asks for cues; the sound device's own
// thread mixes them. The two share nothing but a small ring of requests with
// two atomic counters, so a frame never waits for sound, nor sound for a frame.
// Opening the device is defined in shell/, which alone needs SDL: the mixer
// and the cues are plain code, tested without a device.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <vector>

inline constexpr std::int32_t SAMPLE_RATE = 48000;  // per second, one channel

enum class Cue : std::uint8_t { FOOD, DEATH, NEW_LEVEL, PAUSE, RESUME };

// Food rises a semitone every two foods eaten on the level, up to an octave.
inline constexpr std::int32_t FOOD_PITCHES = 13;
inline constexpr std::int32_t FOODS_PER_SEMITONE = 2;

// A voice sounds one cue at a time: food, death, a new level, and the clicks of
// pause and resume. Its cues peak at its own level, so however the cues
// overlap the mix never passes the sum of these, which stays under -6 dBFS.
inline constexpr std::size_t VOICE_COUNT = 4;
inline constexpr std::array<std::int32_t, VOICE_COUNT> VOICE_PEAKS = {4900, 5600, 4000, 1900};
inline constexpr std::int32_t MIX_PEAK = 16422;  // -6 dBFS of 32768
static_assert(std::accumulate(VOICE_PEAKS.begin(), VOICE_PEAKS.end(), 0) <= MIX_PEAK);

// The voice that sounds `cue`.
inline std::size_t voiceOf(Cue cue) {
    switch (cue) {
    case Cue::FOOD: return 0;
    case Cue::DEATH: return 1;
    case Cue::NEW_LEVEL: return 2;
    default: return 3;  // pause and resume, the clicks
    }
}

// A cue cut short (by the same cue again, or by muting) fades out over this
// many samples, 5 ms, instead of stopping with a click.
inline constexpr std::int32_t CUT_FADE = SAMPLE_RATE / 200;

using Samples = std::vector<std::int16_t>;

struct CueBank {
    std::array<Samples, FOOD_PITCHES> food;
    Samples death;
    Samples newLevel;
    Samples pause;
    Samples resume;

    // The samples of `cue`; food at the pitch for `score`.
    const Samples& of(Cue cue, std::int32_t score) const;

    bool operator==(const CueBank&) const = default;
};

// The same samples on every run: the cues are pure functions of time.
CueBank synthesizeCues();

// One voice of the mixer: the cue it plays and where, and a cut in progress.
struct Voice {
    const Samples* samples = nullptr;  // none: silent
    std::size_t position = 0;
    bool cutting = false;
    std::int32_t fadeLeft = 0;        // samples of the cut still to fade
    const Samples* queued = nullptr;  // what starts once the cut has faded

    void start(const Samples* cue);
    // Fades out what plays, then starts `then`; at once when silent.
    void cut(const Samples* then);
    std::int32_t next();
};

// A cue asked for: its samples and its voice; no samples and no voice is a cut
// of every voice.
struct CueRequest {
    const Samples* samples = nullptr;
    std::size_t voice = VOICE_COUNT;
};

inline constexpr std::uint32_t REQUEST_SLOTS = 16;  // more than any frame asks for

struct Sound {
    CueBank cues;
    bool live = false;         // cues made and a device mixing them
    bool muted = false;        // M; the game's thread alone reads and writes it
    std::uint32_t device = 0;  // the SDL audio device while live
    // The ring: the game's thread writes slots and counts them in `requested`;
    // the mixer reads them and counts them in `taken`.
    std::array<CueRequest, REQUEST_SLOTS> requests{};
    std::atomic<std::uint32_t> requested = 0;
    std::atomic<std::uint32_t> taken = 0;
    std::array<Voice, VOICE_COUNT> voices{};  // the mixer's own

    // From the game's thread: never waits. Nothing while muted or without a device.
    void play(Cue cue, std::int32_t score = 0);
    // From the game's thread: muting also fades out whatever still sounds.
    void toggleMute();

    // From the device's thread: the next `count` samples of the mix.
    void mix(std::int16_t* out, std::size_t count);

    // From the game's thread: makes the cues and opens the default sound device
    // with SDL, mixing at once; without one, says so in a line and stays silent.
    void open();
    // Stops the device's thread; silent afterwards. Safe without a device.
    void close();
};
