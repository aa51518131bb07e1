#include "game/level.h"
#include "game/level_file.h"
#include "image/png_decoder.h"

namespace {

bool tooLarge(const PngImageInfo& info) { return info.width > MAX_LEVEL_SIDE || info.height > MAX_LEVEL_SIDE; }

// Whether the header announces a larger grid than is played. Malformed headers
// pass here; the decode reports them with their own code.
bool headerTooLarge(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t HEADER_END = 29;  // signature, IHDR length, type and fields
    if (data == nullptr || size < HEADER_END) return false;
    PngImageInfo header;
    PngDecoder::readHeader(data, header);
    return header.error == 0 && tooLarge(header);
}

}  // namespace

bool Level::load(const std::string& path) {
    clear();
    const std::optional<ByteVector> file = readWholeFile(path);
    return file && build(file->data(), file->size()) == 0;
}

unsigned Level::build(const std::uint8_t* data, std::size_t size) {
    clear();
    if (headerTooLarge(data, size)) return LEVEL_TOO_LARGE;
    ByteVector pixels;
    PngImageInfo info;
    PngDecoder::decode(pixels, data, size, info);
    if (info.error != 0) return info.error;  // width, height and pixels mean nothing then
    if (tooLarge(info)) return LEVEL_TOO_LARGE;

    width = static_cast<std::int32_t>(info.width);
    height = static_cast<std::int32_t>(info.height);
    cells.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    std::size_t i = 0;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x, ++i) {
            const std::uint8_t* p = &pixels[4 * i];
            cells[i] = Cell{p[0], p[1], p[2], p[3], (p[3] & 1) == 0, x, y, false, 0};
        }
    }
    return 0;
}
