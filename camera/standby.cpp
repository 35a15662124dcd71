#include "standby.h"

#include "placeholder.h"

#include <chrono>

Standby::Standby(CameraEnvironment environment)
    : environment(std::move(environment))
{
}

Standby::~Standby()
{
    Stop();
}

void Standby::Start(int newWidth, int newHeight, float newFramesPerSecond)
{
    if (Running() && newWidth == width && newHeight == height && newFramesPerSecond == framesPerSecond)
        return;
    Stop();
    width = newWidth, height = newHeight, framesPerSecond = newFramesPerSecond;
    stopping = false;
    thread = std::thread([this] { run(width, height, framesPerSecond); });
}

void Standby::Stop()
{
    if (!Running())
        return;
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
}

void Standby::run(int w, int h, float fps)
{
    // The camera advertises the stream's rate, so a client that opens now
    // has the format it will get when Play starts.
    VirtualCamera standbyCamera(w, h, fps, environment);
    YuyvConverter converter(w, h);
    if (!converter.Valid())
        return;
    std::vector<uint8_t> yuyv(converter.OutputBytes());
    converter.Convert(PlaceholderBgr(w, h).data(), yuyv.data());
    const auto period = std::chrono::duration<double>(1.0 / std::min(fps, kSendsPerSecond));
    std::unique_lock lock(mutex);
    while (!stopping) {
        lock.unlock();
        standbyCamera.OfferYuyv(yuyv.data());
        lock.lock();
        wake.wait_for(lock, period, [this] { return stopping; });
    }
}
