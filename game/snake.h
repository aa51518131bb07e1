#pragma once

// The snake: a body array of squares, tail first and head last, with room for
// as many segments as the grid has cells, so that stepping never allocates.

#include <cstdint>
#include <vector>

struct Level;

// Heading codes; opposite headings differ by 2.
using Heading = std::int32_t;
inline constexpr Heading HEADING_LEFT = 0;
inline constexpr Heading HEADING_UP = 1;
inline constexpr Heading HEADING_RIGHT = 2;
inline constexpr Heading HEADING_DOWN = 3;

inline constexpr std::int32_t START_LENGTH = 4;
inline constexpr std::int32_t SIGHT_RANGE = 15;     // cells
inline constexpr std::uint32_t STEP_INTERVAL = 50;  // milliseconds
// The most steps the snake may owe. A stalled game (a suspended process, a
// window held by its title bar, a run of slow frames) would otherwise owe a
// step for every 50 ms it stood and pay them out one a frame, racing the snake
// into a wall faster than any player can react; four steps, 200 ms, still
// absorb the slow frames of a busy machine without slowing play.
inline constexpr std::uint32_t MAX_OWED_STEPS = 4;

// A square; it may lie outside the grid when the level's border is open.
struct Segment {
    std::int32_t x = 0;
    std::int32_t y = 0;

    bool operator==(const Segment&) const = default;
};

// The square next to `from` in the given heading.
Segment neighbour(Segment from, Heading heading);

// The sight fan's rays, one per degree from the first offset up to, not
// including, the end offset, around the heading of the last step.
inline constexpr float SIGHT_FIRST_OFFSET = -42.0f;
inline constexpr float SIGHT_END_OFFSET = 42.0f;

// Where the sight ray at `offset` degrees from `heading` ends, `range` cells from `head`.
Segment sightRayEnd(Segment head, Heading heading, std::int32_t range, float offset);

struct Snake {
    std::vector<Segment> body;  // its size is the capacity; the first `length` entries are in use
    std::int32_t length = 0;
    std::int32_t sightRange = SIGHT_RANGE;
    Heading heading = HEADING_RIGHT;  // of the step last made
    std::uint32_t elapsed = 0;        // milliseconds credited toward the next step
    std::uint32_t stepInterval = STEP_INTERVAL;

    // A new body of `capacity` segments and a snake of four on row y, tail at
    // (x, y), heading right.
    void reset(std::int32_t x, std::int32_t y, std::int32_t capacity);

    // Credits a frame's milliseconds toward the next step; what would take the
    // debt past MAX_OWED_STEPS intervals is forgotten.
    void credit(std::uint32_t milliseconds);

    // One step toward `heading`; false when it killed the snake.
    bool step(Heading toward, Level& level);

    Segment head() const { return body[length - 1]; }

    // Frees the body; the snake then has no segments.
    void clear();
};
