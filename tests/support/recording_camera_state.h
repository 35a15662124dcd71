#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

// What the recording camera library (tests/camera_stub) records and what a
// test sets; RecordingCamera::reset() clears it.
struct RecordingCameraRecord {
    int createCalls = 0, deleteCalls = 0;
    int failCreates = 0; // the next creations that fail
    bool pacing = true, connected = false;
    int sendDelayMs = 0;
    int standby = 0; // width * 10000 + height while standing by
    int status = 0;  // scGetStatus's code; sends fail while it is not 0
    int64_t framesSent = 0;
    std::vector<uint8_t> lastFrame;
    size_t captureLimit = 0; // the first frames sent, kept in captured
    std::vector<std::vector<uint8_t>> captured;
};

// The library's tcState(): the test and the library touch it only under mutex.
struct RecordingCameraState : RecordingCameraRecord {
    std::mutex mutex;
    std::condition_variable frameArrived;
    void *liveCamera = nullptr;
    int lastWidth = 0, lastHeight = 0; // the size of the camera created last
};
