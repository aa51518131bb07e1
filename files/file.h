#pragma once

// Files as the game and the tools read and write them, over the system calls
// of platform_file.h: only regular files are read, up to a cap, links followed,
// and none is opened in a way that could block, so that a FIFO or a device
// named like an input is passed over. Reads take a shared lock, so that they
// never see a game's half-written score.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "files/platform_file.h"
#include "image/byte_vector.h"

// Why a file was not read.
enum class ReadFailure { NONE, CANNOT_OPEN, NOT_A_REGULAR_FILE, TOO_LARGE, CANNOT_READ };

// "cannot be opened", "not a regular file", "too large" or "cannot be read".
const char* describe(ReadFailure failure);

// An open file, closed (and so unlocked) when it goes.
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

    // Takes the lock, waiting a second at most: a game holds it for a few
    // milliseconds, and whatever holds it longer must not hang this program.
    bool lockWithinASecond(bool exclusive) const;

    // Reads the whole of the file into `bytes`, when it still has `size`
    // bytes; false when it cannot be read or has changed its length.
    bool readAll(std::size_t size, ByteVector& bytes) const;

    // Writes all of `bytes` at `offset`, or where the file stands when there
    // is none (a pipe, a device); false when any of them was not written.
    bool writeWhole(const std::uint8_t* bytes, std::size_t size, std::optional<std::uint64_t> offset) const;

private:
    platform::FileHandle handle_ = platform::NO_FILE;
};

// The regular file at `path`, opened for `access`, or no file and why.
OpenedFile openRegular(const std::string& path, platform::Access access, ReadFailure& failure);

// A file read whole and still open, or why it was not read (and `bytes` empty).
struct FileContents {
    ByteVector bytes;
    OpenedFile file;
    ReadFailure failure = ReadFailure::NONE;
};

// Reads the regular file at `path` whole, when it has at most `maxBytes`.
// The bytes go into `storage`, which a program reading file after file hands
// back from the last one, so that its memory need not be mapped in again.
FileContents readRegularFile(const std::string& path, std::size_t maxBytes, ByteVector storage = {});
