#pragma once

// The one random generator of the game: integers from 0 to RANDOM_MAX, never
// seeded. It is the linear congruential generator of the Windows C runtime, so
// that every platform plays the same sequence of levels and food squares.

#include <cstdint>

inline constexpr std::int32_t RANDOM_MAX = 32767;

struct RandomGenerator {
    std::uint32_t state = 1;

    std::int32_t draw() {
        state = state * 214013u + 2531011u;
        return static_cast<std::int32_t>((state >> 16) & 0x7FFF);
    }
};

// The generator that chooses levels and food squares.
inline RandomGenerator gameRandom;

// Scales a draw to 0..n: trunc(r / 32767.0 * n). Only r = RANDOM_MAX gives n itself.
inline std::int32_t scaleDraw(std::int32_t r, std::int32_t n) {
    return static_cast<std::int32_t>(r / static_cast<double>(RANDOM_MAX) * n);
}
