#pragma once

#include <cstdint>

// Holds a sender to a fixed frame rate on absolute deadlines, so sleeping
// late never accumulates into drift. A sender more than one frame behind
// starts a new schedule from now rather than bursting to catch up.
class FramePacer {
public:
    explicit FramePacer(double framesPerSecond);

    // Blocks until the next frame is due (at once for the late frame after
    // a stall).
    void WaitForNextFrame();

    static int64_t NowNs();

private:
    double periodNs;
    int64_t startNs = -1;
    int64_t framesSinceStart = 0;
};
