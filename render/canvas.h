#pragma once

// Where the scene is drawn before it is shown. A software renderer's cost
// grows with the pixels it fills, and a multisampled window costs four for
// each, to clear and to show, even where (as with Mesa's llvmpipe) it smooths
// nothing. So the window has one sample per pixel, and the steps of the
// resolution (see Resolution) draw the scene in three ways: where frames are
// cheap, off screen into a multisampled square of the window's size, smoothed;
// then straight into the window; and where even that is too slow, off screen
// into a smaller square, scaled up smoothly. Text is then drawn over the scaled
// picture at the window's own resolution, so that it stays sharp; at full
// resolution it goes into the square too, smoothed with the rest.
//
// Needs framebuffer objects (OpenGL 3.0, or ARB_framebuffer_object), which
// every driver of the last fifteen years has; without them the game draws
// straight into the window at full resolution.

#include <cstdint>
#include <memory>

#include "render/resolution.h"

// Samples per pixel of a multisampled square: OpenGL rounds up to what it has.
inline constexpr std::int32_t CANVAS_SAMPLES = 4;

struct Canvas {
    std::uint32_t framebuffer = 0, colour = 0, depth = 0;  // the square the scene is drawn into
    std::uint32_t pictureFramebuffer = 0, picture = 0;     // its pixels, a texture, to scale from
    std::int32_t side = 0;                                 // of both squares, in pixels; 0 before the first frame
    bool multisampled = false;
    bool drawing = false;         // this frame's scene goes into the square
    std::int32_t fullSide = 0;    // of the window's square, this frame
    Resolution resolution;        // how large the square is drawn, from how long frames take
    std::uint64_t lastShown = 0;  // SDL's performance counter at the last frame's swap
    float budgetMs = 0;           // of a frame, from the display's refresh

    // Null where the current context has no framebuffer objects.
    static std::unique_ptr<Canvas> create();
    Canvas() = default;
    Canvas(const Canvas&) = delete;  // it owns the context's objects
    Canvas& operator=(const Canvas&) = delete;
    // Deletes the squares: the context that made them must be current.
    ~Canvas();

    // Binds the square for a picture `windowSide` across, its size and
    // sampling chosen afresh, with the viewport on it. False, with the window
    // bound instead, where the scene goes straight into the window this frame,
    // or the square cannot be had.
    bool beginScene(std::int32_t windowSide);
    bool fullResolution() const { return side == fullSide; }

    // When the scene went into the square: clears the window around the
    // picture's place in the centre of its `width` by `height` pixels and
    // scales the square into it. The window stays bound for what is drawn next.
    void show(std::int32_t width, std::int32_t height);

    // Feeds the time since the last frame's swap to the resolution.
    void frameShown();

private:
    void resize(std::int32_t newSide, bool multisample);
    void release();
    void clearAround(std::int32_t left, std::int32_t bottom, std::int32_t width, std::int32_t height) const;
    void drawPicture() const;
};
