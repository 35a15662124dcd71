#include "camera_registration.h"

#include "vidloom_device.h"

#include <sstream>
#include <sys/stat.h>
#include <system_error>

// Set by the build: where the package (and scripts/run.sh) puts the helper,
// which is also the path the polkit action names.
#ifndef VIDLOOM_INSTALLED_HELPER
#define VIDLOOM_INSTALLED_HELPER "/usr/libexec/vidloom/vidloom-camera-helper"
#endif

namespace camera_registration {

namespace {

constexpr const char *kPkexec = "/usr/bin/pkexec";
constexpr const char *kHelperPrefix = "vidloom-camera-helper: ";
constexpr size_t kMaxReason = 240;

struct Settings {
    std::filesystem::path sysfsRoot = "/sys";
    std::filesystem::path testHelper; // empty: the real helper through pkexec
};

Settings &settings()
{
    static Settings s;
    return s;
}

bool isExecutableFile(const std::filesystem::path &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR);
}

} // namespace

bool IsRegistered()
{
    return !vidloom_device::Find(settings().sysfsRoot).empty();
}

std::filesystem::path DeviceFolder()
{
    return settings().sysfsRoot / "class" / "video4linux";
}

bool IsTrustedPath(const std::filesystem::path &path, unsigned owner, std::string &reason,
                   const std::filesystem::path &top)
{
    // Resolved first, so a link is judged by where it leads, and every
    // folder on the way could swap the file if it were writable.
    std::error_code ec;
    std::filesystem::path p = std::filesystem::canonical(path, ec);
    if (ec) {
        reason = path.string() + " is missing";
        return false;
    }
    for (;;) {
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) {
            reason = p.string() + " is missing";
            return false;
        }
        if (st.st_uid != owner) {
            reason = p.string() + " is not owned by " + (owner == 0 ? "root" : "uid " + std::to_string(owner));
            return false;
        }
        if (st.st_mode & (S_IWGRP | S_IWOTH)) {
            reason = p.string() + " is writable by others";
            return false;
        }
        if (p == top || p == p.parent_path())
            return true;
        p = p.parent_path();
    }
}

std::optional<Command> ToolCommand(bool unregister, std::string &reason)
{
    const std::string word = unregister ? "unregister" : "register";
    // A test helper runs as it is, with the caller's rights.
    if (!settings().testHelper.empty()) {
        if (!isExecutableFile(settings().testHelper)) {
            reason = "The camera helper is missing.";
            return std::nullopt;
        }
        return Command{settings().testHelper.string(), {word}};
    }
    const std::filesystem::path helper = VIDLOOM_INSTALLED_HELPER;
    std::string why;
    if (!isExecutableFile(kPkexec) || !IsTrustedPath(kPkexec, 0, why)) {
        reason = "pkexec is not installed (Debian package pkexec).";
        return std::nullopt;
    }
    if (!isExecutableFile(helper)) {
        reason = "The camera helper " + helper.string()
            + " is not installed; install the Vidloom package or start Vidloom with scripts/run.sh.";
        return std::nullopt;
    }
    // Only ever the root-owned helper at the path the polkit action names:
    // a file any user program could replace would hand that program root.
    if (!IsTrustedPath(helper, 0, why)) {
        reason = "The camera helper was not run as root because " + why + ".";
        return std::nullopt;
    }
    return Command{kPkexec, {helper.string(), word}};
}

std::string FailureReason(const std::string &toolStderr)
{
    // The helper's own line says what went wrong, whatever modprobe printed
    // before it. Without one (pkexec refused), the first line does: pkexec
    // follows a refusal with "This incident has been reported.".
    std::istringstream lines(toolStderr);
    std::string line, reason;
    while (std::getline(lines, line)) {
        if (line.rfind(kHelperPrefix, 0) == 0) {
            reason = line.substr(std::char_traits<char>::length(kHelperPrefix));
            break;
        }
        if (reason.find_first_not_of(" \t\r") == std::string::npos)
            reason = line;
    }
    const size_t start = reason.find_first_not_of(" \t\r");
    if (start == std::string::npos)
        return {};
    line = reason.substr(start, reason.find_last_not_of(" \t\r") + 1 - start);
    for (char &c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = ' ';
    }
    if (line.size() > kMaxReason)
        line = line.substr(0, kMaxReason - 3) + "...";
    if (!line.empty() && line.back() != '.' && line.back() != '!' && line.back() != '?')
        line += '.';
    return line;
}

void SetSysfsRootForTesting(const std::filesystem::path &root)
{
    settings().sysfsRoot = root;
}

void SetHelperPathForTesting(const std::filesystem::path &helper)
{
    settings().testHelper = helper;
}

void ResetForTesting()
{
    settings() = Settings();
}

} // namespace camera_registration
