// Windows side of the test media: the test programs run under Windows (or
// Wine), where the ffmpeg tool is not at hand, so the media files are made
// at build time on the build machine into media/ beside the test programs
// (see tests/windows.cmake) and Generate only finds them there.
#include "test_media.h"

#include "camera_library.h"

namespace test_media {

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

} // namespace test_media
