#include "recording_camera_control.h"

#include "camera_library.h"

RecordingCamera::RecordingCamera()
{
    void *handle = camera_library::Open(camera_library::ExecutableDir() / camera_library::FileName());
    if (!handle)
        return;
    auto *stateFn = reinterpret_cast<RecordingCameraState *(*)()>(camera_library::Symbol(handle, "tcState"));
    lock = reinterpret_cast<void (*)(bool)>(camera_library::Symbol(handle, "tcLock"));
    waitFn = reinterpret_cast<bool (*)(int64_t, int)>(camera_library::Symbol(handle, "tcWaitForFrames"));
    if (stateFn && lock && waitFn)
        state = stateFn();
}
