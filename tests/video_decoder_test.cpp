// VideoDecoder (FFmpeg backend) against clips made at test time with the
// ffmpeg tool.
//
// Most clips show one pattern: the top half is red on the left and blue on
// the right, the bottom half is eight vertical stripes that spell the frame
// number in binary (stripe k, from the left, is white when bit k is set), so
// colours, sizes, order and seek landing can all be checked on the decoded
// pixels.

#include "test_media.h"
#include "video_decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using test_media::Generate;
using test_media::Quote;

constexpr int kRate = 30;
constexpr int kFrames = 60; // 2 s

// ---- media -----------------------------------------------------------------

// The lavfi input of the pattern (BT.601 limited-range YUV values of red
// (81, 90, 240) and blue (41, 240, 110)).
std::string PatternInput(int w, int h, double seconds)
{
    return "-f lavfi -i \"color=black:s=" + std::to_string(w) + "x" + std::to_string(h) +
           ":r=" + std::to_string(kRate) + ":d=" + std::to_string(seconds) +
           ",format=yuv420p,geq="
           "lum='if(lt(Y,H/2),if(lt(X,W/2),81,41),if(bitand(N,pow(2,floor(X*8/W))),235,16))':"
           "cb='if(lt(Y,H/2),if(lt(X,W/2),90,240),128)':"
           "cr='if(lt(Y,H/2),if(lt(X,W/2),240,110),128)'\"";
}

// The pattern, uncompressed, as the source every clip is encoded from (geq is
// slow; this runs it once per size).
std::filesystem::path Master(int w = 320, int h = 240, double seconds = 2.0)
{
    const std::string name = "master_" + std::to_string(w) + "x" + std::to_string(h) + "_" +
                              std::to_string(int(seconds * 1000)) + ".nut";
    return Generate(name, PatternInput(w, h, seconds) + " -c:v rawvideo -pix_fmt yuv420p");
}

std::string FromMaster(int w = 320, int h = 240, double seconds = 2.0)
{
    const auto master = Master(w, h, seconds);
    return master.empty() ? std::string("-f lavfi -i nullsrc=d=0 -frames:v 0")
                          : "-i " + Quote(master);
}

const std::string kH264 = " -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 15 -bf 3";

std::filesystem::path Mp4()
{
    return Generate("clip.mp4", FromMaster() + kH264);
}

// Four quadrants: red, lime / blue, white.
std::filesystem::path Quadrants()
{
    return Generate(
        "quadrants.mp4",
        "-f lavfi -i \"color=red:s=160x120:r=30:d=1[a];color=lime:s=160x120:r=30:d=1[b];"
        "color=blue:s=160x120:r=30:d=1[c];color=white:s=160x120:r=30:d=1[d];"
        "[a][b]hstack[t];[c][d]hstack[u];[t][u]vstack[out0]\"" +
            kH264);
}

std::filesystem::path Rotated(int degrees)
{
    const auto plain = Quadrants();
    return Generate("rotated" + std::to_string(degrees) + ".mp4",
                    "-i " + Quote(plain) + " -c copy -metadata:s:v rotate=" + std::to_string(degrees));
}

// ---- pixels ----------------------------------------------------------------

struct Bgr {
    int b, g, r;
};

Bgr At(const std::vector<uint8_t> &frame, int w, int x, int y)
{
    const size_t i = (size_t(y) * size_t(w) + size_t(x)) * 3;
    return {frame[i], frame[i + 1], frame[i + 2]};
}

