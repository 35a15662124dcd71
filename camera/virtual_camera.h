#pragma once

#include "frame_pacer.h"
#include "reader_watch.h"
#include "yuyv_converter.h"

#include <cstdint>
#include <filesystem>
#include <vector>

// Where the camera looks for its device. Tests point the roots at a fake
// tree and switch the V4L2 set-up off, so a plain file can stand in for
// the device node.
struct CameraEnvironment {
    std::filesystem::path sysfsRoot = "/sys";
    std::filesystem::path devRoot = "/dev";
    bool configureDevice = true;
};

// One camera: converts the frames it is sent, writes them to the Vidloom
// loopback device when there is one, and paces the sender. The device is
// looked for at creation and then at most once a second while frames are
// sent; a device that vanishes or refuses a frame is let go and looked for
// again, so a stream survives the device being registered late or reset.
// SendFrame is for one thread; the connection calls are for any.
class VirtualCamera {
public:
    static bool ValidSize(int width, int height);
    static bool ValidRate(float framesPerSecond);

    VirtualCamera(int width, int height, float framesPerSecond, CameraEnvironment environment = {});
    ~VirtualCamera();
    VirtualCamera(const VirtualCamera &) = delete;
    VirtualCamera &operator=(const VirtualCamera &) = delete;

    // False if swscale could not be set up for this size.
    bool Valid() const { return converter.Valid(); }
    bool SendFrame(const void *bgr);
    // A frame already in the device's YUYV, width x height x 2 bytes.
    bool SendYuyv(const void *yuyv);
    bool IsConnected() const { return readers.Connected(); }
    bool WaitForConnection(float timeoutSeconds);

    bool Attached() const { return fd >= 0; }
    const std::filesystem::path &Device() const { return devicePath; }

private:
    static constexpr int64_t kLookupIntervalNs = 1000000000;

    void lookForDevice();
    bool attach(const std::filesystem::path &device);
    void detach();
    bool send(const void *frame, bool isYuyv);
    bool writeFrame(const void *frame, bool isYuyv);

    const int width;
    const int height;
    const float framesPerSecond;
    const CameraEnvironment environment;
    YuyvConverter converter;
    FramePacer pacer;
    std::vector<uint8_t> yuyv;
    int fd = -1;
    std::filesystem::path devicePath;
    int64_t nextLookupNs = 0;
    // Last member: its thread stops before the rest goes.
    ReaderWatch readers;
};
