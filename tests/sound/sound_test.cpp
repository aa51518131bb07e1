#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "sound/sound.h"

namespace {

constexpr std::int32_t PER_MS = SAMPLE_RATE / 1000;

const CueBank& bank() {
    static const CueBank cues = synthesizeCues();
    return cues;
}

std::int32_t peak(const std::int16_t* begin, const std::int16_t* end) {
    std::int32_t loudest = 0;
    for (; begin != end; ++begin) loudest = std::max(loudest, std::abs(std::int32_t{*begin}));
    return loudest;
}
std::int32_t peak(const Samples& samples) { return peak(samples.data(), samples.data() + samples.size()); }

std::int32_t largestStep(const Samples& samples) {
    std::int32_t largest = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) largest = std::max(largest, std::abs(samples[i] - samples[i - 1]));
    return largest;
}

// Sign changes between 10 and 80 ms, where every cue still sounds: twice the pitch.
std::int32_t crossings(const Samples& samples) {
    std::int32_t count = 0;
    for (std::int32_t i = 10 * PER_MS; i < 80 * PER_MS; ++i) count += (samples[i] < 0) != (samples[i + 1] < 0);
    return count;
}

TEST(Cues, LengthPeakAndFadedEdges) {
    const struct {
        Cue cue;
        std::int32_t score, ms;
    } cases[] = {{Cue::FOOD, 0, 90},       {Cue::FOOD, 40, 90}, {Cue::DEATH, 0, 500},
                 {Cue::NEW_LEVEL, 0, 320}, {Cue::PAUSE, 0, 30}, {Cue::RESUME, 0, 30}};
    for (const auto& c : cases) {
        const Samples& samples = bank().of(c.cue, c.score);
        const std::int32_t loudest = VOICE_PEAKS[voiceOf(c.cue)];
        SCOPED_TRACE(static_cast<int>(c.cue));
        EXPECT_EQ(samples.size(), static_cast<std::size_t>(c.ms * PER_MS));
        EXPECT_EQ(peak(samples), loudest);
        // From and to silence, and no louder than half the peak in the first and last millisecond.
        EXPECT_EQ(samples.front() | samples.back(), 0);
        EXPECT_LE(peak(samples.data(), samples.data() + PER_MS), loudest / 2);
        EXPECT_LE(peak(samples.data() + samples.size() - PER_MS, samples.data() + samples.size()), loudest / 2);
    }
    EXPECT_EQ(synthesizeCues().death, bank().death);  // the same on every run
    EXPECT_EQ(synthesizeCues().food, bank().food);
}

TEST(Cues, FoodRisesASemitoneEveryTwoFoodsUpToAnOctave) {
    const double first = crossings(bank().of(Cue::FOOD, 0));
    EXPECT_EQ(crossings(bank().of(Cue::FOOD, 1)), first);
    EXPECT_NEAR(crossings(bank().of(Cue::FOOD, 2)) / first, std::pow(2.0, 1.0 / 12), 0.02);
    EXPECT_NEAR(crossings(bank().of(Cue::FOOD, 24)) / first, 2.0, 0.02);
    EXPECT_EQ(&bank().of(Cue::FOOD, 1000), &bank().of(Cue::FOOD, 24));
}

void makeLive(Sound& sound) {
    sound.cues = bank();
    sound.live = true;
}

// Every cue at once, and each again 100 ms later while most still sound: the
// mix stays under -6 dBFS, then falls silent when the last cue ends.
TEST(Mixer, EveryCueAtOnceStaysUnderMinus6dBFS) {
    Sound sound;
    makeLive(sound);
    Samples out(SAMPLE_RATE);
    for (std::int32_t round = 0; round < 2; ++round) {
        for (Cue cue : {Cue::FOOD, Cue::DEATH, Cue::NEW_LEVEL, Cue::PAUSE, Cue::RESUME}) sound.play(cue, 30);
        sound.mix(out.data() + round * 100 * PER_MS, 100 * PER_MS);
    }
    sound.mix(out.data() + 200 * PER_MS, out.size() - 200 * PER_MS);
    EXPECT_GT(peak(out), VOICE_PEAKS[1]);  // they did overlap
    EXPECT_LE(peak(out), MIX_PEAK);
    const std::size_t deathEnds = 100 * PER_MS + CUT_FADE + bank().death.size();
    EXPECT_EQ(peak(out.data() + deathEnds, out.data() + out.size()), 0);
}

// A cue cut short, by itself again or by M, fades out over 5 ms without a
// jump; what follows starts whole. While muted, nothing plays.
TEST(Mixer, ACutFadesOutThenWhatFollowsStartsWhole) {
    const std::size_t cutAt = 100 * PER_MS;
    for (const bool mute : {false, true}) {
        Sound sound;
        makeLive(sound);
        Samples out(SAMPLE_RATE);
        sound.play(Cue::DEATH);
        sound.mix(out.data(), cutAt);
        if (mute) {
            sound.toggleMute();
            sound.play(Cue::DEATH);  // not heard
            sound.mix(out.data() + cutAt, 200 * PER_MS);
            sound.toggleMute();
        }
        sound.play(Cue::DEATH);
        const std::size_t done = mute ? cutAt + 200 * PER_MS : cutAt;
        sound.mix(out.data() + done, out.size() - done);
        const Samples& death = bank().death;
        const std::size_t restart = mute ? done : cutAt + CUT_FADE;
        SCOPED_TRACE(mute ? "muted" : "again");
        EXPECT_LE(largestStep(Samples(out.begin(), out.begin() + restart)),
                  largestStep(death) + VOICE_PEAKS[1] / CUT_FADE + 1);
        EXPECT_EQ(peak(out.data() + cutAt + CUT_FADE, out.data() + restart), 0);
        EXPECT_TRUE(std::equal(death.begin(), death.end(), out.begin() + restart));
    }
}

}  // namespace
