#include "game/snake.h"

#include <algorithm>

#include "game/level.h"

Segment neighbour(Segment from, Heading heading) {
    switch (heading) {
    case HEADING_LEFT: return {from.x - 1, from.y};
    case HEADING_UP: return {from.x, from.y - 1};
    case HEADING_RIGHT: return {from.x + 1, from.y};
    default: return {from.x, from.y + 1};
    }
}

void Snake::reset(std::int32_t x, std::int32_t y, std::int32_t capacity) {
    clear();
    body.resize(static_cast<std::size_t>(capacity));
    for (std::int32_t i = 0; i < START_LENGTH; ++i) body[i] = {x + i, y};
    length = START_LENGTH;
    sightRange = SIGHT_RANGE;
    heading = HEADING_RIGHT;
    elapsed = 0;
    stepInterval = STEP_INTERVAL;
}

void Snake::credit(std::uint32_t milliseconds) {
    const std::uint32_t bound = MAX_OWED_STEPS * stepInterval;
    elapsed = std::min(elapsed + std::min(milliseconds, bound), bound);  // neither sum can wrap around
}

void Snake::clear() {
    std::vector<Segment>().swap(body);
    length = 0;
}

namespace {

// The head enters `target` and the snake grows by it. Eating never kills, even
// where the food lay under the body. A body that fills its whole array cannot
// grow: the snake then moves on at its length, the tail following.
void eat(Snake& snake, Segment target) {
    if (snake.length < static_cast<std::int32_t>(snake.body.size())) {
        snake.body[snake.length++] = target;
        return;
    }
    std::copy(snake.body.begin() + 1, snake.body.begin() + snake.length, snake.body.begin());
    snake.body[snake.length - 1] = target;
}

// Moves every segment up one place and the head into `target`; false when the
// head meets the body. The old tail is not compared, so the head may follow it.
bool moveTo(Snake& snake, Segment target) {
    bool collided = false;
    for (std::int32_t i = 0; i + 1 < snake.length; ++i) {
        snake.body[i] = snake.body[i + 1];
        if (snake.body[i] == target) {
            collided = true;
            break;
        }
    }
    snake.body[snake.length - 1] = target;
    return !collided;
}

}  // namespace

bool Snake::step(Heading toward, Level& level) {
    elapsed -= stepInterval;
    heading = toward;
    const Segment target = neighbour(head(), toward);
    Cell* cell = level.cellAt(target.x, target.y);    // none outside the grid: open floor there
    if (cell != nullptr && cell->wall) return false;  // the snake stays out of the wall
    if (cell != nullptr && cell->food) {
        cell->food = false;
        level.placeFood();
        eat(*this, target);
        return true;
    }
    return moveTo(*this, target);
}