::testing::AssertionResult Near(Bgr got, Bgr want, int tolerance = 12)
{
    if (std::abs(got.b - want.b) <= tolerance && std::abs(got.g - want.g) <= tolerance &&
        std::abs(got.r - want.r) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got (b,g,r) = (" << got.b << "," << got.g << ","
                                         << got.r << "), want (" << want.b << "," << want.g << ","
                                         << want.r << ")";
}

const Bgr kRed{0, 0, 255};
const Bgr kBlue{255, 0, 0};
const Bgr kLime{0, 255, 0};
const Bgr kWhite{255, 255, 255};

// Frame number spelled by the stripes of the pattern.
int FrameNumber(const std::vector<uint8_t> &frame, int w, int h)
{
    int n = 0;
    for (int k = 0; k < 8; ++k)
        if (At(frame, w, k * w / 8 + w / 16, h * 3 / 4).g > 128)
            n |= 1 << k;
    return n;
}

int FrameNumber(const std::vector<uint8_t> &frame, const VideoDecoder &d)
{
    return FrameNumber(frame, int(d.width), int(d.height));
}

void ExpectPatternColours(const std::vector<uint8_t> &frame, int w, int h)
{
    EXPECT_TRUE(Near(At(frame, w, 0, 0), kRed)) << "first pixel";
    EXPECT_TRUE(Near(At(frame, w, w / 4, h / 4), kRed));
    EXPECT_TRUE(Near(At(frame, w, 3 * w / 4, h / 4), kBlue));
    EXPECT_TRUE(Near(At(frame, w, w - 1, 0), kBlue)) << "last pixel of the first row";
}

void ExpectClosed(const VideoDecoder &d)
{
    EXPECT_FALSE(d.IsOpen());
    EXPECT_EQ(d.source, nullptr);
    EXPECT_EQ(d.width, 0u);
    EXPECT_EQ(d.height, 0u);
    EXPECT_EQ(d.duration, 0.0);
    EXPECT_EQ(d.position, 0.0);
}

// Reads to the end; returns the frame numbers seen.
std::vector<int> ReadAll(VideoDecoder &d, std::vector<double> *positions = nullptr)
{
    std::vector<int> numbers;
    std::vector<uint8_t> frame;
    while (d.ReadFrame(frame) && numbers.size() < 10000) {
        EXPECT_EQ(frame.size(), size_t(d.width) * d.height * 3);
        numbers.push_back(FrameNumber(frame, d));
        if (positions)
            positions->push_back(d.position);
    }
    return numbers;
}

std::vector<int> Iota(int from, int count)
{
    std::vector<int> v;
    for (int i = 0; i < count; ++i)
        v.push_back(from + i);
    return v;
}

constexpr double kFrameTime = 1.0 / kRate;

// ---- opening and reading ---------------------------------------------------

TEST(VideoDecoder, StartsClosed)
{
    VideoDecoder d;
    ExpectClosed(d);
    std::vector<uint8_t> out{1, 2, 3};
    EXPECT_FALSE(d.ReadFrame(out));
    EXPECT_EQ(out, (std::vector<uint8_t>{1, 2, 3}));
    d.SeekTo(1.0);
    d.SeekToStart();
    EXPECT_EQ(d.position, 0.0);
}

TEST(VideoDecoder, OpensH264Mp4)
{
    const auto path = Mp4();
    ASSERT_FALSE(path.empty());
    VideoDecoder d;
    ASSERT_TRUE(d.Open(path));
    EXPECT_TRUE(d.IsOpen());
    EXPECT_NE(d.source, nullptr);
    EXPECT_EQ(d.width, 320u);
    EXPECT_EQ(d.height, 240u);
    EXPECT_EQ(d.stride, 320 * 3);
    EXPECT_NEAR(d.duration, 2.0, 0.01);
    EXPECT_EQ(d.position, 0.0);

    std::vector<uint8_t> frame;
    ASSERT_TRUE(d.ReadFrame(frame));
    ASSERT_EQ(frame.size(), 320u * 240 * 3);
    ExpectPatternColours(frame, 320, 240);
    EXPECT_EQ(FrameNumber(frame, d), 0);
    EXPECT_EQ(d.position, 0.0);
}

TEST(VideoDecoder, ReadsEveryFrameInOrderThenEnds)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    std::vector<double> positions;
    const auto numbers = ReadAll(d, &positions);
    EXPECT_EQ(numbers, Iota(0, kFrames)); // the reordered last frames are drained too
    ASSERT_EQ(positions.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i)
        EXPECT_NEAR(positions[i], i * kFrameTime, 1e-3) << "frame " << i;

    // End of file: false, buffer untouched, and it stays at the end.
    std::vector<uint8_t> out(7, 0x42);
    EXPECT_FALSE(d.ReadFrame(out));
    EXPECT_FALSE(d.ReadFrame(out));
    EXPECT_EQ(out, std::vector<uint8_t>(7, 0x42));
}

TEST(VideoDecoder, ReusesTheCallersBuffer)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    std::vector<uint8_t> frame;
    ASSERT_TRUE(d.ReadFrame(frame));
    const uint8_t *storage = frame.data();
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(d.ReadFrame(frame));
        EXPECT_EQ(frame.data(), storage);
    }
}

