#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>
#include <span>

#include "sound/sound.h"

namespace {

constexpr std::size_t PER_MS = SAMPLE_RATE / 1000;
using Span = std::span<const std::int16_t>;

const CueBank CUES = synthesizeCues();

std::int32_t peak(Span samples) {
    std::int32_t loudest = 0;
    for (const std::int16_t sample : samples) loudest = std::max(loudest, std::abs(std::int32_t{sample}));
    return loudest;
}

std::int32_t largestStep(Span samples) {
    std::int32_t largest = 0;
    for (std::size_t i = 1; i < samples.size(); ++i) largest = std::max(largest, std::abs(samples[i] - samples[i - 1]));
    return largest;
}

// Sign changes between 10 and 80 ms, where every food cue still sounds: twice its pitch.
double crossings(std::int32_t score) {
    const Span food = Span(CUES.of(Cue::FOOD, score)).subspan(10 * PER_MS, 70 * PER_MS);
    return std::transform_reduce(food.begin(), food.end() - 1, food.begin() + 1, 0, std::plus<>(),
                                 [](std::int16_t a, std::int16_t b) { return (a < 0) != (b < 0); });
}

TEST(Cues, LengthPeakFadedEdgesAndPitch) {
    const std::tuple<Cue, std::int32_t, std::size_t> cases[] = {{Cue::FOOD, 0, 90},   {Cue::FOOD, 40, 90},
                                                                {Cue::DEATH, 0, 500}, {Cue::NEW_LEVEL, 0, 320},
                                                                {Cue::PAUSE, 0, 30},  {Cue::RESUME, 0, 30}};
    for (const auto& [cue, score, ms] : cases) {
        const Span samples = CUES.of(cue, score);
        const std::int32_t loudest = VOICE_PEAKS[voiceOf(cue)];
        SCOPED_TRACE(static_cast<int>(cue));
        ASSERT_EQ(samples.size(), ms * PER_MS);
        EXPECT_EQ(peak(samples), loudest);
        // From and to silence, through a fade: under half the peak in the first and last millisecond.
        EXPECT_EQ(samples.front() | samples.back(), 0);
        EXPECT_LE(std::max(peak(samples.first(PER_MS)), peak(samples.last(PER_MS))), loudest / 2);
    }
    EXPECT_EQ(synthesizeCues(), CUES);  // the same on every run
    // Food rises a semitone every two foods, up to an octave.
    EXPECT_EQ(crossings(1), crossings(0));
    EXPECT_NEAR(crossings(2) / crossings(0), std::pow(2.0, 1.0 / 12), 0.02);
    EXPECT_NEAR(crossings(24) / crossings(0), 2.0, 0.02);
    EXPECT_EQ(&CUES.of(Cue::FOOD, 1000), &CUES.of(Cue::FOOD, 24));
}

class Mixer : public ::testing::Test {
protected:
    void SetUp() override {
        sound.cues = CUES;
        sound.live = true;
    }
    // Mixes on to `ms` milliseconds into `out`, in the device's buffers of 512 samples.
    void mixTo(std::size_t ms) {
        for (std::size_t n = 0; mixed < ms * PER_MS; mixed += n)
            sound.mix(&out[mixed], n = std::min<std::size_t>(512, ms * PER_MS - mixed));
    }
    Sound sound;
    Samples out = Samples(SAMPLE_RATE);
    std::size_t mixed = 0;
};

// Every cue at once, and each again 100 ms later while most still sound: the
// mix stays under -6 dBFS, then falls silent when the last cue ends.
TEST_F(Mixer, EveryCueAtOnceStaysUnderMinus6dBFS) {
    for (const std::size_t ms : {100, 200}) {
        for (Cue cue : {Cue::FOOD, Cue::DEATH, Cue::NEW_LEVEL, Cue::PAUSE, Cue::RESUME}) sound.play(cue, 30);
        mixTo(ms);
    }
    mixTo(1000);
    EXPECT_GT(peak(out), VOICE_PEAKS[1]);  // they did overlap
    EXPECT_LE(peak(out), MIX_PEAK);
    EXPECT_EQ(peak(Span(out).subspan(100 * PER_MS + CUT_FADE + CUES.death.size())), 0);
}

// A cue cut short, by itself again or by M, fades out over 5 ms without a
// jump; what follows starts whole. While muted, nothing plays.
TEST_F(Mixer, ACutFadesOutThenWhatFollowsStartsWhole) {
    const Samples& death = CUES.death;
    out.resize(2 * SAMPLE_RATE);
    for (const std::size_t ms : {0, 100, 700}) {  // again while it sounds, and once it has ended
        mixTo(ms);
        sound.play(Cue::DEATH);
    }
    mixTo(800);
    sound.toggleMute();
    sound.play(Cue::DEATH);  // not heard
    mixTo(900);
    sound.toggleMute();
    sound.play(Cue::DEATH);
    mixTo(2000);
    for (const auto& [cut, restart] :
         {std::pair{100 * PER_MS, 100 * PER_MS + CUT_FADE}, {800 * PER_MS, 900 * PER_MS}}) {
        EXPECT_LE(largestStep(Span(out).first(restart)), largestStep(death) + VOICE_PEAKS[1] / CUT_FADE + 1);
        EXPECT_EQ(peak(Span(out).subspan(cut + CUT_FADE, restart - cut - CUT_FADE)), 0);
        EXPECT_TRUE(std::ranges::equal(death, Span(out).subspan(restart, death.size()))) << cut;
    }
}

}  // namespace
