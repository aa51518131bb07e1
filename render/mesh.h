#pragma once

// The two static meshes everything in the game is drawn with, as client-side
// arrays: positions and normals as three floats per vertex, separate triangles
// by 16-bit indices, each counter-clockwise seen from outside.

#include <array>
#include <cstddef>
#include <cstdint>

template <std::size_t VERTICES, std::size_t INDICES>
struct StaticMesh {
    std::array<float, VERTICES * 3> positions;
    std::array<float, VERTICES * 3> normals;
    std::array<std::uint16_t, INDICES> indices;

    static constexpr std::size_t vertexCount = VERTICES;
    static constexpr std::size_t indexCount = INDICES;
};

// A cube of side 1 centred on the origin: six faces of six vertices, each with
// its face's normal.
inline constexpr StaticMesh<36, 36> UnitCube = {
    {
        +.5f, +.5f, -.5f, -.5f, +.5f, -.5f, -.5f, -.5f, -.5f, -.5f, -.5f, -.5f, +.5f, -.5f, -.5f, +.5f, +.5f, -.5f,
        +.5f, +.5f, +.5f, +.5f, +.5f, -.5f, +.5f, -.5f, -.5f, +.5f, -.5f, -.5f, +.5f, -.5f, +.5f, +.5f, +.5f, +.5f,
        -.5f, +.5f, +.5f, +.5f, +.5f, +.5f, +.5f, -.5f, +.5f, +.5f, -.5f, +.5f, -.5f, -.5f, +.5f, -.5f, +.5f, +.5f,
        -.5f, +.5f, -.5f, -.5f, +.5f, +.5f, -.5f, -.5f, +.5f, -.5f, -.5f, +.5f, -.5f, -.5f, -.5f, -.5f, +.5f, -.5f,
        -.5f, +.5f, -.5f, +.5f, +.5f, -.5f, +.5f, +.5f, +.5f, +.5f, +.5f, +.5f, -.5f, +.5f, +.5f, -.5f, +.5f, -.5f,
        +.5f, -.5f, -.5f, -.5f, -.5f, -.5f, -.5f, -.5f, +.5f, -.5f, -.5f, +.5f, +.5f, -.5f, +.5f, +.5f, -.5f, -.5f,
    },
    {
        0,  0, -1, 0,  0, -1, 0,  0, -1, 0,  0,  -1, 0,  0,  -1, 0,  0,  -1, 1, 0,  0, 1, 0,  0, 1, 0,  0,
        1,  0, 0,  1,  0, 0,  1,  0, 0,  0,  0,  1,  0,  0,  1,  0,  0,  1,  0, 0,  1, 0, 0,  1, 0, 0,  1,
        -1, 0, 0,  -1, 0, 0,  -1, 0, 0,  -1, 0,  0,  -1, 0,  0,  -1, 0,  0,  0, 1,  0, 0, 1,  0, 0, 1,  0,
        0,  1, 0,  0,  1, 0,  0,  1, 0,  0,  -1, 0,  0,  -1, 0,  0,  -1, 0,  0, -1, 0, 0, -1, 0, 0, -1, 0,
    },
    {
        26, 25, 24, 29, 28, 27, 8,  7,  6,  11, 10, 9,  14, 13, 12, 17, 16, 15,
        20, 19, 18, 23, 22, 21, 32, 31, 30, 35, 34, 33, 2,  1,  0,  5,  4,  3,
    },
};

// A square of side 1 centred on the origin in the plane z = 0. Its normals
// point along +y, not +z, and the perspective view's floor is shaded by them:
// changing them changes how every floor tile looks.
inline constexpr StaticMesh<6, 6> UnitSquare = {
    {-.5f, -.5f, 0, .5f, -.5f, 0, .5f, .5f, 0, .5f, .5f, 0, -.5f, .5f, 0, -.5f, -.5f, 0},
    {0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0},
    {2, 1, 0, 5, 4, 3},
};
