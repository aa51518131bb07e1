#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "game/level_file.h"
#include "tools/output_file.h"

namespace {

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int descriptorOf(const OpenedFile& file) { return static_cast<int>(file.handle()); }

// Every write checked, on the file as it is: a device or a pipe has no file to replace.
bool writeInPlace(const std::string& path, const std::uint8_t* data, std::size_t size) {
    // A pipe with no reader fails to open here rather than waiting for one.
    const OpenedFile out(platform::openExisting(path, platform::Access::WRITE));
    return out.isOpen() && ::fcntl(descriptorOf(out), F_SETFL, 0) == 0 && writeAll(descriptorOf(out), data, size);
}

// Written beside its place and renamed into it once every write and the flush
// to disk have succeeded.
bool writeReplacing(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::weakly_canonical(path, error);  // through links
    if (error) return false;
    struct stat existing {};
    mode_t mode = ::umask(0);
    ::umask(mode);
    mode = ::stat(target.c_str(), &existing) == 0 ? existing.st_mode & 07777 : 0666 & ~mode;
    std::string temporary = (target.parent_path() / ("." + target.filename().string() + ".XXXXXX")).string();
    const OpenedFile out(::mkstemp(temporary.data()));
    if (!out.isOpen()) return false;
    const bool written = writeAll(descriptorOf(out), data, size) && ::fchmod(descriptorOf(out), mode) == 0 &&
                         ::fsync(descriptorOf(out)) == 0 && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!written) ::unlink(temporary.c_str());
    return written;
}

}  // namespace

bool writeOutputFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    struct stat existing {};
    const bool special = ::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode);
    return special ? writeInPlace(path, data, size) : writeReplacing(path, data, size);
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat first {
    }, second{};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}
