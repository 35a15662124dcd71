#pragma once

#include "virtual_camera.h"

#include <condition_variable>
#include <mutex>
#include <thread>

// Keeps the Vidloom device listed while no camera exists: a thread owns a
// camera that sends the placeholder, converted once, a few times a second.
// The device is looked for once a second like any camera's, so a device that
// is missing, busy or held at another size is simply tried again.
class Standby {
public:
    // How often the placeholder is written. Readers that poll with a time-out
    // (Chromium gives up after ten seconds without a frame) keep a picture,
    // at a sixth of a 30 fps stream's writes.
    static constexpr float kSendsPerSecond = 5.0f;

    explicit Standby(CameraEnvironment environment = {});
    ~Standby();
    Standby(const Standby &) = delete;
    Standby &operator=(const Standby &) = delete;

    // Starts, or restarts at another size or rate; the same ones leave a
    // running standby alone. The caller has checked the size and rate.
    void Start(int width, int height, float framesPerSecond);
    // Returns once the camera is gone, so another may take the device.
    void Stop();
    bool Running() const { return thread.joinable(); }

private:
    void run(int width, int height, float framesPerSecond);

    const CameraEnvironment environment;
    int width = 0;
    int height = 0;
    float framesPerSecond = 0.0f;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::thread thread;
};
