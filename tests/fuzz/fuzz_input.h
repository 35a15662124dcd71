#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

// The loaders take paths: each input is written to one scratch file per
// process.
namespace fuzz_input {

inline std::filesystem::path AsFile(const uint8_t *data, size_t size)
{
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("vidloom-fuzz-" + std::to_string(::getpid()));
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char *>(data),
                                                                   std::streamsize(size));
    return path;
}

} // namespace fuzz_input
