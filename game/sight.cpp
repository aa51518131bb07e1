#include <cmath>
#include <cstdlib>
#include <numbers>

#include "game/game.h"

Cell* Level::castRay(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    // Bresenham's walk with the error term kept doubled.
    const std::int32_t dx = std::abs(x1 - x0);
    const std::int32_t dy = std::abs(y1 - y0);
    const std::int32_t sx = x0 < x1 ? 1 : -1;
    const std::int32_t sy = y0 < y1 ? 1 : -1;
    std::int32_t err = 2 * (dx - dy);
    std::int32_t x = x0;
    std::int32_t y = y0;
    for (;;) {
        if (Cell* cell = cellAt(x, y)) {  // squares outside the grid are passed over
            cell->visibility = FULL_VISIBILITY;
            if (cell->wall) return cell;
        }
        if (x == x1 && y == y1) return nullptr;
        const std::int32_t e = err;
        if (e > -dy) {
            err -= 2 * dy;
            x += sx;
            if (x == x1 && y == y1) continue;
        }
        if (e < dx) {
            err += 2 * dx;
            y += sy;
        }
    }
}

void Level::fade(std::uint32_t ms) {
    for (Cell& cell : cells) {
        const std::int64_t faded = std::int64_t{cell.visibility} - ms;
        cell.visibility = faded < 0 ? 0 : static_cast<std::int32_t>(faded);
    }
}

Segment sightRayEnd(Segment head, Heading heading, std::int32_t range, float offset) {
    // Degrees of each heading; angles grow from +x toward +y, which is down the grid.
    static constexpr std::int32_t BASE_ANGLE[] = {180, 270, 0, 90};
    const double a = (BASE_ANGLE[heading & 3] + static_cast<double>(offset)) * std::numbers::pi / 180.0;
    // Truncation can put an axis ray one column off: cos 270 degrees is a tiny
    // negative number, so the straight-up ray ends left of the head's column.
    return {static_cast<std::int32_t>(std::trunc(std::cos(a) * range + head.x)),
            static_cast<std::int32_t>(std::trunc(std::sin(a) * range + head.y))};
}

void Game::castSight() {
    const Segment head = snake.head();
    // 84 rays: the fan reaches 42 degrees to one side and 41 to the other.
    for (float offset = SIGHT_FIRST_OFFSET; offset < SIGHT_END_OFFSET; offset += 1.0f) {
        const Segment end = sightRayEnd(head, snake.heading, snake.sightRange, offset);
        level.castRay(head.x, head.y, end.x, end.y);
    }
}
