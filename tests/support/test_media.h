#pragma once

#include "camera_library.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

// Media for the tests, so the repository carries no binary fixtures: files made at build time by
// support/make_test_media.sh, and files made at test time in a folder removed at exit.
namespace test_media {

inline std::filesystem::path Dir()
{
    static struct TempDir {
        std::error_code ec;
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("vidloom-test-" + std::to_string(std::random_device()()));
        TempDir() { std::filesystem::create_directory(path); }
        ~TempDir() { std::filesystem::remove_all(path, ec); }
    } dir;
    return dir.path;
}

// Made at build time into media/ beside the test program.
inline std::filesystem::path Made(const std::string &name)
{
    return camera_library::ExecutableDir() / "media" / name;
}

// For a shell command line.
inline std::string Quote(const std::filesystem::path &path)
{
    std::string quoted = "'";
    for (char c : path.string())
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Dir()/name, made by "ffmpeg <args> <path>" unless there; empty when ffmpeg fails. A muxer pipes
// "-f <muxer>" output into the file: no index, no duration. Windows has no ffmpeg: Made(name).
inline std::filesystem::path Generate(const std::string &name, [[maybe_unused]] const std::string &args,
                                      [[maybe_unused]] const std::string &muxer = {})
{
#ifdef _WIN32
    return Made(name);
#else
    const std::filesystem::path path = Dir() / name;
    const std::string output = muxer.empty() ? " " : " -f " + muxer + " - > ";
    const std::string command =
        "ffmpeg -nostdin -hide_banner -v error -y " + args + output + Quote(path) + " </dev/null";
    std::error_code ec;
    if (std::filesystem::exists(path, ec) || std::system(command.c_str()) == 0)
        return path;
    std::filesystem::remove(path, ec);
    return {};
#endif
}

inline std::filesystem::path WriteFile(const std::string &name, const std::string &bytes)
{
    const std::filesystem::path path = Dir() / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

// Empty when it cannot be read.
inline std::string ReadFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace test_media
