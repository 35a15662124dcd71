#pragma once

// The few V4L2 calls a loopback writer needs, on an open device.
namespace loopback_output {

// Sets YUYV at exactly width x height and advertises the frame rate. False
// if the device refuses, or keeps another format because a reader still
// holds the one set by an earlier writer.
bool Configure(int fd, int width, int height, double framesPerSecond);

// Asks for v4l2loopback's client-usage events (newer module versions only).
bool SubscribeClientUsage(int fd);

// Drains the pending client-usage events: the newest count of streaming
// readers, or -1 if none arrived since the last call.
int LatestClientUsage(int fd);

} // namespace loopback_output
