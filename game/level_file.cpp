#include "game/level_file.h"

#include <chrono>
#include <thread>
#include <utility>

#include "image/png_decoder.h"

namespace {

// Opens `path` without blocking. Only a regular file is kept, and `size` is
// its length then.
OpenedFile openRegular(const std::string& path, platform::Access access, std::uint64_t& size, ReadFailure& failure) {
    OpenedFile file(platform::openExisting(path, access));
    if (!file.isOpen()) {
        failure = ReadFailure::CANNOT_OPEN;
        return file;
    }
    const std::optional<std::uint64_t> regularSize = platform::regularFileSize(file.handle());
    if (!regularSize) {
        failure = ReadFailure::NOT_A_REGULAR_FILE;
        return OpenedFile();
    }
    size = *regularSize;
    return file;
}

void putLittleEndian(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t getLittleEndian(const std::uint8_t* in) {
    return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 | std::uint32_t{in[3]} << 24;
}

// The whole of an open file of `size` bytes, or none when it cannot be read or
// has changed its length.
std::optional<ByteVector> readAll(const OpenedFile& file, std::size_t size) {
    ByteVector bytes(size + 1);  // one more, to see a file that has grown
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::int64_t n = platform::readAt(file.handle(), bytes.data() + done, bytes.size() - done, done);
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done != size) return std::nullopt;
    bytes.resize(size);
    return bytes;
}

// Takes the lock, waiting a second at most: another game holds it for a few
// milliseconds, and whatever holds it longer must not hang this one.
bool lockWithinASecond(const OpenedFile& file, bool exclusive) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const platform::Lock lock = platform::tryLock(file.handle(), exclusive);
        if (lock != platform::Lock::HELD_ELSEWHERE) return lock == platform::Lock::TAKEN;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Writes all of `bytes` at `offset`; false when any of them was not written.
bool writeAt(const OpenedFile& file, const std::uint8_t* bytes, std::size_t size, std::size_t offset) {
    for (std::size_t done = 0; done < size;) {
        const std::int64_t n = platform::writeAt(file.handle(), bytes + done, size - done, offset + done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

OpenedFile::OpenedFile(OpenedFile&& other) noexcept : handle_(std::exchange(other.handle_, platform::NO_FILE)) {}

OpenedFile& OpenedFile::operator=(OpenedFile&& other) noexcept {
    if (this != &other) {
        if (isOpen()) platform::closeFile(handle_);
        handle_ = std::exchange(other.handle_, platform::NO_FILE);
    }
    return *this;
}

OpenedFile::~OpenedFile() {
    if (isOpen()) platform::closeFile(handle_);
}

bool OpenedFile::sameFileAs(const OpenedFile& other) const {
    return isOpen() && other.isOpen() && platform::sameFile(handle_, other.handle_);
}

const char* describe(ReadFailure failure) {
    switch (failure) {
    case ReadFailure::NONE: return "read";
    case ReadFailure::CANNOT_OPEN: return "cannot be opened";
    case ReadFailure::NOT_A_REGULAR_FILE: return "not a regular file";
    case ReadFailure::TOO_LARGE: return "too large";
    default: return "cannot be read";
    }
}

std::string levelFileName(std::int32_t number) { return "level" + std::to_string(number) + ".png"; }

FileContents readRegularFile(const std::string& path, std::size_t maxBytes) {
    FileContents contents;
    std::uint64_t size = 0;
    OpenedFile file = openRegular(path, platform::Access::READ, size, contents.failure);
    if (!file.isOpen()) return contents;
    if (size > maxBytes) {
        contents.failure = ReadFailure::TOO_LARGE;
        return contents;
    }
    // So that a trailer is never read half written; a lock held for longer
    // than a write takes is not another game's, and is not waited for.
    lockWithinASecond(file, false);
    std::optional<ByteVector> bytes = readAll(file, static_cast<std::size_t>(size));
    platform::unlock(file.handle());
    if (!bytes) {
        contents.failure = ReadFailure::CANNOT_READ;
        return contents;
    }
    contents.bytes = std::move(*bytes);
    contents.file = std::move(file);
    return contents;
}

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
    std::uint64_t openedSize = 0;
    ReadFailure failure = ReadFailure::NONE;
    const OpenedFile file = openRegular(path, platform::Access::READ_WRITE, openedSize, failure);
    if (!file.isOpen() || !file.sameFileAs(loaded) || !lockWithinASecond(file, true)) return;
    // Looked at again under the lock: another game may have written meanwhile.
    const std::optional<std::uint64_t> lockedSize = platform::regularFileSize(file.handle());
    if (!lockedSize || *lockedSize > MAX_LEVEL_FILE_BYTES) return;
    const auto size = static_cast<std::size_t>(*lockedSize);
    const std::optional<ByteVector> bytes = readAll(file, size);
    if (!bytes) return;
    const std::size_t pngEnd = PngDecoder::fileEnd(bytes->data(), size);
    if (pngEnd == 0) return;  // no longer a PNG: not a level of ours to write into
    const std::optional<std::int32_t> best = storedBest(*bytes);

    if (best && size - pngEnd == TRAILER_SIZE) {
        if (score <= *best) return;
        std::uint8_t field[4];
        putLittleEndian(field, static_cast<std::uint32_t>(score));
        if (!writeAt(file, field, sizeof field, size - 4))
            writeAt(file, bytes->data() + size - 4, 4, size - 4);  // the old best back, if it can
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
    if (!writeAt(file, trailer, sizeof trailer, size)) platform::resize(file.handle(), size);
}
