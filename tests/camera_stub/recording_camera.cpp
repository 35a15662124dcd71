// Stand-in for the camera library in tests: same C API, records what it is
// sent, paces like a real camera (unless told not to) and reports a client
// connection when the test says so. The test reads and sets the record
// through tcState under tcLock. Built without scSendFrame
// (VIDLOOM_NO_SEND_FRAME), it is a library the app must refuse.
#include "recording_camera_state.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

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
RecordingCameraState state;
int lastWidth = 0, lastHeight = 0;

} // namespace

EXPORT void *scCreateCamera(int width, int height, float framerate)
{
    std::lock_guard lock(mutex);
    ++state.createCalls;
    if (state.failCreates > 0) {
        --state.failCreates;
        return nullptr;
    }
    if (state.liveCamera || width <= 0 || height <= 0 || framerate <= 0)
        return nullptr;
    state.standby = 0;
    state.liveCamera = new Camera{width, height, framerate, Clock::now()};
    lastWidth = width;
    lastHeight = height;
    return const_cast<void *>(state.liveCamera);
}

EXPORT void scDeleteCamera(void *camera)
{
    std::lock_guard lock(mutex);
    ++state.deleteCalls;
    if (camera && camera == state.liveCamera) {
        delete static_cast<Camera *>(camera);
        state.liveCamera = nullptr;
    }
}

#ifndef VIDLOOM_NO_SEND_FRAME
EXPORT bool scSendFrame(void *camera, const void *bits)
{
    Clock::time_point due;
    int delay;
    bool ok;
    {
        std::lock_guard lock(mutex);
        auto *cam = static_cast<Camera *>(camera);
        if (!cam || cam != state.liveCamera || !bits)
            return false;
        const size_t bytes = size_t(cam->width) * cam->height * 3;
        const auto *p = static_cast<const uint8_t *>(bits);
        state.lastFrame.assign(p, p + bytes);
        if (state.captured.size() < state.captureLimit)
            state.captured.emplace_back(p, p + bytes);
        ++state.framesSent;
        const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / cam->fps));
        const auto now = Clock::now();
        cam->nextDue = std::max(cam->nextDue + period, now);
        due = state.pacing ? cam->nextDue : now;
        delay = state.sendDelayMs;
        ok = state.status == 0;
    }
    frameArrived.notify_all();
    if (delay > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    std::this_thread::sleep_until(due);
    return ok;
}
#endif

EXPORT int scGetStatus(void *, int *, int *)
{
    std::lock_guard lock(mutex);
    return state.status;
}

EXPORT bool scWaitForConnection(void *, float)
{
    std::lock_guard lock(mutex);
    return state.connected;
}

EXPORT bool scIsConnected(void *camera)
{
    std::lock_guard lock(mutex);
    return camera && camera == state.liveCamera && state.connected;
}

EXPORT bool scStartStandby(int width, int height, float)
{
    std::lock_guard lock(mutex);
    state.standby = state.liveCamera ? 0 : width * 10000 + height;
    return !state.liveCamera;
}

EXPORT void scStopStandby()
{
    scStartStandby(0, 0, 0.0f); // records none
}

// ---- the test's side ----

EXPORT RecordingCameraState *tcState()
{
    return &state;
}

EXPORT void tcLock(bool on)
{
    if (on)
        mutex.lock();
    else
        mutex.unlock();
}

// The size of the camera created last.
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
    return frameArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return state.framesSent >= count; });
}
