#include "test_media.h"

#include "camera_library.h"

#include <fstream>
#include <iterator>
#include <random>

namespace test_media {

namespace {

struct TempDir {
    std::filesystem::path path;
    std::error_code ec;
    TempDir()
    {
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path.empty(); ++attempt) {
            path = std::filesystem::temp_directory_path() / ("vidloom-test-" + std::to_string(random()));
            if (!std::filesystem::create_directory(path, ec))
                path.clear();
        }
    }
    ~TempDir() { std::filesystem::remove_all(path, ec); }
};

} // namespace

std::filesystem::path Dir()
{
    static TempDir dir;
    return dir.path;
}

std::filesystem::path Made(const std::string &name)
{
    const std::filesystem::path path = camera_library::ExecutableDir() / "media" / name;
    std::error_code ec;
    return std::filesystem::is_regular_file(path, ec) ? path : std::filesystem::path();
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
