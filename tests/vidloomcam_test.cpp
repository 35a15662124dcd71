// The camera library: pixel conversion, pacing, finding the device and
// following it as it comes and goes, and noticing readers. A temporary
// folder stands in for /sys and /dev, and a plain file for the device node.
#include "frame_pacer.h"
#include "reader_watch.h"
#include "vidloom_device.h"
#include "vidloomcam.h"
#include "virtual_camera.h"
#include "yuyv_converter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

extern char **environ;

namespace {

// ---- conversion ----

struct Yuv {
    double y, cb, cr;
};

// BT.601, limited range: the textbook formulas.
Yuv bt601(int r, int g, int b)
{
    const double y = 0.299 * r + 0.587 * g + 0.114 * b;
    return {16.0 + 219.0 * y / 255.0, 128.0 + 224.0 * (b - y) / (1.772 * 255.0),
            128.0 + 224.0 * (r - y) / (1.402 * 255.0)};
}

std::vector<uint8_t> solidBgr(int w, int h, int r, int g, int b)
{
    std::vector<uint8_t> frame(size_t(w) * h * 3);
    for (size_t i = 0; i < frame.size(); i += 3) {
        frame[i] = uint8_t(b);
        frame[i + 1] = uint8_t(g);
        frame[i + 2] = uint8_t(r);
    }
    return frame;
}

std::vector<uint8_t> toYuyv(const std::vector<uint8_t> &bgr, int w, int h)
{
    YuyvConverter converter(w, h);
    EXPECT_TRUE(converter.Valid());
    std::vector<uint8_t> out(converter.OutputBytes());
    converter.Convert(bgr.data(), out.data());
    return out;
}

// YUYV: Y0 Cb Y1 Cr per pixel pair.
double lumaAt(const std::vector<uint8_t> &yuyv, int w, int x, int y)
{
    return yuyv[(size_t(y) * w + x) * 2];
}
double cbAt(const std::vector<uint8_t> &yuyv, int w, int x, int y)
{
    return yuyv[(size_t(y) * w + (x & ~1)) * 2 + 1];
}
double crAt(const std::vector<uint8_t> &yuyv, int w, int x, int y)
{
    return yuyv[(size_t(y) * w + (x & ~1)) * 2 + 3];
}

// Within one code value of the correctly rounded result.
testing::AssertionResult withinOneCode(double actual, double exact)
{
    if (std::abs(actual - std::round(exact)) <= 1.0)
        return testing::AssertionSuccess();
    return testing::AssertionFailure() << actual << " is not within one of " << exact;
}

struct Colour {
    const char *name;
    int r, g, b;
};

TEST(YuyvConversion, SolidColoursMatchBt601LimitedRange)
{
    const Colour colours[] = {{"black", 0, 0, 0},     {"white", 255, 255, 255}, {"red", 255, 0, 0},
                              {"green", 0, 255, 0},   {"blue", 0, 0, 255},      {"grey", 128, 128, 128},
                              {"orange", 255, 128, 0}};
    const int w = 64, h = 64;
    for (const Colour &c : colours) {
        SCOPED_TRACE(c.name);
        const auto yuyv = toYuyv(solidBgr(w, h, c.r, c.g, c.b), w, h);
        const Yuv want = bt601(c.r, c.g, c.b);
        for (int y = 0; y < h; y += 9) {
            for (int x = 0; x < w; x += 7) {
                ASSERT_TRUE(withinOneCode(lumaAt(yuyv, w, x, y), want.y)) << x << "," << y;
                ASSERT_TRUE(withinOneCode(cbAt(yuyv, w, x, y), want.cb)) << x << "," << y;
                ASSERT_TRUE(withinOneCode(crAt(yuyv, w, x, y), want.cr)) << x << "," << y;
            }
        }
    }
}

TEST(YuyvConversion, RangeEndsAreLimited)
{
    const auto black = toYuyv(solidBgr(64, 64, 0, 0, 0), 64, 64);
    const auto white = toYuyv(solidBgr(64, 64, 255, 255, 255), 64, 64);
    EXPECT_EQ(black[0], 16);
    EXPECT_EQ(white[0], 235);
    EXPECT_EQ(black[1], 128);
    EXPECT_EQ(white[3], 128);
}

TEST(YuyvConversion, GradientsFollowTheFormulas)
{
    // Luma is per pixel, so a horizontal ramp checks it pixel by pixel;
    // chroma is shared by pixel pairs, so a vertical ramp (uniform rows)
    // checks it without depending on the subsampling filter.
    const int w = 256, h = 64;
    std::vector<uint8_t> across(size_t(w) * h * 3), down(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t *a = &across[(size_t(y) * w + x) * 3];
            a[0] = uint8_t(255 - x), a[1] = uint8_t(x / 2), a[2] = uint8_t(x);
            uint8_t *d = &down[(size_t(y) * w + x) * 3];
            d[0] = uint8_t(y * 4), d[1] = uint8_t(255 - y * 4), d[2] = uint8_t(128 + y);
        }
    }
    const auto yuyvAcross = toYuyv(across, w, h);
    for (int x = 0; x < w; ++x)
        ASSERT_TRUE(withinOneCode(lumaAt(yuyvAcross, w, x, 10), bt601(x, x / 2, 255 - x).y)) << "x " << x;
    const auto yuyvDown = toYuyv(down, w, h);
    for (int y = 0; y < h; ++y) {
        const Yuv want = bt601(128 + y, 255 - y * 4, y * 4);
        ASSERT_TRUE(withinOneCode(lumaAt(yuyvDown, w, 100, y), want.y)) << "y " << y;
        ASSERT_TRUE(withinOneCode(cbAt(yuyvDown, w, 100, y), want.cb)) << "y " << y;
        ASSERT_TRUE(withinOneCode(crAt(yuyvDown, w, 100, y), want.cr)) << "y " << y;
    }
}

