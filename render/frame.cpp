#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL.h>

#include "render/render.h"

namespace {

constexpr float WALL_HEIGHT = 32.0f;
constexpr float BLOCK_HEIGHT = 8.0f;  // food and snake segments: cubes
constexpr float WORLD_SCALE = 0.01f;  // world units to the perspective view's units

// A point light fixed in eye space, white, with the cells' colours as material.
void setUpLight() {
    glEnable(GL_LIGHTING);
    const GLfloat diffuse[] = {1, 1, 1, 1};
    glLightfv(GL_LIGHT0, GL_DIFFUSE, diffuse);
    glEnable(GL_LIGHT0);
    glEnable(GL_COLOR_MATERIAL);
    const GLfloat position[] = {2, 1, 2, 1};  // given while the model-view matrix is identity
    glLightfv(GL_LIGHT0, GL_POSITION, position);
}

// The camera stands behind the grid's bottom edge, raised and tilted down,
// centred on the grid's width. It never follows the snake.
void placeCamera(std::int32_t levelWidth) {
    const auto cx = static_cast<float>(static_cast<double>(CELL_SIZE * levelWidth / 2) * 0.01);
    gluLookAt(cx, -10, 17, cx, -4, 0, 0, 1, 0);
    // Rows run toward -y, and the raised things, which drawBox puts at negative
    // z in this view, come out toward the eye.
    glScalef(WORLD_SCALE, -WORLD_SCALE, -WORLD_SCALE);
}

// Draws `mesh` in one colour, stretched to `size` across and `depth` along z
// about its centre, which goes to (x, y, z).
template <std::size_t VERTICES, std::size_t INDICES>
void drawMesh(const StaticMesh<VERTICES, INDICES>& mesh, float x, float y, float z, float size, float depth,
              std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    glVertexPointer(3, GL_FLOAT, 0, mesh.positions.data());
    glNormalPointer(GL_FLOAT, 0, mesh.normals.data());
    glColor4ub(r, g, b, a);
    glPushMatrix();
    glTranslatef(x, y, z);
    glScalef(size, size, depth);
    glDrawElements(GL_TRIANGLES, mesh.indexCount, GL_UNSIGNED_SHORT, mesh.indices.data());
    glPopMatrix();
}

}  // namespace

void Game::tick() {
    const std::uint32_t sinceStart = advance();
    if (onTitle) {
        drawTitle(sinceStart);
    } else {
        drawFrame();
    }
}

void Game::drawFrame() {
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPushMatrix();
    if (perspective) {
        setUpLight();
        placeCamera(level.width);
    }
    drawLevel();
    drawSnake();
    drawScoreLine();
    glPopMatrix();
    SDL_GL_SwapWindow(window);
}

// Back rows first. Under fog a cell is as bright as its visibility; black and
// fully faded cells are left to the background and cost no draw call.
void Game::drawLevel() {
    for (std::int32_t row = level.height - 1; row >= 0; --row) {
        for (std::int32_t column = 0; column < level.width; ++column) {
            const Cell& cell = *level.cellAt(column, row);
            if (cell.a == 0) continue;  // an invisible wall
            const Rgb colour = cell.shadedColour(fog ? OWN_VISIBILITY : FULL_VISIBILITY);
            const float boxHeight = cell.wall ? WALL_HEIGHT : BLOCK_HEIGHT;
            const std::int32_t z = cell.wall || cell.food ? RAISED_Z : 0;
            if (colour.r + colour.g + colour.b == 0) continue;
            if (z != 0 && perspective) {
                drawBox(CELL_SIZE * column, CELL_SIZE * row, z, CELL_SIZE, boxHeight, colour.r, colour.g, colour.b,
                        cell.a);
            } else {
                drawTile(CELL_SIZE * column, CELL_SIZE * row, z, CELL_SIZE, colour.r, colour.g, colour.b, cell.a);
            }
        }
    }
}

// The sight is cast after the level was drawn, so what comes into sight shows
// from the next frame. The snake itself is never dimmed.
void Game::drawSnake() {
    castSight();
    for (std::int32_t i = 0; i < snake.length; ++i) {
        const Segment segment = snake.body[static_cast<std::size_t>(i)];
        const std::int32_t x = CELL_SIZE * segment.x;
        const std::int32_t y = CELL_SIZE * segment.y;
        if (perspective) {
            drawBox(x, y, RAISED_Z, CELL_SIZE, BLOCK_HEIGHT, 0, 255, 0, 255);
        } else {
            drawTile(x, y, RAISED_Z, CELL_SIZE, 0, 255, 0, 255);
        }
    }
}

void Game::drawBox(std::int32_t x, std::int32_t y, std::int32_t z, float size, float height, std::uint8_t r,
                   std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    const float half = size * 0.5f;
    const float centreZ = static_cast<float>(z) + height * 0.5f;
    drawMesh(UnitCube, static_cast<float>(x) + half, static_cast<float>(y) + half, perspective ? -centreZ : centreZ,
             size, height, r, g, b, a);
}

void Game::drawTile(std::int32_t x, std::int32_t y, std::int32_t z, float size, std::uint8_t r, std::uint8_t g,
                    std::uint8_t b, std::uint8_t a) {
    const float half = size * 0.5f;
    drawMesh(UnitSquare, static_cast<float>(x) + half, static_cast<float>(y) + half,
             static_cast<float>(perspective ? -z : z), size, 1, r, g, b, a);
}
