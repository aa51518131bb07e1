#pragma once

// The game's millisecond clock. The shell points it at SDL_GetTicks; tests set
// readings of their own. Differences between readings are taken modulo 2^32.

#include <cstdint>

using TickSource = std::uint32_t (*)();

// Milliseconds since the first reading, from the steady clock; the default source.
std::uint32_t steadyTicks();

extern TickSource tickSource;

inline std::uint32_t readTicks() { return tickSource(); }