TEST(YuyvConversion, TwoHalvesStayApartAtTheEdge)
{
    // Red left, blue right, meeting between two pixel pairs: no chroma may
    // bleed across, or a split picture gets a coloured seam.
    const int w = 64, h = 64;
    std::vector<uint8_t> frame = solidBgr(w, h, 255, 0, 0);
    for (int y = 0; y < h; ++y)
        for (int x = w / 2; x < w; ++x)
            frame[(size_t(y) * w + x) * 3] = 255, frame[(size_t(y) * w + x) * 3 + 2] = 0;
    const auto yuyv = toYuyv(frame, w, h);
    EXPECT_TRUE(withinOneCode(crAt(yuyv, w, w / 2 - 2, 5), bt601(255, 0, 0).cr));
    EXPECT_TRUE(withinOneCode(cbAt(yuyv, w, w / 2, 5), bt601(0, 0, 255).cb));
    EXPECT_TRUE(withinOneCode(lumaAt(yuyv, w, w / 2 - 1, 5), bt601(255, 0, 0).y));
    EXPECT_TRUE(withinOneCode(lumaAt(yuyv, w, w / 2, 5), bt601(0, 0, 255).y));
}

// ---- pacing ----

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A loaded machine can hold the thread back by more than a frame, which
// rightly starts a new schedule; so a measurement gets three tries. A pacer
// that drifts fails all three.
testing::AssertionResult takesAbout(double seconds, double tolerance, const std::function<void()> &run)
{
    double took = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        run();
        took = secondsSince(start);
        if (std::abs(took - seconds) <= tolerance)
            return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "took " << took << " s, wanted " << seconds << " s";
}

TEST(FramePacing, ThirtyFramesPerSecondOverThreeSeconds)
{
    EXPECT_TRUE(takesAbout(3.0, 0.03, [] {
        FramePacer pacer(30.0);
        for (int i = 0; i < 90; ++i)
            pacer.WaitForNextFrame();
    }));
}

TEST(FramePacing, ShortHiccupIsMadeUpWithoutShiftingTheSchedule)
{
    EXPECT_TRUE(takesAbout(1.0, 0.02, [] {
        FramePacer pacer(30.0);
        for (int i = 0; i < 30; ++i) {
            if (i == 10)
                std::this_thread::sleep_for(30ms); // late by less than a frame
            pacer.WaitForNextFrame();
        }
    }));
}

TEST(FramePacing, StallResynchronisesInsteadOfBursting)
{
    FramePacer pacer(30.0);
    for (int i = 0; i < 5; ++i)
        pacer.WaitForNextFrame();
    std::this_thread::sleep_for(400ms); // twelve frames missed

    auto late = std::chrono::steady_clock::now();
    pacer.WaitForNextFrame();
    EXPECT_LT(secondsSince(late), 0.02) << "the late frame itself goes at once";

    // Catching up would return at once for the missed frames; a new
    // schedule spaces them a frame apart.
    const auto after = std::chrono::steady_clock::now();
    for (int i = 0; i < 6; ++i)
        pacer.WaitForNextFrame();
    EXPECT_GE(secondsSince(after), 6 / 30.0 - 0.002);
}

