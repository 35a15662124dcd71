#include "modprobe_system.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace camera_helper {

namespace {

// Debian 12 has it in /usr/sbin (merged /usr); older systems in /sbin.
const char *modprobePath()
{
    for (const char *path : {"/usr/sbin/modprobe", "/sbin/modprobe"}) {
        if (access(path, X_OK) == 0)
            return path;
    }
    return nullptr;
}

std::vector<char *> pointers(const std::vector<std::string> &strings)
{
    std::vector<char *> out;
    for (const std::string &s : strings)
        out.push_back(const_cast<char *>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

} // namespace

std::vector<std::string> ModprobeEnvironment()
{
    return {"PATH=/usr/sbin:/usr/bin:/sbin:/bin"};
}

bool ModprobeSystem::Modprobe(const std::vector<std::string> &args)
{
    const char *program = modprobePath();
    if (!program)
        return false;
    std::vector<std::string> command{program};
    command.insert(command.end(), args.begin(), args.end());
    const std::vector<std::string> environment = ModprobeEnvironment();
    std::vector<char *> argv = pointers(command);
    std::vector<char *> envp = pointers(environment);
    pid_t pid = -1;
    if (posix_spawn(&pid, program, nullptr, nullptr, argv.data(), envp.data()) != 0)
        return false;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    return r == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace camera_helper
