#pragma once

// The file calls beyond the standard runtime that the game and the tools need
// (opens that never wait, file identity, advisory locks, reads and writes at a
// position), and the standard descriptors that every program here starts by
// securing. platform_file_posix.cpp and platform_file_windows.cpp give them,
// with the same guarantees, for their systems; file.h builds on them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// An open file: a descriptor, or the value of a Windows handle. NO_FILE, -1,
// is none on both.
using FileHandle = std::intptr_t;
inline constexpr FileHandle NO_FILE = -1;

// LOOK opens a file only to tell what it is and which file it is: on Windows
// with no rights at all, so that nothing connects to a pipe; elsewhere as READ.
enum class Access { READ, READ_WRITE, WRITE, LOOK };

// Opens the existing file at `path` without waiting on it, as a FIFO would
// make a plain open wait for a writer, and without handing it to any program
// this one starts. Links are followed.
FileHandle openExisting(const std::string& path, Access access);

void closeFile(FileHandle file);

// The size of an open regular file; none for a directory, a device or a pipe.
std::optional<std::uint64_t> regularFileSize(FileHandle file);

// Whether two open files are one file.
bool sameFile(FileHandle a, FileHandle b);

// Whether the two paths lead to one existing file, as a hard link or a
// symbolic one can. A pipe is not opened to tell: its writer would see a
// reader come and go.
bool sameFile(const std::string& a, const std::string& b);

enum class Lock { TAKEN, HELD_ELSEWHERE, FAILED };

// Takes a lock on the whole file, shared or exclusive, without waiting. Games
// that lock before they read or write a level never see each other's half
// writes.
Lock tryLock(FileHandle file, bool exclusive);
void unlock(FileHandle file);

// Reads or writes up to `size` bytes at `offset`: the number done, 0 at the
// end of the file, or -1 on an error. A write with no offset goes where the
// file stands, as a pipe or a device has no offsets.
std::int64_t readAt(FileHandle file, std::uint8_t* bytes, std::size_t size, std::uint64_t offset);
std::int64_t writeAt(FileHandle file, const std::uint8_t* bytes, std::size_t size, std::optional<std::uint64_t> offset);

// Cuts the file, or lengthens it, to `size` bytes.
bool resize(FileHandle file, std::uint64_t size);

// What a closed standard output becomes: a sink that takes every line, or one
// that refuses them, for a tool whose exit status tells of lines lost.
enum class ClosedOutput { DISCARDS, REFUSES };

// Opens the null device on each of descriptors 0, 1 and 2 that is closed, so
// that no file, socket or window-system connection opened later takes its
// number and receives lines meant for the standard streams, the program's own
// or a library's. Called first thing in main.
void fillClosedStandardDescriptors(ClosedOutput output);

}  // namespace platform