// ---- a fake /sys and /dev ----

class FakeDeviceTree {
public:
    FakeDeviceTree()
        : root(fs::temp_directory_path() / ("vidloomcam-test-" + std::to_string(getpid()) + "-" +
                                            std::to_string(counter++)))
    {
        fs::create_directories(sysfs() / "class" / "video4linux");
        fs::create_directories(dev());
    }
    ~FakeDeviceTree() { fs::remove_all(root); }

    fs::path sysfs() const { return root / "sys"; }
    fs::path dev() const { return root / "dev"; }

    // A video4linux entry with the given label, and a plain file as its node.
    fs::path AddDevice(int number, const std::string &label)
    {
        const std::string node = "video" + std::to_string(number);
        fs::create_directories(sysfs() / "class" / "video4linux" / node);
        std::ofstream(sysfs() / "class" / "video4linux" / node / "name") << label << "\n";
        std::ofstream(dev() / node).flush();
        return dev() / node;
    }
    void RemoveDevice(int number)
    {
        fs::remove_all(sysfs() / "class" / "video4linux" / ("video" + std::to_string(number)));
    }

    CameraEnvironment Environment() const { return {sysfs(), dev(), false}; }

private:
    static inline int counter = 0;
    fs::path root;
};

TEST(DeviceDiscovery, FindsTheLowestVidloomNodeOnly)
{
    FakeDeviceTree tree;
    EXPECT_EQ(vidloom_device::Find(tree.sysfs(), tree.dev()), fs::path());
    tree.AddDevice(0, "Integrated Camera");
    tree.AddDevice(12, "Vidloom");
    tree.AddDevice(3, "Vidloom Extra");
    EXPECT_EQ(vidloom_device::Find(tree.sysfs(), tree.dev()), tree.dev() / "video12");
    tree.AddDevice(4, "Vidloom");
    EXPECT_EQ(vidloom_device::Find(tree.sysfs(), tree.dev()), tree.dev() / "video4");
}

TEST(DeviceDiscovery, IgnoresOtherEntries)
{
    FakeDeviceTree tree;
    fs::create_directories(tree.sysfs() / "class" / "video4linux" / "v4l-subdev0");
    std::ofstream(tree.sysfs() / "class" / "video4linux" / "v4l-subdev0" / "name") << "Vidloom\n";
    fs::create_directories(tree.sysfs() / "class" / "video4linux" / "video1");
    EXPECT_EQ(vidloom_device::Find(tree.sysfs(), tree.dev()), fs::path());
    EXPECT_EQ(vidloom_device::Find(tree.sysfs() / "missing", tree.dev()), fs::path());
}

// ---- attaching and detaching ----

constexpr int kW = 64, kH = 64;
constexpr size_t kYuyvBytes = size_t(kW) * kH * 2;

uintmax_t fileSize(const fs::path &path)
{
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    return ec ? 0 : size;
}

// Sends frames until the condition holds or about five seconds pass (the
// camera looks for its device once a second).
bool sendUntil(VirtualCamera &camera, const std::vector<uint8_t> &frame, const std::function<bool()> &done)
{
    for (int i = 0; i < 500; ++i) {
        if (done())
            return true;
        camera.SendFrame(frame.data());
    }
    return done();
}

TEST(CameraDevice, WritesYuyvFramesToTheDeviceFoundAtCreation)
{
    FakeDeviceTree tree;
    const fs::path node = tree.AddDevice(2, "Vidloom");
    VirtualCamera camera(kW, kH, 100.0f, tree.Environment());
    ASSERT_TRUE(camera.Attached());
    EXPECT_EQ(camera.Device(), node);

    const auto red = solidBgr(kW, kH, 255, 0, 0);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(camera.SendFrame(red.data()));
    ASSERT_EQ(fileSize(node), 3 * kYuyvBytes);

    std::ifstream in(node, std::ios::binary);
    std::vector<uint8_t> written(3 * kYuyvBytes);
    in.read(reinterpret_cast<char *>(written.data()), std::streamsize(written.size()));
    const auto expected = toYuyv(red, kW, kH);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), written.begin() + 2 * kYuyvBytes));
}

