#pragma once

#include "device_io.h"
#include "frame_pacer.h"
#include "reader_watch.h"
#include "vidloomcam.h"
#include "yuyv_converter.h"

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <vector>

// Where the camera looks for its device and how it talks to it. Tests point
// the roots at a fake tree and put a fake device behind the calls.
struct CameraEnvironment {
    std::filesystem::path sysfsRoot = "/sys";
    std::filesystem::path devRoot = "/dev";
    DeviceIo io = DeviceIo::System();
};

struct CameraStatus {
    scStatus code;
    int width; // the size a reader holds, with SC_STATUS_OTHER_SIZE
    int height;
};

// One camera: converts the frames it is sent, writes them to the Vidloom
// loopback device when there is one, and paces the sender. When it goes it
// leaves a placeholder picture that the device keeps showing (v4l2loopback
// 0.12). The device is
// looked for at creation and then at most once a second while frames are
// sent; a device that vanishes or refuses a frame is let go and looked for
// again, so a stream survives the device being registered late or reset.
// SendFrame is for one thread; the connection and status calls are for any.
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
    // The same without waiting for the next frame's time: for a sender that
    // keeps its own, slower pace.
    bool OfferYuyv(const void *yuyv);
    bool IsConnected() const { return readers.Connected(); }
    bool WaitForConnection(float timeoutSeconds);
    CameraStatus Status() const;

    bool Attached() const { return fd >= 0; }
    const std::filesystem::path &Device() const { return devicePath; }
    const ReaderWatch &Readers() const { return readers; }

private:
    static constexpr int64_t kLookupIntervalNs = 1000000000;

    void lookForDevice();
    void attach(const std::filesystem::path &device, bool again = false);
    void detach();
    bool offer(const void *frame, bool isYuyv);
    bool writeFrame(const void *frame, bool isYuyv);
    void setStatus(scStatus code, int heldWidth = 0, int heldHeight = 0);

    const int width;
    const int height;
    const float framesPerSecond;
    const CameraEnvironment environment;
    YuyvConverter converter;
    FramePacer pacer;
    std::vector<uint8_t> yuyv;
    int fd = -1;
    bool usageEvents = false; // the module is 0.13 or later
    std::filesystem::path devicePath;
    int64_t nextLookupNs = 0;
    // Code and size packed, so a reader on another thread sees them together.
    std::atomic<uint64_t> status{SC_STATUS_NOT_REGISTERED};
    // Last member: its thread stops before the rest goes.
    ReaderWatch readers;
};
