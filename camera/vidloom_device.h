#pragma once

#include <filesystem>

// Finding the v4l2loopback device that carries the Vidloom camera. Shared by
// the camera library (which writes to it) and the app (which counts the
// camera as registered while it exists).
namespace vidloom_device {

// The card label the device is created with.
inline constexpr const char *kLabel = "Vidloom";

// Looks through the v4l2loopback devices in <sysfsRoot>/class/video4linux
// for the label in their name attribute and returns the matching /dev/videoN (under devRoot), or an empty path. The
// lowest-numbered match wins, so the answer is stable.
std::filesystem::path Find(const std::filesystem::path &sysfsRoot = "/sys",
                           const std::filesystem::path &devRoot = "/dev");

} // namespace vidloom_device
