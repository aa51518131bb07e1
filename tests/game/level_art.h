#pragma once

// Test levels drawn as rows of characters, written as real PNG files so that
// they go through the game's own loading:
//   '.' open floor   '#' wall (alpha 254)   ' ' wall that is not drawn (alpha 0)
//   'o' open floor of alpha 1   'f' open floor with food on it (food is set after loading)

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "game/level.h"
#include "tests/image/libpng_oracle.h"

using Art = std::vector<std::string>;

inline ByteVector levelFile(const Art& art) {
    Image image{static_cast<std::uint32_t>(art[0].size()),
                static_cast<std::uint32_t>(art.size()),
                PNG_COLOR_TYPE_RGBA,
                8,
                PNG_INTERLACE_NONE,
                PNG_FILTER_NONE,
                {},
                {},
                {},
                {}};
    for (const std::string& row : art) {
        for (const char c : row) {
            const std::uint8_t alpha = c == '#' ? 254 : c == ' ' ? 0 : c == 'o' ? 1 : 255;
            image.rows.insert(image.rows.end(), {40, 160, 60, alpha});
        }
    }
    return encodeWithLibpng(image);
}

inline Level levelFromArt(const Art& art) {
    const ByteVector file = levelFile(art);
    Level level;
    EXPECT_EQ(level.build(file.data(), file.size()), 0u);
    for (Cell& cell : level.cells) cell.food = art[cell.y][cell.x] == 'f';
    return level;
}

inline void writeFile(const std::string& path, const ByteVector& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

inline ByteVector fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVector(std::istreambuf_iterator<char>(in), {});
}

// Runs a test inside a fresh temporary folder, since level files are found in
// the working directory.
class InTempFolder : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        char pattern[] = "/tmp/kestrivane-test-XXXXXX";
        folder_ = mkdtemp(pattern);
        std::filesystem::current_path(folder_);
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }

private:
    std::filesystem::path previous_;
    std::filesystem::path folder_;
};
