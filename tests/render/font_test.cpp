#include <gtest/gtest.h>

#include <vector>

#include "render/font.h"

namespace {

constexpr unsigned int TEXTURE = 7;

struct PaintedFont {
    PaintedFont() : texels(static_cast<std::size_t>(FONT_TEXTURE_SIZE) * FONT_TEXTURE_SIZE * 4) {
        font.face = std::make_unique<FontFace>();
        font.face->texture = TEXTURE;
        font.paint(texels.data());
    }
    bool lit(int x, int y) const { return texels[(static_cast<std::size_t>(y) * FONT_TEXTURE_SIZE + x) * 4 + 3] != 0; }

    BitmapFont font;
    std::vector<std::uint8_t> texels;
};

TEST(FontLayout, GlyphsLieWherePenAndWidthPutThem) {
    const PaintedFont painted;
    struct Case {
        char c;
        int penX, penY, width;
    };
    for (const Case& expected : {Case{' ', 2, 2, 15}, Case{'!', 19, 2, 3}, Case{'"', 24, 2, 9}, Case{'+', 2, 25, 15},
                                 Case{'A', 2, 71, 15}, Case{'~', 86, 186, 15}}) {
        SCOPED_TRACE(expected.c);
        const Glyph& glyph = painted.font.glyphs[static_cast<unsigned char>(expected.c)];
        EXPECT_EQ(glyph.texture, TEXTURE);
        EXPECT_EQ(glyph.uLeft, expected.penX / 256.0f);
        EXPECT_EQ(glyph.vTop, expected.penY / 256.0f);
        EXPECT_EQ(glyph.uRight, (expected.penX + expected.width) / 256.0f);
        EXPECT_EQ(glyph.vBottom, (expected.penY + 21) / 256.0f);
        EXPECT_EQ(glyph.width, expected.width);
        EXPECT_EQ(glyph.height, 21);
    }
    for (const int code : {0, 10, 31, 127, 128, 255}) EXPECT_EQ(painted.font.glyphs[code].texture, 0u) << code;
}

// "!" is the column 0x6f: rows 0 to 3 lit, row 4 dark, rows 5 and 6 lit, each
// a block of 3 x 3 texels.
TEST(FontLayout, GlyphPixelsArePaintedThreeTimesEnlarged) {
    const PaintedFont painted;
    for (int row = 0; row < 7; ++row) {
        for (int dy = 0; dy < 3; ++dy) {
            for (int dx = 0; dx < 3; ++dx) EXPECT_EQ(painted.lit(19 + dx, 2 + 3 * row + dy), row != 4) << row;
        }
    }
    EXPECT_FALSE(painted.lit(18, 2));
    EXPECT_FALSE(painted.lit(22, 2));
    const std::uint8_t* white = &painted.texels[(2 * FONT_TEXTURE_SIZE + 19) * 4];
    EXPECT_EQ(std::vector<std::uint8_t>(white, white + 4), (std::vector<std::uint8_t>{255, 255, 255, 255}));
}

TEST(FontLayout, NothingIsPaintedBeyondTheNineRows) {
    const PaintedFont painted;
    for (int y = 0; y < FONT_TEXTURE_SIZE; ++y) {
        for (int x = 0; x < FONT_TEXTURE_SIZE; ++x) {
            if (x > 187 || y > 207) {
                ASSERT_FALSE(painted.lit(x, y)) << x << "," << y;
            }
        }
    }
}

}  // namespace
