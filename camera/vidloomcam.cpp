// The C face of the camera library, as the app binds it with dlopen.
#include "vidloomcam.h"

#include "standby.h"
#include "virtual_camera.h"

#include <mutex>

namespace {

// One camera at a time: two writers would fight over the one device.
std::mutex cameraMutex;
VirtualCamera *liveCamera = nullptr;
// Guarded by cameraMutex too: it is a camera of its own on the same device.
Standby standby;

VirtualCamera *asCamera(void *camera)
{
    return static_cast<VirtualCamera *>(camera);
}

} // namespace

extern "C" {

void *scCreateCamera(int width, int height, float framerate)
{
    if (!VirtualCamera::ValidSize(width, height) || !VirtualCamera::ValidRate(framerate))
        return nullptr;
    std::lock_guard lock(cameraMutex);
    if (liveCamera)
        return nullptr;
    // One producer at a time; the camera takes over at once.
    standby.Stop();
    auto *camera = new VirtualCamera(width, height, framerate);
    if (!camera->Valid()) {
        delete camera;
        return nullptr;
    }
    liveCamera = camera;
    return camera;
}

void scDeleteCamera(void *camera)
{
    if (!camera)
        return;
    std::lock_guard lock(cameraMutex);
    if (camera != liveCamera)
        return;
    delete liveCamera;
    liveCamera = nullptr;
}

bool scSendFrame(void *camera, const void *imageBits)
{
    return camera && asCamera(camera)->SendFrame(imageBits);
}

bool scSendFrameYuyv(void *camera, const void *yuyv)
{
    return camera && asCamera(camera)->SendYuyv(yuyv);
}

bool scWaitForConnection(void *camera, float timeoutSeconds)
{
    return camera && asCamera(camera)->WaitForConnection(timeoutSeconds);
}

bool scIsConnected(void *camera)
{
    return camera && asCamera(camera)->IsConnected();
}

bool scStartStandby(int width, int height, float framerate)
{
    if (!VirtualCamera::ValidSize(width, height) || !VirtualCamera::ValidRate(framerate))
        return false;
    std::lock_guard lock(cameraMutex);
    if (liveCamera)
        return false;
    standby.Start(width, height, framerate);
    return true;
}

void scStopStandby(void)
{
    std::lock_guard lock(cameraMutex);
    standby.Stop();
}

int scGetStatus(void *camera, int *width, int *height)
{
    if (!camera)
        return SC_STATUS_NOT_REGISTERED;
    const CameraStatus status = asCamera(camera)->Status();
    if (width)
        *width = status.width;
    if (height)
        *height = status.height;
    return status.code;
}

} // extern "C"
