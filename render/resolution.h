#pragma once

// How finely the scene is drawn. Without a GPU a frame's cost grows with its
// pixels, and the snake steps at most once a frame, so a frame slower than a
// step slows the game itself. The step is chosen from how long the last frames
// took: down at once, far enough to fit, when they overrun their budget, and
// back where that did not make them faster; up a step at a time, and ever more
// rarely where the step up did not hold, so that it does not hunt. Where
// frames are cheap it never leaves full resolution with smoothed edges.

#include <array>
#include <cstdint>

struct ResolutionStep {
    std::int32_t scale;  // of the full side, in thousandths
    bool multisampled;   // edges smoothed, at up to four times the cost of the pixels
};

// The steps tried: first full resolution smoothed, then without smoothing,
// then sides each about 0.85 of the one before, which takes away about a
// quarter of the pixels. Once the picture is scaled up, its edges are soft anyway.
inline constexpr std::array<ResolutionStep, 9> RESOLUTION_STEPS = {{{1000, true},
                                                                    {1000, false},
                                                                    {850, false},
                                                                    {720, false},
                                                                    {610, false},
                                                                    {520, false},
                                                                    {440, false},
                                                                    {375, false},
                                                                    {320, false}}};
inline constexpr std::uint32_t ONE_SAMPLE_STEP = 1;  // full resolution, one sample a pixel

// The frames whose median decides, and the fewest that may.
inline constexpr std::uint32_t RESOLUTION_WINDOW = 8;
inline constexpr std::uint32_t RESOLUTION_QUORUM = 3;
// Frames spent at a step before the next one up is tried, at first and at most.
inline constexpr std::uint32_t RAISE_WAIT_FRAMES = 60;
inline constexpr std::uint32_t RAISE_WAIT_LIMIT = 16 * RAISE_WAIT_FRAMES;

struct Resolution {
    std::uint32_t step = 0;                         // into RESOLUTION_STEPS
    bool adapts = true;                             // false holds the step, where a test or a benchmark chooses it
    std::array<float, RESOLUTION_WINDOW> recent{};  // the latest frame times at this step, a ring
    std::uint32_t frames = 0;                       // recorded at this step
    std::uint32_t raiseWait = RAISE_WAIT_FRAMES;
    bool raised = false;            // this step was reached by a step up
    float cutFrom = 0;              // the frames' median that made the cut to this step, until it is judged
    std::uint32_t cutFromStep = 0;  // the step that cut left
    std::uint32_t cutWait = 0;      // frames at `cutWaitStep` before cutting below it again,
    std::uint32_t cutWaitStep = 0;  // after a cut from it that did not pay

    // The side, in pixels, to draw a picture that is `fullSide` across at.
    std::int32_t side(std::int32_t fullSide) const;
    bool multisampled() const { return RESOLUTION_STEPS[step].multisampled; }

    // A frame took `ms`, where `budgetMs` was its share.
    void record(float ms, float budgetMs);

    // The picture changed size: what fitted before says nothing of the new
    // size, so it starts again from full resolution without smoothing, which
    // needs nothing allocated and is the cheapest full picture.
    void resized();

private:
    void cut(float typical, float budgetMs);
    float median() const;
    void moveTo(std::uint32_t newStep);
};