TEST(VideoDecoder, SeekToStartGivesTheFirstFrameAgain)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    std::vector<uint8_t> frame;
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_GT(d.position, 0.25);
    d.SeekToStart();
    EXPECT_EQ(d.position, 0.0);
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_EQ(FrameNumber(frame, d), 0);
    EXPECT_EQ(d.position, 0.0);
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_EQ(FrameNumber(frame, d), 1);
}

TEST(VideoDecoder, LoopsAfterTheEnd)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(ReadAll(d), Iota(0, kFrames)) << "round " << round;
        d.SeekToStart();
    }
}

// ---- seeking ---------------------------------------------------------------

// Seeks to t and expects frame `landing`, then `follow` frames without a gap.
void ExpectSeek(VideoDecoder &d, double t, int landing, int follow = 3)
{
    d.SeekTo(t);
    EXPECT_EQ(d.position, std::isnan(t) || t < 0 ? 0.0 : t) << "position takes the target at once";
    std::vector<uint8_t> frame;
    ASSERT_TRUE(d.ReadFrame(frame)) << "seek to " << t;
    EXPECT_EQ(FrameNumber(frame, d), landing) << "seek to " << t;
    EXPECT_NEAR(d.position, landing * kFrameTime, 1e-3) << "seek to " << t;
    for (int i = 1; i <= follow && landing + i < kFrames; ++i) {
        ASSERT_TRUE(d.ReadFrame(frame));
        EXPECT_EQ(FrameNumber(frame, d), landing + i) << "after seek to " << t;
    }
}

TEST(VideoDecoder, SeekLandsOnTheFrameAtOrJustBeforeTheTarget)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    ExpectSeek(d, 1.0, 30);             // exactly on a frame (and a key frame)
    ExpectSeek(d, 0.5 + 0.01, 15);      // just after a frame
    ExpectSeek(d, 0.5 - 0.001, 14);     // just before one
    ExpectSeek(d, 1.234, 37);           // inside a group of pictures, B-frames around
    ExpectSeek(d, 0.0, 0);
    ExpectSeek(d, 1.95, 58);
    ExpectSeek(d, 1.99, 59);            // the last frame
}

TEST(VideoDecoder, SeekToEveryFrameBackwardsAndForwards)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    for (int i = kFrames - 1; i >= 0; i -= 1)
        ExpectSeek(d, i * kFrameTime + 0.005, i, 1);
    for (int i = 0; i < kFrames; i += 7)
        ExpectSeek(d, i * kFrameTime, i, 2);
}

TEST(VideoDecoder, SeekContinuesToTheEndWithoutAGap)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    d.SeekTo(0.8);
    EXPECT_EQ(ReadAll(d), Iota(24, kFrames - 24));
}

TEST(VideoDecoder, ManySeeksBeforeAReadCostOne)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    for (int i = 0; i < 50; ++i)
        d.SeekTo(i * 0.03);
    d.SeekTo(0.7);
    EXPECT_EQ(d.position, 0.7);
    std::vector<uint8_t> frame;
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_EQ(FrameNumber(frame, d), 21);
}

TEST(VideoDecoder, NegativeSeekClampsToTheStart)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    std::vector<uint8_t> frame;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(d.ReadFrame(frame));
    ExpectSeek(d, -3.0, 0);
    ExpectSeek(d, std::nan(""), 0);
}

TEST(VideoDecoder, SeekPastTheEndIsEndOfFile)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    std::vector<uint8_t> frame(5, 9);
    for (double t : {2.0, 2.5, 1e6, 1e300, double(INFINITY)}) {
        d.SeekTo(t);
        EXPECT_GE(d.position, 2.0);
        EXPECT_FALSE(d.ReadFrame(frame)) << t;
        EXPECT_EQ(frame, std::vector<uint8_t>(5, 9));
    }
    d.SeekToStart();
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_EQ(FrameNumber(frame, d), 0);
}

// ---- containers and codecs -------------------------------------------------

struct Container {
    const char *name;
    const char *file;
    const char *codec;
    bool exactDuration;
};

