// Vidloom's streaming path as one process, unpaced, for bench/compare.py:
// every frame of CLIP is decoded, fitted and mirrored to W x H and turned
// into the YUYV the camera writes, as the worker and the camera library do.
//
//   vidloom_pipeline CLIP W H
#include "frame_fitter.h"
#include "video_decoder.h"
#include "yuyv_converter.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s CLIP W H\n", argv[0]);
        return 2;
    }
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    VideoDecoder decoder;
    if (!decoder.Open(argv[1]))
        return 1;
    FrameFitter fitter;
    YuyvConverter converter(w, h);
    std::vector<uint8_t> frame, fitted, yuyv(converter.OutputBytes());
    int frames = 0;
    while (decoder.ReadFrame(frame)) {
        fitter.Render(frame.data(), int(decoder.width), int(decoder.height), w, h, false, true, fitted);
        converter.Convert(fitted.data(), yuyv.data());
        ++frames;
    }
    std::printf("%d\n", frames);
    return frames > 0 ? 0 : 1;
}
