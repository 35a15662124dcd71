#include "vidloom_device.h"

#include <fstream>
#include <string>
#include <system_error>

namespace vidloom_device {

namespace {

// "video12" -> 12; -1 for anything else.
long deviceNumber(const std::string &name)
{
    if (name.rfind("video", 0) != 0 || name.size() == 5 || name.size() > 12)
        return -1;
    long n = 0;
    for (size_t i = 5; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

} // namespace

std::filesystem::path Find(const std::filesystem::path &sysfsRoot, const std::filesystem::path &devRoot)
{
    std::error_code ec;
    std::filesystem::directory_iterator it(sysfsRoot / "class" / "video4linux", ec);
    if (ec)
        return {};
    long best = -1;
    std::string bestName;
    for (const auto &entry : it) {
        const std::string node = entry.path().filename().string();
        const long number = deviceNumber(node);
        if (number < 0 || (best >= 0 && number >= best))
            continue;
        // Only v4l2loopback gives its devices a max_openers attribute: a
        // real camera that happens to carry the label is not ours.
        std::error_code missing;
        if (!std::filesystem::exists(entry.path() / "max_openers", missing))
            continue;
        std::ifstream in(entry.path() / "name");
        std::string label;
        std::getline(in, label);
        // sysfs ends the name with a newline; be lenient about trailing blanks.
        while (!label.empty() && (label.back() == '\n' || label.back() == ' ' || label.back() == '\r'))
            label.pop_back();
        if (label == kLabel) {
            best = number;
            bestName = node;
        }
    }
    return best < 0 ? std::filesystem::path() : devRoot / bestName;
}

} // namespace vidloom_device