class Containers : public ::testing::TestWithParam<Container> {};

TEST_P(Containers, OpenReadAndSeek)
{
    const Container &c = GetParam();
    const auto path = Generate(c.file, FromMaster() + " " + c.codec);
    ASSERT_FALSE(path.empty()) << "ffmpeg could not make " << c.file;
    VideoDecoder d;
    ASSERT_TRUE(d.Open(path));
    EXPECT_EQ(d.width, 320u);
    EXPECT_EQ(d.height, 240u);
    EXPECT_EQ(d.stride, 960);
    EXPECT_NEAR(d.duration, 2.0, c.exactDuration ? 0.01 : 0.1);

    std::vector<uint8_t> frame;
    ASSERT_TRUE(d.ReadFrame(frame));
    ExpectPatternColours(frame, 320, 240);
    EXPECT_EQ(FrameNumber(frame, d), 0);
    EXPECT_NEAR(d.position, 0.0, 1e-3);

    d.SeekToStart();
    EXPECT_EQ(ReadAll(d), Iota(0, kFrames));

    ExpectSeek(d, 1.25, 37);
    ExpectSeek(d, 0.4, 12);
    d.SeekToStart();
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_EQ(FrameNumber(frame, d), 0);
}

INSTANTIATE_TEST_SUITE_P(
    VideoDecoder, Containers,
    ::testing::Values(
        Container{"H264Mp4", "c_h264.mp4", "-c:v libx264 -preset veryfast -g 15 -bf 3", true},
        Container{"Mpeg4Avi", "c_mpeg4.avi", "-c:v mpeg4 -q:v 2 -g 15", true},
        Container{"Mpeg4AviBFrames", "c_mpeg4_b.avi", "-c:v mpeg4 -q:v 2 -g 15 -bf 2", true},
        Container{"H264Mkv", "c_h264.mkv", "-c:v libx264 -preset veryfast -g 15 -bf 3", true},
        Container{"H264Mov", "c_h264.mov", "-c:v libx264 -preset veryfast -g 15 -bf 3", true},
        Container{"Mpeg4Mov", "c_mpeg4.mov", "-c:v mpeg4 -q:v 2 -g 15", true},
        Container{"Wmv2Wmv", "c_wmv2.wmv", "-c:v wmv2 -q:v 2 -g 15", false},
        Container{"Vp8Webm", "c_vp8.webm", "-c:v libvpx -b:v 2M -g 15", true},
        Container{"MpegTs", "c_h264.ts", "-c:v libx264 -preset veryfast -g 15 -bf 3", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(VideoDecoder, OddSizeKeepsEveryColumn)
{
    // 1366 is not a multiple of 8: the fast conversion path of swscale
    // leaves the last columns unconverted when rows are tightly packed.
    const auto path = Generate("odd_1366x768.mp4", FromMaster(1366, 768, 0.5) + kH264);
    ASSERT_FALSE(path.empty());
    VideoDecoder d;
    ASSERT_TRUE(d.Open(path));
    EXPECT_EQ(d.width, 1366u);
    EXPECT_EQ(d.height, 768u);
    EXPECT_EQ(d.stride, 1366 * 3);
    std::vector<uint8_t> frame;
    for (int i = 0; i < 15; ++i) {
        ASSERT_TRUE(d.ReadFrame(frame));
        ASSERT_EQ(frame.size(), 1366u * 768 * 3);
        EXPECT_EQ(FrameNumber(frame, d), i);
        for (int x = 1366 - 8; x < 1366; ++x)
            EXPECT_TRUE(Near(At(frame, 1366, x, 10), kBlue)) << "column " << x;
    }
    ExpectPatternColours(frame, 1366, 768);
}

TEST(VideoDecoder, OddSizedRgbSource)
{
    // Odd width and height, RGB input (no YUV), lossless.
    const auto path = Generate("rgb_321x241.mkv",
                               "-f lavfi -i testsrc2=s=320x240:r=30:d=0.2 -vf scale=321:241 -c:v ffv1 -pix_fmt bgr0");
    ASSERT_FALSE(path.empty());
    const auto reference = Generate("rgb_321x241.bgr", "-i " + Quote(path) +
                                                         " -frames:v 1 -f rawvideo -pix_fmt bgr24");
    ASSERT_FALSE(reference.empty());
    VideoDecoder d;
    ASSERT_TRUE(d.Open(path));
    EXPECT_EQ(d.width, 321u);
    EXPECT_EQ(d.height, 241u);
    std::vector<uint8_t> frame;
    ASSERT_TRUE(d.ReadFrame(frame));
    const std::string want = test_media::ReadFile(reference);
    ASSERT_EQ(want.size(), frame.size());
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), want.begin(),
                           [](uint8_t a, char b) { return a == uint8_t(b); }))
        << "BGR24 from an RGB source is exact";
}

