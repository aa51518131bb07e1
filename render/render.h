#pragma once

// Drawing the game with fixed-function OpenGL: the members of Game that set up
// the renderer, draw a frame and draw text are declared in game/game.h and
// defined here. This header holds what they share and what tests look at.
//
// Between frames the matrix mode is the model-view matrix and that matrix is
// identity: whatever transforms, pushes and pops around itself.

#include <cstddef>
#include <cstdint>

#include "game/game.h"
#include "render/font.h"
#include "render/mesh.h"

// World units per grid square; in the flat view one unit is one pixel.
inline constexpr std::int32_t CELL_SIZE = 8;

// Vertices the frame's batch holds before it is drawn: few enough that its
// arrays stay within a few megabytes whatever the level and window, enough that
// a frame takes only a handful of draw calls.
inline constexpr std::size_t BATCH_VERTICES = std::size_t{1} << 16;

// Raised things (walls, food, the snake) stand this far above the floor.
inline constexpr std::int32_t RAISED_Z = 4;

inline constexpr const char* TITLE_TEXT = "Kestrivane";
inline constexpr const char* PROMPT_TEXT = "Press SPACE to play";
inline constexpr const char* CREDIT_TEXT = "Made by the Kestrivane crew";
inline constexpr const char* SCORE_FORMAT = "CURRENT: %d       HIGH: %d";
inline constexpr const char* PAUSED_TEXT = "PAUSED";

// The state text is drawn in: no depth test or lighting, the font texture
// blended over what is there. Every drawText call sits between these two.
void beginText();
void endText();
