// Windows side of the test media: the test programs run under Windows (or
// Wine), where the ffmpeg tool is not at hand, so only the files made at
// build time are there.
#include "test_media.h"

namespace test_media {

std::filesystem::path Generate(const std::string &name, const std::string &, const std::string &)
{
    return Made(name);
}

} // namespace test_media
