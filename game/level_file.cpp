#include "game/level_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "image/png_decoder.h"

namespace {

// Opens `path` without blocking, as a FIFO would make a plain open wait for a
// writer. Only a regular file is kept, and `status` describes it then.
OpenFile openRegular(const std::string& path, int access, struct stat& status, ReadFailure& failure) {
    OpenFile file(::open(path.c_str(), access | O_NONBLOCK | O_CLOEXEC));
    if (file.descriptor() < 0) {
        failure = ReadFailure::CANNOT_OPEN;
        return file;
    }
    if (::fstat(file.descriptor(), &status) != 0 || !S_ISREG(status.st_mode)) {
        failure = ReadFailure::NOT_A_REGULAR_FILE;
        return OpenFile();
    }
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
std::optional<ByteVector> readAll(int fd, std::size_t size) {
    ByteVector bytes(size + 1);  // one more, to see a file that has grown
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done != size) return std::nullopt;
    bytes.resize(size);
    return bytes;
}

// Takes the advisory lock `operation` (LOCK_SH or LOCK_EX), waiting a second
// at most: another game holds it for a few milliseconds, and whatever holds it
// longer must not hang this one.
bool lockWithinASecond(int fd, int operation) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::flock(fd, operation | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK) return false;
        ::usleep(10000);
    }
    return false;
}

// Writes all of `bytes` at `offset`; false when any of them was not written.
bool writeAt(int fd, const std::uint8_t* bytes, std::size_t size, std::size_t offset) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

OpenFile::OpenFile(OpenFile&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

OpenFile& OpenFile::operator=(OpenFile&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) ::close(descriptor_);
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

OpenFile::~OpenFile() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

bool OpenFile::sameFileAs(const OpenFile& other) const {
    struct stat mine {
    }, theirs{};
    return ::fstat(descriptor_, &mine) == 0 && ::fstat(other.descriptor_, &theirs) == 0 &&
           mine.st_dev == theirs.st_dev && mine.st_ino == theirs.st_ino;
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
    struct stat status {};
    OpenFile file = openRegular(path, O_RDONLY, status, contents.failure);
    if (file.descriptor() < 0) return contents;
    if (static_cast<std::uint64_t>(status.st_size) > maxBytes) {
        contents.failure = ReadFailure::TOO_LARGE;
        return contents;
    }
    // So that a trailer is never read half written; a lock held for longer
    // than a write takes is not another game's, and is not waited for.
    lockWithinASecond(file.descriptor(), LOCK_SH);
    std::optional<ByteVector> bytes = readAll(file.descriptor(), static_cast<std::size_t>(status.st_size));
    ::flock(file.descriptor(), LOCK_UN);
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
    while (OpenFile(::open(levelFileName(count + 1).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)).descriptor() >= 0)
        ++count;
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

void offerScore(const std::string& path, std::int32_t score, const OpenFile& loaded) {
    struct stat status {};
    ReadFailure failure = ReadFailure::NONE;
    const OpenFile file = openRegular(path, O_RDWR, status, failure);
    if (file.descriptor() < 0 || !file.sameFileAs(loaded) || !lockWithinASecond(file.descriptor(), LOCK_EX)) return;
    // Looked at again under the lock: another game may have written meanwhile.
    if (::fstat(file.descriptor(), &status) != 0 || static_cast<std::uint64_t>(status.st_size) > MAX_LEVEL_FILE_BYTES)
        return;
    const auto size = static_cast<std::size_t>(status.st_size);
    const std::optional<ByteVector> bytes = readAll(file.descriptor(), size);
    if (!bytes) return;
    const std::size_t pngEnd = PngDecoder::fileEnd(bytes->data(), size);
    if (pngEnd == 0) return;  // no longer a PNG: not a level of ours to write into
    const std::optional<std::int32_t> best = storedBest(*bytes);

    if (best && size - pngEnd == TRAILER_SIZE) {
        if (score <= *best) return;
        std::uint8_t field[4];
        putLittleEndian(field, static_cast<std::uint32_t>(score));
        if (!writeAt(file.descriptor(), field, sizeof field, size - 4))
            writeAt(file.descriptor(), bytes->data() + size - 4, 4, size - 4);  // the old best back, if it can
        return;
    }
    if (size != pngEnd) return;  // something of another program's behind the image: left alone
    std::uint8_t trailer[TRAILER_SIZE];
    putLittleEndian(trailer, LEVEL_MAGIC);
    putLittleEndian(trailer + 4, static_cast<std::uint32_t>(score));
    // On a full disk an append may stop part of the way: the stub goes again.
    if (!writeAt(file.descriptor(), trailer, sizeof trailer, size))
        static_cast<void>(::ftruncate(file.descriptor(), status.st_size));
}
