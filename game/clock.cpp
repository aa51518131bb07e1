#include "game/clock.h"

#include <chrono>

std::uint32_t steadyTicks() {
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}

TickSource tickSource = steadyTicks;
