#pragma once

// Level files lie in the working directory as level1.png, level2.png, ...; the
// best score of each is kept in its own file, in a trailer of eight bytes behind
// the PNG data, which the PNG decoder never reads.

#include <cstdint>
#include <optional>
#include <string>

#include "image/byte_vector.h"

inline constexpr std::uint32_t LEVEL_MAGIC = 0x08008135;

// The last eight bytes of a file that carries a best score; both fields are
// stored little-endian.
struct HighScoreTrailer {
    std::uint32_t magic = LEVEL_MAGIC;
    std::int32_t best = 0;
};

inline constexpr long TRAILER_SIZE = 8;

// No level file is this large; the bound also keeps a directory or a device
// given as a level from being read without end.
inline constexpr long MAX_LEVEL_FILE_BYTES = 256L << 20;

// The whole file at `path`, or none when it cannot be opened, is larger than
// MAX_LEVEL_FILE_BYTES or cannot be read.
std::optional<ByteVector> readWholeFile(const std::string& path);

// "level%d.png" for `number`.
std::string levelFileName(std::int32_t number);

// How many of level1.png, level2.png, ... can be opened, counting from 1 up to the first gap.
std::int32_t countLevelFiles();

// The best score stored in the file at `path`, or none when it has no trailer
// or cannot be read.
std::optional<std::int32_t> readStoredBest(const std::string& path);

// Offers `score` to the file's trailer: appended when there is none (whatever the
// score), overwritten only by a higher score. Silent when the file cannot be opened.
void offerScore(const std::string& path, std::int32_t score);
