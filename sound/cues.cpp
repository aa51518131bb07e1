#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "sound/sound.h"

namespace {

constexpr double PI = 3.14159265358979323846;
// Every cue fades in and out over 5 ms, so that it neither starts nor ends
// with a jump, which the ear hears as a click.
constexpr std::int32_t EDGE_FADE = SAMPLE_RATE / 200;

constexpr double FOOD_MS = 90;
constexpr double FOOD_HZ = 880;  // at the level's first food; it glides half as high again
constexpr double DEATH_MS = 500;
constexpr double DEATH_HZ = 440;  // falling two octaves
constexpr double CLICK_MS = 30;

struct Note {
    double hz;
    double ms;
};
constexpr Note NEW_LEVEL_NOTES[] = {{523.25, 80}, {659.26, 80}, {783.99, 160}};  // C, E and G rising

// `wave` of the time in seconds, over `ms` milliseconds with faded edges,
// scaled so that its loudest sample is `peak`.
template <typename Wave>
Samples render(double ms, std::int32_t peak, Wave wave) {
    const auto count = static_cast<std::int32_t>(std::lround(ms * SAMPLE_RATE / 1000));
    std::vector<double> shaped(static_cast<std::size_t>(count));
    double loudest = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const double edge =
            std::min({1.0, static_cast<double>(i) / EDGE_FADE, static_cast<double>(count - 1 - i) / EDGE_FADE});
        shaped[i] = edge * wave(static_cast<double>(i) / SAMPLE_RATE);
        loudest = std::max(loudest, std::abs(shaped[i]));
    }
    Samples samples(shaped.size());
    for (std::size_t i = 0; i < shaped.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(std::lround(shaped[i] * peak / loudest));
    }
    return samples;
}

// Short and bright: a tone with its second and third harmonics, gliding up
// and dying away within the 90 ms.
Samples food(std::int32_t semitones) {
    const double hz = FOOD_HZ * std::pow(2.0, semitones / 12.0);
    const double seconds = FOOD_MS / 1000;
    return render(FOOD_MS, VOICE_PEAKS[voiceOf(Cue::FOOD)], [=](double t) {
        const double phase = 2 * PI * hz * (t + 0.25 * t * t / seconds);  // 1 to 1.5 times hz
        return (std::sin(phase) + 0.35 * std::sin(2 * phase) + 0.15 * std::sin(3 * phase)) * std::exp(-t / 0.035);
    });
}

// Falling: from 440 Hz down two octaves over half a second, with the odd
// harmonics of a square wave, fading as it falls.
Samples death() {
    const double seconds = DEATH_MS / 1000;
    return render(DEATH_MS, VOICE_PEAKS[voiceOf(Cue::DEATH)], [=](double t) {
        const double phase = 2 * PI * DEATH_HZ * seconds / std::log(4.0) * (1 - std::pow(4.0, -t / seconds));
        const double left = t / seconds;
        return (std::sin(phase) + std::sin(3 * phase) / 3 + std::sin(5 * phase) / 5) * (1 - left * left);
    });
}

Samples newLevel() {
    Samples samples;
    for (const Note& note : NEW_LEVEL_NOTES) {
        const Samples one = render(note.ms, VOICE_PEAKS[voiceOf(Cue::NEW_LEVEL)], [=](double t) {
            const double phase = 2 * PI * note.hz * t;
            return (std::sin(phase) + 0.3 * std::sin(2 * phase)) * std::exp(-t / 0.15);
        });
        samples.insert(samples.end(), one.begin(), one.end());
    }
    return samples;
}

// A soft click: a pure tone dying within a few milliseconds; pause's is a
// fifth below resume's.
Samples click(double hz) {
    return render(CLICK_MS, VOICE_PEAKS[voiceOf(Cue::PAUSE)],
                  [=](double t) { return std::sin(2 * PI * hz * t) * std::exp(-t / 0.008); });
}

}  // namespace

const Samples& CueBank::of(Cue cue, std::int32_t score) const {
    switch (cue) {
    case Cue::FOOD: return food[std::clamp(score / FOODS_PER_SEMITONE, 0, FOOD_PITCHES - 1)];
    case Cue::DEATH: return death;
    case Cue::NEW_LEVEL: return newLevel;
    case Cue::PAUSE: return pause;
    case Cue::RESUME: return resume;
    }
    return death;  // not reached: every cue is named above
}

CueBank synthesizeCues() {
    CueBank bank;
    for (std::int32_t semitones = 0; semitones < FOOD_PITCHES; ++semitones) bank.food[semitones] = food(semitones);
    bank.death = death();
    bank.newLevel = newLevel();
    bank.pause = click(700);
    bank.resume = click(1050);
    return bank;
}
