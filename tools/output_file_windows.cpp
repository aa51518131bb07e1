#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <utility>

#include "tools/output_file.h"

namespace {

// A handle that closes itself.
struct Handle {
    HANDLE value;
    explicit Handle(HANDLE h) : value(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (isOpen()) ::CloseHandle(value);
    }
    bool isOpen() const { return value != INVALID_HANDLE_VALUE; }
};

constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opened only to be looked at; a directory opens too.
HANDLE openToLookAt(const std::string& path) {
    return ::CreateFileA(path.c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

bool writeAll(HANDLE file, const std::uint8_t* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        DWORD n = 0;
        const auto chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, std::size_t{1} << 30));
        if (!::WriteFile(file, data + done, chunk, &n, nullptr) || n == 0) return false;
        done += n;
    }
    return true;
}

// Every write checked, on the file as it is: a device or a pipe has no file to replace.
const char* writeInPlace(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const Handle out(
        ::CreateFileA(path.c_str(), GENERIC_WRITE, SHARE_ALL, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return out.isOpen() && writeAll(out.value, data, size) ? nullptr : CANNOT_WRITE;
}

// Written beside its place under a name no other file has, and moved into it
// once every write and the flush to disk have succeeded.
const char* writeReplacing(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
    if (error) return CANNOT_WRITE;
    const DWORD attributes = ::GetFileAttributesA(target.string().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return READ_ONLY;
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        // A name of its own that fits wherever the output's own name fits.
        const std::string temporary = (target.parent_path() / (".pngdecode." + std::to_string(entropy()))).string();
        Handle out(
            ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!out.isOpen()) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            return CANNOT_WRITE;
        }
        const bool written = writeAll(out.value, data, size) && ::FlushFileBuffers(out.value);
        ::CloseHandle(std::exchange(out.value, INVALID_HANDLE_VALUE));
        if (written && ::MoveFileExA(temporary.c_str(), target.string().c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return nullptr;
        ::DeleteFileA(temporary.c_str());
        return CANNOT_WRITE;
    }
    return CANNOT_WRITE;
}

// A device or a pipe; the handle that tells is closed at once, since a file
// that is open anywhere cannot be replaced.
bool isSpecial(const std::string& path) {
    const Handle existing(openToLookAt(path));
    return existing.isOpen() && ::GetFileType(existing.value) != FILE_TYPE_DISK;
}

}  // namespace

const char* writeOutputFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    return isSpecial(path) ? writeInPlace(path, data, size) : writeReplacing(path, data, size);
}

bool sameFile(const std::string& a, const std::string& b) {
    const Handle first(openToLookAt(a)), second(openToLookAt(b));
    BY_HANDLE_FILE_INFORMATION one{}, other{};
    return first.isOpen() && second.isOpen() && ::GetFileInformationByHandle(first.value, &one) &&
           ::GetFileInformationByHandle(second.value, &other) &&
           one.dwVolumeSerialNumber == other.dwVolumeSerialNumber && one.nFileIndexHigh == other.nFileIndexHigh &&
           one.nFileIndexLow == other.nFileIndexLow;
}
