#include <windows.h>

#include <filesystem>
#include <random>

#include "files/file.h"
#include "tools/output_file.h"

namespace {

HANDLE handleOf(const OpenedFile& file) { return reinterpret_cast<HANDLE>(file.handle()); }

// Every write checked, on the file as it is: a device or a pipe has no file to replace.
const char* writeInPlace(const std::string& path, const std::uint8_t* data, std::size_t size) {
    const OpenedFile out(platform::openExisting(path, platform::Access::WRITE));
    return out.isOpen() && out.writeWhole(data, size, std::nullopt) ? nullptr : CANNOT_WRITE;
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
        OpenedFile out(reinterpret_cast<platform::FileHandle>(
            ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)));
        if (!out.isOpen()) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            return CANNOT_WRITE;
        }
        const bool written = out.writeWhole(data, size, std::nullopt) && ::FlushFileBuffers(handleOf(out));
        out = OpenedFile();  // closed, as a file open anywhere cannot be moved
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
    const OpenedFile existing(platform::openExisting(path, platform::Access::LOOK));
    return existing.isOpen() && ::GetFileType(handleOf(existing)) != FILE_TYPE_DISK;
}

}  // namespace

const char* writeOutputFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    return isSpecial(path) ? writeInPlace(path, data, size) : writeReplacing(path, data, size);
}
