#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What the recording camera library (tests/camera_stub) records and what a
// test sets: one struct behind the library's tcState, touched only between
// tcLock(true) and tcLock(false).
struct RecordingCameraState {
    const void *liveCamera = nullptr;
    int createCalls = 0, deleteCalls = 0;
    int failCreates = 0; // the next creations that fail
    bool pacing = true;
    bool connected = false;
    int sendDelayMs = 0;
    int standby = 0; // width * 10000 + height while standing by
    int status = 0;  // scGetStatus's code; sends fail while it is not 0
    int64_t framesSent = 0;
    std::vector<uint8_t> lastFrame;
    size_t captureLimit = 0; // the first frames sent, kept in captured
    std::vector<std::vector<uint8_t>> captured;
};
