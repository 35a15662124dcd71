#include "frame_fitter.h"
#include "reference_frame.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

struct Size {
    int w, h;
};

std::vector<uint8_t> render(FrameFitter &fitter, const std::vector<uint8_t> &src, Size s, Size cam,
                            bool stretch, bool mirror)
{
    std::vector<uint8_t> out;
    fitter.Render(src.data(), s.w, s.h, cam.w, cam.h, stretch, mirror, out);
    return out;
}

bool rowIsBlack(const std::vector<uint8_t> &frame, int width, int row)
{
    for (size_t i = size_t(row) * width * 3; i < size_t(row + 1) * width * 3; ++i)
        if (frame[i] != 0)
            return false;
    return true;
}

} // namespace

TEST(FitRect, LetterboxAndPillarboxPlacement)
{
    struct Case {
        Size src, cam;
        FitRect expected;
    } cases[] = {
        {{1920, 1080}, {640, 480}, {0, 60, 640, 360}},
        {{720, 480}, {640, 480}, {0, 27, 640, 426}},   // 426.67 truncated
        {{640, 480}, {1280, 720}, {160, 0, 960, 720}},
        {{1080, 1920}, {1280, 720}, {437, 0, 405, 720}},
        {{1920, 1080}, {1280, 720}, {0, 0, 1280, 720}}, // equal aspect: height branch, full frame
        {{1, 1000}, {640, 480}, {320, 0, 0, 480}},      // too thin to show at all
    };
    for (const Case &c : cases) {
        const FitRect r = ComputeFitRect(c.src.w, c.src.h, c.cam.w, c.cam.h, false);
        EXPECT_EQ(std::tie(r.x, r.y, r.width, r.height),
                  std::tie(c.expected.x, c.expected.y, c.expected.width, c.expected.height))
            << c.src.w << "x" << c.src.h << " on " << c.cam.w << "x" << c.cam.h;
    }
    const FitRect s = ComputeFitRect(1080, 1920, 1280, 720, true);
    EXPECT_EQ(std::tie(s.x, s.y, s.width, s.height), std::make_tuple(0, 0, 1280, 720));
}

TEST(FrameFitter, WideSourceOnVgaSamplesEveryThirdPixelBetweenBlackBars)
{
    const Size src{1920, 1080}, cam{640, 480};
    const auto pixels = reference_frame::Pattern(src.w, src.h);
    FrameFitter fitter;
    const auto out = render(fitter, pixels, src, cam, false, false);
    ASSERT_EQ(out.size(), size_t(640 * 480 * 3));
    for (int r = 0; r < 60; ++r)
        ASSERT_TRUE(rowIsBlack(out, cam.w, r)) << r;
    for (int r = 420; r < 480; ++r)
        ASSERT_TRUE(rowIsBlack(out, cam.w, r)) << r;
    for (int r = 60; r < 420; r += 7) {
        for (int c = 0; c < 640; c += 5) {
            const size_t o = (size_t(r) * 640 + c) * 3;
            const size_t s = (size_t(3 * (r - 60)) * 1920 + 3 * c) * 3;
            ASSERT_EQ(0, memcmp(&out[o], &pixels[s], 3)) << c << "," << r;
        }
    }
}

TEST(FrameFitter, MatchesReferenceByteForByte)
{
    const Size sources[] = {{1920, 1080}, {720, 480}, {1080, 1920}, {640, 480}, {1366, 768},
                            {1, 1},       {3, 2},     {2, 3},       {641, 479}, {1, 1000}, {999, 1}};
    const Size cameras[] = {{640, 480}, {1280, 720}, {641, 480}, {64, 64}, {97, 31}};
    FrameFitter fitter; // one fitter for all: the cached tables must follow every change
    for (const Size &s : sources) {
        const auto pixels = reference_frame::Pattern(s.w, s.h, uint32_t(s.w * 7 + s.h));
        for (const Size &c : cameras) {
            for (bool stretch : {false, true}) {
                const auto fitted = reference_frame::Fit(pixels.data(), s.w, s.h, c.w, c.h, stretch);
                ASSERT_EQ(render(fitter, pixels, s, c, stretch, false), fitted)
                    << s.w << "x" << s.h << " on " << c.w << "x" << c.h << " stretch " << stretch;
                ASSERT_EQ(render(fitter, pixels, s, c, stretch, true),
                          reference_frame::Mirror(fitted.data(), c.w, c.h))
                    << "mirrored " << s.w << "x" << s.h << " on " << c.w << "x" << c.h;
            }
        }
    }
}

TEST(FrameFitter, SameSizeIsAPlainMirror)
{
    const Size s{5, 3};
    const auto pixels = reference_frame::Pattern(s.w, s.h);
    FrameFitter fitter;
    const auto out = render(fitter, pixels, s, s, false, true);
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x)
            ASSERT_EQ(0, memcmp(&out[(y * 5 + (4 - x)) * 3], &pixels[(y * 5 + x) * 3], 3));
    EXPECT_EQ(render(fitter, pixels, s, s, false, false), pixels);
}

TEST(FrameFitter, ReusedOutputBufferIsFullyRewritten)
{
    // A buffer left over from a stretched frame must not leak into the bars
    // of a letterboxed one.
    const Size src{1920, 1080}, cam{640, 480};
    const auto pixels = reference_frame::Pattern(src.w, src.h);
    FrameFitter fitter;
    std::vector<uint8_t> out(640 * 480 * 3, 0xAB);
    fitter.Render(pixels.data(), src.w, src.h, cam.w, cam.h, true, true, out);
    fitter.Render(pixels.data(), src.w, src.h, cam.w, cam.h, false, true, out);
    EXPECT_EQ(out, reference_frame::CameraFrame(pixels.data(), src.w, src.h, cam.w, cam.h, false));
}
