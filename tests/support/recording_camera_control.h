#pragma once

#include "recording_camera_state.h"

#include <algorithm>

// The recording camera library that sits beside the test programs. It is
// the very one FrameSender loads (dlopen hands out the same instance), so
// what the test sets is what the sender sees.
class RecordingCamera {
public:
    RecordingCamera();
    bool ok() const { return state != nullptr; }

    // Runs f on the state under the library's lock.
    template <typename F> auto with(F f) const
    {
        struct Unlock {
            void (*lock)(bool);
            ~Unlock() { lock(false); }
        } unlock{lock};
        lock(true);
        return f(*state);
    }
    void reset()
    {
        with([](auto &s) {
            const void *live = s.liveCamera;
            s = {};
            s.liveCamera = live;
        });
    }
    void setPacing(bool on)
    {
        with([=](auto &s) { s.pacing = on; });
    }
    void setConnected(bool on)
    {
        with([=](auto &s) { s.connected = on; });
    }
    void setCreateFailures(int n)
    {
        with([=](auto &s) { s.failCreates = n; });
    }
    void setSendDelayMs(int ms)
    {
        with([=](auto &s) { s.sendDelayMs = ms; });
    }
    void captureFrames(int n)
    {
        with([=](auto &s) { s.captured.clear(), s.captureLimit = size_t(std::max(n, 0)); });
    }
    int64_t frameCount() const
    {
        return with([](auto &s) { return s.framesSent; });
    }
    int createCalls() const
    {
        return with([](auto &s) { return s.createCalls; });
    }
    int deleteCalls() const
    {
        return with([](auto &s) { return s.deleteCalls; });
    }
    bool cameraLive() const
    {
        return with([](auto &s) { return s.liveCamera != nullptr; });
    }
    int capturedCount() const
    {
        return with([](auto &s) { return int(s.captured.size()); });
    }
    bool waitForFrames(int64_t n, int timeoutMs = 10000) const { return waitFn(n, timeoutMs); }
    // index -1: the last frame sent.
    std::vector<uint8_t> frame(int index = -1) const
    {
        return with([=](auto &s) {
            return index < 0                        ? s.lastFrame
                : size_t(index) < s.captured.size() ? s.captured[size_t(index)]
                                                    : std::vector<uint8_t>{};
        });
    }

private:
    RecordingCameraState *state = nullptr;
    void (*lock)(bool) = nullptr;
    bool (*waitFn)(int64_t, int) = nullptr;
};
