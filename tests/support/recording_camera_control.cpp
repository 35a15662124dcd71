#include "recording_camera_control.h"

#include "camera_library.h"

RecordingCamera::RecordingCamera()
{
    handle = camera_library::Open(camera_library::ExecutableDir() / camera_library::FileName());
    if (!handle)
        return;
    auto bind = [this](auto &slot, const char *name) {
        if (!handle)
            return;
        slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
            camera_library::Symbol(handle, name));
        if (!slot)
            handle = nullptr;
    };
    bind(fn.reset, "tcReset");
    bind(fn.setPacing, "tcSetPacing");
    bind(fn.setConnected, "tcSetConnected");
    bind(fn.setCreateFailures, "tcSetCreateFailures");
    bind(fn.setSendDelayMs, "tcSetSendDelayMs");
    bind(fn.captureFrames, "tcCaptureFrames");
    bind(fn.frameCount, "tcFrameCount");
    bind(fn.createCalls, "tcCreateCalls");
    bind(fn.deleteCalls, "tcDeleteCalls");
    bind(fn.cameraLive, "tcCameraLive");
    bind(fn.capturedCount, "tcCapturedCount");
    bind(fn.waitForFrames, "tcWaitForFrames");
    bind(fn.copyFrame, "tcCopyFrame");
}

std::vector<uint8_t> RecordingCamera::frame(int index) const
{
    const int64_t size = fn.copyFrame(index, nullptr, 0);
    if (size < 0)
        return {};
    std::vector<uint8_t> out(static_cast<size_t>(size));
    fn.copyFrame(index, out.data(), size);
    return out;
}