TEST(CameraDevice, AttachesWhenTheDeviceAppearsAndFollowsItAway)
{
    FakeDeviceTree tree;
    VirtualCamera camera(kW, kH, 100.0f, tree.Environment());
    const auto frame = solidBgr(kW, kH, 0, 255, 0);
    EXPECT_FALSE(camera.Attached());
    EXPECT_FALSE(camera.SendFrame(frame.data()));

    const fs::path node = tree.AddDevice(0, "Vidloom");
    ASSERT_TRUE(sendUntil(camera, frame, [&] { return camera.Attached(); }));
    EXPECT_TRUE(camera.SendFrame(frame.data()));
    EXPECT_GT(fileSize(node), 0u);

    tree.RemoveDevice(0);
    ASSERT_TRUE(sendUntil(camera, frame, [&] { return !camera.Attached(); }));
    const uintmax_t sizeAfter = fileSize(node);
    EXPECT_FALSE(camera.SendFrame(frame.data()));
    EXPECT_EQ(fileSize(node), sizeAfter);

    // Registered again under another number, as after a module reload.
    const fs::path again = tree.AddDevice(5, "Vidloom");
    ASSERT_TRUE(sendUntil(camera, frame, [&] { return camera.Attached(); }));
    EXPECT_EQ(camera.Device(), again);
}

TEST(CameraDevice, LooksForTheDeviceAtMostOnceASecond)
{
    FakeDeviceTree tree;
    VirtualCamera camera(kW, kH, 1000.0f, tree.Environment());
    const auto frame = solidBgr(kW, kH, 0, 0, 0);
    camera.SendFrame(frame.data());
    tree.AddDevice(0, "Vidloom");
    // Right after a look, a burst of frames must not look again.
    for (int i = 0; i < 20; ++i)
        camera.SendFrame(frame.data());
    EXPECT_FALSE(camera.Attached());
}

TEST(CameraDevice, FailedWriteDetachesAndRetries)
{
    FakeDeviceTree tree;
    tree.AddDevice(1, "Vidloom");
    fs::remove(tree.dev() / "video1");
    fs::create_symlink("/dev/full", tree.dev() / "video1"); // every write fails
    VirtualCamera camera(kW, kH, 100.0f, tree.Environment());
    ASSERT_TRUE(camera.Attached());
    const auto frame = solidBgr(kW, kH, 0, 0, 0);
    EXPECT_FALSE(camera.SendFrame(frame.data()));
    EXPECT_FALSE(camera.Attached());

    fs::remove(tree.dev() / "video1");
    std::ofstream(tree.dev() / "video1").flush();
    ASSERT_TRUE(sendUntil(camera, frame, [&] { return camera.Attached(); }));
    EXPECT_TRUE(camera.SendFrame(frame.data()));
}

TEST(CameraDevice, MissingNodeIsNotAttached)
{
    FakeDeviceTree tree;
    tree.AddDevice(1, "Vidloom");
    fs::remove(tree.dev() / "video1");
    VirtualCamera camera(kW, kH, 100.0f, tree.Environment());
    EXPECT_FALSE(camera.Attached());
}

TEST(CameraDevice, PacesWithoutADevice)
{
    FakeDeviceTree tree;
    VirtualCamera camera(kW, kH, 30.0f, tree.Environment());
    const auto frame = solidBgr(kW, kH, 0, 0, 0);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 15; ++i)
        camera.SendFrame(frame.data());
    EXPECT_GE(secondsSince(start), 15 / 30.0 - 0.002);
}

// ---- readers ----

