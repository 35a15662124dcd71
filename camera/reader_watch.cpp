#include "reader_watch.h"

#include "loopback_output.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

namespace {

bool isPid(const char *name)
{
    if (!*name)
        return false;
    for (; *name; ++name) {
        if (*name < '0' || *name > '9')
            return false;
    }
    return true;
}

bool processHasOpen(const std::string &fdDir, const std::string &path)
{
    DIR *dir = opendir(fdDir.c_str());
    if (!dir)
        return false; // gone, or another user's
    bool found = false;
    char target[PATH_MAX];
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string link = fdDir + '/' + entry->d_name;
        const ssize_t n = readlink(link.c_str(), target, sizeof target);
        if (n == ssize_t(path.size()) && std::memcmp(target, path.data(), path.size()) == 0) {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}

} // namespace

bool OtherProcessHasOpen(const std::string &path)
{
    DIR *proc = opendir("/proc");
    if (!proc)
        return false;
    const std::string self = std::to_string(getpid());
    bool found = false;
    while (dirent *entry = readdir(proc)) {
        if (!isPid(entry->d_name) || self == entry->d_name)
            continue;
        if (processHasOpen(std::string("/proc/") + entry->d_name + "/fd", path)) {
            found = true;
            break;
        }
    }
    closedir(proc);
    return found;
}

ReaderWatch::ReaderWatch()
    : thread([this] { run(); })
{
}

ReaderWatch::~ReaderWatch()
{
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    changed.notify_all();
    thread.join();
}

void ReaderWatch::Watch(int deviceFd, const std::string &path, bool events)
{
    {
        std::lock_guard lock(mutex);
        fd = deviceFd;
        devicePath = path;
        usageEvents = events;
        usageCount = 0;
        recheck = true;
    }
    wake.notify_all();
}

void ReaderWatch::Forget()
{
    std::lock_guard lock(mutex);
    fd = -1;
    devicePath.clear();
    publish(false);
}

bool ReaderWatch::WaitForConnection(std::chrono::duration<double> timeout)
{
    std::unique_lock lock(mutex);
    auto ready = [this] { return stopping || connected.load(); };
    if (timeout.count() <= 0)
        changed.wait(lock, ready);
    else
        changed.wait_for(lock, timeout, ready);
    return connected.load();
}

void ReaderWatch::run()
{
    std::unique_lock lock(mutex);
    while (!stopping) {
        publish(look());
        wake.wait_for(lock, kInterval, [this] { return stopping || recheck; });
        recheck = false;
    }
}

// Called with the mutex held, so the writer cannot close fd meanwhile.
bool ReaderWatch::look()
{
    if (devicePath.empty())
        return false;
    if (usageEvents) {
        const int latest = loopback_output::LatestClientUsage(fd);
        if (latest >= 0)
            usageCount = latest;
        return usageCount > 0;
    }
    return OtherProcessHasOpen(devicePath);
}

void ReaderWatch::publish(bool now)
{
    if (connected.exchange(now) != now)
        changed.notify_all();
}
