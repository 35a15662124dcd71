// The FFmpeg backend's own cases. The pattern: top half red left, blue right; bottom half eight
// stripes spelling the frame number (stripe k white when bit k is set).
#include "frame_fitter.h"
#include "test_media.h"
#include "video_decoder.h"
#include "yuyv_converter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

using test_media::Generate;
using test_media::Quote;
using test_media::WriteFile;

namespace {

using Frame = std::vector<uint8_t>;
constexpr int kFrames = 60; // 2 s at 30 fps
constexpr double kFrameTime = 1.0 / 30;
const std::string kH264 = " -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 15 -bf 3";

// The input arguments for clips of the pattern (BT.601 red and blue), made once per size (geq is slow).
std::string FromMaster(const std::string &size = "320x240", const std::string &seconds = "2")
{
    const auto master =
        Generate("master_" + size + "_" + seconds + ".nut",
                 "-f lavfi -i \"color=black:s=" + size + ":r=30:d=" + seconds
                     + ",format=yuv420p,geq="
                       "lum='if(lt(Y,H/2),if(lt(X,W/2),81,41),if(bitand(N,pow(2,floor(X*8/W))),235,16))':"
                       "cb='if(lt(Y,H/2),if(lt(X,W/2),90,240),128)':"
                       "cr='if(lt(Y,H/2),if(lt(X,W/2),240,110),128)'\" -c:v rawvideo -pix_fmt yuv420p");
    return "-i " + Quote(master);
}

std::filesystem::path Mp4()
{
    return Generate("clip.mp4", FromMaster() + kH264);
}

using Bgr = std::array<int, 3>;
const Bgr kRed{0, 0, 255}, kBlue{255, 0, 0}, kLime{0, 255, 0}, kWhite{255, 255, 255};

bool Near(const uint8_t *p, Bgr want)
{
    return std::abs(p[0] - want[0]) <= 12 && std::abs(p[1] - want[1]) <= 12 && std::abs(p[2] - want[2]) <= 12;
}

int FrameNumber(const Frame &f, const VideoDecoder &d)
{
    int n = 0;
    for (size_t k = 0, w = d.width; k < 8; ++k)
        n |= int(f[(size_t(d.height) * 3 / 4 * w + k * w / 8 + w / 16) * 3 + 1] > 128) << k;
    return n;
}

// Reads `count` frames (default: all), expecting first, first + 1 ... each at its time, the end
// after frame end - 1. Numbered modulo kFrames; the second kFrames are 160 x 120.
void ExpectFrames(VideoDecoder &d, int first, int count = 1000, int end = kFrames)
{
    Frame frame(7, 0x42), last = frame;
    int n = first;
    for (; n < first + count && d.ReadFrame(frame); ++n) {
        ASSERT_EQ(frame.size(), size_t(d.width) * d.height * 3);
        EXPECT_EQ(d.width, n / kFrames == 1 ? 160u : 320u) << "frame " << n;
        EXPECT_EQ(d.stride, int(d.width) * 3);
        EXPECT_TRUE(Near(&frame[0], kRed) && Near(&frame[(d.width - 1) * 3], kBlue));
        EXPECT_EQ(FrameNumber(frame, d), n % kFrames);
        EXPECT_NEAR(d.position, n * kFrameTime, 1e-3) << "frame " << n;
        last = frame;
    }
    EXPECT_EQ(n, std::min(first + count, end)) << "the reordered last frames are drained too";
    EXPECT_FALSE(n < first + count && d.ReadFrame(frame)) << "the end stays the end";
    EXPECT_EQ(frame, last) << "failed reads leave the buffer alone";
}

void ExpectSeek(VideoDecoder &d, double t, int landing)
{
    SCOPED_TRACE("seek to " + std::to_string(t));
    d.SeekTo(t);
    EXPECT_EQ(d.position, std::isnan(t) || t < 0 ? 0.0 : t) << "position takes the target at once";
    ExpectFrames(d, landing, 2);
}

struct Clip {
    const char *name, *file;
    std::string args;
    double duration;        // 0: the file does not say
    const char *muxer = ""; // written to a pipe: no index, no duration
};
class Formats : public ::testing::TestWithParam<Clip> { };

// The first seek comes before any read; only the last seek before a read counts.
TEST_P(Formats, ExactSeeksThenEveryFrameInOrderWithItsTime)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Generate(GetParam().file, FromMaster() + GetParam().args, GetParam().muxer)));
    EXPECT_EQ(std::make_pair(d.width, d.height), std::make_pair(320u, 240u));
    EXPECT_NEAR(d.duration, GetParam().duration, 0.1);
    const std::pair<double, int> table[] = {{0.9, 27},   {1.0, 30},         {0.51, 15},    {0.499, 14},
                                            {1.234, 37}, {0.0, 0},          {1.95, 58},    {1.99, 59},
                                            {-3.0, 0},   {std::nan(""), 0}, {2.0, kFrames}};
    for (auto [t, landing] : table)
        ExpectSeek(d, t, landing);
    for (int i = kFrames - 1; i >= 0; --i)
        ExpectSeek(d, i * kFrameTime + 0.005, i);
    for (int i = 0; i < 50; ++i)
        d.SeekTo(i * 0.03);
    d.SeekTo(0.8);
    ExpectFrames(d, 24);
    for (double t : {1e300, double(INFINITY)}) {
        d.SeekTo(t);
        ExpectFrames(d, kFrames);
    }
    for (int round = 0; round < 2; ++round) {
        d.SeekToStart();
        ExpectFrames(d, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    VideoDecoder, Formats,
    ::testing::Values(
        Clip{"H264Mp4", "clip.mp4", kH264, 2.0},
        Clip{"Mpeg4AviBFrames", "c_mpeg4_b.avi", " -c:v mpeg4 -q:v 2 -g 15 -bf 2", 2.0},
        Clip{"H264Mkv", "c_h264.mkv", kH264, 2.0}, Clip{"Wmv2Wmv", "c_wmv2.wmv", " -c:v wmv2 -q:v 2 -g 15", 2.0},
        Clip{"Vp8Webm", "c_vp8.webm", " -c:v libvpx -b:v 2M -g 15", 2.0},
        Clip{"RgbFfv1", "c_ffv1_rgb.mkv", " -c:v ffv1 -pix_fmt bgr0", 2.0}, Clip{"MpegTs", "c_h264.ts", kH264, 2.0},
        // Not stream 0: the video comes after an audio stream.
        Clip{"AudioFirst", "c_audio_first.mp4", " -f lavfi -i sine=d=2 -map 1:a -map 0:v -c:a aac" + kH264, 2.0},
        Clip{"RawH264", "raw.h264", kH264, 0.0}, Clip{"PipedMkv", "piped.mkv", kH264, 0.0, "matroska"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(VideoDecoder, FrameSizeChangeMidStream)
{
    // Elementary streams back to back: 320x240, 160x120, 320x240.
    const std::string a = test_media::ReadFile(Generate("size_a.h264", FromMaster() + kH264));
    const std::string b = test_media::ReadFile(Generate("size_b.h264", FromMaster() + " -vf scale=160:120" + kH264));
    VideoDecoder d;
    ASSERT_TRUE(d.Open(WriteFile("sizes.h264", a + b + a)));
    ExpectFrames(d, 0, 1000, 3 * kFrames);
}

} // namespace

// Beyond the shared table: FIFOs, devices, oversized frames and playlists.
std::vector<std::filesystem::path> BackendBadFiles()
{
    const std::string mp4 = test_media::ReadFile(Mp4()); // the moov index comes last
    Generate("segment.ts", FromMaster() + kH264 + " -f mpegts");
    const auto fifo = test_media::Dir() / "fifo.mp4";
    EXPECT_EQ(std::system(("mkfifo " + Quote(fifo)).c_str()), 0);
    const std::string y4m = "YUV4MPEG2 W30000 H30000 F30:1 Ip A1:1 C420jpeg\nFRAME\n" + std::string(1000, 'x');
    return {
        fifo,
        "/dev/zero",
        WriteFile("truncated.mp4", mp4.substr(0, mp4.size() / 2)),
        Generate("audio_only.mp4", "-f lavfi -i sine=frequency=440:d=1 -c:a aac"),
        WriteFile("huge.y4m", y4m),
        WriteFile("zero.y4m", std::string(y4m).replace(10, 13, "W0 H0")),
        // One pixel beyond the largest camera frame either way.
        Generate("wide.mp4", "-f lavfi -i color=s=7682x16 -frames:v 1 " + kH264),
        Generate("tall.mp4", "-f lavfi -i color=s=16x4322 -frames:v 1 " + kH264),
        // Playlists would open sibling files or the network.
        WriteFile("hls.mp4", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\nsegment.ts\n#EXT-X-ENDLIST\n"),
        WriteFile("concat.mp4", "ffconcat version 1.0\nfile clip.mp4\n"),
    };
}

// How far the YUV route may stray from the BGR24 route at a pixel: 2 where it, its pair and its
// four neighbours are alike (12 where BGR24 clips); anything along edges.
int Limit(const Frame &fitted, int w, int h, int x, int y)
{
    const auto px = [&](int x, int y) {
        return &fitted[(size_t(std::clamp(y, 0, h - 1)) * w + size_t(std::clamp(x, 0, w - 1))) * 3];
    };
    for (auto [dx, dy] : {std::pair{(x & ~1) - x, 0}, {(x | 1) - x, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}})
        if (std::memcmp(px(x, y), px(x + dx, y + dy), 3))
            return 255;
    return std::any_of(px(x, y), px(x, y) + 3, [](uint8_t v) { return v == 0 || v == 255; }) ? 12 : 2;
}

// YUV frames to the camera against BGR24 frames through the camera library's converter. FFmpeg
// 5.1 turns "rotate=90" counter-clockwise, as the ffmpeg tool does: lime comes to the top left.
TEST(VideoDecoder, YuvRouteMatchesTheBgrRoute)
{
    const std::string rotate = "-i " + Quote(test_media::Made("quadrants.mp4")) + " -c copy -metadata:s:v rotate=";
    const std::string testsrc = "-f lavfi -i testsrc2=r=30:d=0.2:s=";
    const struct {
        std::filesystem::path clip;
        int camW, camH;
        std::vector<Bgr> upright; // the quadrants of a rotated clip
    } table[] = {
        {Mp4(), 320, 240, {}},
        {Mp4(), 400, 400, {}},
        {Generate("testsrc_321x243.mkv", testsrc + "321x243 -c:v ffv1 -pix_fmt yuv420p"), 402, 240, {}},
        {Generate("rotated90.mp4", rotate + "90"), 322, 240, {kLime, kWhite, kRed, kBlue}},
        {Generate("rotated180.mp4", rotate + "180"), 1280, 720, {kWhite, kBlue, kLime, kRed}},
        {Generate("rotated270.mp4", rotate + "270"), 96, 96, {kBlue, kRed, kWhite, kLime}},
        {Generate("testsrc_1280x720.mkv", testsrc + "1280x720" + kH264), 854, 480, {}},
        // swscale's fast path leaves the last columns of a 1366-wide BGR24 row unconverted.
        {Generate("odd_1366x768.mp4", FromMaster("1366x768", "0.2") + kH264), 1366, 768, {}},
    };
    for (const auto &[clip, camW, camH, upright] : table) {
        SCOPED_TRACE(clip.filename().string() + " on " + std::to_string(camW) + "x" + std::to_string(camH));
        VideoDecoder viaBgr, viaYuv;
        ASSERT_TRUE(viaBgr.Open(clip) && viaYuv.Open(clip));
        const int w = int(viaBgr.width), h = int(viaBgr.height); // upright from the start
        YuyvConverter converter(camW, camH);
        FrameFitter fitter;
        Frame bgr, fitted, want(converter.OutputBytes()), got;
        FrameView view;
        for (int i = 0; i < 3; ++i) {
            ASSERT_TRUE(viaBgr.ReadFrame(bgr) && viaYuv.ReadFrame(view, true));
            ASSERT_EQ(view.format, FrameView::Format::Yuv420);
            ASSERT_EQ(std::make_pair(view.width, view.height), std::make_pair(w, h));
            ASSERT_EQ(bgr.size(), size_t(w) * size_t(h) * 3);
            for (size_t q = 0; i == 0 && q < upright.size(); ++q) {
                const size_t x = (q % 2 * 2 + 1) * size_t(w) / 4, y = (q / 2 * 2 + 1) * size_t(h) / 4;
                EXPECT_TRUE(Near(&bgr[(y * size_t(w) + x) * 3], upright[q])) << "quadrant " << q;
            }
            for (bool mirror : {false, true}) {
                fitter.Render(FrameView::Bgr(bgr.data(), w, h), camW, camH, FitMode::Letterbox, mirror, fitted);
                converter.Convert(fitted.data(), want.data());
                fitter.RenderYuyv(view, camW, camH, FitMode::Letterbox, mirror, got);
                ASSERT_EQ(got.size(), want.size());
                double total = 0;
                for (size_t i = 0; i < got.size(); ++i) {
                    const int x = int(i / 2 % size_t(camW)), y = int(i / 2 / size_t(camW));
                    total += std::abs(got[i] - want[i]);
                    ASSERT_LE(std::abs(got[i] - want[i]), Limit(fitted, camW, camH, x, y))
                        << (i % 2 ? "chroma" : "luma") << " at " << x << "," << y;
                }
                EXPECT_LE(total / double(got.size()), 1.0) << "frame " << i << " mirror " << mirror;
            }
        }
    }
}
