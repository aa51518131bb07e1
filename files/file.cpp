#include "files/file.h"

#include <chrono>
#include <thread>
#include <utility>

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

bool OpenedFile::lockWithinASecond(bool exclusive) const {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const platform::Lock lock = platform::tryLock(handle_, exclusive);
        if (lock != platform::Lock::HELD_ELSEWHERE) return lock == platform::Lock::TAKEN;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

bool OpenedFile::readAll(std::size_t size, ByteVector& bytes) const {
    bytes.resize(size + 1);  // one more, to see a file that has grown
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::int64_t n = platform::readAt(handle_, bytes.data() + done, bytes.size() - done, done);
        if (n < 0) return false;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(size);
    return done == size;
}

bool OpenedFile::writeWhole(const std::uint8_t* bytes, std::size_t size, std::optional<std::uint64_t> offset) const {
    for (std::size_t done = 0; done < size;) {
        const std::optional<std::uint64_t> at = offset ? std::optional(*offset + done) : std::nullopt;
        const std::int64_t n = platform::writeAt(handle_, bytes + done, size - done, at);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
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

OpenedFile openRegular(const std::string& path, platform::Access access, ReadFailure& failure) {
    OpenedFile file(platform::openExisting(path, access));
    if (!file.isOpen()) {
        failure = ReadFailure::CANNOT_OPEN;
        return file;
    }
    if (!platform::regularFileSize(file.handle())) {
        failure = ReadFailure::NOT_A_REGULAR_FILE;
        return OpenedFile();
    }
    return file;
}

FileContents readRegularFile(const std::string& path, std::size_t maxBytes, ByteVector storage) {
    FileContents contents;
    contents.bytes = std::move(storage);
    contents.bytes.clear();  // empty whatever stops the read, but still holding its memory
    OpenedFile file = openRegular(path, platform::Access::READ, contents.failure);
    if (!file.isOpen()) return contents;
    // A size that can no longer be had reads as 0, which readAll then refuses.
    const std::uint64_t size = platform::regularFileSize(file.handle()).value_or(0);
    if (size > maxBytes) {
        contents.failure = ReadFailure::TOO_LARGE;
        return contents;
    }
    // So that a score is never read half written; a lock held for longer than
    // a write takes is not a game's, and is not waited for.
    file.lockWithinASecond(false);
    const bool read = file.readAll(static_cast<std::size_t>(size), contents.bytes);
    platform::unlock(file.handle());
    if (!read) {
        contents.failure = ReadFailure::CANNOT_READ;
        contents.bytes.clear();
        return contents;
    }
    contents.file = std::move(file);
    return contents;
}
