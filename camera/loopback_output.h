#pragma once

#include "device_io.h"
#include "vidloomcam.h"

// The few V4L2 calls a loopback producer needs, on an open device.
namespace loopback_output {

struct Outcome {
    scStatus status;
    // With SC_STATUS_OTHER_SIZE: the size the device keeps.
    int width = 0;
    int height = 0;
    // The format was kept by an earlier camera's placeholder and is now
    // released: close the device and open it again to set a new one.
    bool reopen = false;
};

// True if fd is a v4l2loopback device that can take output.
bool IsLoopback(const DeviceIo &io, int fd);

// Checks the driver, sets YUYV at exactly width x height, advertises the
// frame rate and starts the output stream.
Outcome Start(const DeviceIo &io, int fd, int width, int height, double framesPerSecond);

// Asks the device to keep the format and the last frame after this producer
// closes, repeated at the frame rate: with a placeholder written last, readers
// keep a picture and the camera stays listed while nothing streams.
void KeepLastFrame(const DeviceIo &io, int fd);

// Ends the output stream, so the device offers output again to the next
// producer (Debian 12's 0.12.7 only does that for a producer that streamed).
void Stop(const DeviceIo &io, int fd);

// Asks for v4l2loopback's client-usage events (newer module versions only).
bool SubscribeClientUsage(const DeviceIo &io, int fd);

// Drains the pending client-usage events: the newest count of streaming
// readers, or -1 if none arrived since the last call.
int LatestClientUsage(const DeviceIo &io, int fd);

} // namespace loopback_output
