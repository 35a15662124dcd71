#include "frame_pacer.h"

#include <cerrno>
#include <cmath>
#include <ctime>

namespace {

void sleepUntil(int64_t deadlineNs)
{
    timespec ts{};
    ts.tv_sec = deadlineNs / 1000000000;
    ts.tv_nsec = deadlineNs % 1000000000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

} // namespace

FramePacer::FramePacer(double framesPerSecond)
    : periodNs(1e9 / framesPerSecond)
{
}

int64_t FramePacer::NowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

void FramePacer::WaitForNextFrame()
{
    const int64_t now = NowNs();
    if (startNs < 0) {
        startNs = now;
        framesSinceStart = 0;
    }
    ++framesSinceStart;
    // Deadlines are counted from the schedule's start, not from the last
    // one, so a rate like 29.97 keeps its fraction of a nanosecond.
    const int64_t due = startNs + std::llround(framesSinceStart * periodNs);
    if (now - due > periodNs) {
        startNs = now;
        framesSinceStart = 0;
        return;
    }
    sleepUntil(due);
}
