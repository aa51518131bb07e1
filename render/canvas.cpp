#include "render/canvas.h"

#include <GL/gl.h>
#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

// OpenGL 3.0's framebuffer objects, which Windows' gl.h, stopping at 1.1, lacks.
#ifndef GL_FRAMEBUFFER
#define GL_READ_FRAMEBUFFER 0x8CA8
#define GL_DRAW_FRAMEBUFFER 0x8CA9
#define GL_FRAMEBUFFER 0x8D40
#define GL_RENDERBUFFER 0x8D41
#define GL_COLOR_ATTACHMENT0 0x8CE0
#define GL_DEPTH_ATTACHMENT 0x8D00
#define GL_FRAMEBUFFER_COMPLETE 0x8CD5
#define GL_MAX_SAMPLES 0x8D57
#endif
#ifndef GL_CLAMP_TO_EDGE  // OpenGL 1.2's
#define GL_CLAMP_TO_EDGE 0x812F
#endif
#ifndef GL_DEPTH_COMPONENT24  // OpenGL 1.4's
#define GL_DEPTH_COMPONENT24 0x81A6
#endif
#ifndef APIENTRY
#define APIENTRY
#endif

namespace {

// The calls, found through SDL, as the driver of the current context has them.
struct FramebufferCalls {
    void(APIENTRY* genFramebuffers)(GLsizei, GLuint*);
    void(APIENTRY* deleteFramebuffers)(GLsizei, const GLuint*);
    void(APIENTRY* bindFramebuffer)(GLenum, GLuint);
    void(APIENTRY* genRenderbuffers)(GLsizei, GLuint*);
    void(APIENTRY* deleteRenderbuffers)(GLsizei, const GLuint*);
    void(APIENTRY* bindRenderbuffer)(GLenum, GLuint);
    void(APIENTRY* renderbufferStorageMultisample)(GLenum, GLsizei, GLenum, GLsizei, GLsizei);
    void(APIENTRY* framebufferRenderbuffer)(GLenum, GLenum, GLenum, GLuint);
    void(APIENTRY* framebufferTexture2D)(GLenum, GLenum, GLenum, GLuint, GLint);
    GLenum(APIENTRY* checkFramebufferStatus)(GLenum);
    void(APIENTRY* blitFramebuffer)(GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLint, GLbitfield, GLenum);
} gl;

template <typename Call>
bool find(Call& call, const char* name) {
    void* address = SDL_GL_GetProcAddress(name);
    std::memcpy(&call, &address, sizeof call);  // a function's address, as SDL hands it over
    return address != nullptr;
}

bool findFramebufferCalls() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if ((version == nullptr || std::atoi(version) < 3) && !SDL_GL_ExtensionSupported("GL_ARB_framebuffer_object"))
        return false;
    return find(gl.genFramebuffers, "glGenFramebuffers") & find(gl.deleteFramebuffers, "glDeleteFramebuffers") &
           find(gl.bindFramebuffer, "glBindFramebuffer") & find(gl.genRenderbuffers, "glGenRenderbuffers") &
           find(gl.deleteRenderbuffers, "glDeleteRenderbuffers") & find(gl.bindRenderbuffer, "glBindRenderbuffer") &
           find(gl.renderbufferStorageMultisample, "glRenderbufferStorageMultisample") &
           find(gl.framebufferRenderbuffer, "glFramebufferRenderbuffer") &
           find(gl.framebufferTexture2D, "glFramebufferTexture2D") &
           find(gl.checkFramebufferStatus, "glCheckFramebufferStatus") & find(gl.blitFramebuffer, "glBlitFramebuffer");
}

// A frame may take this long, or longer where the display's refresh holds each
// frame for longer: the snake steps every 50 ms, and frames that take at most
// this stay well inside a step.
constexpr float FRAME_BUDGET_MS = 20.0f;

float frameBudget() {
    SDL_DisplayMode mode;
    const int display = std::max(SDL_GetWindowDisplayIndex(SDL_GL_GetCurrentWindow()), 0);
    const int hz = SDL_GetCurrentDisplayMode(display, &mode) == 0 ? mode.refresh_rate : 0;
    return hz > 0 ? std::max(FRAME_BUDGET_MS, 1250.0f / static_cast<float>(hz)) : FRAME_BUDGET_MS;
}

}  // namespace

std::unique_ptr<Canvas> Canvas::create() {
    if (!findFramebufferCalls()) return nullptr;
    auto canvas = std::make_unique<Canvas>();
    gl.genFramebuffers(1, &canvas->framebuffer);
    gl.genFramebuffers(1, &canvas->pictureFramebuffer);
    canvas->budgetMs = frameBudget();
    return canvas;
}

Canvas::~Canvas() {
    release();
    gl.deleteFramebuffers(1, &framebuffer);
    gl.deleteFramebuffers(1, &pictureFramebuffer);
}

void Canvas::release() {
    gl.deleteRenderbuffers(1, &colour);
    gl.deleteRenderbuffers(1, &depth);
    glDeleteTextures(1, &picture);
    colour = depth = picture = 0;
    side = 0;
}

