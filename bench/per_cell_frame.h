#pragma once

// The frame as the game first drew it: every cell visited, and one push,
// translate, scale, draw call and pop for each cell and segment drawn. The
// batched drawing must give its pictures; frame_bench measures against it.

#include <GL/gl.h>

#include <span>

#include "render/render.h"

namespace per_cell {

template <std::size_t VERTICES, std::size_t INDICES>
void drawMesh(const StaticMesh<VERTICES, INDICES>& mesh, float x, float y, float z, float size, float depth, Rgb colour,
              std::uint8_t a) {
    glVertexPointer(3, GL_FLOAT, 0, mesh.positions.data());
    glNormalPointer(GL_FLOAT, 0, mesh.normals.data());
    glColor4ub(colour.r, colour.g, colour.b, a);
    glPushMatrix();
    glTranslatef(x, y, z);
    glScalef(size, size, depth);
    glDrawElements(GL_TRIANGLES, mesh.indexCount, GL_UNSIGNED_SHORT, mesh.indices.data());
    glPopMatrix();
}

// A box 8 across and `height` tall standing at height z on the square at
// column x, row y, or a tile lying there; boxes only in the perspective view.
inline void drawSquare(const Game& game, std::int32_t x, std::int32_t y, std::int32_t z, float height, Rgb colour,
                       std::uint8_t a) {
    const float centreX = static_cast<float>(CELL_SIZE * x) + 4, centreY = static_cast<float>(CELL_SIZE * y) + 4;
    if (game.perspective && z != 0)
        drawMesh(UnitCube, centreX, centreY, -(static_cast<float>(z) + height / 2), CELL_SIZE, height, colour, a);
    else
        drawMesh(UnitSquare, centreX, centreY, static_cast<float>(game.perspective ? -z : z), CELL_SIZE, 1, colour, a);
}

inline void drawFrame(Game& game) {
    game.beginFrame();
    const Level& level = game.level;
    for (std::int32_t row = level.height - 1; row >= 0; --row)
        for (const Cell& cell : std::span(&level.cells[std::size_t(row) * level.width], std::size_t(level.width))) {
            const Rgb colour = cell.shadedColour(game.fog ? OWN_VISIBILITY : FULL_VISIBILITY);
            if (cell.a == 0 || colour == Rgb{}) continue;
            drawSquare(game, cell.x, cell.y, cell.wall || cell.food ? RAISED_Z : 0, cell.wall ? 32 : 8, colour, cell.a);
        }
    game.castSight();
    for (std::int32_t i = 0; i < game.snake.length; ++i)
        drawSquare(game, game.snake.body[i].x, game.snake.body[i].y, RAISED_Z, 8, {0, 255, 0}, 255);
    game.showScene();
    game.drawScoreLine();
    game.endFrame();
}

}  // namespace per_cell
