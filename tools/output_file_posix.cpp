#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstring>
#include <optional>
#include <string>

#include "files/file.h"
#include "tools/output_file.h"

namespace {

int descriptorOf(const OpenedFile& file) { return static_cast<int>(file.handle()); }

// Every write checked, on the file as it is: a device or a pipe has no file to replace.
const char* writeInPlace(const std::string& path, const std::uint8_t* data, std::size_t size) {
    // A pipe with no reader fails to open here rather than waiting for one.
    const OpenedFile out(platform::openExisting(path, platform::Access::WRITE));
    const bool written =
        out.isOpen() && ::fcntl(descriptorOf(out), F_SETFL, 0) == 0 && out.writeWhole(data, size, std::nullopt);
    return written ? nullptr : CANNOT_WRITE;
}

// `path` with its links and dots resolved, or none when it leads to nothing.
// (The C library's own, not std::filesystem's, whose locale set-up alone
// costs pngdecode half a megabyte of its memory.)
std::optional<std::string> resolved(const std::string& path) {
    char resolvedPath[PATH_MAX];
    if (::realpath(path.c_str(), resolvedPath) == nullptr) return std::nullopt;
    return resolvedPath;
}

// The folder part of `path`, without its last slash but for the root.
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The file that a write to `path` replaces, through any links, or the place of
// a new one; null when `path` is a link that leads to no file.
std::optional<std::string> replacedFile(const std::string& path) {
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) return resolved(path);
    // The folder resolved, the name kept: it may name no file yet.
    const std::optional<std::string> folder = resolved(folderOf(path));
    if (!folder) return path;  // the temporary file cannot be made there either
    const std::string name = path.substr(path.rfind('/') + 1);
    return *folder == "/" ? "/" + name : *folder + "/" + name;
}

// The temporary file's name while it exists, for the handler that removes it
// when a signal ends pngdecode midway: Ctrl-C or Ctrl-Backslash, a kill, a
// closed terminal, or a write past the file size limit (ulimit -f). It changes
// only while those signals are held back, so the handler never reads half a
// name, nor the name of a file that is not, or no longer, this one.
char temporaryName[PATH_MAX];

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGXFSZ};

extern "C" void removeTemporaryAndEnd(int signalNumber) {
    if (temporaryName[0] != '\0') ::unlink(temporaryName);
    ::raise(signalNumber);  // its default action since SA_RESETHAND: the status tells the signal
}

sigset_t endingSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signalNumber : ENDING_SIGNALS) sigaddset(&signals, signalNumber);
    return signals;
}

void removeTemporaryOnEndingSignals() {
    struct sigaction removing {};
    removing.sa_handler = removeTemporaryAndEnd;
    removing.sa_mask = endingSignals();
    removing.sa_flags = SA_RESETHAND;
    for (const int signalNumber : ENDING_SIGNALS) {
        // One ignored from the start, as nohup or a background job has it, stays ignored.
        struct sigaction before {};
        if (::sigaction(signalNumber, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            ::sigaction(signalNumber, &removing, nullptr);
    }
}

// `step`'s result, with the ending signals held back while it runs.
template <typename Step>
auto withEndingSignalsHeld(Step step) {
    const sigset_t held = endingSignals();
    sigset_t before;
    ::sigprocmask(SIG_BLOCK, &held, &before);
    const auto result = step();
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    return result;
}

// A new file named after `pattern`, which ends in XXXXXX, its name recorded for the handler.
int makeTemporary(const std::string& pattern) {
    if (pattern.size() >= sizeof temporaryName) return -1;
    removeTemporaryOnEndingSignals();
    return withEndingSignalsHeld([&] {
        std::strcpy(temporaryName, pattern.c_str());
        const int descriptor = ::mkstemp(temporaryName);
        if (descriptor == -1) temporaryName[0] = '\0';
        return descriptor;
    });
}

// Renames the temporary file into `target` once `written`, and otherwise removes it.
bool settleTemporary(bool written, const std::string& target) {
    return withEndingSignalsHeld([&] {
        const bool renamed = written && ::rename(temporaryName, target.c_str()) == 0;
        if (!renamed) ::unlink(temporaryName);
        temporaryName[0] = '\0';
        return renamed;
    });
}

// Written beside its place and renamed into it once every write and the flush
// to disk have succeeded.
const char* writeReplacing(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const std::optional<std::string> target = replacedFile(path);
    if (!target) return LINK_TO_NOTHING;
    struct stat existing {};
    mode_t mode = ::umask(0);
    ::umask(mode);
    mode = 0666 & ~mode;
    if (::stat(target->c_str(), &existing) == 0) {
        // Root may write anything: a file that no one may write is read-only for it too.
        if ((existing.st_mode & 0222) == 0 || ::access(target->c_str(), W_OK) != 0) return READ_ONLY;
        mode = existing.st_mode & 07777;
    }
    // A name of its own that fits wherever the output's own name fits.
    const OpenedFile out(makeTemporary(folderOf(*target) + "/.pngdecode.XXXXXX"));
    if (!out.isOpen()) return CANNOT_WRITE;
    const bool written = out.writeWhole(data, size, std::nullopt) && ::fchmod(descriptorOf(out), mode) == 0 &&
                         ::fsync(descriptorOf(out)) == 0;
    return settleTemporary(written, *target) ? nullptr : CANNOT_WRITE;
}

}  // namespace

const char* writeOutputFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    struct stat existing {};
    const bool special = ::stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode);
    return special ? writeInPlace(path, data, size) : writeReplacing(path, data, size);
}
