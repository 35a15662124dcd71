#pragma once

#include "camera_library.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

// What the recording camera library (tests/camera_stub) records and a test sets; reset() clears it.
struct RecordingCameraRecord {
    int createCalls = 0, deleteCalls = 0, sendDelayMs = 0, failCreates = 0; // failCreates: the next ones that fail
    bool pacing = true, connected = false;
    int standby = 0, status = 0; // width * 10000 + height while standing by; scGetStatus's code, sends fail unless 0
    int64_t framesSent = 0;
    std::vector<uint8_t> lastFrame;
    size_t captureLimit = 0; // the first frames sent, kept in captured
    std::vector<std::vector<uint8_t>> captured;
};

// The library's tcState(), touched only under its mutex.
struct RecordingCameraState : RecordingCameraRecord {
    std::mutex mutex;
    std::condition_variable frameArrived;
    void *liveCamera = nullptr;
};

// The recording camera beside the test programs: the very instance FrameSender loads.
struct RecordingCamera {
    RecordingCamera()
    {
        void *library = camera_library::Open(camera_library::ExecutableDir() / camera_library::FileName());
        if (void *stateFn = library ? camera_library::Symbol(library, "tcState") : nullptr)
            state = reinterpret_cast<RecordingCameraState *(*)()>(stateFn)();
    }
    bool ok() const { return state != nullptr; }

    // The state, under the library's lock until the end of the statement.
    struct Locked {
        std::unique_lock<std::mutex> lock;
        RecordingCameraState *state;
        RecordingCameraState *operator->() const { return state; }
    };
    Locked locked() const { return {std::unique_lock(state->mutex), state}; }

    void reset() { static_cast<RecordingCameraRecord &>(*locked().state) = {}; }
    void setPacing(bool on) { locked()->pacing = on; }
    void setConnected(bool on) { locked()->connected = on; }
    void setSendDelayMs(int ms) { locked()->sendDelayMs = ms; }
    int64_t frameCount() const { return locked()->framesSent; }
    bool cameraLive() const { return locked()->liveCamera != nullptr; }
    // Waits until at least n frames were sent; false on time-out.
    bool waitForFrames(int64_t n) const
    {
        Locked s = locked();
        return s->frameArrived.wait_for(s.lock, std::chrono::seconds(10), [&] { return s->framesSent >= n; });
    }
    std::vector<uint8_t> frame() const { return locked()->lastFrame; } // the last one sent

    RecordingCameraState *state = nullptr;
};
