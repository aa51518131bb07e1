#include "game/level_file.h"

#include <cstdio>
#include <memory>

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void putLittleEndian(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t getLittleEndian(const std::uint8_t* in) {
    return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24;
}

// The trailer at the end of an open file, or none. A file shorter than a
// trailer has none: its start must not be taken for one.
std::optional<HighScoreTrailer> readTrailer(std::FILE* file) {
    std::uint8_t bytes[TRAILER_SIZE];
    if (std::fseek(file, -TRAILER_SIZE, SEEK_END) != 0 || std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes)
        return std::nullopt;
    const HighScoreTrailer trailer{getLittleEndian(bytes), static_cast<std::int32_t>(getLittleEndian(bytes + 4))};
    if (trailer.magic != LEVEL_MAGIC) return std::nullopt;
    return trailer;
}

}  // namespace

std::string levelFileName(std::int32_t number) { return "level" + std::to_string(number) + ".png"; }

std::optional<ByteVector> readWholeFile(const std::string& path) {
    const File file(std::fopen(path.c_str(), "rb"));
    if (!file || std::fseek(file.get(), 0, SEEK_END) != 0) return std::nullopt;
    const long length = std::ftell(file.get());
    if (length < 0 || length > MAX_LEVEL_FILE_BYTES || std::fseek(file.get(), 0, SEEK_SET) != 0) return std::nullopt;
    ByteVector data(static_cast<std::size_t>(length));
    if (std::fread(data.data(), 1, data.size(), file.get()) != data.size()) return std::nullopt;
    return data;
}

std::int32_t countLevelFiles() {
    std::int32_t count = 0;
    while (File(std::fopen(levelFileName(count + 1).c_str(), "rb"))) ++count;
    return count;
}

std::optional<std::int32_t> readStoredBest(const std::string& path) {
    const File file(std::fopen(path.c_str(), "rb"));
    if (!file) return std::nullopt;
    const std::optional<HighScoreTrailer> trailer = readTrailer(file.get());
    if (!trailer) return std::nullopt;
    return trailer->best;
}

void offerScore(const std::string& path, std::int32_t score) {
    const File file(std::fopen(path.c_str(), "r+b"));
    if (!file) return;
    // A file open for update needs a seek between reading and writing.
    if (const std::optional<HighScoreTrailer> trailer = readTrailer(file.get())) {
        if (score <= trailer->best) return;
        std::uint8_t bytes[4];
        putLittleEndian(bytes, static_cast<std::uint32_t>(score));
        if (std::fseek(file.get(), -4, SEEK_END) == 0) std::fwrite(bytes, 1, sizeof bytes, file.get());
        return;
    }
    std::uint8_t bytes[TRAILER_SIZE];
    putLittleEndian(bytes, LEVEL_MAGIC);
    putLittleEndian(bytes + 4, static_cast<std::uint32_t>(score));
    if (std::fseek(file.get(), 0, SEEK_END) == 0) std::fwrite(bytes, 1, sizeof bytes, file.get());
}
