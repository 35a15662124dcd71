#include "test_media.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace test_media {

namespace {

struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vidloom-test-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path = pattern;
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

std::string ReadFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Quote(const std::filesystem::path &path)
{
    std::string quoted = "'";
    for (char c : path.string()) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

std::filesystem::path WriteFile(const std::string &name, const std::string &bytes)
{
    const std::filesystem::path path = Dir() / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
}

} // namespace test_media
