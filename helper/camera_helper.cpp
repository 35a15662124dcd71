#include "camera_helper.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
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

// A modprobe.d file other than ours that sets v4l2loopback options: ours
// would be merged with it at the next boot and change that program's devices.
std::optional<std::filesystem::path> otherProgramsOptions(const std::filesystem::path &root)
{
    for (const char *dir : {"etc/modprobe.d", "run/modprobe.d", "usr/lib/modprobe.d", "lib/modprobe.d"}) {
        std::error_code ec;
        for (const auto &entry : std::filesystem::directory_iterator(root / dir, ec)) {
            if (entry.path() == root / kModprobeConfFile || entry.path().extension() != ".conf")
                continue;
            std::ifstream in(entry.path());
            std::string line;
            while (std::getline(in, line)) {
                std::istringstream words(line);
                std::string keyword, module;
                if (words >> keyword >> module && keyword == "options" && module == kModule)
                    return "/" + entry.path().lexically_relative(root).string();
            }
        }
    }
    return std::nullopt;
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
    : root_(std::move(root))
    , system_(system)
    , err_(err)
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
        // devices away from it, in use or not.
        err_ << kPrefix << "The v4l2loopback module already serves another program's camera, which Vidloom "
             << "leaves alone; close that program and unload the module (sudo modprobe -r v4l2loopback), "
             << "then register again.\n";
        return kOtherProgramsDevices;
    }
    if (const auto other = otherProgramsOptions(root_)) {
        err_ << kPrefix << "Another program sets v4l2loopback options in " << other->string()
             << ", which Vidloom leaves alone; remove that file or add a device labelled \"Vidloom\" to it.\n";
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
    if (loaded)
        err_ << kPrefix << "v4l2loopback loaded, but no device labelled \"Vidloom\" appeared.\n";
    else if (!system_.Modprobe({"--dry-run", "--quiet", kModule}))
        err_ << kPrefix << "The v4l2loopback module is not installed (Debian package v4l2loopback-dkms).\n";
    else
        err_ << kPrefix << "The kernel refused to load v4l2loopback; with Secure Boot on, enrol the module "
             << "signing key (sudo mokutil --import /var/lib/dkms/mok.pub) and reboot.\n";
    return kModuleFailed;
}

int CameraHelper::Unregister()
{
    const bool removed = removeConfiguration();
    const LoopbackState state = ReadLoopbackState(root_);
    if (!state.moduleLoaded)
        return removed ? kSuccess : kFileFailed;
    if (!std::all_of(state.deviceLabels.begin(), state.deviceLabels.end(), isOurs)) {
        err_ << kPrefix << "The Vidloom configuration was removed, but v4l2loopback stays loaded for "
             << "another program's camera.\n";
        return kOtherProgramsDevices;
    }
    if (!system_.Modprobe({"-r", kModule})) {
        err_ << kPrefix << "Could not unload v4l2loopback; close the programs that use the camera and try again.\n";
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
            err_ << kPrefix << "Could not write /" << relative << ": " << error << "\n";
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
            err_ << kPrefix << "Could not remove /" << relative << ": " << ec.message() << "\n";
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
