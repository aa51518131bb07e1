#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "files/platform_file.h"

namespace platform {

namespace {

int descriptorOf(FileHandle file) { return static_cast<int>(file); }

}  // namespace

FileHandle openExisting(const std::string& path, Access access) {
    const int mode = access == Access::WRITE ? O_WRONLY : access == Access::READ_WRITE ? O_RDWR : O_RDONLY;
    return ::open(path.c_str(), mode | O_NONBLOCK | O_CLOEXEC);
}

void closeFile(FileHandle file) { ::close(descriptorOf(file)); }

std::optional<std::uint64_t> regularFileSize(FileHandle file) {
    struct stat status {};
    if (::fstat(descriptorOf(file), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(status.st_size);
}

bool sameFile(FileHandle a, FileHandle b) {
    struct stat first {
    }, second{};
    return ::fstat(descriptorOf(a), &first) == 0 && ::fstat(descriptorOf(b), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

Lock tryLock(FileHandle file, bool exclusive) {
    if (::flock(descriptorOf(file), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return Lock::TAKEN;
    return errno == EWOULDBLOCK ? Lock::HELD_ELSEWHERE : Lock::FAILED;
}

void unlock(FileHandle file) { ::flock(descriptorOf(file), LOCK_UN); }

std::int64_t readAt(FileHandle file, std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
    return ::pread(descriptorOf(file), bytes, size, static_cast<off_t>(offset));
}

std::int64_t writeAt(FileHandle file, const std::uint8_t* bytes, std::size_t size,
                     std::optional<std::uint64_t> offset) {
    if (!offset) return ::write(descriptorOf(file), bytes, size);
    return ::pwrite(descriptorOf(file), bytes, size, static_cast<off_t>(*offset));
}

bool resize(FileHandle file, std::uint64_t size) {
    return ::ftruncate(descriptorOf(file), static_cast<off_t>(size)) == 0;
}

void fillClosedStandardDescriptors(ClosedOutput output) {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) != -1) continue;
        // Writes to a descriptor opened for reading fail as they did while it was closed.
        const bool refuses = descriptor == STDOUT_FILENO && output == ClosedOutput::REFUSES;
        // The lowest free number is taken, the closed one: those below it are open by now.
        if (::open("/dev/null", refuses ? O_RDONLY : O_RDWR) == -1) return;
    }
}

}  // namespace platform