// ---- rotation --------------------------------------------------------------

// The quadrant colours of a decoded frame: top left, top right, bottom left,
// bottom right.
std::vector<std::string> QuadrantNames(const std::vector<uint8_t> &frame, int w, int h)
{
    std::vector<std::string> names;
    for (auto [x, y] : {std::pair{w / 4, h / 4}, std::pair{3 * w / 4, h / 4},
                        std::pair{w / 4, 3 * h / 4}, std::pair{3 * w / 4, 3 * h / 4}}) {
        const Bgr p = At(frame, w, x, y);
        names.push_back(Near(p, kRed)     ? "red"
                        : Near(p, kLime)  ? "lime"
                        : Near(p, kBlue)  ? "blue"
                        : Near(p, kWhite) ? "white"
                                          : "?");
    }
    return names;
}

TEST(VideoDecoder, UnrotatedQuadrants)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Quadrants()));
    std::vector<uint8_t> frame;
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_EQ(QuadrantNames(frame, 320, 240),
              (std::vector<std::string>{"red", "lime", "blue", "white"}));
}

class Rotation : public ::testing::TestWithParam<int> {};

TEST_P(Rotation, ComesOutUprightLikeTheFfmpegTool)
{
    const int degrees = GetParam();
    const auto path = Rotated(degrees);
    ASSERT_FALSE(path.empty());
    // The ffmpeg tool's own upright picture (it autorotates by default).
    const auto reference = Generate("rotated" + std::to_string(degrees) + ".bgr",
                                    "-i " + Quote(path) + " -frames:v 1 -f rawvideo -pix_fmt bgr24");
    ASSERT_FALSE(reference.empty());

    VideoDecoder d;
    ASSERT_TRUE(d.Open(path));
    const bool quarter = degrees % 180 != 0;
    EXPECT_EQ(d.width, quarter ? 240u : 320u);
    EXPECT_EQ(d.height, quarter ? 320u : 240u);
    EXPECT_EQ(d.stride, int(d.width) * 3);
    std::vector<uint8_t> frame;
    ASSERT_TRUE(d.ReadFrame(frame));
    ASSERT_EQ(frame.size(), size_t(d.width) * d.height * 3);
    const auto names = QuadrantNames(frame, int(d.width), int(d.height));

    std::vector<uint8_t> want;
    for (char c : test_media::ReadFile(reference))
        want.push_back(uint8_t(c));
    ASSERT_EQ(want.size(), frame.size());
    EXPECT_EQ(names, QuadrantNames(want, int(d.width), int(d.height)));

    // And it is a real rotation of red, lime / blue, white (clockwise order
    // of the corners: red, lime, white, blue).
    const std::vector<std::string> ring{"red", "lime", "white", "blue"};
    const std::vector<std::string> clockwise{names[0], names[1], names[3], names[2]};
    bool isRotation = false;
    for (int shift = 0; shift < 4; ++shift) {
        bool same = true;
        for (int i = 0; i < 4; ++i)
            same = same && clockwise[i] == ring[(i + shift) % 4];
        isRotation = isRotation || same;
    }
    EXPECT_TRUE(isRotation) << names[0] << " " << names[1] << " / " << names[2] << " " << names[3];

    // Every frame, also after a seek.
    d.SeekTo(0.5);
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_EQ(QuadrantNames(frame, int(d.width), int(d.height)), names);
}

INSTANTIATE_TEST_SUITE_P(VideoDecoder, Rotation, ::testing::Values(90, 180, 270),
                         [](const auto &info) { return "Rotate" + std::to_string(info.param); });

