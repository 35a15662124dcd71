#include "reader_watch.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/inotify.h>
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
    : inotifyFd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    , thread([this] { run(); })
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
    if (inotifyFd >= 0)
        close(inotifyFd);
}

void ReaderWatch::Watch(const std::string &path, std::function<int()> usage)
{
    {
        std::lock_guard lock(mutex);
        ++generation;
        devicePath = path;
        latestUsage = std::move(usage);
        usageCount = 0;
        if (inotifyFd >= 0 && !latestUsage)
            watchId = inotify_add_watch(inotifyFd, path.c_str(), IN_OPEN | IN_CLOSE);
        // A reader may have come before the watch began.
        scanDue = true;
        recheck = true;
    }
    wake.notify_all();
}

void ReaderWatch::Forget()
{
    std::lock_guard lock(mutex);
    ++generation;
    if (watchId >= 0)
        inotify_rm_watch(inotifyFd, watchId);
    watchId = -1;
    devicePath.clear();
    latestUsage = nullptr;
    scanDue = false;
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

// Drains the inotify queue: true if the device was opened or closed.
bool ReaderWatch::openedOrClosed()
{
    if (inotifyFd < 0 || watchId < 0)
        return true; // no inotify: look every time
    alignas(inotify_event) char buffer[4096];
    bool any = false;
    while (read(inotifyFd, buffer, sizeof buffer) > 0)
        any = true;
    return any;
}

void ReaderWatch::run()
{
    std::unique_lock lock(mutex);
    while (!stopping) {
        if (latestUsage) {
            const int latest = latestUsage();
            if (latest >= 0)
                usageCount = latest;
            publish(usageCount > 0);
        } else if (!devicePath.empty() && (openedOrClosed() || scanDue)) {
            scanDue = false;
            const unsigned scanned = generation;
            const std::string path = devicePath;
            lock.unlock();
            const bool found = OtherProcessHasOpen(path);
            scans.fetch_add(1, std::memory_order_relaxed);
            lock.lock();
            if (scanned == generation)
                publish(found);
        }
        wake.wait_for(lock, kInterval, [this] { return stopping || recheck; });
        recheck = false;
    }
}

void ReaderWatch::publish(bool now)
{
    if (connected.exchange(now) != now)
        changed.notify_all();
}
