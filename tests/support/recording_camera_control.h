#pragma once

#include "camera_library.h"
#include "recording_camera_state.h"

// The recording camera library that sits beside the test programs. It is
// the very one FrameSender loads (dlopen hands out the same instance), so
// what the test sets is what the sender sees.
class RecordingCamera {
public:
    RecordingCamera()
    {
        void *library = camera_library::Open(camera_library::ExecutableDir() / camera_library::FileName());
        auto symbol = [&](const char *name) { return library ? camera_library::Symbol(library, name) : nullptr; };
        lock = reinterpret_cast<void (*)(bool)>(symbol("tcLock"));
        waitFn = reinterpret_cast<bool (*)(int64_t, int)>(symbol("tcWaitForFrames"));
        if (auto *stateFn = reinterpret_cast<RecordingCameraState *(*)()>(symbol("tcState")); stateFn && lock && waitFn)
            state = stateFn();
    }
    bool ok() const { return state != nullptr; }

    // The state, under the library's lock until the end of the statement.
    struct Locked {
        RecordingCameraState *state;
        void (*lock)(bool);
        ~Locked() { lock(false); }
        RecordingCameraState *operator->() const { return state; }
    };
    Locked locked() const
    {
        lock(true);
        return {state, lock};
    }

    void reset() { static_cast<RecordingCameraRecord &>(*locked().state) = {}; }
    void setPacing(bool on) { locked()->pacing = on; }
    void setConnected(bool on) { locked()->connected = on; }
    void setSendDelayMs(int ms) { locked()->sendDelayMs = ms; }
    int64_t frameCount() const { return locked()->framesSent; }
    bool cameraLive() const { return locked()->liveCamera != nullptr; }
    // Waits until at least n frames were sent; false on time-out.
    bool waitForFrames(int64_t n, int timeoutMs = 10000) const { return waitFn(n, timeoutMs); }
    // index -1: the last frame sent.
    std::vector<uint8_t> frame(int index = -1) const
    {
        const Locked s = locked();
        const size_t i = size_t(index);
        return index < 0 ? s->lastFrame : i < s->captured.size() ? s->captured[i] : std::vector<uint8_t>{};
    }

private:
    RecordingCameraState *state = nullptr;
    void (*lock)(bool) = nullptr;
    bool (*waitFn)(int64_t, int) = nullptr;
};