TEST(VideoDecoder, Rotate90IsCounterClockwiseInFfmpeg51)
{
    // FFmpeg 5.1 turns the "rotate=90" tag into a display matrix that
    // av_display_rotation_get reads as 90 degrees counter-clockwise, and the
    // ffmpeg tool turns the picture that way: the top right corner (lime)
    // comes to the top left.
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Rotated(90)));
    std::vector<uint8_t> frame;
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_EQ(QuadrantNames(frame, 240, 320),
              (std::vector<std::string>{"lime", "white", "red", "blue"}));
}

// ---- files without a duration ----------------------------------------------

TEST(VideoDecoder, RawH264HasNoDurationButCountsTime)
{
    const auto path = Generate("raw.h264", FromMaster() + kH264);
    ASSERT_FALSE(path.empty());
    VideoDecoder d;
    ASSERT_TRUE(d.Open(path));
    EXPECT_EQ(d.duration, 0.0);
    EXPECT_EQ(d.width, 320u);
    std::vector<double> positions;
    EXPECT_EQ(ReadAll(d, &positions), Iota(0, kFrames));
    ASSERT_EQ(positions.size(), size_t(kFrames));
    EXPECT_NEAR(positions.back(), (kFrames - 1) * kFrameTime, 1e-3);

    d.SeekToStart();
    std::vector<double> again;
    EXPECT_EQ(ReadAll(d, &again), Iota(0, kFrames));
    EXPECT_EQ(again, positions);

    ExpectSeek(d, 1.0, 30);
    ExpectSeek(d, 0.3, 9);
    d.SeekTo(10.0);
    std::vector<uint8_t> frame;
    EXPECT_FALSE(d.ReadFrame(frame));
}

TEST(VideoDecoder, PipedMatroskaHasNoDuration)
{
    const auto path = test_media::GeneratePiped("piped.mkv", FromMaster() + kH264, "matroska");
    ASSERT_FALSE(path.empty());
    VideoDecoder d;
    ASSERT_TRUE(d.Open(path));
    EXPECT_EQ(d.duration, 0.0);
    EXPECT_EQ(ReadAll(d), Iota(0, kFrames));
    ExpectSeek(d, 1.5, 45);
    ExpectSeek(d, 0.2, 6);
    d.SeekToStart();
    EXPECT_EQ(ReadAll(d), Iota(0, kFrames));
}

// ---- streams ---------------------------------------------------------------

TEST(VideoDecoder, AudioOnlyFails)
{
    const auto path = Generate("audio_only.mp4", "-f lavfi -i sine=frequency=440:d=1 -c:a aac");
    ASSERT_FALSE(path.empty());
    VideoDecoder d;
    EXPECT_FALSE(d.Open(path));
    ExpectClosed(d);
}

TEST(VideoDecoder, VideoAfterAnAudioStreamIsFound)
{
    const auto path = Generate("audio_first.mp4", "-f lavfi -i sine=frequency=440:d=2 " +
                                                      FromMaster() +
                                                      " -map 0:a -map 1:v -c:a aac" + kH264);
    ASSERT_FALSE(path.empty());
    VideoDecoder d;
    ASSERT_TRUE(d.Open(path));
    EXPECT_EQ(d.width, 320u);
    EXPECT_NEAR(d.duration, 2.0, 0.01);
    EXPECT_EQ(ReadAll(d), Iota(0, kFrames));
    ExpectSeek(d, 1.1, 33);
}

TEST(VideoDecoder, FrameSizeChangeMidStream)
{
    // Two elementary streams back to back: 320x240, 160x120, 320x240.
    const auto big = Generate("size_a.h264", FromMaster() + kH264);
    const auto small = Generate("size_b.h264", FromMaster() + " -vf scale=160:120" + kH264);
    ASSERT_FALSE(big.empty());
    ASSERT_FALSE(small.empty());
    const std::string a = test_media::ReadFile(big), b = test_media::ReadFile(small);
    const auto path = test_media::WriteFile("sizes.h264", a + b + a);
    VideoDecoder d;
    ASSERT_TRUE(d.Open(path));
    std::vector<uint8_t> frame;
    std::vector<int> widths, numbers;
    while (d.ReadFrame(frame) && widths.size() < 1000) {
        ASSERT_EQ(frame.size(), size_t(d.width) * d.height * 3);
        EXPECT_EQ(d.stride, int(d.width) * 3);
        EXPECT_EQ(d.width * 3, d.height * 4);
        widths.push_back(int(d.width));
        numbers.push_back(FrameNumber(frame, d));
        ExpectPatternColours(frame, int(d.width), int(d.height));
    }
    ASSERT_EQ(widths.size(), size_t(3 * kFrames));
    for (int i = 0; i < 3 * kFrames; ++i) {
        EXPECT_EQ(widths[i], i / kFrames == 1 ? 160 : 320) << i;
        EXPECT_EQ(numbers[i], i % kFrames) << i;
    }
}

