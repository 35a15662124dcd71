// Under Windows (or Wine) there is no ffmpeg tool: only the files made at build time.
#include "test_media.h"

namespace test_media {

std::filesystem::path Generate(const std::string &name, const std::string &, const std::string &)
{
    return Made(name);
}

} // namespace test_media
