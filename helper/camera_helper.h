#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

// The privileged half of camera registration on Linux: makes (or removes) a
// v4l2loopback device labelled "Vidloom" and the two configuration files
// that bring it back after a reboot. It runs as root on behalf of an
// unprivileged caller, so it takes nothing from that caller but one of two
// fixed words: no paths, no module options, no environment.
//
// Everything works below a root directory and runs modprobe through System,
// so tests can use a temporary tree and a fake kernel.
namespace camera_helper {

enum class Command { Register, Unregister };

// Exit codes of the program.
inline constexpr int kSuccess = 0;
inline constexpr int kUsageError = 2;
inline constexpr int kOtherProgramsDevices = 3;
inline constexpr int kModuleFailed = 4;
inline constexpr int kFileFailed = 5;

// The files we own, relative to the root, and their exact contents.
inline constexpr std::string_view kModprobeConfFile = "etc/modprobe.d/vidloom.conf";
inline constexpr std::string_view kModprobeConf =
    "options v4l2loopback devices=1 exclusive_caps=1 card_label=Vidloom\n";
inline constexpr std::string_view kModulesLoadFile = "etc/modules-load.d/vidloom.conf";
inline constexpr std::string_view kModulesLoad = "v4l2loopback\n";

// What the kernel offers that the helper cannot do through files.
class System {
public:
    virtual ~System() = default;
    // Runs modprobe with these arguments; true when it exited with 0.
    virtual bool Modprobe(const std::vector<std::string> &args) = 0;
};

// Exactly one argument, "register" or "unregister"; anything else is refused.
std::optional<Command> ParseCommandLine(int argc, const char *const *argv);

// Replaces path with a new file of mode 0644 holding contents, through a
// temporary file and rename, so readers see the old file or the new one and
// a symlink planted at path is replaced rather than followed. Creates the
// parent directory when missing. On failure, says why in error.
bool WriteFileAtomically(const std::filesystem::path &path, std::string_view contents, std::string &error);

// v4l2loopback as sysfs (<root>/sys) shows it.
struct LoopbackState {
    bool moduleLoaded = false;
    std::vector<std::string> deviceLabels; // one per loopback device
};
LoopbackState ReadLoopbackState(const std::filesystem::path &root);

class CameraHelper {
public:
    CameraHelper(std::filesystem::path root, System &system, std::ostream &err);

    int Register();
    int Unregister();

private:
    bool writeConfiguration();
    bool removeConfiguration();
    int loadModule();
    std::filesystem::path file(std::string_view relative) const;

    std::filesystem::path root_;
    System &system_;
    std::ostream &err_;
};

// Everything main() does after fixing root and system.
int Main(int argc, const char *const *argv, const std::filesystem::path &root, System &system, std::ostream &err);

} // namespace camera_helper
