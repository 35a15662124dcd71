#include "camera_helper.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace camera_helper {

namespace {

constexpr const char *kModule = "v4l2loopback";
constexpr const char *kLabel = "Vidloom";
constexpr const char *kPrefix = "vidloom-camera-helper: ";

bool writeAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::string trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

bool isOurs(const std::string &label)
{
    return label == kLabel;
}

} // namespace

std::optional<Command> ParseCommandLine(int argc, const char *const *argv)
{
    if (argc != 2 || argv == nullptr || argv[1] == nullptr)
        return std::nullopt;
    const std::string_view word = argv[1];
    if (word == "register")
        return Command::Register;
    if (word == "unregister")
        return Command::Unregister;
    return std::nullopt;
}

bool WriteFileAtomically(const std::filesystem::path &path, std::string_view contents, std::string &error)
{
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    std::string temp = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        error = std::strerror(errno);
        return false;
    }
    bool ok = fchmod(fd, 0644) == 0 && writeAll(fd, contents) && fsync(fd) == 0;
    int failure = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        failure = errno;
    }
    if (ok) {
        if (rename(temp.c_str(), path.c_str()) == 0)
            return true;
        failure = errno;
    }
    unlink(temp.c_str());
    error = std::strerror(failure ? failure : EIO);
    return false;
}

LoopbackState ReadLoopbackState(const std::filesystem::path &root)
{
    LoopbackState state;
    std::error_code ec;
    state.moduleLoaded = std::filesystem::is_directory(root / "sys/module" / kModule, ec);
    std::filesystem::directory_iterator it(root / "sys/class/video4linux", ec);
    if (ec)
        return state;
    for (const auto &entry : it) {
        // Only v4l2loopback gives its devices a max_openers attribute; real
        // cameras and other drivers are none of our business.
        if (!std::filesystem::exists(entry.path() / "max_openers", ec))
            continue;
        std::ifstream in(entry.path() / "name");
        std::string label;
        std::getline(in, label);
        state.deviceLabels.push_back(trimmed(label));
    }
    std::sort(state.deviceLabels.begin(), state.deviceLabels.end());
    return state;
}

CameraHelper::CameraHelper(std::filesystem::path root, System &system, std::ostream &err)
    : root_(std::move(root)), system_(system), err_(err)
{
}

std::filesystem::path CameraHelper::file(std::string_view relative) const
{
    return root_ / relative;
}

int CameraHelper::Register()
{
    const LoopbackState state = ReadLoopbackState(root_);
    const bool haveOurs = std::any_of(state.deviceLabels.begin(), state.deviceLabels.end(), isOurs);
    if (state.moduleLoaded && !haveOurs) {
        // Reloading it with our options would take the other program's
        // devices away from it.
        err_ << kPrefix << "v4l2loopback is already loaded for another program's devices and was left alone. "
             << "Unload it, or add a device labelled \"Vidloom\" to its configuration, and try again.\n";
        return kOtherProgramsDevices;
    }
    if (!writeConfiguration())
        return kFileFailed;
    return haveOurs ? kSuccess : loadModule();
}

int CameraHelper::loadModule()
{
    // Options on the command line win over any other configuration file.
    const bool loaded = system_.Modprobe({kModule, "devices=1", "exclusive_caps=1", "card_label=Vidloom"});
    const LoopbackState state = ReadLoopbackState(root_);
    if (loaded && std::any_of(state.deviceLabels.begin(), state.deviceLabels.end(), isOurs))
        return kSuccess;
    // A module that does not load at boot either should not leave a
    // failing entry behind.
    removeConfiguration();
    if (!loaded)
        err_ << kPrefix << "could not load v4l2loopback. Install it (Debian package v4l2loopback-dkms); "
             << "with Secure Boot on, the module must also be signed with an enrolled key.\n";
    else
        err_ << kPrefix << "v4l2loopback loaded, but no device labelled \"Vidloom\" appeared.\n";
    return kModuleFailed;
}

int CameraHelper::Unregister()
{
    const bool removed = removeConfiguration();
    const LoopbackState state = ReadLoopbackState(root_);
    if (!state.moduleLoaded)
        return removed ? kSuccess : kFileFailed;
    if (!std::all_of(state.deviceLabels.begin(), state.deviceLabels.end(), isOurs)) {
        err_ << kPrefix << "v4l2loopback also serves another program's devices, so it stays loaded; "
             << "the Vidloom configuration was removed.\n";
        return kOtherProgramsDevices;
    }
    if (!system_.Modprobe({"-r", kModule})) {
        err_ << kPrefix << "could not unload v4l2loopback. Is a program still using the camera?\n";
        return kModuleFailed;
    }
    return removed ? kSuccess : kFileFailed;
}

bool CameraHelper::writeConfiguration()
{
    const std::pair<std::string_view, std::string_view> files[] = {
        {kModprobeConfFile, kModprobeConf},
        {kModulesLoadFile, kModulesLoad},
    };
    for (const auto &[relative, contents] : files) {
        std::string error;
        if (!WriteFileAtomically(file(relative), contents, error)) {
            err_ << kPrefix << "could not write /" << relative << ": " << error << "\n";
            removeConfiguration();
            return false;
        }
    }
    return true;
}

bool CameraHelper::removeConfiguration()
{
    bool ok = true;
    for (const std::string_view relative : {kModprobeConfFile, kModulesLoadFile}) {
        std::error_code ec;
        std::filesystem::remove(file(relative), ec);
        if (ec) {
            err_ << kPrefix << "could not remove /" << relative << ": " << ec.message() << "\n";
            ok = false;
        }
    }
    return ok;
}

int Main(int argc, const char *const *argv, const std::filesystem::path &root, System &system, std::ostream &err)
{
    const std::optional<Command> command = ParseCommandLine(argc, argv);
    if (!command) {
        err << "usage: vidloom-camera-helper register|unregister\n";
        return kUsageError;
    }
    CameraHelper helper(root, system, err);
    return *command == Command::Register ? helper.Register() : helper.Unregister();
}

} // namespace camera_helper
