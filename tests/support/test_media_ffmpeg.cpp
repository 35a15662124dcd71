// Media made on the spot with the ffmpeg command-line tool.
#include "test_media.h"

#include <cstdlib>

namespace test_media {

std::filesystem::path Generate(const std::string &name, const std::string &args, const std::string &pipedMuxer)
{
    const std::filesystem::path path = Dir() / name;
    std::error_code ec;
    if (std::filesystem::exists(path, ec))
        return path;
    const std::string output = pipedMuxer.empty() ? " " : " -f " + pipedMuxer + " - > ";
    if (std::system(
            ("ffmpeg -nostdin -hide_banner -v error -y " + args + output + Quote(path) + " </dev/null").c_str())) {
        std::filesystem::remove(path, ec);
        return {};
    }
    return path;
}

} // namespace test_media
