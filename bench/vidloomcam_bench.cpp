// CPU cost of the camera library per frame: the BGR24 to YUYV conversion
// alone, and a whole send (conversion plus write) into /dev/null standing in
// for the device. Also the cost of one look through /proc for readers, which
// Debian 12's v4l2loopback needs each time some program opens or closes the
// device.
#include "reader_watch.h"
#include "virtual_camera.h"
#include "yuyv_converter.h"

#include <benchmark/benchmark.h>

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

void BM_ConvertToYuyv(benchmark::State &state)
{
    const int width = int(state.range(0)), height = int(state.range(1));
    const auto frame = testFrame(width, height);
    YuyvConverter converter(width, height);
    std::vector<uint8_t> out(converter.OutputBytes());
    for (auto _ : state) {
        converter.Convert(frame.data(), out.data());
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_ConvertToYuyv)->Args({640, 480})->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMillisecond);

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
