#include "loopback_output.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <linux/videodev2.h>
#include <numeric>
#include <sys/ioctl.h>

namespace loopback_output {

namespace {

// From v4l2loopback's own header, which Debian does not install.
constexpr uint32_t kClientUsageEvent = V4L2_EVENT_PRIVATE_START + 0x08E00000 + 1;

int xioctl(int fd, unsigned long request, void *arg)
{
    int r;
    do {
        r = ioctl(fd, request, arg);
    } while (r < 0 && errno == EINTR);
    return r;
}

bool setFormat(int fd, int width, int height)
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
    if (xioctl(fd, VIDIOC_S_FMT, &fmt) < 0)
        return false;
    // v4l2loopback answers with the format it already has instead of
    // failing while a reader holds an earlier writer's format.
    return fmt.fmt.pix.width == uint32_t(width) && fmt.fmt.pix.height == uint32_t(height) &&
           fmt.fmt.pix.pixelformat == V4L2_PIX_FMT_YUYV;
}

bool setFrameRate(int fd, double framesPerSecond)
{
    // Milli-frames keep rates like 29.97 exact enough.
    const long rate = std::lround(framesPerSecond * 1000.0);
    const long divisor = std::gcd(rate, 1000L);
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    parm.parm.output.timeperframe.numerator = uint32_t(1000 / divisor);
    parm.parm.output.timeperframe.denominator = uint32_t(rate / divisor);
    return xioctl(fd, VIDIOC_S_PARM, &parm) == 0;
}

} // namespace

bool Configure(int fd, int width, int height, double framesPerSecond)
{
    return setFormat(fd, width, height) && setFrameRate(fd, framesPerSecond);
}

bool SubscribeClientUsage(int fd)
{
    v4l2_event_subscription sub{};
    sub.type = kClientUsageEvent;
    sub.flags = V4L2_EVENT_SUB_FL_SEND_INITIAL;
    return xioctl(fd, VIDIOC_SUBSCRIBE_EVENT, &sub) == 0;
}

int LatestClientUsage(int fd)
{
    // The device is open non-blocking, so this stops at ENOENT.
    int latest = -1;
    v4l2_event event{};
    while (xioctl(fd, VIDIOC_DQEVENT, &event) == 0) {
        if (event.type != kClientUsageEvent)
            continue;
        uint32_t count;
        std::memcpy(&count, event.u.data, sizeof count);
        latest = int(count);
    }
    return latest;
}

} // namespace loopback_output
