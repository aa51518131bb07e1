#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL.h>

#include <algorithm>
#include <array>
#include <cmath>

#include "render/canvas.h"
#include "render/render.h"

// OpenGL 1.3's switch (ARB_multisample), which Windows' gl.h, stopping at 1.1, lacks.
#ifndef GL_MULTISAMPLE
#define GL_MULTISAMPLE 0x809D
#endif

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

// Cells are tested as if this much larger all round, so that a triangle that
// floating point may yet put into view is drawn.
constexpr double ROUNDING_MARGIN = 1.0 / 64;

// A run of rows or columns, both ends included; empty when last < first.
struct CellSpan {
    std::int32_t first = 0;
    std::int32_t last = -1;

    bool contains(std::int32_t i) const { return first <= i && i <= last; }

    // Keeps the cells i whose extent [8i, 8i + 8] along one axis, widened by
    // ROUNDING_MARGIN, holds a point where slope * t + offset >= 0.
    void narrow(double slope, double offset) {
        if (slope > 0) {
            const double from = std::ceil(-offset / (CELL_SIZE * slope) - 1 - ROUNDING_MARGIN);
            if (from > first) first = from > last ? last + 1 : static_cast<std::int32_t>(from);
        } else if (slope < 0) {
            const double to = std::floor(offset / (-CELL_SIZE * slope) + ROUNDING_MARGIN);
            if (to < last) last = to < first ? first - 1 : static_cast<std::int32_t>(to);
        } else if (!(offset >= 0)) {
            last = first - 1;
        }
    }
};

// The cells that may show through the matrices loaded now: those whose box,
// from the lowest to the highest z anything is drawn at, is not wholly outside
// one of the six planes of the view volume. Each plane is taken on its own, so
// a cell near a corner may be kept that clipping then removes, but no cell that
// shows is ever left out.
class ViewBounds {
public:
    ViewBounds(const Level& level, double zLow, double zHigh) : width_(level.width), height_(level.height) {
        std::array<GLdouble, 16> projection{}, modelView{};
        glGetDoublev(GL_PROJECTION_MATRIX, projection.data());
        glGetDoublev(GL_MODELVIEW_MATRIX, modelView.data());
        // Row i of projection x model-view, as (x, y, z, w) coefficients.
        const auto clipRow = [&](int i) {
            std::array<double, 4> row{};
            for (int column = 0; column < 4; ++column)
                for (int k = 0; k < 4; ++k) row[column] += projection[k * 4 + i] * modelView[column * 4 + k];
            return row;
        };
        const std::array<double, 4> w = clipRow(3);
        for (int axis = 0; axis < 3; ++axis) {
            const std::array<double, 4> coordinate = clipRow(axis);
            for (int k = 0; k < 4; ++k) {
                planes_[2 * axis][k] = w[k] + coordinate[k];      // -w <= coordinate
                planes_[2 * axis + 1][k] = w[k] - coordinate[k];  // coordinate <= w
            }
        }
        // What the z extent adds at best to each plane: walls reach highest.
        for (auto& plane : planes_) plane[3] += std::max(plane[2] * zLow, plane[2] * zHigh);
        rows_ = {0, height_ - 1};
        for (const auto& plane : planes_) rows_.narrow(plane[1], plane[3] + best(plane[0], 0, width_));
    }

    const CellSpan& rows() const { return rows_; }

    CellSpan columns(std::int32_t row) const {
        CellSpan span{0, width_ - 1};
        for (const auto& plane : planes_) span.narrow(plane[0], plane[3] + best(plane[1], row, row + 1));
        return span;
    }

    // Whether the square at column x, row y may show, inside the grid or not
    // (a snake may leave a grid with an open border).
    bool mayShow(Segment square) const {
        return std::all_of(planes_.begin(), planes_.end(), [square](const auto& plane) {
            return plane[3] + best(plane[0], square.x, square.x + 1) + best(plane[1], square.y, square.y + 1) >= 0;
        });
    }

private:
    // The larger of slope * t at the two ends of the cells [from, to), widened
    // by ROUNDING_MARGIN.
    static double best(double slope, std::int32_t from, std::int32_t to) {
        return std::max(slope * CELL_SIZE * (from - ROUNDING_MARGIN), slope * CELL_SIZE * (to + ROUNDING_MARGIN));
    }

    std::int32_t width_;
    std::int32_t height_;
    std::array<std::array<double, 4>, 6> planes_{};  // x, y, z, constant: inside where >= 0
    CellSpan rows_;
};

// The z extent of everything drawn: tiles at 0 and 4 in the flat view; in the
// perspective view floor tiles at 0 and boxes up to the top of a wall, which
// lies at negative z there.
ViewBounds currentViewBounds(const Level& level, bool perspective) {
    return perspective ? ViewBounds(level, -(RAISED_Z + WALL_HEIGHT), 0) : ViewBounds(level, 0, RAISED_Z);
}

