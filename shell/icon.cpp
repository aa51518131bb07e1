#include <string_view>

#include "shell/shell.h"

namespace {

constexpr std::string_view ICON_ART[ICON_SIZE] = {
    "................",  //
    "..gggggggggggHH.",  //
    "..gggggggggggHe.",  //
    "..gg............",  //
    "..gg.....BB.....",  //
    "..gg.....BB.....",  //
    "..gg............",  //
    "..ggggggggggggg.",  //
    "..ggggggggggggg.",  //
    "............ggg.",  //
    "............ggg.",  //
    "............ggg.",  //
    "..ttgggggggggg..",  //
    "..ttgggggggggg..",  //
    "................",  //
    "................",  //
};

constexpr std::uint16_t iconPixel(char c) {
    switch (c) {
    case 'g': return 0xF0C0;  // body
    case 't': return 0xF070;  // tail, darker
    case 'H': return 0xF0F0;  // head, brighter
    case 'e': return 0xFF00;  // the eye
    case 'B': return 0xF00F;  // food
    default: return 0x0000;   // transparent
    }
}

constexpr std::array<std::uint16_t, ICON_SIZE * ICON_SIZE> paintIcon() {
    std::array<std::uint16_t, ICON_SIZE * ICON_SIZE> pixels{};
    for (int y = 0; y < ICON_SIZE; ++y) {
        for (int x = 0; x < ICON_SIZE; ++x) pixels[y * ICON_SIZE + x] = iconPixel(ICON_ART[y][x]);
    }
    return pixels;
}

}  // namespace

const std::array<std::uint16_t, ICON_SIZE* ICON_SIZE> WINDOW_ICON = paintIcon();

// The icon is cosmetic: no result is looked at. SDL copies the pixels, so the
// surface only borrows the table and goes at once.
void setWindowIcon(SDL_Window* window) {
    SDL_Surface* surface = SDL_CreateRGBSurfaceFrom(const_cast<std::uint16_t*>(WINDOW_ICON.data()), ICON_SIZE,
                                                    ICON_SIZE, 16, ICON_SIZE * 2, 0x0F00, 0x00F0, 0x000F, 0xF000);
    SDL_SetWindowIcon(window, surface);
    SDL_FreeSurface(surface);
}
