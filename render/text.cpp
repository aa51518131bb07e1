#include <GL/gl.h>
#include <SDL.h>

#include <cmath>
#include <cstdio>

#include "render/render.h"

namespace {

constexpr float PEN_GAP = 1;  // units between glyphs, whatever the scale
// "PAUSED" at twice the size is 185 units wide and 42 tall: centred in the window.
constexpr float PAUSED_X = 307;
constexpr float PAUSED_Y = 379;

}  // namespace

void beginText() {
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glEnable(GL_TEXTURE_2D);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glEnable(GL_BLEND);
}

void endText() {
    glDisable(GL_BLEND);
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
}

// One textured quad per character, under whichever projection is loaded: in
// the perspective view the text lies in the eye's plane and is clipped away.
void Game::drawText(float x, float y, float scale, const char* text) {
    if (text == nullptr || *text == '\0' || font == nullptr || !font->face) return;
    glPushMatrix();
    glLoadIdentity();
    glBindTexture(GL_TEXTURE_2D, font->face->texture);
    for (const char* p = text; *p != '\0'; ++p) {
        const auto code = static_cast<unsigned char>(*p);
        const Glyph& glyph = font->glyphs[code];
        if (glyph.texture == 0) continue;  // no glyph: no room either
        const float w = glyph.width * scale;
        const float h = glyph.height * scale;
        if (code != ' ') {
            const float quad[6 * 3] = {x, y, 0, x, y + h, 0, x + w, y + h, 0, x + w, y + h, 0, x + w, y, 0, x, y, 0};
            const float uv[6 * 2] = {glyph.uLeft,  glyph.vTop,    glyph.uLeft,  glyph.vBottom,
                                     glyph.uRight, glyph.vBottom, glyph.uRight, glyph.vBottom,
                                     glyph.uRight, glyph.vTop,    glyph.uLeft,  glyph.vTop};
            glVertexPointer(3, GL_FLOAT, 0, quad);
            glTexCoordPointer(2, GL_FLOAT, 0, uv);
            glDrawArrays(GL_TRIANGLES, 0, 6);
        }
        x = x + w + PEN_GAP;
    }
    glPopMatrix();
}

void Game::drawTitle(std::uint32_t msSinceStart) {
    beginFrame();
    showScene();
    beginText();
    glDisableClientState(GL_NORMAL_ARRAY);

    glColor4f(1, 1, 1, 1);
    drawText(120, 350, 2.0f, TITLE_TEXT);
    // The prompt blinks: shown for the first half of every second since start.
    const auto seconds = static_cast<float>(msSinceStart / 1000.0);
    glColor4f(1, 1, 1, 1);
    if (seconds - std::trunc(seconds) < 0.5f) drawText(280, 420, 0.7f, PROMPT_TEXT);
    glColor4f(1, 0, 0, 1);
    drawText(550, 780, 0.5f, CREDIT_TEXT);

    endText();
    glEnableClientState(GL_NORMAL_ARRAY);
    endFrame();
}

void Game::drawScoreLine() {
    beginText();
    char text[64];
    std::snprintf(text, sizeof text, SCORE_FORMAT, score(), bestScore);
    glColor4f(1, 0, 1, 1);
    drawText(10, 10, 0.5f, text);
    if (paused) {
        glColor4f(1, 1, 1, 1);
        drawText(PAUSED_X, PAUSED_Y, 2.0f, PAUSED_TEXT);
    }
    endText();
}
