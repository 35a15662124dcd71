// The window's stall while seeking: 100 random seeks, 100 ms apart, into a
// streaming video, timing each FrameSender::SeekTo call on this (the
// window's) thread, then a Stop while a seek decodes. The reference, measured
// in the same run, is what one seek costs the decoder (seek + first frame):
// what a seek waiting for the worker would stall for.
//
//   ffmpeg -f lavfi -i testsrc2=size=3840x2160:rate=30 -t 12 -c:v libx264
//     -preset ultrafast -g 300 -keyint_min 300 -sc_threshold 0 -pix_fmt yuv420p 4k.mp4
//   build/bin/seek_stall 4k.mp4
#include "frame_sender.h"
#include "video_decoder.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <thread>

using Clock = std::chrono::steady_clock;

namespace {

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// Stands in for the camera: 30 frames per second.
bool PacedSend(void *, const void *)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(33));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    VideoDecoder decoder, reference;
    if (argc < 2 || !decoder.Open(argv[1]) || !reference.Open(argv[1]) || decoder.duration <= 0) {
        std::fprintf(stderr, "usage: seek_stall <video>\n");
        return 1;
    }
    std::mt19937 random(1);
    std::uniform_real_distribution<double> target(0.0, decoder.duration);

    double decodeMax = 0;
    std::vector<uint8_t> frame;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = Clock::now();
        reference.SeekTo(target(random));
        reference.ReadFrame(frame);
        decodeMax = std::max(decodeMax, Ms(Clock::now() - t0));
    }
    reference.Close();

    int dummy = 0;
    FrameSender sender;
    sender.camera = &dummy;
    sender.sendFrameFn = PacedSend;
    sender.StartVideo(&decoder, true);
    double seekMax = 0, seekSum = 0;
    for (int i = 0; i < 100; ++i) {
        const auto t0 = Clock::now();
        sender.SeekTo(target(random));
        const double ms = Ms(Clock::now() - t0);
        seekMax = std::max(seekMax, ms);
        seekSum += ms;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    sender.SeekTo(decoder.duration * 0.95);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto t0 = Clock::now();
    sender.Stop();
    const double stopMs = Ms(Clock::now() - t0);
    sender.camera = nullptr;

    std::printf("%ux%u, %.1f s\n", decoder.width, decoder.height, decoder.duration);
    std::printf("one seek's decode (reference), longest of 5: %8.1f ms\n", decodeMax);
    std::printf("SeekTo on the window thread, longest of 100: %8.3f ms (mean %.3f), %.5f x reference\n", seekMax,
                seekSum / 100, seekMax / decodeMax);
    std::printf("Stop while a seek decodes:                   %8.1f ms, %.3f x reference\n", stopMs,
                stopMs / decodeMax);
    return 0;
}
