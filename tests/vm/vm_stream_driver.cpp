// Streams a video, a still picture (left half red, right half blue) or, with --standby, the idle window's placeholder
// through FrameSender and libvidloomcam.so as the app does, until SIGINT or SIGTERM. Prints the connection state and
// the reason frames fail as they change and the rate every 5 s, stamped with the wall clock to line up with readers.
#include "frame_sender.h"
#include "video_decoder.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    auto wallSeconds = [] {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    };
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s <video>|--image|--standby <width> <height>\n", argv[0]);
        return 2;
    }
    // Blocked in every thread, so only the wait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const bool image = std::strcmp(argv[1], "--image") == 0, standby = std::strcmp(argv[1], "--standby") == 0;
    const int width = std::stoi(argv[2]), height = std::stoi(argv[3]);

    FrameSender sender;
    if (standby ? !sender.LoadDll() || !sender.StartStandby(width, height, 30.0f)
                : !sender.InitCamera(width, height, 30.0f)) {
        std::fprintf(stderr, "camera: no library, no standby in it, or InitCamera failed\n");
        return 1;
    }
    VideoDecoder decoder;
    if (image) {
        std::vector<uint8_t> bgr(size_t(width) * height * 3, 0);
        for (size_t i = 0; i < bgr.size(); i += 3)
            bgr[i + (i / 3 % width < size_t(width) / 2 ? 2 : 0)] = 255;
        sender.StartImage(bgr.data(), width, height);
    } else if (!standby && decoder.Open(argv[1])) {
        sender.StartVideo(&decoder, true);
    } else if (!standby) {
        std::fprintf(stderr, "decoder: cannot open %s\n", argv[1]);
        return 1;
    }
    const char *doing = standby ? "standing by" : image ? "streaming image" : "streaming video";
    std::printf("%.3f %s %dx%d\n", wallSeconds(), doing, width, height); // flushed in the loop

    bool connected = false;
    int problem = 0, heldWidth = 0, heldHeight = 0;
    double lastReport = wallSeconds();
    const timespec poll{0, 100000000};
    while (sigtimedwait(&stopSignals, nullptr, &poll) <= 0 && (sender.running || standby)) {
        if (const int now = int(sender.CurrentSendProblem(heldWidth, heldHeight)); now != problem)
            problem = now, std::printf("%.3f problem=%d held=%dx%d\n", wallSeconds(), now, heldWidth, heldHeight);
        if (const bool now = sender.IsConnected(); now != connected)
            connected = now, std::printf("%.3f connected=%d\n", wallSeconds(), int(now));
        if (wallSeconds() - lastReport >= 5.0) {
            lastReport = wallSeconds();
            std::printf("%.3f fps=%.2f\n", lastReport, sender.currentFps.load());
        }
        std::fflush(stdout);
    }
    std::printf("%.3f stopping fps=%.2f\n", wallSeconds(), sender.currentFps.load());
    sender.ShutdownCamera();
    sender.StopStandby();
    return 0;
}
