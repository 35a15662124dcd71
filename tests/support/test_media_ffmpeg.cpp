// Media made on the spot with the ffmpeg command-line tool.
#include "test_media.h"

#include <cstdlib>

namespace test_media {

std::filesystem::path Generate(const std::string &name, const std::string &args, const std::string &pipedMuxer)
{
    const std::filesystem::path path = Dir() / name;
    std::error_code ec;
    if (std::filesystem::exists(path))
        return path;
    const std::string output = pipedMuxer.empty() ? " " : " -f " + pipedMuxer + " - > ";
    const std::string command =
        "ffmpeg -nostdin -hide_banner -v error -y " + args + output + Quote(path) + " </dev/null";
    if (std::system(command.c_str()) != 0) {
        std::filesystem::remove(path, ec);
        return {};
    }
    return path;
}

} // namespace test_media
