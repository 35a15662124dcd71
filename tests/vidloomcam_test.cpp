// The camera library, with a temporary folder for /sys and /dev and a plain file as the node.
#include "frame_pacer.h"
#include "placeholder.h"
#include "reader_watch.h"
#include "standby.h"
#include "vidloom_device.h"
#include "vidloomcam.h"
#include "virtual_camera.h"
#include "yuyv_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <future>
#include <linux/videodev2.h>
#include <map>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::vector<uint8_t> toYuyv(const std::vector<uint8_t> &bgr, int w, int h,
                            YuyvConverter::Level level = YuyvConverter::Best())
{
    YuyvConverter converter(w, h, level);
    EXPECT_TRUE(converter.Valid());
    std::vector<uint8_t> out(converter.OutputBytes());
    converter.Convert(bgr.data(), out.data());
    return out;
}

// BT.601 limited range, chroma the pair's mean; the vector version byte-equal at every tail and in the last rows.
TEST(YuyvConversion, FollowsBt601AndTheVectorVersionAgrees)
{
    // BGR pairs: black and white, red and blue, green and grey.
    const std::vector<uint8_t> pairs = {0, 0, 0, 255, 255, 255, 0, 0, 255, 255, 0, 0, 0, 255, 0, 128, 128, 128};
    EXPECT_EQ(toYuyv(pairs, 6, 1, YuyvConverter::Level::Plain),
              (std::vector<uint8_t>{16, 128, 235, 128, 81, 165, 41, 175, 145, 91, 126, 81}));
    for (int w : {2, 14, 16, 18, 30, 32, 46, 256})
        for (int h : {1, 4}) {
            std::vector<uint8_t> bgr(size_t(w) * h * 3);
            for (size_t i = 0; i < bgr.size(); ++i)
                bgr[i] = uint8_t(i * 151 + i / 5);
            ASSERT_EQ(toYuyv(bgr, w, h), toYuyv(bgr, w, h, YuyvConverter::Level::Plain)) << w << "x" << h;
        }
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(FramePacing, HoldsTheRateMakesUpAHiccupAndResynchronisesAfterAStall)
{
    // A loaded machine may hold the thread back by over a frame, rightly starting anew: three tries.
    double took = 0;
    for (int attempt = 0; attempt < 3 && std::abs(took - 1.0) > 0.03; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        FramePacer pacer(30.0);
        for (int i = 0; i < 30; ++i) {
            if (i == 10)
                std::this_thread::sleep_for(30ms);
            pacer.WaitForNextFrame();
        }
        took = secondsSince(start);
    }
    EXPECT_NEAR(took, 1.0, 0.03);

    FramePacer pacer(30.0);
    pacer.WaitForNextFrame();
    std::this_thread::sleep_for(400ms); // twelve frames missed
    const auto late = std::chrono::steady_clock::now();
    pacer.WaitForNextFrame();
    EXPECT_LT(secondsSince(late), 0.02) << "the late frame itself goes at once";
    const auto after = std::chrono::steady_clock::now();
    for (int i = 0; i < 6; ++i)
        pacer.WaitForNextFrame();
    EXPECT_GE(secondsSince(after), 6 / 30.0 - 0.002) << "a pacer that catches up bursts the missed frames";
}

// v4l2loopback 0.12.7 behind the system calls, logging them. faults: a call's errno, or a state (uvc, reader...).
struct FakeDeviceTree {
    FakeDeviceTree() { fs::create_directories(v4l), fs::create_directories(dev); }
    ~FakeDeviceTree() { fs::remove_all(root); }

    int call(const std::string &name)
    {
        calls += (calls.empty() ? "" : " ") + name;
        const auto fail = faults.find(name);
        return fail == faults.end() ? 0 : (errno = fail->second, -1);
    }
    int ioctl(unsigned long request, void *arg)
    {
        auto &pix = static_cast<v4l2_format *>(arg)->fmt.pix;
        const auto &frame = static_cast<v4l2_streamparm *>(arg)->parm.output.timeperframe;
        auto &control = *static_cast<v4l2_control *>(arg);
        switch (request) {
        case VIDIOC_QUERYCAP:
            std::strcpy(reinterpret_cast<char *>(static_cast<v4l2_capability *>(arg)->driver),
                        faults.count("uvc") ? "uvcvideo" : "v4l2 loopback");
            return call("QUERYCAP");
        case VIDIOC_S_FMT:
            if (faults.count("reader") || faults["kept"])
                pix.width = 640, pix.height = 480;
            return call(pix.pixelformat == V4L2_PIX_FMT_YUYV ? "S_FMT" : "S_FMT not YUYV");
        case VIDIOC_S_PARM:
            return call("S_PARM " + std::to_string(frame.numerator) + "/" + std::to_string(frame.denominator));
        case VIDIOC_STREAMON:
        case VIDIOC_STREAMOFF:
            return call(std::string(request == VIDIOC_STREAMON ? "STREAMON" : "STREAMOFF")
                        + (*static_cast<int *>(arg) == V4L2_BUF_TYPE_VIDEO_OUTPUT ? "" : " of a reader"));
        case VIDIOC_G_CTRL:
            control.value = faults["kept"];
            return call("G_CTRL");
        case VIDIOC_S_CTRL:
            faults[control.id & 1 ? "sustain" : "kept"] = control.value;
            return call(std::string(control.id & 1 ? "S_CTRL sustain=" : "S_CTRL keep=")
                        + std::to_string(control.value));
        default: // only 0.13 and later have events
            return request == VIDIOC_SUBSCRIBE_EVENT && faults.count("events") ? 0 : (errno = EINVAL, -1);
        }
    }

    fs::path AddDevice(int number, const std::string &label, bool loopback = true, const std::string &kind = "video")
    {
        const std::string node = kind + std::to_string(number);
        fs::create_directories(v4l / node);
        std::ofstream(v4l / node / "name") << label << "\n";
        if (loopback) // only v4l2loopback's entries have max_openers
            std::ofstream(v4l / node / "max_openers") << "10\n";
        std::ofstream(dev / node).flush();
        return dev / node;
    }
    void RemoveDevice(int number) { fs::remove_all(v4l / ("video" + std::to_string(number))); }
    CameraEnvironment Environment()
    {
        return {
            sysfs, dev,
            DeviceIo{[this](const char *node, int) { return faults.count("open") ? call("open") : open(node, O_RDWR); },
                     [this](int, unsigned long request, void *arg) { return ioctl(request, arg); },
                     [this](int fd, const void *data, size_t size) { return call("write") ?: write(fd, data, size); },
                     [this](int fd) { return call("close"), close(fd); }}};
    }

    std::map<std::string, int> faults;
    std::string calls;
    const fs::path root = fs::temp_directory_path() / ("vidloomcam-test-" + std::to_string(getpid()));
    const fs::path sysfs = root / "sys", dev = root / "dev", v4l = sysfs / "class" / "video4linux";
};

TEST(DeviceDiscovery, FindsTheLowestVidloomNodeOnly)
{
    FakeDeviceTree tree;
    EXPECT_EQ(vidloom_device::Find(tree.sysfs / "missing", tree.dev), fs::path());
    tree.AddDevice(0, "Integrated Camera");
    tree.AddDevice(3, "Vidloom Extra");
    tree.AddDevice(2, "Vidloom", false); // another driver's device
    tree.AddDevice(0, "Vidloom", true, "v4l-subdev");
    fs::create_directories(tree.v4l / "video1"); // no name at all
    EXPECT_EQ(vidloom_device::Find(tree.sysfs, tree.dev), fs::path());
    // Labels go until the lowest Vidloom node is not listed last, where keeping the last match finds it.
    std::vector<int> listed;
    for (int n : {15, 12, 18, 11, 19, 13, 17, 14, 16})
        tree.AddDevice(n, "Vidloom");
    for (const auto &entry : fs::directory_iterator(tree.v4l))
        if (const std::string name = entry.path().filename().string(); name.size() == 7 && name.rfind("video1", 0) == 0)
            listed.push_back(std::stoi(name.substr(5)));
    while (listed.size() > 1 && listed.back() == *std::min_element(listed.begin(), listed.end())) {
        tree.AddDevice(listed.back(), "Other");
        listed.pop_back();
    }
    EXPECT_EQ(vidloom_device::Find(tree.sysfs, tree.dev),
              tree.dev / ("video" + std::to_string(*std::min_element(listed.begin(), listed.end()))));
}

constexpr int kW = 64, kH = 64;
constexpr size_t kYuyvBytes = size_t(kW) * kH * 2;
const std::vector<uint8_t> kFrame(size_t(kW) * kH * 3, 0x80);

std::vector<uint8_t> lastFrame(const fs::path &node)
{
    std::ifstream in(node, std::ios::binary);
    const std::vector<uint8_t> all{std::istreambuf_iterator<char>(in), {}};
    EXPECT_TRUE(!all.empty() && all.size() % kYuyvBytes == 0) << all.size();
    return {all.end() - std::min(all.size(), kYuyvBytes), all.end()};
}

// Sends frames to camera if given, or sleeps, until done() or about five seconds pass.
bool eventually(const std::function<bool()> &done, VirtualCamera *camera = nullptr)
{
    for (int i = 0; i < 500 && !done(); ++i)
        camera ? void(camera->SendFrame(kFrame.data())) : std::this_thread::sleep_for(10ms);
    return done();
}

// The producer's V4L2 sequence and each refusal's status; a passing refusal clears at the next look.
TEST(CameraDevice, ProducerSequenceAndRefusals)
{
    const std::string start = "QUERYCAP S_FMT S_PARM 1/100 STREAMON";
    const std::string release = "QUERYCAP S_FMT G_CTRL S_CTRL sustain=0 S_CTRL keep=0 close ";
    const std::string held = "QUERYCAP S_FMT G_CTRL close";
    const struct Row {
        const char *what;
        std::map<std::string, int> faults;
        scStatus status;
        std::string calls; // up to the first frame's write
        bool clears;
    } rows[] = {
        {"streams", {}, SC_STATUS_SENDING, start + " write", false},
        {"newer module: STREAMON needs buffers", {{"STREAMON", EINVAL}}, SC_STATUS_SENDING, start + " write", false},
        {"placeholder's format released", {{"kept", 1}}, SC_STATUS_SENDING, release + start + " write", false},
        {"not v4l2loopback", {{"uvc", 1}}, SC_STATUS_NOT_REGISTERED, "QUERYCAP close", false},
        {"reader holds another size", {{"reader", 1}}, SC_STATUS_OTHER_SIZE, held, true},
        {"reader holds the kept size", {{"reader", 1}, {"kept", 1}}, SC_STATUS_OTHER_SIZE, release + held, true},
        {"another producer", {{"S_FMT", EBUSY}}, SC_STATUS_BUSY, "QUERYCAP S_FMT close", true},
        {"format refused", {{"S_FMT", EINVAL}}, SC_STATUS_REFUSED, "QUERYCAP S_FMT close", false},
        {"rate refused", {{"S_PARM 1/100", EINVAL}}, SC_STATUS_REFUSED, "QUERYCAP S_FMT S_PARM 1/100 close", false},
        {"stream taken", {{"STREAMON", EBUSY}}, SC_STATUS_BUSY, start + " close", false},
        {"no more openers", {{"open", EBUSY}}, SC_STATUS_BUSY, "open", true},
        {"no permission", {{"open", EACCES}}, SC_STATUS_NO_PERMISSION, "open", false},
        {"node missing", {{"open", ENOENT}}, SC_STATUS_NOT_REGISTERED, "open", false},
        {"unloaded mid-stream", {{"write", ENODEV}}, SC_STATUS_NOT_REGISTERED, start + " write STREAMOFF close", true},
        {"frame refused", {{"write", ENOSPC}}, SC_STATUS_REFUSED, start + " write STREAMOFF close", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        FakeDeviceTree tree;
        tree.AddDevice(0, "Vidloom");
        tree.faults = row.faults;
        VirtualCamera camera(kW, kH, 100.0f, tree.Environment());
        EXPECT_EQ(camera.SendFrame(kFrame.data()), row.status == SC_STATUS_SENDING);
        EXPECT_EQ(tree.calls, row.calls);
        EXPECT_EQ(camera.Status().code, row.status);
        EXPECT_EQ(camera.Status().width, row.status == SC_STATUS_OTHER_SIZE ? 640 : 0);
        if (!row.clears)
            continue;
        tree.faults.clear(), tree.calls.clear();
        ASSERT_TRUE(eventually([&] { return camera.Attached(); }, &camera));
        EXPECT_TRUE(camera.SendFrame(kFrame.data()));
        EXPECT_EQ(camera.Status().code, SC_STATUS_SENDING);
        EXPECT_EQ(tree.calls, start + " write write");
    }
}

// A camera that goes leaves the placeholder, kept by a 0.12 device; the standby shows it to a device
// that comes late, and only another size restarts it; it fits any size.
TEST(Placeholder, LeftByACameraShownByTheStandby)
{
    FakeDeviceTree tree;
    const fs::path node = tree.AddDevice(0, "Vidloom");
    VirtualCamera(kW, kH, 100.0f, tree.Environment()).SendFrame(kFrame.data());
    EXPECT_EQ(tree.calls,
              "QUERYCAP S_FMT S_PARM 1/100 STREAMON write write S_CTRL keep=1 S_CTRL sustain=1 STREAMOFF close");
    EXPECT_EQ(lastFrame(node), toYuyv(PlaceholderBgr(kW, kH), kW, kH));
    tree.faults = {{"events", 1}}, tree.calls.clear(); // they refuse a kept format to new readers
    VirtualCamera(kW, kH, 100.0f, tree.Environment()).SendFrame(kFrame.data());
    EXPECT_EQ(tree.calls, "QUERYCAP S_FMT S_PARM 1/100 STREAMON write STREAMOFF close");
    tree.RemoveDevice(0);
    tree.faults.clear(), tree.calls.clear();
    Standby standby(tree.Environment());
    standby.Start(kW, kH, 30.0f);
    const fs::path late = tree.AddDevice(1, "Vidloom");
    ASSERT_TRUE(eventually([&] { return fs::file_size(late) >= 2 * kYuyvBytes; }));
    std::vector<uint8_t> first(kYuyvBytes); // the standby's own, not the one a camera leaves
    std::ifstream(late, std::ios::binary).read(reinterpret_cast<char *>(first.data()), std::streamsize(kYuyvBytes));
    EXPECT_EQ(first, toYuyv(PlaceholderBgr(kW, kH), kW, kH));
    standby.Start(kW, kH, 30.0f);
    standby.Start(kW * 2, kH, 30.0f);
    const uintmax_t restarted = fs::file_size(late); // the next camera writes from the start again
    ASSERT_TRUE(eventually([&] { return fs::file_size(late) >= restarted + 4 * kYuyvBytes; }));
    standby.Stop();
    const std::string &calls = tree.calls, start = "S_PARM 1/30 STREAMON write write";
    EXPECT_EQ(calls.find(start), calls.rfind(start, calls.find("close"))) << "one camera at the first size";
    EXPECT_NE(calls.find(start, calls.find("close")), std::string::npos) << "and one at the next";

    for (const auto &[w, h] : {std::pair{64, 64}, {7680, 64}, {64, 7680}}) {
        const auto bgr = PlaceholderBgr(w, h);
        ASSERT_EQ(bgr.size(), size_t(w) * h * 3);
        auto rgb = [&](size_t i) { return bgr[i * 3 + 2] << 16 | bgr[i * 3 + 1] << 8 | bgr[i * 3]; };
        const int side = std::max(8, std::min(w, h) * 2 / 5), lensY = h * 2 / 5 - side / 2 + side * 27 / 64;
        EXPECT_TRUE(rgb(0) == 0x1e2127 && rgb(size_t(w) * h - 1) == 0x1e2127
                    && rgb(size_t(lensY) * w + w / 2) == 0x3a3f47)
            << w << "x" << h;
    }
}

// Another process holding the node open, as a webcam client does.
pid_t holdOpen(const fs::path &node)
{
    const pid_t pid = fork();
    if (pid == 0) {
        open(node.c_str(), O_RDONLY);
        alarm(60); // ends by itself should the test fail before it kills it
        pause();
    }
    return pid;
}

// The device is looked for at most once a second; a process holding the node is a reader.
TEST(CameraDevice, AttachesWritesCountsReadersAndFollowsTheDevice)
{
    FakeDeviceTree tree;
    VirtualCamera camera(kW, kH, 100.0f, tree.Environment());
    EXPECT_FALSE(camera.SendFrame(kFrame.data())) << "no device yet";
    const fs::path node = tree.AddDevice(0, "Vidloom");
    for (int i = 0; i < 20; ++i)
        EXPECT_FALSE(camera.SendFrame(kFrame.data())) << "looked again within the second";
    ASSERT_TRUE(eventually([&] { return camera.Attached(); }, &camera));
    EXPECT_EQ(lastFrame(node), toYuyv(kFrame, kW, kH));
    EXPECT_FALSE(camera.WaitForConnection(0.5f)) << "the camera's own descriptor does not count";
    const pid_t reader = holdOpen(node);
    ASSERT_GT(reader, 0);
    EXPECT_TRUE(camera.WaitForConnection(10.0f) && camera.IsConnected());
    // Nobody opens or closes the node now: /proc is left alone.
    const int scans = camera.Readers().ProcessScans();
    std::this_thread::sleep_for(3 * ReaderWatch::kInterval);
    EXPECT_EQ(camera.Readers().ProcessScans(), scans);
    EXPECT_FALSE(OtherProcessHasOpen(fs::canonical(node).string() + "0")) << "exact paths only";
    kill(reader, SIGKILL);
    waitpid(reader, nullptr, 0);
    EXPECT_TRUE(eventually([&] { return !camera.IsConnected(); }));

    const pid_t another = holdOpen(node);
    EXPECT_TRUE(camera.WaitForConnection(10.0f));
    tree.RemoveDevice(0);
    EXPECT_TRUE(eventually([&] { return !camera.Attached(); }, &camera));
    EXPECT_FALSE(camera.IsConnected());
    kill(another, SIGKILL);
    waitpid(another, nullptr, 0);
    const fs::path again = tree.AddDevice(5, "Vidloom");
    ASSERT_TRUE(eventually([&] { return camera.Attached(); }, &camera));
    EXPECT_EQ(camera.Device(), again);
}

// One producer at a time (a camera ends the standby), of a usable size and rate; without a device it still paces.
TEST(CameraApi, OneUsableCameraThatPacesWithoutADevice)
{
    auto threads = [] { return std::distance(fs::directory_iterator("/proc/self/task"), fs::directory_iterator()); };
    const auto idle = threads();
    ASSERT_TRUE(scStartStandby(64, 64, 30.0f));
    ASSERT_TRUE(eventually([&] { return threads() == idle + 2; }));
    void *taking = scCreateCamera(64, 64, 30.0f);
    EXPECT_EQ(threads(), idle + 1);
    EXPECT_FALSE(scStartStandby(64, 64, 30.0f));
    scDeleteCamera(taking);
    EXPECT_EQ(threads(), idle) << "no standby came back by itself";

    const int bad[][2] = {{0, 480}, {641, 480}, {62, 480}, {640, 63}, {7682, 480}, {640, 7681}, {-640, 480}};
    for (const auto &size : bad)
        EXPECT_EQ(scCreateCamera(size[0], size[1], 30.0f), nullptr) << size[0] << "x" << size[1];
    for (float rate : {0.0f, -30.0f, 1001.0f, NAN})
        EXPECT_EQ(scCreateCamera(640, 480, rate), nullptr) << rate;

    for (int round = 0; round < 200; ++round) {
        const int w = round % 2 ? 64 : 7680, h = round % 2 ? 7680 : 64; // the largest and smallest sides
        std::atomic<bool> go{false};
        auto other = std::async(std::launch::async, [&] {
            while (!go) {
            }
            return scCreateCamera(w, h, 30.0f);
        });
        go = true;
        void *mine = scCreateCamera(w, h, 30.0f), *theirs = other.get();
        EXPECT_TRUE(!mine != !theirs) << "round " << round;
        scDeleteCamera(mine), scDeleteCamera(theirs);
    }

    scDeleteCamera(nullptr);
    EXPECT_FALSE(scSendFrame(nullptr, nullptr) || scIsConnected(nullptr) || scWaitForConnection(nullptr, 0.1f));
    if (!vidloom_device::Find().empty())
        GTEST_SKIP() << "a real Vidloom device is present";

    void *camera = scCreateCamera(kW, kH, 30.0f);
    ASSERT_NE(camera, nullptr);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 6; ++i)
        EXPECT_FALSE(scSendFrame(camera, kFrame.data()));
    EXPECT_GE(secondsSince(start), 6 / 30.0 - 0.002) << "the sender is held to the rate all the same";
    EXPECT_FALSE(scSendFrame(camera, nullptr) || scWaitForConnection(camera, 0.2f));
    EXPECT_EQ(scGetStatus(camera, nullptr, nullptr), SC_STATUS_NOT_REGISTERED);
    scDeleteCamera(camera);
}
