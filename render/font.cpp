#include "render/font.h"

#include <GL/gl.h>

#include <cstdio>
#include <new>
#include <vector>

namespace {

constexpr int PEN_START = 2;
constexpr int GLYPH_GAP = 2;  // texels between glyphs in a row
constexpr int GLYPHS_PER_ROW = 11;
constexpr int ROW_STEP = FONT_GLYPH_HEIGHT + 2;
constexpr int RGBA = 4;

// The columns a glyph uses: from its first lit column to its last. A glyph
// with none lit (the space) keeps all of them, so that it still takes room.
struct ColumnSpan {
    int first;
    int count;
};

ColumnSpan usedColumns(const std::uint8_t* columns) {
    int first = 0;
    int last = FONT_GLYPH_COLUMNS - 1;
    while (first < FONT_GLYPH_COLUMNS && columns[first] == 0) ++first;
    if (first == FONT_GLYPH_COLUMNS) return {0, FONT_GLYPH_COLUMNS};
    while (columns[last] == 0) --last;
    return {first, last - first + 1};
}

void paintBlock(std::uint8_t* texels, int left, int top) {
    for (int y = top; y < top + FONT_ZOOM; ++y) {
        for (int x = left; x < left + FONT_ZOOM; ++x) {
            std::uint8_t* texel = texels + (static_cast<std::size_t>(y) * FONT_TEXTURE_SIZE + x) * RGBA;
            texel[0] = texel[1] = texel[2] = texel[3] = 255;
        }
    }
}

}  // namespace

void BitmapFont::paint(std::uint8_t* texels) {
    const float size = static_cast<float>(FONT_TEXTURE_SIZE);
    int penX = PEN_START;
    int penY = PEN_START;
    for (int index = 0; index < FONT_GLYPH_COUNT; ++index) {
        const std::uint8_t* columns = &FONT_5X7[static_cast<std::size_t>(index) * FONT_GLYPH_COLUMNS];
        const ColumnSpan span = usedColumns(columns);
        for (int k = 0; k < span.count; ++k) {
            for (int bit = 0; bit < 7; ++bit) {
                if ((columns[span.first + k] >> bit & 1) == 0) continue;
                paintBlock(texels, penX + FONT_ZOOM * k, penY + FONT_ZOOM * bit);
            }
        }
        const int glyphWidth = FONT_ZOOM * span.count;
        Glyph& glyph = glyphs[static_cast<std::size_t>(FONT_FIRST_CODE + index)];
        glyph.texture = face->texture;
        glyph.uLeft = static_cast<float>(penX) / size;
        glyph.vTop = static_cast<float>(penY) / size;
        glyph.uRight = static_cast<float>(penX + glyphWidth) / size;
        glyph.vBottom = static_cast<float>(penY + FONT_GLYPH_HEIGHT) / size;
        glyph.width = static_cast<float>(glyphWidth);
        glyph.height = static_cast<float>(FONT_GLYPH_HEIGHT);

        penX += glyphWidth + GLYPH_GAP;
        if ((index + 1) % GLYPHS_PER_ROW == 0) {
            penX = PEN_START;
            penY += ROW_STEP;
        }
    }
}

std::unique_ptr<BitmapFont> BitmapFont::create() {
    glEnable(GL_TEXTURE_2D);
    std::vector<std::uint8_t> texels;
    std::unique_ptr<BitmapFont> font;
    try {
        texels.resize(static_cast<std::size_t>(FONT_TEXTURE_SIZE) * FONT_TEXTURE_SIZE * RGBA);
        font = std::make_unique<BitmapFont>();
        font->face = std::make_unique<FontFace>();
    } catch (const std::bad_alloc&) {
        return nullptr;  // the game runs on without text
    }
    FontFace& face = *font->face;
    std::snprintf(face.name, sizeof face.name, "%s", "<default>");
    face.textureWidth = FONT_TEXTURE_SIZE;
    face.textureHeight = FONT_TEXTURE_SIZE;
    glGenTextures(1, &face.texture);

    font->paint(texels.data());

    glBindTexture(GL_TEXTURE_2D, face.texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, FONT_TEXTURE_SIZE, FONT_TEXTURE_SIZE, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 texels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return font;
}
