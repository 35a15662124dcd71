#include "virtual_camera.h"

#include "loopback_output.h"
#include "vidloom_device.h"

#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kMinSide = 64;
constexpr int kMaxSide = 7680;

bool writeAll(int fd, const uint8_t *data, size_t size)
{
    ssize_t n;
    do {
        n = write(fd, data, size);
    } while (n < 0 && errno == EINTR);
    // The loopback takes a frame in one write; anything less is a device
    // set up for another size.
    return n == ssize_t(size);
}

} // namespace

bool VirtualCamera::ValidSize(int width, int height)
{
    // YUYV carries chroma for pixel pairs, so the width must be even.
    return width % 2 == 0 && width >= kMinSide && width <= kMaxSide && height >= kMinSide &&
           height <= kMaxSide;
}

bool VirtualCamera::ValidRate(float framesPerSecond)
{
    return std::isfinite(framesPerSecond) && framesPerSecond > 0.0f && framesPerSecond <= 1000.0f;
}

VirtualCamera::VirtualCamera(int width, int height, float framesPerSecond, CameraEnvironment environment)
    : width(width)
    , height(height)
    , framesPerSecond(framesPerSecond)
    , environment(std::move(environment))
    , converter(width, height)
    , pacer(framesPerSecond)
    , yuyv(converter.OutputBytes())
{
    // Take the device at once, so the camera exists for others as soon as
    // it is created.
    lookForDevice();
}

VirtualCamera::~VirtualCamera()
{
    detach();
}

bool VirtualCamera::SendFrame(const void *bgr)
{
    return send(bgr, false);
}

bool VirtualCamera::SendYuyv(const void *yuyv)
{
    return send(yuyv, true);
}

bool VirtualCamera::send(const void *frame, bool isYuyv)
{
    if (FramePacer::NowNs() >= nextLookupNs)
        lookForDevice();
    const bool sent = frame && Attached() && writeFrame(frame, isYuyv);
    pacer.WaitForNextFrame();
    return sent;
}

bool VirtualCamera::WaitForConnection(float timeoutSeconds)
{
    return readers.WaitForConnection(std::chrono::duration<double>(timeoutSeconds));
}

void VirtualCamera::lookForDevice()
{
    nextLookupNs = FramePacer::NowNs() + kLookupIntervalNs;
    const std::filesystem::path found = vidloom_device::Find(environment.sysfsRoot, environment.devRoot);
    if (Attached() && found == devicePath)
        return;
    detach();
    if (!found.empty())
        attach(found);
}

bool VirtualCamera::attach(const std::filesystem::path &device)
{
    // Non-blocking, so draining usage events never waits.
    const int opened = open(device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0)
        return false;
    if (environment.configureDevice && !loopback_output::Configure(opened, width, height, framesPerSecond)) {
        close(opened);
        return false;
    }
    const bool usageEvents = environment.configureDevice && loopback_output::SubscribeClientUsage(opened);
    fd = opened;
    devicePath = device;
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::canonical(device, ec);
    readers.Watch(fd, ec ? device.string() : canonical.string(), usageEvents);
    return true;
}

void VirtualCamera::detach()
{
    if (!Attached())
        return;
    readers.Forget();
    close(fd);
    fd = -1;
    devicePath.clear();
}

bool VirtualCamera::writeFrame(const void *frame, bool isYuyv)
{
    const uint8_t *out = static_cast<const uint8_t *>(frame);
    if (!isYuyv) {
        converter.Convert(out, yuyv.data());
        out = yuyv.data();
    }
    if (writeAll(fd, out, yuyv.size()))
        return true;
    // Unloaded, taken by another writer, or held at another format by a
    // reader: let go and look again at the next lookup.
    detach();
    return false;
}
