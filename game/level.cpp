#include "game/level.h"

#include <algorithm>
#include <cstdlib>

#include "game/random.h"

Rgb Cell::shadedColour(std::int32_t brightness) const {
    if (brightness == OWN_VISIBILITY) brightness = visibility;
    if (brightness == 0) return {};
    const Rgb base = food ? Rgb{0, 0, 255} : Rgb{r, g, b};
    const double f = (FULL_VISIBILITY - brightness) / 1000.0;
    const auto shade = [f](std::uint8_t channel) { return static_cast<std::uint8_t>(channel - channel * f); };
    return {shade(base.r), shade(base.g), shade(base.b)};
}

Cell* Level::cellAt(std::int32_t x, std::int32_t y) {
    if (x < 0 || x >= width || y < 0 || y >= height) return nullptr;
    return &cells[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
}

void Level::clear() {
    std::vector<Cell>().swap(cells);
    width = 0;
    height = 0;
}

std::optional<Segment> Level::snakeTail() const {
    for (std::int32_t y = 0; y < height; ++y) {
        std::int32_t run = 0;
        for (std::int32_t x = 0; x < width; ++x) {
            run = cells[static_cast<std::size_t>(y) * width + x].wall ? 0 : run + 1;
            if (run == START_LENGTH + 1) return Segment{x - START_LENGTH, y};
        }
    }
    return std::nullopt;
}

std::size_t Level::openCellCount() const {
    return static_cast<std::size_t>(std::count_if(cells.begin(), cells.end(), [](const Cell& c) { return !c.wall; }));
}

std::int32_t Level::distanceToOpenBorder(Segment square) const {
    std::int32_t nearest = INT32_MAX;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; x += (y == 0 || y == height - 1) ? 1 : std::max(width - 1, 1)) {
            if (cells[static_cast<std::size_t>(y) * width + x].wall) continue;
            nearest = std::min(nearest, std::max(std::abs(x - square.x), std::abs(y - square.y)));
        }
    }
    return nearest;
}

std::int32_t Level::openSquaresAhead(Segment square) const {
    std::int32_t open = 0;
    for (std::int32_t x = square.x + 1; x < width && !cells[static_cast<std::size_t>(square.y) * width + x].wall; ++x)
        ++open;
    return open;
}

void Level::resetFood() {
    for (Cell& cell : cells) cell.food = false;
    placeFood();
}

void Level::placeFood() {
    for (;;) {
        const std::int32_t x = scaleDraw(gameRandom.draw(), width);
        const std::int32_t y = scaleDraw(gameRandom.draw(), height);
        Cell* cell = cellAt(x, y);  // a draw of RANDOM_MAX lands just outside
        if (cell != nullptr && !cell->wall) {
            cell->food = true;
            return;
        }
    }
}
