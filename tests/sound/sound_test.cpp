#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "sound/sound.h"

namespace {

constexpr std::size_t PER_MS = SAMPLE_RATE / 1000;

const CueBank& bank() {
    static const CueBank cues = synthesizeCues();
    return cues;
}

std::int32_t peak(const std::int16_t* begin, std::size_t count) {
    std::int32_t loudest = 0;
    for (std::size_t i = 0; i < count; ++i) loudest = std::max(loudest, std::abs(std::int32_t{begin[i]}));
    return loudest;
}

std::int32_t largestStep(const std::int16_t* begin, std::size_t count) {
    std::int32_t largest = 0;
    for (std::size_t i = 1; i < count; ++i) largest = std::max(largest, std::abs(begin[i] - begin[i - 1]));
    return largest;
}

// Sign changes between 10 and 80 ms, where every food cue still sounds: twice its pitch.
double crossings(std::int32_t score) {
    const Samples& food = bank().of(Cue::FOOD, score);
    std::int32_t count = 0;
    for (std::size_t i = 10 * PER_MS; i < 80 * PER_MS; ++i) count += (food[i] < 0) != (food[i + 1] < 0);
    return count;
}

TEST(Cues, LengthPeakFadedEdgesAndPitch) {
    const struct {
        Cue cue;
        std::int32_t score, ms;
    } cases[] = {{Cue::FOOD, 0, 90},       {Cue::FOOD, 40, 90}, {Cue::DEATH, 0, 500},
                 {Cue::NEW_LEVEL, 0, 320}, {Cue::PAUSE, 0, 30}, {Cue::RESUME, 0, 30}};
    for (const auto& c : cases) {
        const Samples& samples = bank().of(c.cue, c.score);
        const std::int32_t loudest = VOICE_PEAKS[voiceOf(c.cue)];
        SCOPED_TRACE(static_cast<int>(c.cue));
        ASSERT_EQ(samples.size(), c.ms * PER_MS);
        EXPECT_EQ(peak(samples.data(), samples.size()), loudest);
        // From and to silence, through a fade: under half the peak in the first and last millisecond.
        EXPECT_EQ(samples.front() | samples.back(), 0);
        EXPECT_LE(std::max(peak(samples.data(), PER_MS), peak(&samples.back() + 1 - PER_MS, PER_MS)), loudest / 2);
    }
    EXPECT_EQ(synthesizeCues(), bank());  // the same on every run
    // Food rises a semitone every two foods, up to an octave.
    EXPECT_EQ(crossings(1), crossings(0));
    EXPECT_NEAR(crossings(2) / crossings(0), std::pow(2.0, 1.0 / 12), 0.02);
    EXPECT_NEAR(crossings(24) / crossings(0), 2.0, 0.02);
    EXPECT_EQ(&bank().of(Cue::FOOD, 1000), &bank().of(Cue::FOOD, 24));
}

// Every cue at once, and each again 100 ms later while most still sound: the
// mix stays under -6 dBFS, then falls silent when the last cue ends.
TEST(Mixer, EveryCueAtOnceStaysUnderMinus6dBFS) {
    Sound sound;
    sound.cues = bank();
    sound.live = true;
    Samples out(SAMPLE_RATE);
    for (std::size_t round = 0; round < 2; ++round) {
        for (Cue cue : {Cue::FOOD, Cue::DEATH, Cue::NEW_LEVEL, Cue::PAUSE, Cue::RESUME}) sound.play(cue, 30);
        sound.mix(out.data() + round * 100 * PER_MS, 100 * PER_MS);
    }
    sound.mix(out.data() + 200 * PER_MS, out.size() - 200 * PER_MS);
    EXPECT_GT(peak(out.data(), out.size()), VOICE_PEAKS[1]);  // they did overlap
    EXPECT_LE(peak(out.data(), out.size()), MIX_PEAK);
    const std::size_t deathEnds = 100 * PER_MS + CUT_FADE + bank().death.size();
    EXPECT_EQ(peak(out.data() + deathEnds, out.size() - deathEnds), 0);
}

// A cue cut short, by itself again or by M, fades out over 5 ms without a
// jump; what follows starts whole. While muted, nothing plays.
TEST(Mixer, ACutFadesOutThenWhatFollowsStartsWhole) {
    const std::size_t cutAt = 100 * PER_MS, mutedFor = 200 * PER_MS;
    const Samples& death = bank().death;
    for (const bool mute : {false, true}) {
        Sound sound;
        sound.cues = bank();
        sound.live = true;
        Samples out(SAMPLE_RATE);
        sound.play(Cue::DEATH);
        sound.mix(out.data(), cutAt);
        if (mute) {
            sound.toggleMute();
            sound.play(Cue::DEATH);  // not heard
            sound.mix(out.data() + cutAt, mutedFor);
            sound.toggleMute();
        }
        sound.play(Cue::DEATH);
        const std::size_t restart = mute ? cutAt + mutedFor : cutAt + CUT_FADE;
        sound.mix(out.data() + cutAt + (mute ? mutedFor : 0), out.size() - cutAt - (mute ? mutedFor : 0));
        SCOPED_TRACE(mute ? "muted" : "again");
        EXPECT_LE(largestStep(out.data(), restart),
                  largestStep(death.data(), death.size()) + VOICE_PEAKS[1] / CUT_FADE + 1);
        EXPECT_EQ(peak(out.data() + cutAt + CUT_FADE, restart - cutAt - CUT_FADE), 0);
        EXPECT_TRUE(std::equal(death.begin(), death.end(), out.begin() + restart));
    }
}

}  // namespace
