#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Tells whether another program reads the camera's device. A small thread
// looks five times a second, so asking costs one atomic load and the frame
// path never waits for it. With v4l2loopback's client-usage events it
// trusts those; older modules (Debian 12 has 0.12.7) count no readers, so
// it watches the device node for opens and closes and only then looks for
// other processes holding it open, outside its lock: the cost does not
// grow with what other processes have open while nobody comes or goes.
class ReaderWatch {
public:
    static constexpr std::chrono::milliseconds kInterval{200};

    ReaderWatch();
    ~ReaderWatch();
    ReaderWatch(const ReaderWatch &) = delete;
    ReaderWatch &operator=(const ReaderWatch &) = delete;

    // Starts watching the device at devicePath (canonical, as /proc shows
    // it). latestUsage, if set, drains the device's usage events (the
    // newest reader count, or -1 for none); it is called only until Forget
    // returns, so the writer may close the device right after.
    void Watch(const std::string &devicePath, std::function<int()> latestUsage);
    void Forget();

    bool Connected() const { return connected.load(std::memory_order_relaxed); }
    // Timeout of zero or less: waits without limit, until a reader comes
    // or the watch ends.
    bool WaitForConnection(std::chrono::duration<double> timeout);

    // How many times it has looked through /proc (for tests and benchmarks).
    int ProcessScans() const { return scans.load(std::memory_order_relaxed); }

private:
    void run();
    bool openedOrClosed();
    void publish(bool now);

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable changed;
    bool stopping = false;
    bool recheck = false;
    std::string devicePath;
    std::function<int()> latestUsage;
    int usageCount = 0;
    // Bumped by Watch and Forget, so a scan that raced them is dropped.
    unsigned generation = 0;
    bool scanDue = false;
    int inotifyFd = -1;
    int watchId = -1;
    std::atomic<bool> connected{false};
    std::atomic<int> scans{0};
    std::thread thread;
};

// True if a process other than this one has path open (path as the
// /proc/<pid>/fd links show it).
bool OtherProcessHasOpen(const std::string &path);
