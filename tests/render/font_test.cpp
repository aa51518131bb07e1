#include <gtest/gtest.h>

#include <vector>

#include "render/font.h"

namespace {

// Each printable glyph's rectangle holds exactly the texels painted from its
// FONT_5X7 columns, three times enlarged, from its first lit column to its last
// (all five for the empty space). A frame one texel wide around each rectangle
// stays clear, so that linear filtering never blends in a neighbour, and nothing
// is painted anywhere else. Painted texels are opaque white.
TEST(Font, GlyphRectanglesHoldTheirColumnsThreeTimesEnlarged) {
    constexpr int SIZE = FONT_TEXTURE_SIZE;
    std::vector<std::uint8_t> texels(SIZE * SIZE * 4);
    const auto sum = [&](int i) { return texels[4 * i] + texels[4 * i + 1] + texels[4 * i + 2] + texels[4 * i + 3]; };
    BitmapFont font;
    font.face = std::make_unique<FontFace>(FontFace{.texture = 7});
    font.paint(texels.data());
    std::vector<bool> checked(SIZE * SIZE);
    for (const int code : {0, 31, 127, 255}) EXPECT_EQ(font.glyphs[code].texture, 0u) << code;
    for (int code = 32; code <= 126; ++code) {
        const Glyph& glyph = font.glyphs[code];
        const auto columns = FONT_5X7.begin() + (code - 32) * 5;
        std::vector<std::uint8_t> used(columns, columns + 5);
        while (!used.empty() && used.back() == 0) used.pop_back();
        while (!used.empty() && used.front() == 0) used.erase(used.begin());
        if (used.empty()) used.assign(5, 0);
        const int left = static_cast<int>(glyph.uLeft * SIZE), top = static_cast<int>(glyph.vTop * SIZE);
        const int width = 3 * static_cast<int>(used.size());
        ASSERT_EQ(std::tuple(glyph.texture, glyph.width, glyph.height, glyph.uLeft * SIZE, glyph.vTop * SIZE,
                             glyph.uRight * SIZE, glyph.vBottom * SIZE),
                  std::tuple(7u, width, 21, left, top, left + width, top + 21));
        ASSERT_TRUE(left > 0 && top > 0 && left + width < SIZE && top + 21 < SIZE) << code;
        for (int y = top - 1; y <= top + 21; ++y)
            for (int x = left - 1; x <= left + width; ++x) {
                const bool inside = x >= left && x < left + width && y >= top && y < top + 21;
                const bool lit = inside && (used[(x - left) / 3] >> (y - top) / 3 & 1);
                ASSERT_EQ(sum(y * SIZE + x), lit ? 4 * 255 : 0) << code << " at " << x << "," << y;
                checked[y * SIZE + x] = true;
            }
    }
    for (int i = 0; i < SIZE * SIZE; ++i) ASSERT_TRUE(checked[i] || sum(i) == 0) << i % SIZE << "," << i / SIZE;
}

}  // namespace
