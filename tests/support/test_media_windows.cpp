// Windows side of the test media: the test programs run under Windows (or
// Wine), where the ffmpeg tool is not at hand, so the media files are made
// at build time on the build machine into media/ beside the test programs
// (see tests/windows.cmake) and Generate only finds them there.
#include "test_media.h"

#include "camera_library.h"

#include <windows.h>

#include <fstream>

namespace test_media {

namespace {

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        const auto base = std::filesystem::temp_directory_path();
        for (unsigned attempt = 0; attempt < 100 && path.empty(); ++attempt) {
            const auto candidate = base / ("vidloom-test-" + std::to_string(GetCurrentProcessId()) + "-"
                                           + std::to_string(GetTickCount() + attempt));
            if (CreateDirectoryW(candidate.c_str(), nullptr))
                path = candidate;
        }
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!path.empty())
            std::filesystem::remove_all(path, ec);
    }
};

} // namespace

std::filesystem::path Dir()
{
    static TempDir dir;
    return dir.path;
}

bool Ffmpeg(const std::string &)
{
    return false;
}

std::filesystem::path Generate(const std::string &name, const std::string &)
{
    const std::filesystem::path path = camera_library::ExecutableDir() / "media" / name;
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec) ? path : std::filesystem::path();
}

std::filesystem::path WriteFile(const std::string &name, const std::string &bytes)
{
    const std::filesystem::path path = Dir() / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

} // namespace test_media
