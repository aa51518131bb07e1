#include "game/level_file.h"

#include <utility>

#include "image/png_decoder.h"

namespace {

void putLittleEndian(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t getLittleEndian(const std::uint8_t* in) {
    return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24;
}

}  // namespace

std::string levelFileName(std::int32_t number) { return "level" + std::to_string(number) + ".png"; }

std::optional<ByteVector> readWholeFile(const std::string& path) {
    FileContents contents = readRegularFile(path, MAX_LEVEL_FILE_BYTES);
    if (contents.failure != ReadFailure::NONE) return std::nullopt;
    return std::move(contents.bytes);
}

std::int32_t countLevelFiles() {
    std::int32_t count = 0;
    while (OpenedFile(platform::openExisting(levelFileName(count + 1), platform::Access::READ)).isOpen()) ++count;
    return count;
}

std::optional<std::int32_t> storedBest(const ByteVector& file) {
    // A file shorter than a trailer has none: its start must not be taken for one.
    if (file.size() < TRAILER_SIZE) return std::nullopt;
    const std::uint8_t* bytes = file.data() + file.size() - TRAILER_SIZE;
    const HighScoreTrailer trailer{getLittleEndian(bytes), static_cast<std::int32_t>(getLittleEndian(bytes + 4))};
    if (trailer.magic != LEVEL_MAGIC) return std::nullopt;
    return trailer.best;
}

void offerScore(const std::string& path, std::int32_t score, const OpenedFile& loaded) {
    ReadFailure failure = ReadFailure::NONE;
    const OpenedFile file = openRegular(path, platform::Access::READ_WRITE, failure);
    if (!file.isOpen() || !file.sameFileAs(loaded) || !file.lockWithinASecond(true)) return;
    // Looked at again under the lock: another game may have written meanwhile.
    const std::optional<std::uint64_t> lockedSize = platform::regularFileSize(file.handle());
    if (!lockedSize || *lockedSize > MAX_LEVEL_FILE_BYTES) return;
    const auto size = static_cast<std::size_t>(*lockedSize);
    ByteVector bytes;
    if (!file.readAll(size, bytes)) return;
    const std::size_t pngEnd = PngDecoder::fileEnd(bytes.data(), size);
    if (pngEnd == 0) return;  // no longer a PNG: not a level of ours to write into
    const std::optional<std::int32_t> best = storedBest(bytes);

    if (best && size - pngEnd == TRAILER_SIZE) {
        if (score <= *best) return;
        std::uint8_t field[4];
        putLittleEndian(field, static_cast<std::uint32_t>(score));
        if (!file.writeWhole(field, sizeof field, size - 4))
            file.writeWhole(bytes.data() + size - 4, 4, size - 4);  // the old best back, if it can
        return;
    }
    if (size != pngEnd) return;  // something of another program's behind the image: left alone
    // A trailer that took the file past the largest one read would make the
    // level unplayable for good: the score is given up instead.
    if (size + TRAILER_SIZE > MAX_LEVEL_FILE_BYTES) return;
    std::uint8_t trailer[TRAILER_SIZE];
    putLittleEndian(trailer, LEVEL_MAGIC);
    putLittleEndian(trailer + 4, static_cast<std::uint32_t>(score));
    // On a full disk an append may stop part of the way: the stub goes again.
    if (!file.writeWhole(trailer, sizeof trailer, size)) platform::resize(file.handle(), size);
}
