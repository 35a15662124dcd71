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
    cameraFps = fps > 0.0f ? fps : 30.0f;
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
    clockRunning = false;
    haveAhead = false;
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
        stepping = false;
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

void FrameSender::Step()
{
    if (running && paused) {
        stepping = true;
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
    ++seekCount;
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

bool FrameSender::readAndPublish(std::vector<uint8_t> &buffer)
{
    bool ok = decoder->ReadFrame(buffer);
    if (!ok && loop) {
        decoder->SeekToStart();
        clockRunning = false;
        ok = decoder->ReadFrame(buffer);
    }
    if (ok) {
        position = decoder->position;
        duration = decoder->duration;
    }
    return ok;
}

bool FrameSender::readVideoFrame(std::vector<uint8_t> &buffer)
{
    std::lock_guard lock(decoderMutex);
    if (!ownSpeed) {
        clockRunning = false;
        haveAhead = false;
        return readAndPublish(buffer);
    }
    return readTimedFrame(buffer);
}

// Called with the decoder lock held. The camera frame n after the clock
// started is due at clockStart + n / fps; it shows the last source frame
// stamped at or before that, so frames repeat (slow files) or are skipped
// (fast ones). Counting camera frames instead of reading a clock keeps it
// exact: the camera's own pacing makes it wall-clock time.
bool FrameSender::readTimedFrame(std::vector<uint8_t> &buffer)
{
    if (seenSeekCount != seekCount) {
        seenSeekCount = seekCount;
        clockRunning = false;
        haveAhead = false;
    }
    if (!clockRunning || buffer.empty()) {
        haveAhead = false;
        if (!readAndPublish(buffer))
            return false;
        clockRunning = true;
        clockStart = decoder->position;
        ticks = 0;
        return true;
    }
    const double due = clockStart + double(++ticks) / cameraFps;
    bool advanced = false;
    for (;;) {
        if (!haveAhead) {
            if (!decoder->ReadFrame(aheadFrame)) {
                // The last frame lasts until the file's end, if it says.
                const double end = decoder->duration;
                if (advanced && end > 0.0 && due < end - 1e-6)
                    break; // the next read fails again and ends the stream

                if (!loop)
                    return false;
                // Around again: the clock restarts on the first frame.
                decoder->SeekToStart();
                clockRunning = false;
                return readTimedFrame(buffer);
            }
            aheadTime = decoder->position;
            haveAhead = true;
        }
        // A hair of tolerance, so a frame stamped exactly on a camera tick
        // is not held back by rounding.
        if (aheadTime > due + 1e-6)
            break;
        buffer.swap(aheadFrame);
        haveAhead = false;
        advanced = true;
        position = aheadTime;
        duration = decoder->duration;
    }
    return true;
}

// Keeps the middle of the source with the camera's aspect ratio, so the
// stretch that follows fills the frame without distorting it.
const uint8_t *FrameSender::cropToCamera(const uint8_t *source, int &width, int &height)
{
    const int64_t wideByCam = int64_t{width} * cameraHeight, tallByCam = int64_t{height} * cameraWidth;
    int cw = width, ch = height;
    if (wideByCam > tallByCam)
        cw = std::max<int>(1, int(tallByCam / cameraHeight));
    else if (wideByCam < tallByCam)
        ch = std::max<int>(1, int(wideByCam / cameraWidth));
    if (cw == width && ch == height)
        return source;
    const int x = (width - cw) / 2, y = (height - ch) / 2;
    croppedFrame.resize(size_t(cw) * ch * 3);
    for (int row = 0; row < ch; ++row)
        std::copy_n(source + (size_t(y + row) * width + x) * 3, size_t(cw) * 3, croppedFrame.data() + size_t(row) * cw * 3);
    width = cw;
    height = ch;
    return croppedFrame.data();
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
        // Stop first: Stop signals both events, and a paused worker woken by
        // that pair must end rather than read one more frame.
        if (ManualResetEvent::WaitAny({&stopEvent, &resumeEvent}) == 0)
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

        const bool cropping = crop;
        if (cropping)
            source = cropToCamera(source, sourceWidth, sourceHeight);
        const bool stretching = cropping || stretch;
        const uint8_t *frame = source;
        const bool sameSize = sourceWidth == cameraWidth && sourceHeight == cameraHeight;
        if (mirror) {
            fitter.Render(source, sourceWidth, sourceHeight, cameraWidth, cameraHeight, stretching, true,
                          mirroredFrame);
            frame = mirroredFrame.data();
        } else if (!sameSize) {
            fitter.Render(source, sourceWidth, sourceHeight, cameraWidth, cameraHeight, stretching, false,
                          scaledFrame);
            frame = scaledFrame.data();
        }
        const bool sent = sendFrameFn(camera, frame);
        if (stepping.exchange(false) && paused)
            resumeEvent.Reset();

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
