// Vidloom's streaming path as one process, unpaced, for bench/compare.py:
// every frame of CLIP is decoded, fitted and mirrored to W x H and made into
// the YUYV the camera writes, as FrameSender and the camera library do
// (4:2:0 planes straight to YUYV; other frames through BGR24 and the
// library's converter).
//
//   vidloom_pipeline CLIP W H            runs the clip once, prints frames
//   vidloom_pipeline CLIP W H --stages   times each stage, both routes
#include "frame_fitter.h"
#include "video_decoder.h"
#include "yuyv_converter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

struct Route {
    std::vector<double> read, fit, convert, copy;
};

// One pass over the clip; yuv picks the route. Each stage is timed alone.
bool timePass(const char *clip, int w, int h, bool yuv, Route &t)
{
    VideoDecoder decoder;
    if (!decoder.Open(clip))
        return false;
    FrameFitter fitter;
    YuyvConverter converter(w, h);
    std::vector<uint8_t> fitted, yuyv(converter.OutputBytes()), copy;
    FrameView view;
    for (Clock::time_point t0 = Clock::now(); decoder.ReadFrame(view, yuv); t0 = Clock::now()) {
        t.read.push_back(msSince(t0));
        Clock::time_point t1 = Clock::now();
        if (view.format == FrameView::Format::Yuv420) {
            fitter.RenderYuyv(view, w, h, FitMode::Letterbox, true, yuyv);
            t.fit.push_back(msSince(t1));
        } else {
            fitter.Render(view, w, h, FitMode::Letterbox, true, fitted);
            t.fit.push_back(msSince(t1));
            t1 = Clock::now();
            converter.Convert(fitted.data(), yuyv.data());
            t.convert.push_back(msSince(t1));
        }
        // The yardstick: a plain copy of the frame the stage wrote.
        const std::vector<uint8_t> &last = view.format == FrameView::Format::Yuv420 ? yuyv : fitted;
        copy.resize(last.size());
        t1 = Clock::now();
        std::memcpy(copy.data(), last.data(), last.size());
        t.copy.push_back(msSince(t1));
    }
    return !t.read.empty();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s CLIP W H [--stages]\n", argv[0]);
        return 2;
    }
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    if (argc > 4 && std::string(argv[4]) == "--stages") {
        Route planes, bgr;
        if (!timePass(argv[1], w, h, true, planes) || !timePass(argv[1], w, h, false, bgr))
            return 1;
        const double decode = median(planes.read);
        std::printf("decode %.2f | via planes: fit+mirror+YUYV %.2f (memcpy YUYV %.2f) | via BGR24: "
                    "conversion %.2f, fit+mirror %.2f (memcpy BGR %.2f), camera conversion %.2f\n",
                    decode, median(planes.fit), median(planes.copy), std::max(0.0, median(bgr.read) - decode),
                    median(bgr.fit), median(bgr.copy), median(bgr.convert));
        return 0;
    }

    VideoDecoder decoder;
    if (!decoder.Open(argv[1]))
        return 1;
    FrameFitter fitter;
    YuyvConverter converter(w, h);
    std::vector<uint8_t> fitted, yuyv(converter.OutputBytes());
    FrameView view;
    int frames = 0;
    while (decoder.ReadFrame(view, w % 2 == 0)) {
        if (view.format == FrameView::Format::Yuv420) {
            fitter.RenderYuyv(view, w, h, FitMode::Letterbox, true, yuyv);
        } else {
            fitter.Render(view, w, h, FitMode::Letterbox, true, fitted);
            converter.Convert(fitted.data(), yuyv.data());
        }
        ++frames;
    }
    std::printf("%d\n", frames);
    return frames > 0 ? 0 : 1;
}