// ---- refusals --------------------------------------------------------------

// A failed Open on a decoder that had a file leaves it closed and cleared.
void ExpectOpenFails(const std::filesystem::path &path)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    std::vector<uint8_t> frame;
    ASSERT_TRUE(d.ReadFrame(frame));
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_FALSE(d.Open(path)) << path;
    ExpectClosed(d);
    std::vector<uint8_t> out(3, 7);
    EXPECT_FALSE(d.ReadFrame(out));
    EXPECT_EQ(out, std::vector<uint8_t>(3, 7));
}

TEST(VideoDecoder, MissingFileFails)
{
    ExpectOpenFails(test_media::Dir() / "no such file.mp4");
    ExpectOpenFails(std::filesystem::path());
    ExpectOpenFails(test_media::Dir()); // a folder
}

TEST(VideoDecoder, EmptyFileFails)
{
    ExpectOpenFails(test_media::WriteFile("empty.mp4", ""));
}

TEST(VideoDecoder, TextFileFails)
{
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "This is not a video, line " + std::to_string(i) + ".\n";
    ExpectOpenFails(test_media::WriteFile("text.mp4", text));
    ExpectOpenFails(test_media::WriteFile("short.mp4", "hello\n"));
}

TEST(VideoDecoder, TruncatedMp4Fails)
{
    // The index (moov) comes last in a plain mp4: half a file has none.
    const std::string whole = test_media::ReadFile(Mp4());
    ASSERT_GT(whole.size(), 1000u);
    ExpectOpenFails(test_media::WriteFile("truncated.mp4", whole.substr(0, whole.size() / 2)));
    ExpectOpenFails(test_media::WriteFile("head.mp4", whole.substr(0, 64)));
}

TEST(VideoDecoder, TruncatedFastStartMp4EndsEarly)
{
    // Index first: the file opens, and reading stops where the data does.
    const auto path = Generate("faststart.mp4", FromMaster() + kH264 + " -movflags +faststart");
    ASSERT_FALSE(path.empty());
    const std::string whole = test_media::ReadFile(path);
    const auto cut = test_media::WriteFile("faststart_cut.mp4", whole.substr(0, whole.size() / 2));
    VideoDecoder d;
    if (d.Open(cut)) {
        const auto numbers = ReadAll(d);
        EXPECT_LT(numbers.size(), size_t(kFrames));
        for (size_t i = 0; i < numbers.size() && i < 10; ++i)
            EXPECT_EQ(numbers[i], int(i));
        d.SeekTo(1.9);
        std::vector<uint8_t> frame;
        d.ReadFrame(frame); // may or may not find a frame; must not hang
        d.SeekToStart();
        ASSERT_TRUE(d.ReadFrame(frame));
        EXPECT_EQ(FrameNumber(frame, d), 0);
    }
}

TEST(VideoDecoder, CorruptedMiddleDoesNotCrash)
{
    std::string bytes = test_media::ReadFile(Generate("faststart.mp4", FromMaster() + kH264 +
                                                                           " -movflags +faststart"));
    ASSERT_GT(bytes.size(), 4000u);
    uint32_t state = 12345;
    for (size_t i = bytes.size() / 3; i < bytes.size(); i += 97) {
        state = state * 1103515245u + 12345u;
        bytes[i] = char(state >> 24);
    }
    const auto path = test_media::WriteFile("corrupted.mp4", bytes);
    VideoDecoder d;
    if (d.Open(path)) {
        std::vector<uint8_t> frame;
        int frames = 0;
        while (d.ReadFrame(frame) && frames < 1000) {
            ASSERT_EQ(frame.size(), size_t(d.width) * d.height * 3);
            ++frames;
        }
        EXPECT_LT(frames, 1000);
        d.SeekTo(1.0);
        d.ReadFrame(frame);
    }
}

