#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

// The loaders take paths: each input goes to one scratch file per process.
inline std::filesystem::path FuzzInputFile(const uint8_t *data, size_t size)
{
    static const auto path = std::filesystem::temp_directory_path() / ("vidloom-fuzz-" + std::to_string(::getpid()));
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(data), std::streamsize(size));
    return path;
}
