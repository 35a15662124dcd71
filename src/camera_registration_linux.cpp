#include "camera_registration.h"

#include "vidloom_device.h"

#include <cerrno>
#include <csignal>
#include <future>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <vector>

extern char **environ;

// Set by the build: where `make install` puts the helper, which is also the
// path the polkit action names.
#ifndef VIDLOOM_INSTALLED_HELPER
#define VIDLOOM_INSTALLED_HELPER "/usr/local/libexec/vidloom/vidloom-camera-helper"
#endif

namespace camera_registration {

namespace {

constexpr const char *kHelperName = "vidloom-camera-helper";
constexpr const char *kPkexec = "/usr/bin/pkexec";
constexpr std::chrono::milliseconds kDefaultTimeout{10000};

struct Settings {
    std::filesystem::path sysfsRoot = "/sys";
    std::filesystem::path testHelper; // empty: the real helper through pkexec
    std::chrono::milliseconds timeout = kDefaultTimeout;
};

Settings &settings()
{
    static Settings s;
    return s;
}

// A development build runs the helper built beside the executable; an
// installed app has none beside it and runs the installed one, the only path
// the polkit action (and so a friendly prompt) covers.
std::filesystem::path realHelper()
{
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::filesystem::path beside = exe.parent_path() / kHelperName;
        if (std::filesystem::is_regular_file(beside, ec))
            return beside;
    }
    return VIDLOOM_INSTALLED_HELPER;
}

// The command line: a test helper runs as it is, with the caller's rights;
// the real one goes through pkexec. The operation is one of two fixed words.
std::vector<std::string> commandLine(const std::filesystem::path &helper, bool direct, bool unregister)
{
    std::vector<std::string> args;
    if (!direct)
        args.emplace_back(kPkexec);
    args.push_back(helper.string());
    args.emplace_back(unregister ? "unregister" : "register");
    return args;
}

pid_t start(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    // The child starts with no signals blocked and default SIGPIPE, whatever
    // this thread had.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, pipe;
    sigemptyset(&none);
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &pipe);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, argv[0], nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    return failed ? -1 : pid;
}

// Blocks until the child ends; its exit code, or -1 when it did not exit
// normally.
int reap(pid_t pid)
{
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (r != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The exit code if the child ends within the time-out. A detached thread
// owns the wait, so a child that outlives the time-out is still reaped when
// it ends and never lingers as a zombie.
bool exitedWithZero(pid_t pid, std::chrono::milliseconds timeout)
{
    auto exitCode = std::make_shared<std::promise<int>>();
    std::future<int> result = exitCode->get_future();
    std::thread([pid, exitCode] { exitCode->set_value(reap(pid)); }).detach();
    if (result.wait_for(timeout) != std::future_status::ready)
        return false;
    return result.get() == 0;
}

} // namespace

bool IsRegistered()
{
    return !vidloom_device::Find(settings().sysfsRoot).empty();
}

bool RunTool(bool unregister)
{
    const bool direct = !settings().testHelper.empty();
    const std::filesystem::path helper = direct ? settings().testHelper : realHelper();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(helper, ec))
        return false;
    const pid_t pid = start(commandLine(helper, direct, unregister));
    if (pid < 0)
        return false;
    return exitedWithZero(pid, settings().timeout);
}

void SetSysfsRootForTesting(const std::filesystem::path &root)
{
    settings().sysfsRoot = root;
}

void SetHelperPathForTesting(const std::filesystem::path &helper)
{
    settings().testHelper = helper;
}

void SetTimeoutForTesting(std::chrono::milliseconds timeout)
{
    settings().timeout = timeout;
}

void ResetForTesting()
{
    settings() = Settings();
}

} // namespace camera_registration
