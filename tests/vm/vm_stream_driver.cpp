// Streams a video (or, with --image, a still picture) through FrameSender
// and libvidloomcam.so exactly as the app does, until SIGINT or SIGTERM.
// Prints the connection state and the reason frames fail (the window's
// status) whenever they change, stamped with the wall clock, so the test
// can line them up with its readers.
//
//   vidloom_vm_driver <video file> <width> <height>
//   vidloom_vm_driver --image <width> <height>   (left half red, right blue)
//   vidloom_vm_driver --standby <width> <height> (the placeholder, as the idle window)
#include "frame_sender.h"
#include "video_decoder.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::vector<uint8_t> halvesImage(int width, int height)
{
    std::vector<uint8_t> bgr(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t *p = &bgr[(size_t(y) * width + x) * 3];
            const bool left = x < width / 2;
            p[0] = left ? 0 : 255;
            p[1] = 0;
            p[2] = left ? 255 : 0;
        }
    }
    return bgr;
}

// Blocks SIGINT and SIGTERM in every thread, so only the wait sees them.
sigset_t stopSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return set;
}

bool stopRequested(const sigset_t &set)
{
    timespec poll{0, 100000000};
    return sigtimedwait(&set, nullptr, &poll) > 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <video>|--image|--standby <width> <height>\n", argv[0]);
        return 2;
    }
    const sigset_t signals = stopSignals();
    const bool image = std::strcmp(argv[1], "--image") == 0;
    const bool standby = std::strcmp(argv[1], "--standby") == 0;
    const int width = std::stoi(argv[2]);
    const int height = std::stoi(argv[3]);

    FrameSender sender;
    if (standby ? !sender.LoadDll() || !sender.StartStandby(width, height, 30.0f)
                : !sender.InitCamera(width, height, 30.0f)) {
        std::fprintf(stderr, "camera: no library, no standby in it, or InitCamera failed\n");
        return 1;
    }
    VideoDecoder decoder;
    if (image) {
        const auto picture = halvesImage(width, height);
        sender.StartImage(picture.data(), width, height);
    } else if (!standby) {
        if (!decoder.Open(argv[1])) {
            std::fprintf(stderr, "decoder: cannot open %s\n", argv[1]);
            return 1;
        }
        sender.StartVideo(&decoder, true);
    }
    const char *doing = standby ? "standing by" : image ? "streaming image" : "streaming video";
    std::printf("%.3f %s %dx%d\n", wallSeconds(), doing, width, height);
    std::fflush(stdout);

    bool connected = false;
    int problem = 0, heldWidth = 0, heldHeight = 0;
    double lastReport = wallSeconds();
    while (!stopRequested(signals) && (sender.running || standby)) {
        if (const int now = int(sender.CurrentSendProblem(heldWidth, heldHeight)); now != problem)
            problem = now, std::printf("%.3f problem=%d held=%dx%d\n", wallSeconds(), now, heldWidth, heldHeight);
        const bool now = sender.IsConnected();
        if (now != connected)
            connected = now, std::printf("%.3f connected=%d\n", wallSeconds(), int(now));
        std::fflush(stdout);
        if (wallSeconds() - lastReport >= 5.0) {
            lastReport = wallSeconds();
            std::printf("%.3f fps=%.2f\n", lastReport, sender.currentFps.load());
            std::fflush(stdout);
        }
    }
    std::printf("%.3f stopping fps=%.2f\n", wallSeconds(), sender.currentFps.load());
    sender.ShutdownCamera();
    sender.StopStandby();
    decoder.Close();
    return 0;
}