TEST(VideoDecoder, HugeOrEmptyFrameSizeFails)
{
    // Y4M headers that promise 30000 x 30000 (2.7 GB as BGR24) and 0 x 0.
    ExpectOpenFails(test_media::WriteFile(
        "huge.y4m", std::string("YUV4MPEG2 W30000 H30000 F30:1 Ip A1:1 C420jpeg\nFRAME\n") +
                        std::string(1000, 'x')));
    ExpectOpenFails(test_media::WriteFile(
        "zero.y4m",
        std::string("YUV4MPEG2 W0 H0 F30:1 Ip A1:1 C420jpeg\nFRAME\n") + std::string(1000, 'x')));
}

TEST(VideoDecoder, PlaylistsCannotReachOtherFiles)
{
    // Both would open a sibling file through plain libavformat.
    const auto segment = Generate("segment.ts", FromMaster() + kH264 + " -f mpegts");
    ASSERT_FALSE(segment.empty());
    Mp4();
    ExpectOpenFails(test_media::WriteFile("hls.mp4", "#EXTM3U\n#EXT-X-VERSION:3\n"
                                                     "#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\n"
                                                     "segment.ts\n#EXT-X-ENDLIST\n"));
    ExpectOpenFails(test_media::WriteFile("hls.m3u8", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n"
                                                      "#EXTINF:2.0,\n" +
                                                          segment.string() + "\n#EXT-X-ENDLIST\n"));
    ExpectOpenFails(test_media::WriteFile("concat.mp4", "ffconcat version 1.0\nfile clip.mp4\n"));
    ExpectOpenFails(test_media::WriteFile("network.mp4", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n"
                                                         "#EXTINF:2.0,\nhttp://127.0.0.1:9/a.ts\n"
                                                         "#EXT-X-ENDLIST\n"));
}

TEST(VideoDecoder, FifoIsRefusedWithoutBlocking)
{
    const auto path = test_media::Dir() / "fifo.mp4";
    ASSERT_EQ(std::system(("mkfifo " + Quote(path)).c_str()), 0);
    ExpectOpenFails(path);
}

TEST(VideoDecoder, NamesWithColonsAreFiles)
{
    // "concat:" and "rel:" would be protocols if the name went to
    // libavformat as it is.
    const std::string bytes = test_media::ReadFile(Mp4());
    test_media::WriteFile("concat:clip.mp4", bytes);
    test_media::WriteFile("rel:clip.mp4", bytes);
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(test_media::Dir());
    for (const char *name : {"concat:clip.mp4", "rel:clip.mp4"}) {
        VideoDecoder d;
        EXPECT_TRUE(d.Open(name)) << name;
        std::vector<uint8_t> frame;
        EXPECT_TRUE(d.ReadFrame(frame)) << name;
    }
    std::filesystem::current_path(cwd);
    VideoDecoder d;
    EXPECT_TRUE(d.Open(test_media::Dir() / "rel:clip.mp4"));
}

// ---- lifecycle -------------------------------------------------------------

TEST(VideoDecoder, ReopenAndClose)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    std::vector<uint8_t> frame;
    for (int i = 0; i < 7; ++i)
        ASSERT_TRUE(d.ReadFrame(frame));
    ASSERT_TRUE(d.Open(Rotated(90)));
    EXPECT_EQ(d.width, 240u);
    EXPECT_EQ(d.position, 0.0);
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_EQ(frame.size(), 240u * 320 * 3);
    ASSERT_TRUE(d.Open(Mp4()));
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_EQ(FrameNumber(frame, d), 0);
    d.Close();
    ExpectClosed(d);
    d.Close();
    ExpectClosed(d);
}

TEST(VideoDecoder, SeekBeforeTheFirstRead)
{
    VideoDecoder d;
    ASSERT_TRUE(d.Open(Mp4()));
    ExpectSeek(d, 0.9, 27);
    ASSERT_TRUE(d.Open(Mp4()));
    d.SeekToStart();
    std::vector<uint8_t> frame;
    ASSERT_TRUE(d.ReadFrame(frame));
    EXPECT_EQ(FrameNumber(frame, d), 0);
}

} // namespace
