#pragma once

// Where pngdecode writes its output: a regular file is replaced whole, so that
// a failure leaves whatever was there; a device or a pipe that exists already
// is written as it is. output_file_posix.cpp and output_file_windows.cpp give
// these for their systems.

#include <cstddef>
#include <cstdint>
#include <string>

// Writes `size` bytes to `path`; false when they could not all be written.
bool writeOutputFile(const std::string& path, const std::uint8_t* data, std::size_t size);

// Whether the two paths lead to one existing file, as a hard link or a symbolic one can.
bool sameFile(const std::string& a, const std::string& b);
