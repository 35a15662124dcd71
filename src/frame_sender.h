#pragma once

#include "frame_fitter.h"
#include "frame_view.h"
#include "manual_reset_event.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class VideoDecoder;

// The camera library's C API, bound at run time.
extern "C" {
typedef void *(*scCreateCameraFn)(int width, int height, float framerate);
typedef void (*scDeleteCameraFn)(void *camera);
typedef bool (*scSendFrameFn)(void *camera, const void *imageBits);
typedef bool (*scSendFrameYuyvFn)(void *camera, const void *yuyv);
typedef bool (*scWaitForConnectionFn)(void *camera, float timeout);
typedef bool (*scIsConnectedFn)(void *camera);
typedef int (*scGetStatusFn)(void *camera, int *width, int *height);
typedef bool (*scStartStandbyFn)(int width, int height, float framerate);
typedef void (*scStopStandbyFn)(void);
}

// Owns the virtual camera and the worker thread that feeds it: frames come
// from a VideoDecoder or repeat one still image, are handed to onFrame at the
// source size, fitted to the camera size, mirrored and sent. When the camera
// library takes YUYV, video frames in the camera's colours stay in YUV from
// the decoder to the camera and are never converted to BGR24. The camera's
// send call paces the worker; the worker never sleeps of its own accord.
// Every operation is called on the owner's thread; the owner polls the
// atomic status fields.
class FrameSender {
public:
    FrameSender();
    ~FrameSender();
    FrameSender(const FrameSender &) = delete;
    FrameSender &operator=(const FrameSender &) = delete;

    bool LoadDll();
    void UnloadDll();
    bool InitCamera(int width, int height, float fps);
    void ShutdownCamera();

    void StartVideo(VideoDecoder *decoder, bool loop);
    void StartImage(const unsigned char *pixels, int width, int height);
    void Pause();
    void Resume();
    // Paused: the worker sends one more frame (the one at a new seek
    // position) and pauses again.
    void Step();
    void Stop();
    // Never waits for the decoder: the target is handed to the worker, which
    // moves there before its next frame (abandoning a seek still decoding);
    // of several targets in a row only the newest is decoded. With no worker
    // running it seeks the decoder directly.
    void SeekTo(double seconds);
    bool IsConnected() const;

    // Why sent frames have not reached the camera for over a second (the
    // camera library's scGetStatus codes); None while they do, or when the
    // library cannot tell.
    enum class SendProblem { None, NotRegistered, Busy, OtherSize, Refused, NoPermission };
    SendProblem CurrentSendProblem(int &heldWidth, int &heldHeight) const;

    // While no camera exists, the library keeps the device listed with its
    // placeholder picture at this size (libraries without standby: nothing
    // happens, false). Creating a camera ends it in the library itself.
    bool StartStandby(int width, int height, float fps);
    void StopStandby();

    void *camera = nullptr;
    int cameraWidth = 640;
    int cameraHeight = 480;
    float cameraFps = 30.0f;

    void *dll = nullptr;
    scCreateCameraFn createCameraFn = nullptr;
    scDeleteCameraFn deleteCameraFn = nullptr;
    scSendFrameFn sendFrameFn = nullptr;
    scSendFrameYuyvFn sendYuyvFn = nullptr; // optional
    scWaitForConnectionFn waitForConnectionFn = nullptr;
    scIsConnectedFn isConnectedFn = nullptr;
    scGetStatusFn getStatusFn = nullptr;       // optional
    scStartStandbyFn startStandbyFn = nullptr; // optional
    scStopStandbyFn stopStandbyFn = nullptr;   // optional

    VideoDecoder *decoder = nullptr;
    std::vector<uint8_t> imageData;
    int imageWidth = 0;
    int imageHeight = 0;
    bool videoMode = false;

    EventGroup events;
    ManualResetEvent stopEvent{events, false};
    ManualResetEvent resumeEvent{events, true};

    std::atomic<bool> running{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> loop{true};
    std::atomic<bool> mirror{true};
    std::atomic<bool> stretch{false};
    std::atomic<bool> crop{false};
    // Off: one source frame per camera frame. On: each camera frame shows
    // the source frame whose time stamp is due at that camera frame, so a
    // file plays at its own speed whatever its frame rate.
    std::atomic<bool> ownSpeed{false};
    std::atomic<double> currentFps{0.0};
    std::atomic<double> position{0.0};
    std::atomic<double> duration{0.0};
    // Steady-clock time of the first failed send since the last one that
    // reached the camera; 0 while sends succeed.
    std::atomic<int64_t> failingSinceNs{0};

    std::vector<uint8_t> cameraFrame; // what the camera is sent, BGR24 or YUYV
    std::vector<uint8_t> timedFrame;  // own speed: the frame being shown, held

    // Called on the worker with every source frame; the view is valid only
    // during the call.
    std::function<void(const FrameView &frame)> onFrame;
    std::function<void()> onFinished;

private:
    void Run();
    void startWorker();
    void deleteCamera();
    // A worker that overran Stop's wait is parked here; whatever touches the
    // camera, the decoder or the buffers next waits for it first, so two
    // workers never run side by side.
    void joinStraggler();
    bool readVideoFrame(FrameView &frame);
    bool sendFrame(const FrameView &frame);
    bool readTimedFrame(std::vector<uint8_t> &buffer);
    bool readAndPublish(std::vector<uint8_t> &buffer);
    template <typename Read> bool readLooping(Read read);

    std::thread workerThread;
    std::thread straggler;
    // The worker's "finished" flag, so Stop can wait with a time-out.
    std::mutex exitMutex;
    std::condition_variable exited;
    bool workerDone = true;
    // Only the worker touches a streaming decoder; SeekTo leaves the target
    // here (seconds, kNoSeek when none) and the worker takes it.
    static constexpr double kNoSeek = -1.0;
    std::atomic<double> pendingSeek{kNoSeek};
    FrameFitter fitter;
    // Own-speed clock, worker side: the time stamp the stream (re)started
    // at and the camera frames sent since; a seek or a loop restarts it.
    std::atomic<unsigned> seekCount{0};
    std::atomic<bool> stepping{false};
    unsigned seenSeekCount = 0;
    bool clockRunning = false;
    double clockStart = 0.0;
    int64_t ticks = 0;
    std::vector<uint8_t> aheadFrame;
    double aheadTime = 0.0;
    bool haveAhead = false;
};
