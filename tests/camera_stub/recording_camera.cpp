// Stand-in for the camera library in tests: same C API, records what it is
// sent, paces like a real camera (unless told not to) and reports a client
// connection when the test says so. The tc* functions are the test's knobs.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#ifdef _WIN32
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

using Clock = std::chrono::steady_clock;

struct Camera {
    int width;
    int height;
    float fps;
    Clock::time_point nextDue;
};

std::mutex mutex;
std::condition_variable frameArrived;
Camera *liveCamera = nullptr;
int createCalls = 0;
int deleteCalls = 0;
int failCreates = 0;
bool pacing = true;
bool connected = false;
int64_t framesSent = 0;
int lastWidth = 0, lastHeight = 0;
std::vector<uint8_t> lastFrame;
size_t captureLimit = 0;
std::vector<std::vector<uint8_t>> captured;
int sendDelayMs = 0;

} // namespace

EXPORT void *scCreateCamera(int width, int height, float framerate)
{
    std::lock_guard lock(mutex);
    ++createCalls;
    if (failCreates > 0) {
        --failCreates;
        return nullptr;
    }
    if (liveCamera || width <= 0 || height <= 0 || framerate <= 0)
        return nullptr;
    liveCamera = new Camera{width, height, framerate, Clock::now()};
    lastWidth = width;
    lastHeight = height;
    return liveCamera;
}

EXPORT void scDeleteCamera(void *camera)
{
    std::lock_guard lock(mutex);
    ++deleteCalls;
    if (camera && camera == liveCamera) {
        delete liveCamera;
        liveCamera = nullptr;
    }
}

EXPORT bool scSendFrame(void *camera, const void *bits)
{
    Clock::time_point due;
    int delay;
    {
        std::lock_guard lock(mutex);
        auto *cam = static_cast<Camera *>(camera);
        if (!cam || cam != liveCamera || !bits)
            return false;
        const size_t bytes = size_t(cam->width) * cam->height * 3;
        const auto *p = static_cast<const uint8_t *>(bits);
        lastFrame.assign(p, p + bytes);
        if (captured.size() < captureLimit)
            captured.emplace_back(p, p + bytes);
        ++framesSent;
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / cam->fps));
        const auto now = Clock::now();
        cam->nextDue = std::max(cam->nextDue + period, now);
        due = pacing ? cam->nextDue : now;
        delay = sendDelayMs;
    }
    frameArrived.notify_all();
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    std::this_thread::sleep_until(due);
    return true;
}

EXPORT bool scWaitForConnection(void *, float)
{
    std::lock_guard lock(mutex);
    return connected;
}

EXPORT bool scIsConnected(void *camera)
{
    std::lock_guard lock(mutex);
    return camera && camera == liveCamera && connected;
}

// ---- test controls ----

EXPORT void tcReset()
{
    std::lock_guard lock(mutex);
    createCalls = deleteCalls = failCreates = 0;
    pacing = true;
    connected = false;
    framesSent = 0;
    lastFrame.clear();
    captured.clear();
    captureLimit = 0;
    sendDelayMs = 0;
}

EXPORT void tcSetPacing(bool on)
{
    std::lock_guard lock(mutex);
    pacing = on;
}

EXPORT void tcSetConnected(bool on)
{
    std::lock_guard lock(mutex);
    connected = on;
}

EXPORT void tcSetCreateFailures(int count)
{
    std::lock_guard lock(mutex);
    failCreates = count;
}

EXPORT void tcSetSendDelayMs(int ms)
{
    std::lock_guard lock(mutex);
    sendDelayMs = ms;
}

EXPORT void tcCaptureFrames(int count)
{
    std::lock_guard lock(mutex);
    captured.clear();
    captureLimit = count > 0 ? size_t(count) : 0;
}

EXPORT int64_t tcFrameCount()
{
    std::lock_guard lock(mutex);
    return framesSent;
}

EXPORT int tcCreateCalls()
{
    std::lock_guard lock(mutex);
    return createCalls;
}

EXPORT int tcDeleteCalls()
{
    std::lock_guard lock(mutex);
    return deleteCalls;
}

EXPORT bool tcCameraLive()
{
    std::lock_guard lock(mutex);
    return liveCamera != nullptr;
}

EXPORT void tcCameraSize(int *width, int *height)
{
    std::lock_guard lock(mutex);
    *width = lastWidth;
    *height = lastHeight;
}

// Waits until at least `count` frames were sent; false on time-out.
EXPORT bool tcWaitForFrames(int64_t count, int timeoutMs)
{
    std::unique_lock lock(mutex);
    return frameArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [&] { return framesSent >= count; });
}

// Copies the last frame (index -1) or captured frame `index`; returns its size.
EXPORT int64_t tcCopyFrame(int index, uint8_t *out, int64_t capacity)
{
    std::lock_guard lock(mutex);
    const std::vector<uint8_t> *frame = nullptr;
    if (index < 0)
        frame = &lastFrame;
    else if (size_t(index) < captured.size())
        frame = &captured[size_t(index)];
    if (!frame)
        return -1;
    if (out && capacity >= int64_t(frame->size()))
        std::memcpy(out, frame->data(), frame->size());
    return int64_t(frame->size());
}

EXPORT int tcCapturedCount()
{
    std::lock_guard lock(mutex);
    return int(captured.size());
}
