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
    waitForConnectionFn = reinterpret_cast<scWaitForConnectionFn>(camera_library::Symbol(dll, "scWaitForConnection"));
    isConnectedFn = reinterpret_cast<scIsConnectedFn>(camera_library::Symbol(dll, "scIsConnected"));
    sendYuyvFn = reinterpret_cast<scSendFrameYuyvFn>(camera_library::Symbol(dll, "scSendFrameYuyv"));
    // Only a library that reports its status is trusted to return a
    // meaningful result from scSendFrame.
    getStatusFn = reinterpret_cast<scGetStatusFn>(camera_library::Symbol(dll, "scGetStatus"));
    startStandbyFn = reinterpret_cast<scStartStandbyFn>(camera_library::Symbol(dll, "scStartStandby"));
    stopStandbyFn = reinterpret_cast<scStopStandbyFn>(camera_library::Symbol(dll, "scStopStandby"));
    if (!createCameraFn || !deleteCameraFn || !sendFrameFn) {
        UnloadDll();
        return false;
    }
    return true;
}

void FrameSender::UnloadDll()
{
    StopStandby();
    if (dll)
        camera_library::Close(dll);
    dll = nullptr;
    createCameraFn = nullptr;
    deleteCameraFn = nullptr;
    sendFrameFn = nullptr;
    sendYuyvFn = nullptr;
    waitForConnectionFn = nullptr;
    isConnectedFn = nullptr;
    getStatusFn = nullptr;
    startStandbyFn = nullptr;
    stopStandbyFn = nullptr;
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

bool FrameSender::StartStandby(int width, int height, float fps)
{
    // Both or neither: a standby that could not be ended would hold the
    // device.
    return !camera && startStandbyFn && stopStandbyFn && frameSizeOk(width, height)
        && startStandbyFn(width, height, fps);
}

void FrameSender::StopStandby()
{
    if (stopStandbyFn)
        stopStandbyFn();
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
    pendingSeek = kNoSeek; // the stream starts where the caller left the decoder
    // A seek that decodes towards its target gives way to Stop and to a
    // newer target.
    decoder->interrupt = [this] { return stopEvent.IsSet() || pendingSeek.load() != kNoSeek; };
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
    if (!(seconds > 0.0)) // negative and NaN: the start
        seconds = 0.0;
    ++seekCount; // restarts the own-speed clock
    if (running || straggler.joinable())
        pendingSeek = seconds;
    else
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

// Applies a pending seek, reads with `read` and goes round again at the
// end of a looping file (not when a stop or a newer seek broke the read
// off); publishes the position.
template <typename Read> bool FrameSender::readLooping(Read read)
{
    const double target = pendingSeek.exchange(kNoSeek);
    if (target != kNoSeek)
        decoder->SeekTo(target);
    bool ok = read();
    if (!ok && !decoder->interrupted && loop) {
        decoder->SeekToStart();
        clockRunning = false;
        ok = read();
    }
    if (ok) {
        position = decoder->position;
        duration = decoder->duration;
    }
    return ok;
}

bool FrameSender::readAndPublish(std::vector<uint8_t> &buffer)
{
    return readLooping([&] { return decoder->ReadFrame(buffer); });
}

bool FrameSender::readVideoFrame(FrameView &frame)
{
    if (ownSpeed) {
        // Frames are held and repeated here, so they are copies (BGR24).
        if (!readTimedFrame(timedFrame))
            return false;
        const int w = int(decoder->width), h = int(decoder->height);
        if (!timedFrame.empty() && (!frameSizeOk(w, h) || timedFrame.size() < size_t(w) * h * 3))
            return false;
        frame = FrameView::Bgr(timedFrame.empty() ? nullptr : timedFrame.data(), w, h);
        return true;
    }
    clockRunning = false;
    haveAhead = false;
    // Otherwise the decoder's own frame, without a copy; YUYV cameras are
    // an even number of pixels wide, one pair per sample.
    const bool yuv = sendYuyvFn && cameraWidth % 2 == 0;
    return readLooping([&] { return decoder->ReadFrame(frame, yuv); });
}

// Worker only. The camera frame n after the clock
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
                if (decoder->interrupted)
                    return false; // a stop or a seek: the caller sees to it
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

bool FrameSender::sendFrame(const FrameView &frame)
{
    const FitMode mode = crop ? FitMode::Crop : stretch ? FitMode::Stretch : FitMode::Letterbox;
    const bool mirrored = mirror;
    if (frame.format == FrameView::Format::Yuv420) {
        fitter.RenderYuyv(frame, cameraWidth, cameraHeight, mode, mirrored, cameraFrame);
        return sendYuyvFn(camera, cameraFrame.data());
    }
    if (!mirrored && frame.width == cameraWidth && frame.height == cameraHeight)
        return sendFrameFn(camera, frame.plane[0]);
    fitter.Render(frame, cameraWidth, cameraHeight, mode, mirrored, cameraFrame);
    return sendFrameFn(camera, cameraFrame.data());
}

void FrameSender::Run()
{
    if (!camera || !sendFrameFn) {
        if (videoMode)
            decoder->interrupt = nullptr;
        return;
    }

    using Clock = std::chrono::steady_clock;
    Clock::time_point windowStart = Clock::now();
    int framesInWindow = 0;
    bool sourceEnded = false;
    timedFrame.clear();

    for (;;) {
        // Stop first: Stop signals both events, and a paused worker woken by
        // that pair must end rather than read one more frame.
        if (ManualResetEvent::WaitAny({&stopEvent, &resumeEvent}) == 0)
            break;

        FrameView frame;
        if (videoMode) {
            if (!readVideoFrame(frame)) {
                if (decoder->interrupted)
                    continue; // a stop or a newer target: see to it first
                sourceEnded = true;
                break;
            }
            if (!frame.plane[0])
                continue;
            if (!frameSizeOk(frame.width, frame.height)) {
                sourceEnded = true;
                break;
            }
        } else {
            if (imageData.empty())
                continue;
            frame = FrameView::Bgr(imageData.data(), imageWidth, imageHeight);
        }

        if (onFrame)
            onFrame(frame);
        const bool sent = sendFrame(frame);
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

    if (videoMode)
        decoder->interrupt = nullptr; // it points at this sender
    running = false;
    if (sourceEnded && onFinished)
        onFinished();
}