// Adds `mesh`, stretched to `size` across and `depth` along z about its
// centre, which goes to (x, y, z), in one colour: its triangles in the order of
// its index array, as one draw of the mesh would take them.
template <std::size_t VERTICES, std::size_t INDICES>
void addMesh(DrawBatch& batch, const StaticMesh<VERTICES, INDICES>& mesh, float x, float y, float z, float size,
             float depth, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    float* position = batch.positions.data() + 3 * batch.vertexCount;
    float* normal = batch.normals.data() + 3 * batch.vertexCount;
    std::uint8_t* colour = batch.colours.data() + 4 * batch.vertexCount;
    for (const std::uint16_t index : mesh.indices) {
        const float* corner = &mesh.positions[3 * index];
        *position++ = x + size * corner[0];
        *position++ = y + size * corner[1];
        *position++ = z + depth * corner[2];
        normal = std::copy_n(&mesh.normals[3 * index], 3, normal);
        *colour++ = r;
        *colour++ = g;
        *colour++ = b;
        *colour++ = a;
    }
    batch.vertexCount += INDICES;
}

// Draws and empties the batch when it has no room for `vertices` more. False
// when it never has, before the renderer has been set up.
bool makeRoom(Game& game, std::size_t vertices) {
    const std::size_t capacity = game.batch.colours.size() / 4;
    if (game.batch.vertexCount + vertices > capacity) game.flushBatch();
    return vertices <= capacity;
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
    beginFrame();
    drawLevel();
    drawSnake();
    flushBatch();
    showScene();
    drawScoreLine();
    endFrame();
}

// The picture is the largest whole square of pixels that the drawable holds,
// centred, with black around it. An 800 by 800 window shows it unscaled.
void Game::beginFrame() {
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    const std::int32_t side = std::max(std::min(width, height), 0);
    if (canvas == nullptr || !canvas->beginScene(side))
        glViewport((width - side) / 2, (height - side) / 2, side, side);  // straight into the window, all of it cleared
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glPushMatrix();
    if (perspective) {
        setUpLight();
        placeCamera(level.width);
    }
}

void Game::showScene() {
    if (canvas != nullptr && !canvas->fullResolution()) canvas->show(width, height);
}

void Game::endFrame() {
    glPopMatrix();
    if (canvas != nullptr) canvas->show(width, height);
    SDL_GL_SwapWindow(window);
    if (canvas != nullptr) canvas->frameShown();
}

// Back rows first. Under fog a cell is as bright as its visibility; black and
// fully faded cells are left to the background and cost nothing.
void Game::drawLevel() {
    const ViewBounds view = currentViewBounds(level, perspective);
    for (std::int32_t row = view.rows().last; row >= view.rows().first; --row) {
        const CellSpan columns = view.columns(row);
        for (std::int32_t column = columns.first; column <= columns.last; ++column) {
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
    if (!paused) castSight();  // a paused frame shows what the last one showed
    const ViewBounds view = currentViewBounds(level, perspective);
    for (std::int32_t i = 0; i < snake.length; ++i) {
        const Segment segment = snake.body[static_cast<std::size_t>(i)];
        if (!view.mayShow(segment)) continue;
        const std::int32_t x = CELL_SIZE * segment.x;
        const std::int32_t y = CELL_SIZE * segment.y;
        if (perspective) {
            drawBox(x, y, RAISED_Z, CELL_SIZE, BLOCK_HEIGHT, 0, 255, 0, 255);
        } else {
            drawTile(x, y, RAISED_Z, CELL_SIZE, 0, 255, 0, 255);
        }
    }
}

void Game::flushBatch() {
    if (batch.vertexCount != 0) {
        glVertexPointer(3, GL_FLOAT, 0, batch.positions.data());
        glNormalPointer(GL_FLOAT, 0, batch.normals.data());
        glColorPointer(4, GL_UNSIGNED_BYTE, 0, batch.colours.data());
        glEnableClientState(GL_COLOR_ARRAY);
        // In the flat view every tile's edges lie on pixel borders: a pixel is
        // wholly inside a tile or wholly outside it, so multisampling cannot
        // change one, and a software rasteriser covers a quarter of the samples
        // without it. The text keeps it for its fractional edges.
        if (!perspective) glDisable(GL_MULTISAMPLE);
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(batch.vertexCount));
        glEnable(GL_MULTISAMPLE);
        glDisableClientState(GL_COLOR_ARRAY);
        batch.vertexCount = 0;
    }
    // The text drawn next reads six normals per draw without using them: leave
    // the pointer on a mesh that has them.
    glNormalPointer(GL_FLOAT, 0, UnitSquare.normals.data());
}

void Game::drawBox(std::int32_t x, std::int32_t y, std::int32_t z, float size, float height, std::uint8_t r,
                   std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    if (!makeRoom(*this, UnitCube.indexCount)) return;
    const float half = size * 0.5f;
    const float centreZ = static_cast<float>(z) + height * 0.5f;
    addMesh(batch, UnitCube, static_cast<float>(x) + half, static_cast<float>(y) + half,
            perspective ? -centreZ : centreZ, size, height, r, g, b, a);
}

void Game::drawTile(std::int32_t x, std::int32_t y, std::int32_t z, float size, std::uint8_t r, std::uint8_t g,
                    std::uint8_t b, std::uint8_t a) {
    if (!makeRoom(*this, UnitSquare.indexCount)) return;
    const float half = size * 0.5f;
    addMesh(batch, UnitSquare, static_cast<float>(x) + half, static_cast<float>(y) + half,
            static_cast<float>(perspective ? -z : z), size, 1, r, g, b, a);
}
