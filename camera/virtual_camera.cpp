#include "virtual_camera.h"

#include "loopback_output.h"
#include "placeholder.h"
#include "vidloom_device.h"

#include <cerrno>
#include <cmath>
#include <fcntl.h>

namespace {

constexpr int kMinSide = 64;
constexpr int kMaxSide = 7680;

bool writeAll(const DeviceIo &io, int fd, const uint8_t *data, size_t size)
{
    ssize_t n;
    do {
        n = io.write(fd, data, size);
    } while (n < 0 && errno == EINTR);
    // The loopback takes a frame in one write; anything less is a device
    // set up for another size.
    if (n >= 0 && n != ssize_t(size))
        errno = EINVAL;
    return n == ssize_t(size);
}

// Why the device could not be opened or written to, from errno.
scStatus statusFromErrno()
{
    switch (errno) {
    case EACCES:
    case EPERM:
        return SC_STATUS_NO_PERMISSION;
    case EBUSY:
        return SC_STATUS_BUSY;
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return SC_STATUS_NOT_REGISTERED;
    default:
        return SC_STATUS_REFUSED;
    }
}

} // namespace

bool VirtualCamera::ValidSize(int width, int height)
{
    // YUYV carries chroma for pixel pairs, so the width must be even.
    return width % 2 == 0 && width >= kMinSide && width <= kMaxSide && height >= kMinSide && height <= kMaxSide;
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
    // Only modules without usage events (0.12) show a kept frame to a reader
    // that comes later; newer ones list the device but refuse its format.
    if (Attached() && !usageEvents) {
        const std::vector<uint8_t> placeholder = PlaceholderBgr(width, height);
        converter.Convert(placeholder.data(), yuyv.data());
        if (writeAll(environment.io, fd, yuyv.data(), yuyv.size()))
            loopback_output::KeepLastFrame(environment.io, fd);
    }
    detach();
}

bool VirtualCamera::SendFrame(const void *bgr)
{
    const bool sent = offer(bgr, false);
    pacer.WaitForNextFrame();
    return sent;
}

bool VirtualCamera::SendYuyv(const void *yuyv)
{
    const bool sent = offer(yuyv, true);
    pacer.WaitForNextFrame();
    return sent;
}

bool VirtualCamera::OfferYuyv(const void *yuyv)
{
    return offer(yuyv, true);
}

bool VirtualCamera::offer(const void *frame, bool isYuyv)
{
    if (FramePacer::NowNs() >= nextLookupNs)
        lookForDevice();
    return frame && Attached() && writeFrame(frame, isYuyv);
}

bool VirtualCamera::WaitForConnection(float timeoutSeconds)
{
    return readers.WaitForConnection(std::chrono::duration<double>(timeoutSeconds));
}

CameraStatus VirtualCamera::Status() const
{
    const uint64_t packed = status.load(std::memory_order_relaxed);
    return {scStatus(packed & 0xff), int((packed >> 8) & 0xffffff), int(packed >> 32)};
}

void VirtualCamera::setStatus(scStatus code, int heldWidth, int heldHeight)
{
    status.store(uint64_t(code) | (uint64_t(heldWidth & 0xffffff) << 8) | (uint64_t(uint32_t(heldHeight)) << 32),
                 std::memory_order_relaxed);
}

void VirtualCamera::lookForDevice()
{
    nextLookupNs = FramePacer::NowNs() + kLookupIntervalNs;
    const std::filesystem::path found = vidloom_device::Find(environment.sysfsRoot, environment.devRoot);
    if (Attached() && found == devicePath)
        return;
    detach();
    if (found.empty())
        setStatus(SC_STATUS_NOT_REGISTERED);
    else
        attach(found);
}

void VirtualCamera::attach(const std::filesystem::path &device, bool again)
{
    const DeviceIo &io = environment.io;
    // Non-blocking, so draining usage events never waits.
    const int opened = io.open(device.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (opened < 0) {
        setStatus(statusFromErrno());
        return;
    }
    const loopback_output::Outcome outcome = loopback_output::Start(io, opened, width, height, framesPerSecond);
    if (outcome.status != SC_STATUS_SENDING) {
        // Closing at once lets a reader's release free the old format.
        io.close(opened);
        setStatus(outcome.status, outcome.width, outcome.height);
        if (outcome.reopen && !again)
            attach(device, true);
        return;
    }
    setStatus(SC_STATUS_SENDING);
    fd = opened;
    devicePath = device;
    std::function<int()> usage;
    usageEvents = loopback_output::SubscribeClientUsage(io, opened);
    if (usageEvents)
        usage = [&io, opened] { return loopback_output::LatestClientUsage(io, opened); };
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::canonical(device, ec);
    readers.Watch(ec ? device.string() : canonical.string(), std::move(usage));
}

void VirtualCamera::detach()
{
    if (!Attached())
        return;
    readers.Forget();
    loopback_output::Stop(environment.io, fd);
    environment.io.close(fd);
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
    if (writeAll(environment.io, fd, out, yuyv.size()))
        return true;
    // Unloaded, taken by another writer, or held at another format by a
    // reader: let go and look again at the next lookup.
    setStatus(statusFromErrno());
    detach();
    return false;
}
