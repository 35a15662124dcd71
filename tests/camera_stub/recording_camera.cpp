// The camera library's C API recording into tcState(), paced unless told not to; without scSendFrame, one to refuse.
#include "recording_camera_control.h"

#include <algorithm>
#include <chrono>
#include <thread>

#ifdef _WIN32
#define EXPORT extern "C" __declspec(dllexport)
#else
#define EXPORT extern "C" __attribute__((visibility("default")))
#endif

using Clock = std::chrono::steady_clock;

static RecordingCameraState state; // liveCamera is &state while a camera lives
static size_t frameBytes;
static Clock::duration period;
static Clock::time_point nextDue;

EXPORT RecordingCameraState *tcState()
{
    return &state;
}

EXPORT void *scCreateCamera(int width, int height, float framerate)
{
    std::lock_guard lock(state.mutex);
    ++state.createCalls;
    if (state.failCreates > 0) {
        --state.failCreates;
        return nullptr;
    }
    if (state.liveCamera || width <= 0 || height <= 0 || framerate <= 0)
        return nullptr;
    state.standby = 0;
    frameBytes = size_t(width) * height * 3;
    period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / framerate));
    nextDue = Clock::now();
    return state.liveCamera = &state;
}

EXPORT void scDeleteCamera(void *camera)
{
    std::lock_guard lock(state.mutex);
    ++state.deleteCalls;
    if (camera == state.liveCamera)
        state.liveCamera = nullptr;
}

#ifndef VIDLOOM_NO_SEND_FRAME
EXPORT bool scSendFrame(void *camera, const void *bits)
{
    std::unique_lock lock(state.mutex);
    if (!camera || camera != state.liveCamera || !bits)
        return false;
    const auto *p = static_cast<const uint8_t *>(bits);
    state.lastFrame.assign(p, p + frameBytes);
    if (state.captured.size() < state.captureLimit)
        state.captured.push_back(state.lastFrame);
    ++state.framesSent;
    nextDue = state.pacing ? std::max(nextDue + period, Clock::now()) : Clock::now(); // unpaced: no backlog
    const auto held = Clock::now() + std::chrono::milliseconds(state.sendDelayMs);
    const auto due = state.pacing ? std::max(nextDue, held) : held;
    const bool ok = state.status == 0;
    lock.unlock();
    state.frameArrived.notify_all();
    std::this_thread::sleep_until(due);
    return ok;
}
#endif

EXPORT int scGetStatus(void *, int *, int *)
{
    std::lock_guard lock(state.mutex);
    return state.status;
}

EXPORT bool scIsConnected(void *camera)
{
    std::lock_guard lock(state.mutex);
    return camera && camera == state.liveCamera && state.connected;
}

EXPORT bool scStartStandby(int width, int height, float)
{
    std::lock_guard lock(state.mutex);
    state.standby = state.liveCamera ? 0 : width * 10000 + height;
    return !state.liveCamera;
}

EXPORT void scStopStandby()
{
    scStartStandby(0, 0, 0.0f); // records none
}
