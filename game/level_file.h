#pragma once

// Level files lie in the working directory as level1.png, level2.png, ...; the
// best score of each is kept in its own file, in a trailer of eight bytes behind
// the PNG data, which the PNG decoder never reads.
//
// They are read as file.h reads any file; an exclusive lock is held while a
// trailer is written, so that two games dying on one level cannot both append.
// While a level is played its file is held open: that names the one file its
// score may go into, and keeps the file's identity from passing to another.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "files/file.h"
#include "image/byte_vector.h"

inline constexpr std::uint32_t LEVEL_MAGIC = 0x08008135;

// The last eight bytes of a file that carries a best score; both fields are
// stored little-endian.
struct HighScoreTrailer {
    std::uint32_t magic = LEVEL_MAGIC;
    std::int32_t best = 0;
};

inline constexpr std::size_t TRAILER_SIZE = 8;

// The largest level file read. A 1024 x 1024 level at 16 bits a channel,
// stored without compression, takes under 9 MiB.
inline constexpr std::size_t MAX_LEVEL_FILE_BYTES = std::size_t{32} << 20;

// The level file at `path`, or none when readRegularFile refuses it.
std::optional<ByteVector> readWholeFile(const std::string& path);

// "level%d.png" for `number`.
std::string levelFileName(std::int32_t number);

// How many of level1.png, level2.png, ... can be opened, counting from 1 up to the first gap.
std::int32_t countLevelFiles();

// The best score in a level file's bytes, or none when they end in no trailer.
std::optional<std::int32_t> storedBest(const ByteVector& file);

// Offers `score` to the trailer of the file at `path`: appended when there is
// none (whatever the score), overwritten only by a higher score. Only into the
// level that was loaded, held open as `loaded`, while it is still a PNG
// followed by nothing but a trailer, and never past MAX_LEVEL_FILE_BYTES;
// silent when it cannot be written. A write that fails part of the way leaves
// the file as it was.
void offerScore(const std::string& path, std::int32_t score, const OpenedFile& loaded);
