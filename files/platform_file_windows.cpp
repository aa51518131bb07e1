#include <windows.h>

#include <algorithm>

#include "files/platform_file.h"

namespace platform {

namespace {

HANDLE handleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// ReadFile and WriteFile count in 32 bits.
constexpr std::size_t MAX_TRANSFER = std::size_t{1} << 30;

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

}  // namespace

FileHandle openExisting(const std::string& path, Access access) {
    const DWORD rights = access == Access::READ         ? GENERIC_READ
                         : access == Access::WRITE      ? GENERIC_WRITE
                         : access == Access::READ_WRITE ? GENERIC_READ | GENERIC_WRITE
                                                        : 0;
    // Shared in every way, as a POSIX open is: another program may still read,
    // write, rename or delete the file. Opening a pipe or a device never
    // waits here, and the handle is not inherited. A folder opens too, to be
    // refused as no regular file rather than as one that cannot be opened.
    const HANDLE file = ::CreateFileA(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    return reinterpret_cast<FileHandle>(file);  // INVALID_HANDLE_VALUE is NO_FILE
}

void closeFile(FileHandle file) { ::CloseHandle(handleOf(file)); }

std::optional<std::uint64_t> regularFileSize(FileHandle file) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileType(handleOf(file)) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(handleOf(file), &information) ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::nullopt;
    return std::uint64_t{information.nFileSizeHigh} << 32 | information.nFileSizeLow;
}

bool sameFile(FileHandle a, FileHandle b) {
    BY_HANDLE_FILE_INFORMATION first{}, second{};
    return ::GetFileInformationByHandle(handleOf(a), &first) && ::GetFileInformationByHandle(handleOf(b), &second) &&
           first.dwVolumeSerialNumber == second.dwVolumeSerialNumber && first.nFileIndexHigh == second.nFileIndexHigh &&
           first.nFileIndexLow == second.nFileIndexLow;
}

bool sameFile(const std::string& a, const std::string& b) {
    const FileHandle first = openExisting(a, Access::LOOK), second = openExisting(b, Access::LOOK);
    const bool same = first != NO_FILE && second != NO_FILE && sameFile(first, second);
    for (const FileHandle file : {first, second})
        if (file != NO_FILE) closeFile(file);
    return same;
}

// Windows locks are mandatory: while one handle holds the exclusive lock, no
// other may read or write the file. Every read and write of a level goes
// through the handle that holds the lock, so that changes nothing here.
Lock tryLock(FileHandle file, bool exclusive) {
    OVERLAPPED whole = at(0);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (::LockFileEx(handleOf(file), flags, 0, MAXDWORD, MAXDWORD, &whole)) return Lock::TAKEN;
    return ::GetLastError() == ERROR_LOCK_VIOLATION ? Lock::HELD_ELSEWHERE : Lock::FAILED;
}

void unlock(FileHandle file) {
    OVERLAPPED whole = at(0);
    ::UnlockFileEx(handleOf(file), 0, MAXDWORD, MAXDWORD, &whole);
}

std::int64_t readAt(FileHandle file, std::uint8_t* bytes, std::size_t size, std::uint64_t offset) {
    OVERLAPPED position = at(offset);
    DWORD done = 0;
    if (::ReadFile(handleOf(file), bytes, static_cast<DWORD>(std::min(size, MAX_TRANSFER)), &done, &position))
        return done;
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
}

std::int64_t writeAt(FileHandle file, const std::uint8_t* bytes, std::size_t size,
                     std::optional<std::uint64_t> offset) {
    OVERLAPPED position = at(offset.value_or(0));
    DWORD done = 0;
    if (!::WriteFile(handleOf(file), bytes, static_cast<DWORD>(std::min(size, MAX_TRANSFER)), &done,
                     offset ? &position : nullptr))
        return -1;
    return done;
}

bool resize(FileHandle file, std::uint64_t size) {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(handleOf(file), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(handleOf(file));
}

// Nothing to fill: a handle opened later never becomes a standard one, which
// only SetStdHandle changes, and the C runtime keeps descriptors 0 to 2 its
// own even with no handle behind them, so _open never hands them out.
void fillClosedStandardDescriptors(ClosedOutput /*output*/) {}

}  // namespace platform
