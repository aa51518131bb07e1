#pragma once

// The playing grid: one cell per pixel of the level image, row-major, row 0 at
// the top. A pixel with even alpha is a wall (alpha 0: one that is never drawn);
// odd alpha is open floor. Colours only serve the drawing.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "game/snake.h"

inline constexpr std::int32_t FULL_VISIBILITY = 1000;

// The widest and tallest grid played. The cells and a body array that could
// fill them stay within a few tens of megabytes, 1024 x 1024 is already far
// beyond what the 800 x 800 window shows, and every cell of such a grid can be
// drawn for food, so that placing it ends on any grid with an open cell: a
// column or row takes 32 or more neighbouring draws of 0 to 32767, and
// whatever one draw was, the generator's next misses no two neighbouring
// values. (On wider grids most columns could never be drawn.)
inline constexpr std::int32_t MAX_LEVEL_SIDE = 1024;

// The window shows this many squares each way in the flat view.
inline constexpr std::int32_t SHOWN_SIDE = 100;

// The flat view's score line covers pixels 10 to 20 from the top, that is
// rows 1 and 2: a snake laid above row 3 starts under its text.
inline constexpr std::int32_t SCORE_LINE_ROWS = 3;

// Level::build's code for an image wider or taller than MAX_LEVEL_SIDE,
// beside the decoders' own codes.
inline constexpr unsigned LEVEL_TOO_LARGE = 100;

// A colour as drawn: red, green, blue.
struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;

    bool operator==(const Rgb&) const = default;
};

// Stands for "as bright as the cell's own visibility" in Cell::shadedColour.
inline constexpr std::int32_t OWN_VISIBILITY = -1;

struct Cell {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    std::uint8_t a = 255;
    bool wall = false;
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool food = false;
    std::int32_t visibility = 0;  // 0 (unseen or faded out) to FULL_VISIBILITY (seen this frame)

    // The colour to draw at `brightness` (0 to FULL_VISIBILITY, or
    // OWN_VISIBILITY): food shows blue, anything else its own colour, scaled
    // down and truncated.
    Rgb shadedColour(std::int32_t brightness) const;
};

struct Level {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<Cell> cells;  // width * height, the cell of (x, y) at y * width + x

    // The cell at column x, row y, or null outside the grid.
    Cell* cellAt(std::int32_t x, std::int32_t y);

    // Discards the grid, then builds it from the level file at `path`. False,
    // with the grid left empty, when the file cannot be read or build refuses it.
    bool load(const std::string& path);

    // Builds the grid from a level file's bytes: 0, the PNG decoder's code, or
    // LEVEL_TOO_LARGE. The grid stays empty unless the result is 0.
    unsigned build(const std::uint8_t* data, std::size_t size);

    void clear();

    // Where a new snake's tail goes: the start of the first run of five open
    // cells in reading order. None when no row has one, and then play cannot start.
    std::optional<Segment> snakeTail() const;

    std::size_t openCellCount() const;

    // How many squares, counted as a king moves, lie between `square` and the
    // nearest open square of the grid's border, through which the snake can
    // leave; INT32_MAX when the border is closed.
    std::int32_t distanceToOpenBorder(Segment square) const;

    // The open squares to the right of `square` before the first wall or the
    // grid's edge.
    std::int32_t openSquaresAhead(Segment square) const;

    // Clears all food, then places one. Needs an open cell, as placeFood does.
    void resetFood();

    // Sets food on a random open cell, drawing until it hits one: the level must
    // have an open cell, which every level that play starts on has.
    void placeFood();

    // Walks the line of squares from (x0, y0) to (x1, y1), lighting each cell on
    // it, and stops at the first wall, which is lit too and returned.
    Cell* castRay(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1);

    // Lowers every cell's visibility by `ms`, not below 0.
    void fade(std::uint32_t ms);
};
