#pragma once

// Level files lie in the working directory as level1.png, level2.png, ...; the
// best score of each is kept in its own file, in a trailer of eight bytes behind
// the PNG data, which the PNG decoder never reads.
//
// Only regular files are read, links followed, and none is opened in a way
// that could block: a FIFO or a device named like a level is passed over. A
// shared lock is held while a file is read and an exclusive one while its
// trailer is written, so that two games dying on one level cannot both append.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "game/platform_file.h"
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

// An open file, closed (and so unlocked) when it goes. While a level is
// played its file is held open: that names the one file its score may go
// into, and keeps the file's identity from passing to another file.
class OpenedFile {
public:
    OpenedFile() = default;
    explicit OpenedFile(platform::FileHandle handle) : handle_(handle) {}
    OpenedFile(OpenedFile&& other) noexcept;
    OpenedFile& operator=(OpenedFile&& other) noexcept;
    ~OpenedFile();

    platform::FileHandle handle() const { return handle_; }
    bool isOpen() const { return handle_ != platform::NO_FILE; }

    // Whether `other` is open on the same file as this.
    bool sameFileAs(const OpenedFile& other) const;

private:
    platform::FileHandle handle_ = platform::NO_FILE;
};

// Why a file was not read.
enum class ReadFailure { NONE, CANNOT_OPEN, NOT_A_REGULAR_FILE, TOO_LARGE, CANNOT_READ };

// "cannot be opened", "not a regular file", "too large" or "cannot be read".
const char* describe(ReadFailure failure);

// A file read whole and still open, or why it was not read (and `bytes` empty).
struct FileContents {
    ByteVector bytes;
    OpenedFile file;
    ReadFailure failure = ReadFailure::NONE;
};

// Reads the regular file at `path` whole, when it has at most `maxBytes`.
FileContents readRegularFile(const std::string& path, std::size_t maxBytes);

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
