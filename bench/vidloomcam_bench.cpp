// CPU cost of the camera library per frame: the BGR24 to YUYV conversion
// alone (plain, vector, and swscale with slice threads as the camera used
// before, whose output it must equal byte for byte), and a whole send (conversion plus write) into /dev/null standing
// in for the device. Also the cost of one look through /proc for readers, which Debian 12's v4l2loopback needs each
// time some program opens or closes the device.
#include "reader_watch.h"
#include "virtual_camera.h"
#include "yuyv_converter.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> testFrame(int width, int height)
{
    std::vector<uint8_t> frame(size_t(width) * height * 3);
    for (size_t i = 0; i < frame.size(); ++i)
        frame[i] = uint8_t(i * 7 + i / 4096);
    return frame;
}

// swscale set up as the camera did before its own converter: BT.601,
// limited range, area filter on full-width chroma, one thread per core.
SwsContext *swscaleToYuyv(int width, int height)
{
    SwsContext *context = sws_alloc_context();
    av_opt_set_int(context, "srcw", width, 0);
    av_opt_set_int(context, "srch", height, 0);
    av_opt_set_int(context, "src_format", AV_PIX_FMT_BGR24, 0);
    av_opt_set_int(context, "dstw", width, 0);
    av_opt_set_int(context, "dsth", height, 0);
    av_opt_set_int(context, "dst_format", AV_PIX_FMT_YUYV422, 0);
    av_opt_set_int(context, "sws_flags", SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, 0);
    av_opt_set_int(context, "threads", 0, 0);
    if (sws_init_context(context, nullptr, nullptr) < 0)
        return nullptr;
    const int *bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(context, bt601, 1, bt601, 0, 0, 1 << 16, 1 << 16);
    return context;
}

// Range 2 picks the converter: 0 plain, 1 the best vector version, 2 swscale.
void BM_ConvertToYuyv(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    const auto frame = testFrame(width, height);
    const YuyvConverter ours(width, height, state.range(2) == 0 ? YuyvConverter::Level::Plain : YuyvConverter::Best());
    SwsContext *sws = swscaleToYuyv(width, height);
    if (!sws) {
        state.SkipWithError("swscale refused the size");
        return;
    }
    std::vector<uint8_t> out(ours.OutputBytes()), reference(out.size());
    const uint8_t *src[4] = {frame.data()};
    const int srcStride[4] = {width * 3};
    uint8_t *dst[4] = {reference.data()};
    const int dstStride[4] = {width * 2};
    sws_scale(sws, src, srcStride, 0, height, dst, dstStride);
    ours.Convert(frame.data(), out.data());
    if (out != reference)
        state.SkipWithError("differs from swscale");
    dst[0] = out.data();
    for (auto _ : state) {
        if (state.range(2) == 2)
            sws_scale(sws, src, srcStride, 0, height, dst, dstStride);
        else
            ours.Convert(frame.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
    sws_freeContext(sws);
}
BENCHMARK(BM_ConvertToYuyv)
    ->Apply([](benchmark::internal::Benchmark *b) {
        for (int which = 0; which < 3; ++which)
            b->Args({1280, 720, which})->Args({3840, 2160, which});
    })
    ->ArgNames({"w", "h", "plain/vector/swscale"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A fake device tree whose node is /dev/null, so SendFrame does the real
// conversion and write(). The rate is set so high that every send is late
// and pacing never sleeps.
void BM_SendFrameToDevNull(benchmark::State &state)
{
    const fs::path root = fs::temp_directory_path() / ("vidloomcam-bench-" + std::to_string(getpid()));
    fs::create_directories(root / "sys/class/video4linux/video0");
    fs::create_directories(root / "dev");
    std::ofstream(root / "sys/class/video4linux/video0/name") << "Vidloom\n";
    std::ofstream(root / "sys/class/video4linux/video0/max_openers") << "10\n";
    fs::create_symlink("/dev/null", root / "dev/video0");
    {
        const int width = int(state.range(0)), height = int(state.range(1));
        const auto frame = testFrame(width, height);
        // The set-up succeeds (QUERYCAP names the loopback driver); there
        // are no usage events, as on Debian 12's module.
        DeviceIo io = DeviceIo::System();
        io.ioctl = [](int, unsigned long request, void *arg) {
            if (request == VIDIOC_QUERYCAP)
                std::strcpy(reinterpret_cast<char *>(static_cast<v4l2_capability *>(arg)->driver), "v4l2 loopback");
            return request == VIDIOC_SUBSCRIBE_EVENT ? -1 : 0;
        };
        VirtualCamera camera(width, height, 1000.0f, {root / "sys", root / "dev", io});
        if (!camera.Attached())
            state.SkipWithError("fake device not attached");
        for (auto _ : state)
            benchmark::DoNotOptimize(camera.SendFrame(frame.data()));
    }
    fs::remove_all(root);
}
BENCHMARK(BM_SendFrameToDevNull)->Args({1280, 720})->Unit(benchmark::kMillisecond);

void BM_LookForReaders(benchmark::State &state)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(OtherProcessHasOpen("/dev/video-none"));
}
BENCHMARK(BM_LookForReaders)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
