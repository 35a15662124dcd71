#include "frame_sender.h"

#include "camera_library.h"
#include "video_decoder.h"

#include <algorithm>
#include <chrono>

namespace {

// Frames are addressed with 32-bit signed arithmetic by the camera API.
constexpr int64_t kMaxFrameBytes = (int64_t{1} << 31) - 1;

bool frameSizeOk(int width, int height)
{
    return width > 0 && height > 0 && int64_t{width} * height * 3 <= kMaxFrameBytes;
}

void pauseAfterCameraChange(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace

FrameSender::FrameSender() = default;

FrameSender::~FrameSender()
{
    Stop();
    joinStraggler();
    deleteCamera();
    UnloadDll();
}

bool FrameSender::LoadDll()
{
    if (dll)
        return true;
    const std::filesystem::path dir = camera_library::ExecutableDir();
    if (!dir.empty())
        dll = camera_library::Open(dir / camera_library::FileName());
    if (!dll)
        dll = camera_library::Open(camera_library::FileName());
    if (!dll)
        return false;

    createCameraFn = reinterpret_cast<scCreateCameraFn>(camera_library::Symbol(dll, "scCreateCamera"));
    deleteCameraFn = reinterpret_cast<scDeleteCameraFn>(camera_library::Symbol(dll, "scDeleteCamera"));
    sendFrameFn = reinterpret_cast<scSendFrameFn>(camera_library::Symbol(dll, "scSendFrame"));
    waitForConnectionFn =
        reinterpret_cast<scWaitForConnectionFn>(camera_library::Symbol(dll, "scWaitForConnection"));
    isConnectedFn = reinterpret_cast<scIsConnectedFn>(camera_library::Symbol(dll, "scIsConnected"));
    // Only a library that reports its status is trusted to return a
    // meaningful result from scSendFrame.
    getStatusFn = reinterpret_cast<scGetStatusFn>(camera_library::Symbol(dll, "scGetStatus"));
    if (!createCameraFn || !deleteCameraFn || !sendFrameFn) {
        UnloadDll();
        return false;
    }
    return true;
}

void FrameSender::UnloadDll()
{
    if (dll)
        camera_library::Close(dll);
    dll = nullptr;
    createCameraFn = nullptr;
    deleteCameraFn = nullptr;
    sendFrameFn = nullptr;
    waitForConnectionFn = nullptr;
    isConnectedFn = nullptr;
    getStatusFn = nullptr;
}

void FrameSender::deleteCamera()
{
    joinStraggler();
    if (camera && deleteCameraFn) {
        deleteCameraFn(camera);
        camera = nullptr;
        pauseAfterCameraChange(100);
    }
}

bool FrameSender::InitCamera(int width, int height, float fps)
{
    if (!LoadDll())
        return false;
    Stop();
    deleteCamera();
    if (!frameSizeOk(width, height))
        return false;
    camera = createCameraFn(width, height, fps);
    if (!camera) {
        // Creation can fail while the previous camera is still being torn
        // down by the system; one more try after a short pause.
        pauseAfterCameraChange(200);
        camera = createCameraFn(width, height, fps);
        if (!camera)
            return false;
    }
    cameraWidth = width;
    cameraHeight = height;
    return true;
}

void FrameSender::ShutdownCamera()
{
    Stop();
    deleteCamera();
}

void FrameSender::StartVideo(VideoDecoder *videoDecoder, bool loopVideo)
{
    Stop();
    joinStraggler();
    if (!videoDecoder)
        return;
    decoder = videoDecoder;
    videoMode = true;
    loop = loopVideo;
    imageData.clear();
    startWorker();
}

void FrameSender::StartImage(const unsigned char *pixels, int width, int height)
{
    Stop();
    joinStraggler();
    videoMode = false;
    decoder = nullptr;
    if (!pixels || !frameSizeOk(width, height)) {
        imageData.clear();
        imageWidth = imageHeight = 0;
        return;
    }
    imageWidth = width;
    imageHeight = height;
    const size_t bytes = static_cast<size_t>(int64_t{width} * height * 3);
    imageData.assign(pixels, pixels + bytes);
    startWorker();
}

void FrameSender::startWorker()
{
    stopEvent.Reset();
    resumeEvent.Set();
    running = true;
    paused = false;
    {
        std::lock_guard lock(exitMutex);
        workerDone = false;
    }
    workerThread = std::thread([this] {
        Run();
        {
            std::lock_guard lock(exitMutex);
            workerDone = true;
        }
        exited.notify_all();
    });
}

void FrameSender::Pause()
{
    if (running && !paused) {
        paused = true;
        resumeEvent.Reset();
    }
}

void FrameSender::Resume()
{
    if (running && paused) {
        paused = false;
        resumeEvent.Set();
    }
}

void FrameSender::Stop()
{
    if (!running)
        return;
    stopEvent.Set();
    resumeEvent.Set();
    if (workerThread.joinable()) {
        bool done;
        {
            std::unique_lock lock(exitMutex);
            done = exited.wait_for(lock, std::chrono::milliseconds(5000), [this] { return workerDone; });
        }
        if (done)
            workerThread.join();
        else
            straggler = std::move(workerThread);
    }
    running = false;
    paused = false;
    currentFps = 0.0;
    failingSinceNs = 0;
}

void FrameSender::joinStraggler()
{
    // A worker that ended by itself leaves a finished thread behind; reclaim
    // it here as well as one that overran Stop.
    if (workerThread.joinable() && !running)
        workerThread.join();
    if (straggler.joinable())
        straggler.join();
}

void FrameSender::SeekTo(double seconds)
{
    if (!decoder || !videoMode)
        return;
    std::lock_guard lock(decoderMutex);
    decoder->SeekTo(seconds);
}

FrameSender::SendProblem FrameSender::CurrentSendProblem(int &heldWidth, int &heldHeight) const
{
    const int64_t since = failingSinceNs;
    const int64_t now = std::chrono::steady_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
    if (!getStatusFn || !camera || since == 0 || now - since < 1000000000)
        return SendProblem::None;
    heldWidth = heldHeight = 0;
    const int code = getStatusFn(camera, &heldWidth, &heldHeight);
    // Codes this build does not know are told as a refusal.
    return code <= 0 ? SendProblem::None : code > 5 ? SendProblem::Refused : SendProblem(code);
}

bool FrameSender::IsConnected() const
{
    return camera && isConnectedFn && isConnectedFn(camera);
}

bool FrameSender::readVideoFrame(std::vector<uint8_t> &buffer)
{
    std::lock_guard lock(decoderMutex);
    bool ok = decoder->ReadFrame(buffer);
    if (!ok && loop) {
        decoder->SeekToStart();
        ok = decoder->ReadFrame(buffer);
    }
    if (ok) {
        position = decoder->position;
        duration = decoder->duration;
    }
    return ok;
}

void FrameSender::Run()
{
    if (!camera || !sendFrameFn)
        return;

    using Clock = std::chrono::steady_clock;
    Clock::time_point windowStart = Clock::now();
    int framesInWindow = 0;
    std::vector<uint8_t> readBuffer;
    bool sourceEnded = false;

    for (;;) {
        if (stopEvent.IsSet())
            break;
        // Resume first: a stop that comes while running lets at most one
        // more frame through, while a paused worker wakes for a stop at once.
        if (ManualResetEvent::WaitAny({&resumeEvent, &stopEvent}) == 1)
            break;

        const uint8_t *source;
        int sourceWidth, sourceHeight;
        if (videoMode) {
            if (!readVideoFrame(readBuffer)) {
                sourceEnded = true;
                break;
            }
            sourceWidth = static_cast<int>(decoder->width);
            sourceHeight = static_cast<int>(decoder->height);
            if (!readBuffer.empty() && (!frameSizeOk(sourceWidth, sourceHeight)
                                        || readBuffer.size() < size_t(sourceWidth) * sourceHeight * 3)) {
                sourceEnded = true;
                break;
            }
            source = readBuffer.data();
        } else {
            source = imageData.data();
            sourceWidth = imageWidth;
            sourceHeight = imageHeight;
        }
        if (!source)
            continue;

        if (onFrame)
            onFrame(source, sourceWidth, sourceHeight);

        const uint8_t *frame = source;
        const bool sameSize = sourceWidth == cameraWidth && sourceHeight == cameraHeight;
        if (mirror) {
            fitter.Render(source, sourceWidth, sourceHeight, cameraWidth, cameraHeight, stretch, true,
                          mirroredFrame);
            frame = mirroredFrame.data();
        } else if (!sameSize) {
            fitter.Render(source, sourceWidth, sourceHeight, cameraWidth, cameraHeight, stretch, false,
                          scaledFrame);
            frame = scaledFrame.data();
        }
        const bool sent = sendFrameFn(camera, frame);

        ++framesInWindow;
        const Clock::time_point now = Clock::now();
        if (sent)
            failingSinceNs = 0;
        else if (failingSinceNs == 0)
            failingSinceNs = std::max<int64_t>(1, now.time_since_epoch() / std::chrono::nanoseconds(1));
        const double elapsed = std::chrono::duration<double>(now - windowStart).count();
        if (elapsed >= 1.0) {
            currentFps = framesInWindow / elapsed;
            framesInWindow = 0;
            windowStart = now;
        }
    }

    running = false;
    if (sourceEnded && onFinished)
        onFinished();
}
