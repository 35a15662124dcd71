#include "loopback_output.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <linux/videodev2.h>
#include <numeric>

namespace loopback_output {

namespace {

// From v4l2loopback's own header, which Debian does not install.
constexpr uint32_t kClientUsageEvent = V4L2_EVENT_PRIVATE_START + 0x08E00000 + 1;
constexpr char kDriver[] = "v4l2 loopback";
// v4l2loopback's own controls.
constexpr uint32_t kKeepFormat = V4L2_CID_USER_BASE | 0xf000;
constexpr uint32_t kSustainFramerate = kKeepFormat + 1;

int xioctl(const DeviceIo &io, int fd, unsigned long request, void *arg)
{
    int r;
    do {
        r = io.ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

scStatus refusal()
{
    // EBUSY: another producer owns the output (newer modules).
    return errno == EBUSY ? SC_STATUS_BUSY : SC_STATUS_REFUSED;
}

Outcome setFormat(const DeviceIo &io, int fd, int width, int height)
{
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    fmt.fmt.pix.width = uint32_t(width);
    fmt.fmt.pix.height = uint32_t(height);
    fmt.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
    fmt.fmt.pix.field = V4L2_FIELD_NONE;
    fmt.fmt.pix.bytesperline = uint32_t(width) * 2;
    fmt.fmt.pix.sizeimage = uint32_t(width) * uint32_t(height) * 2;
    fmt.fmt.pix.colorspace = V4L2_COLORSPACE_SMPTE170M;
    fmt.fmt.pix.ycbcr_enc = V4L2_YCBCR_ENC_601;
    fmt.fmt.pix.quantization = V4L2_QUANTIZATION_LIM_RANGE;
    if (xioctl(io, fd, VIDIOC_S_FMT, &fmt) < 0)
        return {refusal()};
    // v4l2loopback answers with the format it already has, instead of
    // failing, while a reader holds an earlier producer's format.
    if (fmt.fmt.pix.pixelformat != V4L2_PIX_FMT_YUYV)
        return {SC_STATUS_REFUSED};
    if (fmt.fmt.pix.width != uint32_t(width) || fmt.fmt.pix.height != uint32_t(height))
        return {SC_STATUS_OTHER_SIZE, int(fmt.fmt.pix.width), int(fmt.fmt.pix.height)};
    return {SC_STATUS_SENDING};
}

bool setFrameRate(const DeviceIo &io, int fd, double framesPerSecond)
{
    // Milli-frames keep rates like 29.97 exact enough.
    const long rate = std::lround(framesPerSecond * 1000.0);
    const long divisor = std::gcd(rate, 1000L);
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    parm.parm.output.timeperframe.numerator = uint32_t(1000 / divisor);
    parm.parm.output.timeperframe.denominator = uint32_t(rate / divisor);
    return xioctl(io, fd, VIDIOC_S_PARM, &parm) == 0;
}

int control(const DeviceIo &io, int fd, uint32_t id)
{
    v4l2_control c{id, 0};
    return xioctl(io, fd, VIDIOC_G_CTRL, &c) == 0 ? c.value : -1;
}

bool setControl(const DeviceIo &io, int fd, uint32_t id, int value)
{
    v4l2_control c{id, value};
    return xioctl(io, fd, VIDIOC_S_CTRL, &c) == 0;
}

} // namespace

bool IsLoopback(const DeviceIo &io, int fd)
{
    v4l2_capability cap{};
    if (xioctl(io, fd, VIDIOC_QUERYCAP, &cap) < 0)
        return false;
    return std::strncmp(reinterpret_cast<const char *>(cap.driver), kDriver, sizeof cap.driver) == 0;
}

Outcome Start(const DeviceIo &io, int fd, int width, int height, double framesPerSecond)
{
    if (!IsLoopback(io, fd))
        return {SC_STATUS_NOT_REGISTERED};
    Outcome format = setFormat(io, fd, width, height);
    if (format.status == SC_STATUS_OTHER_SIZE && control(io, fd, kKeepFormat) == 1) {
        // The module frees a kept format only once its last opener closes.
        setControl(io, fd, kSustainFramerate, 0);
        format.reopen = setControl(io, fd, kKeepFormat, 0);
    }
    if (format.status != SC_STATUS_SENDING)
        return format;
    if (!setFrameRate(io, fd, framesPerSecond))
        return {refusal()};
    // 0.12.7 counts an opener as the producer only once it streams: one
    // that just writes leaves the device announcing neither capture nor
    // output after it closes. 0.13 and later refuse STREAMON without
    // REQBUFS (EINVAL) and start a producer on its first write instead.
    int type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    if (xioctl(io, fd, VIDIOC_STREAMON, &type) < 0 && errno != EINVAL)
        return {refusal()};
    return {SC_STATUS_SENDING};
}

void KeepLastFrame(const DeviceIo &io, int fd)
{
    setControl(io, fd, kKeepFormat, 1);
    setControl(io, fd, kSustainFramerate, 1);
}

void Stop(const DeviceIo &io, int fd)
{
    int type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    xioctl(io, fd, VIDIOC_STREAMOFF, &type);
}

bool SubscribeClientUsage(const DeviceIo &io, int fd)
{
    v4l2_event_subscription sub{};
    sub.type = kClientUsageEvent;
    sub.flags = V4L2_EVENT_SUB_FL_SEND_INITIAL;
    return xioctl(io, fd, VIDIOC_SUBSCRIBE_EVENT, &sub) == 0;
}

int LatestClientUsage(const DeviceIo &io, int fd)
{
    // The device is open non-blocking, so this stops at ENOENT; the bound
    // keeps a device that never runs dry from holding the watch for ever.
    int latest = -1;
    v4l2_event event{};
    for (int i = 0; i < 256 && xioctl(io, fd, VIDIOC_DQEVENT, &event) == 0; ++i) {
        if (event.type != kClientUsageEvent)
            continue;
        uint32_t count;
        std::memcpy(&count, event.u.data, sizeof count);
        latest = int(count);
    }
    return latest;
}

} // namespace loopback_output