bool Canvas::beginScene(std::int32_t windowSide) {
    if (windowSide != fullSide && fullSide != 0) resolution.resized();
    fullSide = windowSide;
    const std::int32_t wanted = resolution.side(windowSide);
    const bool multisample = resolution.multisampled();
    // Full resolution with one sample a pixel is cheapest drawn in the window itself.
    const bool offScreen = wanted > 0 && (multisample || wanted < windowSide);
    if (offScreen && (wanted != side || multisample != multisampled)) resize(wanted, multisample);
    drawing = offScreen && wanted == side;
    gl.bindFramebuffer(GL_FRAMEBUFFER, drawing ? framebuffer : 0);
    if (drawing) glViewport(0, 0, side, side);
    return drawing;
}

// Multisampled, the scene has renderbuffers of its own, averaged into the
// picture at the end; otherwise it is drawn into the picture directly.
void Canvas::resize(std::int32_t newSide, bool multisample) {
    release();
    GLint most = 0;
    glGetIntegerv(GL_MAX_SAMPLES, &most);
    const GLsizei samples = multisample ? std::min(CANVAS_SAMPLES, most) : 0;
    const auto renderbuffer = [&](GLenum attachment, GLenum format) {
        GLuint buffer = 0;
        gl.genRenderbuffers(1, &buffer);
        gl.bindRenderbuffer(GL_RENDERBUFFER, buffer);
        gl.renderbufferStorageMultisample(GL_RENDERBUFFER, samples, format, newSide, newSide);
        gl.framebufferRenderbuffer(GL_FRAMEBUFFER, attachment, GL_RENDERBUFFER, buffer);
        gl.bindRenderbuffer(GL_RENDERBUFFER, 0);
        return buffer;
    };
    glGenTextures(1, &picture);
    glBindTexture(GL_TEXTURE_2D, picture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);  // no blend with the far edge
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, newSide, newSide, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    gl.bindFramebuffer(GL_FRAMEBUFFER, pictureFramebuffer);
    gl.framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, picture, 0);
    bool complete = gl.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    gl.bindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    if (multisample)
        colour = renderbuffer(GL_COLOR_ATTACHMENT0, GL_RGBA8);
    else
        gl.framebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, picture, 0);
    depth = renderbuffer(GL_DEPTH_ATTACHMENT, GL_DEPTH_COMPONENT24);
    complete = complete && gl.checkFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    if (!complete) return release();  // out of memory, most likely: the window is drawn into instead
    side = newSide;
    multisampled = multisample;
}

void Canvas::show(std::int32_t width, std::int32_t height) {
    if (!drawing) return;
    drawing = false;
    if (multisampled) {
        gl.bindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer);
        gl.bindFramebuffer(GL_DRAW_FRAMEBUFFER, pictureFramebuffer);
        gl.blitFramebuffer(0, 0, side, side, 0, 0, side, side, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    }
    gl.bindFramebuffer(GL_FRAMEBUFFER, 0);
    const GLint left = (width - fullSide) / 2, bottom = (height - fullSide) / 2;
    clearAround(left, bottom, width, height);
    glViewport(left, bottom, fullSide, fullSide);
    drawPicture();
}

// Only the bands beside the square: the picture covers all of it.
void Canvas::clearAround(std::int32_t left, std::int32_t bottom, std::int32_t width, std::int32_t height) const {
    const GLint right = left + fullSide, top = bottom + fullSide;
    const GLint bands[4][4] = {{0, 0, left, height},
                               {right, 0, width - right, height},
                               {left, 0, fullSide, bottom},
                               {left, top, fullSide, height - top}};
    glEnable(GL_SCISSOR_TEST);
    for (const auto& band : bands) {
        if (band[2] <= 0 || band[3] <= 0) continue;
        glScissor(band[0], band[1], band[2], band[3]);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    glDisable(GL_SCISSOR_TEST);
}

// A textured square over the viewport: a software renderer draws it on all
// its threads, where a scaling blit takes it about as long on one. At full
// resolution each pixel takes its own texel.
void Canvas::drawPicture() const {
    glPushAttrib(GL_ENABLE_BIT | GL_CURRENT_BIT | GL_TEXTURE_BIT);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_LIGHTING);
    glDisable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, picture);
    const GLint filter = fullResolution() ? GL_NEAREST : GL_LINEAR;
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glColor4f(1, 1, 1, 1);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glBegin(GL_TRIANGLE_STRIP);
    for (const auto& [x, y] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
        glTexCoord2i(x, y);
        glVertex2i(2 * x - 1, 2 * y - 1);
    }
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopAttrib();
}

void Canvas::frameShown() {
    const std::uint64_t now = SDL_GetPerformanceCounter();
    if (lastShown != 0)
        resolution.record(
            static_cast<float>(now - lastShown) * 1000.0f / static_cast<float>(SDL_GetPerformanceFrequency()),
            budgetMs);
    lastShown = now;
}
