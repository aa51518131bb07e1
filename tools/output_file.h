#pragma once

// Where pngdecode writes its output: a regular file is replaced whole, so that
// a failure leaves whatever was there; a device or a pipe that exists already
// is written as it is. output_file_posix.cpp and output_file_windows.cpp give
// these for their systems.

#include <cstddef>
#include <cstdint>
#include <string>

// Writes `size` bytes to `path`. Returns null when they were all written,
// otherwise why not. A read-only file is not replaced, and a link that leads
// to no file is not written through: both are refused, as cp refuses them.
// A signal that ends the tool midway (SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGXFSZ)
// removes the temporary file of a replacement.
const char* writeOutputFile(const std::string& path, const std::uint8_t* data, std::size_t size);

inline constexpr const char* CANNOT_WRITE = "writing failed";
inline constexpr const char* READ_ONLY = "it is read-only";
inline constexpr const char* LINK_TO_NOTHING = "it is a link to no file";
