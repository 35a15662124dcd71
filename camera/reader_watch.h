#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

// Tells whether another program reads the camera's device. A small thread
// looks five times a second, so asking costs one atomic load and the frame
// path never waits for it. With v4l2loopback's client-usage events it
// trusts those; older modules (Debian 12 has 0.12.7) count no readers, so
// it looks for other processes holding the device open.
class ReaderWatch {
public:
    static constexpr std::chrono::milliseconds kInterval{200};

    ReaderWatch();
    ~ReaderWatch();
    ReaderWatch(const ReaderWatch &) = delete;
    ReaderWatch &operator=(const ReaderWatch &) = delete;

    // Starts watching the device the writer opened as fd (its canonical
    // path, as /proc shows it). The fd is used only for usage events and
    // only until Forget returns, so the writer may close it right after.
    void Watch(int fd, const std::string &devicePath, bool usageEvents);
    void Forget();

    bool Connected() const { return connected.load(std::memory_order_relaxed); }
    // Timeout of zero or less: waits without limit, until a reader comes
    // or the watch ends.
    bool WaitForConnection(std::chrono::duration<double> timeout);

private:
    void run();
    bool look();
    void publish(bool now);

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable changed;
    bool stopping = false;
    bool recheck = false;
    int fd = -1;
    std::string devicePath;
    bool usageEvents = false;
    int usageCount = 0;
    std::atomic<bool> connected{false};
    std::thread thread;
};

// True if a process other than this one has path open (path as the
// /proc/<pid>/fd links show it).
bool OtherProcessHasOpen(const std::string &path);
