#include "render/resolution.h"

#include <algorithm>

namespace {

// A cut aims for frames at this share of the budget, as if all their time went
// to pixels; a step up is taken only where, by the same measure, its frames
// would take at most the larger share.
constexpr float CUT_TARGET = 0.75f;
constexpr float RAISE_TARGET = 0.8f;
// A cut pays where it saves at least a tenth: scaling the picture up costs
// the window's pixels again, which may outweigh the pixels saved.
constexpr float CUT_PAYS = 0.9f;

float cost(std::uint32_t step) {
    const float scale = static_cast<float>(RESOLUTION_STEPS[step].scale) / 1000.0f;
    return scale * scale * (RESOLUTION_STEPS[step].multisampled ? 4.0f : 1.0f);
}

}  // namespace

std::int32_t Resolution::side(std::int32_t fullSide) const {
    const std::int64_t scaled = std::int64_t{fullSide} * RESOLUTION_STEPS[step].scale / 1000;
    return std::max(static_cast<std::int32_t>(scaled), std::min(fullSide, 1));
}

void Resolution::record(float ms, float budgetMs) {
    if (!adapts) return;
    recent[frames % RESOLUTION_WINDOW] = ms;
    ++frames;
    if (frames < RESOLUTION_QUORUM) return;
    const float typical = median();
    if (cutFrom > 0) {
        const bool paid = typical < CUT_PAYS * cutFrom;
        cutFrom = 0;
        if (!paid) {
            // Back up; cut from there again only after a while, as the scene may have changed.
            cutWait = std::clamp(2 * cutWait, RAISE_WAIT_FRAMES, RAISE_WAIT_LIMIT);
            cutWaitStep = cutFromStep;
            return moveTo(cutWaitStep);
        }
    }
    const bool mayCut = step + 1 < RESOLUTION_STEPS.size() && (step != cutWaitStep || frames >= cutWait);
    if (typical > budgetMs && mayCut) {
        cut(typical, budgetMs);
    } else if (typical > budgetMs && step > ONE_SAMPLE_STEP && frames >= raiseWait) {
        // Scaling up costs the window's pixels again: where a smaller picture
        // still overruns, the window's own resolution may cost less after all.
        moveTo(ONE_SAMPLE_STEP);
        raised = true;
    } else if (step > 0 && frames >= raiseWait && typical * cost(step - 1) < RAISE_TARGET * budgetMs * cost(step)) {
        moveTo(step - 1);
        raised = true;
    } else if (raised && frames >= raiseWait && typical <= budgetMs) {
        raised = false;  // the step up held
        raiseWait = RAISE_WAIT_FRAMES;
    }
}

// Straight to the step whose pixels would fit, but from smoothed edges only to
// full resolution without them, whose cost is the one least like the rest.
void Resolution::cut(float typical, float budgetMs) {
    const float wanted = cost(step) * CUT_TARGET * budgetMs / typical;
    std::uint32_t to = step + 1;
    while (step > 0 && to + 1 < RESOLUTION_STEPS.size() && cost(to) > wanted) ++to;
    if (raised) raiseWait = std::min(2 * raiseWait, RAISE_WAIT_LIMIT);  // back from a step up: wait longer next time
    cutFromStep = step;
    moveTo(to);
    cutFrom = typical;
}

void Resolution::resized() {
    if (adapts) moveTo(ONE_SAMPLE_STEP);
    cutFrom = 0;
    cutWait = 0;
    raiseWait = RAISE_WAIT_FRAMES;
}

float Resolution::median() const {
    std::array<float, RESOLUTION_WINDOW> sorted = recent;
    const std::uint32_t count = std::min(frames, RESOLUTION_WINDOW);
    std::nth_element(sorted.begin(), sorted.begin() + (count - 1) / 2, sorted.begin() + count);
    return sorted[(count - 1) / 2];  // the lower middle: two slow frames of four do not cut
}

void Resolution::moveTo(std::uint32_t newStep) {
    step = newStep;
    frames = 0;
    raised = false;
}
