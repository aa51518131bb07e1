#include <gtest/gtest.h>

#include <array>

#include "shell/shell.h"

namespace {

std::array<int, 4> rgba(SDL_Surface* surface, std::uint16_t pixel) {
    Uint8 r, g, b, a;
    SDL_GetRGBA(pixel, surface->format, &r, &g, &b, &a);
    return {r, g, b, a};
}

// The pixels are ARGB 4-4-4-4: alpha in the top four bits, blue in the lowest.
TEST(WindowIcon, ReadsAsArgb4444OnATransparentGround) {
    SDL_Surface* surface = wrapWindowIcon();
    ASSERT_NE(surface, nullptr) << SDL_GetError();
    EXPECT_EQ(surface->w, ICON_SIZE);
    EXPECT_EQ(surface->pitch, 32);
    EXPECT_EQ(rgba(surface, 0x0FFF), (std::array<int, 4>{255, 255, 255, 0}));
    EXPECT_EQ(rgba(surface, 0xF000), (std::array<int, 4>{0, 0, 0, 255}));
    EXPECT_EQ(rgba(surface, 0xF00F), (std::array<int, 4>{0, 0, 255, 255}));
    for (const int corner : {0, ICON_SIZE - 1, ICON_SIZE * ICON_SIZE - 1}) {
        EXPECT_EQ(rgba(surface, WINDOW_ICON[corner])[3], 0) << corner;
    }
    SDL_FreeSurface(surface);
}

}  // namespace