// Another process holding path open, as a webcam client does.
class Holder {
public:
    explicit Holder(const fs::path &path)
    {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 3, path.c_str(), O_RDONLY, 0);
        char sleepName[] = "sleep", seconds[] = "60";
        char *argv[] = {sleepName, seconds, nullptr};
        if (posix_spawnp(&pid, "sleep", &actions, nullptr, argv, environ) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Holder() { Release(); }
    void Release()
    {
        if (pid <= 0)
            return;
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        pid = -1;
    }
    bool Started() const { return pid > 0; }

private:
    pid_t pid = -1;
};

bool eventually(const std::function<bool()> &condition)
{
    for (int i = 0; i < 100; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(50ms);
    }
    return false;
}

TEST(CameraReaders, AnotherProcessHoldingTheDeviceIsAReader)
{
    FakeDeviceTree tree;
    const fs::path node = tree.AddDevice(0, "Vidloom");
    VirtualCamera camera(kW, kH, 30.0f, tree.Environment());
    ASSERT_TRUE(camera.Attached());
    // The camera's own descriptor does not count.
    std::this_thread::sleep_for(2 * ReaderWatch::kInterval);
    EXPECT_FALSE(camera.IsConnected());
    EXPECT_FALSE(camera.WaitForConnection(0.3f));

    Holder reader(node);
    ASSERT_TRUE(reader.Started());
    EXPECT_TRUE(camera.WaitForConnection(10.0f));
    EXPECT_TRUE(camera.IsConnected());

    reader.Release();
    EXPECT_TRUE(eventually([&] { return !camera.IsConnected(); }));
}

TEST(CameraReaders, DetachingEndsTheConnection)
{
    FakeDeviceTree tree;
    const fs::path node = tree.AddDevice(0, "Vidloom");
    VirtualCamera camera(kW, kH, 100.0f, tree.Environment());
    Holder reader(node);
    ASSERT_TRUE(camera.WaitForConnection(10.0f));
    tree.RemoveDevice(0);
    const auto frame = solidBgr(kW, kH, 0, 0, 0);
    ASSERT_TRUE(sendUntil(camera, frame, [&] { return !camera.Attached(); }));
    EXPECT_FALSE(camera.IsConnected());
}

TEST(CameraReaders, ProcessScanMatchesExactPathsOnly)
{
    FakeDeviceTree tree;
    const fs::path node = tree.AddDevice(0, "Vidloom");
    Holder reader(node);
    ASSERT_TRUE(reader.Started());
    EXPECT_TRUE(eventually([&] { return OtherProcessHasOpen(fs::canonical(node).string()); }));
    EXPECT_FALSE(OtherProcessHasOpen(fs::canonical(node).string() + "0"));
    EXPECT_FALSE(OtherProcessHasOpen((tree.dev() / "video9").string()));
}

// ---- the C API ----

TEST(CameraApi, RefusesUnusableSizesAndRates)
{
    const int bad[][2] = {{0, 480}, {641, 480}, {62, 480}, {640, 63}, {7682, 480}, {640, 7681}, {-640, 480}};
    for (const auto &size : bad)
        EXPECT_EQ(scCreateCamera(size[0], size[1], 30.0f), nullptr) << size[0] << "x" << size[1];
    EXPECT_EQ(scCreateCamera(640, 480, 0.0f), nullptr);
    EXPECT_EQ(scCreateCamera(640, 480, -30.0f), nullptr);
    EXPECT_EQ(scCreateCamera(640, 480, NAN), nullptr);
}

TEST(CameraApi, OneCameraAtATime)
{
    void *first = scCreateCamera(64, 7680, 30.0f);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(scCreateCamera(640, 480, 30.0f), nullptr);
    scDeleteCamera(first);
    void *next = scCreateCamera(7680, 64, 30.0f);
    ASSERT_NE(next, nullptr);
    scDeleteCamera(next);
}

TEST(CameraApi, NullCameraIsHarmless)
{
    scDeleteCamera(nullptr);
    EXPECT_FALSE(scSendFrame(nullptr, nullptr));
    EXPECT_FALSE(scIsConnected(nullptr));
    EXPECT_FALSE(scWaitForConnection(nullptr, 0.1f));
}

TEST(CameraApi, StreamsWithoutADeviceAndNoReader)
{
    if (!vidloom_device::Find().empty())
        GTEST_SKIP() << "a real Vidloom device is present";
    void *camera = scCreateCamera(640, 480, 30.0f);
    ASSERT_NE(camera, nullptr);
    const auto frame = solidBgr(640, 480, 10, 20, 30);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 6; ++i)
        EXPECT_FALSE(scSendFrame(camera, frame.data()));
    EXPECT_GE(secondsSince(start), 6 / 30.0 - 0.002);
    EXPECT_FALSE(scSendFrame(camera, nullptr));
    EXPECT_FALSE(scIsConnected(camera));
    EXPECT_FALSE(scWaitForConnection(camera, 0.2f));
    scDeleteCamera(camera);
}

} // namespace
