#include <GL/gl.h>
#include <GL/glu.h>
#include <SDL.h>

#include <algorithm>

#include "render/canvas.h"
#include "render/render.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// A software renderer (Mesa's llvmpipe, on every machine without a GPU)
// allocates a few megabytes for each frame's triangles and frees them at its
// end. Left to itself, glibc hands the freed top of the heap back to the
// system every frame and faults it back in page by page in the next, a few
// hundred faults a frame: keep up to this much of it for the next frame.
void keepFreedMemoryForTheNextFrame() {
#ifdef __GLIBC__
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

}  // namespace

bool Game::init(SDL_Window* newWindow, void* newGlContext) {
    releaseRenderer();
    if (!initRenderer(newWindow, newGlContext)) return false;  // which then holds nothing
    startGame();
    return true;
}

bool Game::initRenderer(SDL_Window* newWindow, void* newGlContext) {
    releaseRenderer();
    if (newWindow == nullptr || newGlContext == nullptr) {
        releaseRenderer();
        return false;
    }
    keepFreedMemoryForTheNextFrame();
    window = newWindow;
    glContext = newGlContext;
    SDL_GL_GetDrawableSize(window, &width, &height);  // 800 by 800, unless the screen is small or dense
    font = BitmapFont::create().release();            // without a font the game runs on, wordless
    canvas = Canvas::create().release();
    batch.positions.resize(3 * BATCH_VERTICES);
    batch.normals.resize(3 * BATCH_VERTICES);
    batch.colours.resize(4 * BATCH_VERTICES);

    setProjection(false);
    glHint(GL_POLYGON_SMOOTH_HINT, GL_NICEST);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glEnable(GL_DEPTH_TEST);
    glDisable(GL_CULL_FACE);
    glDisable(GL_TEXTURE_2D);  // the font left it on
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glAlphaFunc(GL_GREATER, 0.9f);
    return true;
}

void Game::setProjection(bool perspectiveView) {
    perspective = perspectiveView;
    // Both views draw the same square picture; each frame chooses where (see beginFrame).
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    if (perspective) {
        gluPerspective(30.0, 1.0, 0.1f, 100.0);
        glMatrixMode(GL_MODELVIEW);
        glFrontFace(GL_CCW);
        glEnable(GL_NORMALIZE);
        glLoadIdentity();
        glEnable(GL_LIGHTING);
        return;
    }
    // One unit of the flat view is one pixel of the unscaled picture, y downward.
    glOrtho(0, WINDOW_SIZE, WINDOW_SIZE, 0, -100.1f, 100.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glDisable(GL_LIGHTING);
}

void Game::fitWindow() {
    SDL_GL_GetDrawableSize(window, &width, &height);
    setProjection(perspective);
}

void Game::releaseRenderer() {
    if (font != nullptr) {
        if (font->face) {
            glDeleteTextures(1, &font->face->texture);  // while its context is still current
            font->face->texture = 0;
            font->face.reset();
        }
        delete font;
    }
    delete canvas;  // while its context is still current
    if (glContext != nullptr) SDL_GL_DeleteContext(glContext);
    if (window != nullptr) SDL_DestroyWindow(window);
    window = nullptr;
    glContext = nullptr;
    width = 0;
    height = 0;
    font = nullptr;
    canvas = nullptr;
}
