// Media made on the spot with the ffmpeg command-line tool.
#include "test_media.h"

#include <cstdlib>

namespace test_media {

bool Ffmpeg(const std::string &args)
{
    const std::string command = "ffmpeg -nostdin -hide_banner -v error -y " + args + " </dev/null";
    return std::system(command.c_str()) == 0;
}

std::filesystem::path Generate(const std::string &name, const std::string &args)
{
    const std::filesystem::path path = Dir() / name;
    if (std::filesystem::exists(path))
        return path;
    if (!Ffmpeg(args + " " + Quote(path))) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
        return {};
    }
    return path;
}

std::filesystem::path GeneratePiped(const std::string &name, const std::string &args,
                                    const std::string &muxer)
{
    const std::filesystem::path path = Dir() / name;
    if (std::filesystem::exists(path))
        return path;
    if (!Ffmpeg(args + " -f " + muxer + " - > " + Quote(path))) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
        return {};
    }
    return path;
}

} // namespace test_media
