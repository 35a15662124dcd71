#pragma once

#include <filesystem>

// Opens files that users pick for reading, refusing anything but a regular
// file: a FIFO would block the open or the first read for ever, a device
// node or a socket is no picture. Never blocks.
namespace regular_file {

// True when path names a regular file now (symbolic links followed).
bool Is(const std::filesystem::path &path);

#ifndef _WIN32
// A read-only descriptor (close-on-exec) for the regular file at path, or -1.
// The type is checked again on the open descriptor, so a FIFO swapped in
// after the first check is refused too instead of blocking.
int Open(const std::filesystem::path &path);
#endif

} // namespace regular_file
