#include "frame_fitter.h"
#include "reference_frame.h"
#include "yuyv_pack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

namespace {

struct Size {
    int w, h;
};

// One output buffer for every frame, as the sender keeps it: whatever the
// last frame left there (a stretched picture where bars go) is overwritten.
std::vector<uint8_t> render(FrameFitter &fitter, const std::vector<uint8_t> &src, Size s, Size cam, bool stretch,
                            bool mirror)
{
    static std::vector<uint8_t> out;
    fitter.Render(src.data(), s.w, s.h, cam.w, cam.h, stretch, mirror, out);
    return out;
}

} // namespace

// Every source on every camera, plus same-aspect pairs where single
// precision rounds down (float(240) * (500 / 240.f) is 499.99997: a column
// short without the exact check).
TEST(FrameFitter, MatchesReferenceByteForByte)
{
    const Size sources[] = {{1920, 1080}, {720, 480}, {1080, 1920}, {640, 480}, {1366, 768}, {1, 1},
                            {3, 2},       {2, 3},     {641, 479},   {1, 1000},  {999, 1}};
    const Size cameras[] = {{640, 480}, {1280, 720}, {641, 480}, {64, 64}, {97, 31}};
    std::vector<std::pair<Size, Size>> pairs = {{{5, 3}, {5, 3}},
                                                {{500, 240}, {500, 240}},
                                                {{440, 268}, {440, 268}},
                                                {{1000, 240}, {1000, 240}},
                                                {{1000, 240}, {500, 120}}};
    for (const Size &c : cameras)
        for (const Size &s : sources)
            pairs.push_back({s, c});
    FrameFitter fitter; // one fitter for all: the cached tables must follow every change
    for (const auto &[s, c] : pairs) {
        const auto pixels = reference_frame::Pattern(s.w, s.h, uint32_t(s.w * 7 + s.h));
        for (bool stretch : {false, true}) {
            const auto fitted = reference_frame::Fit(pixels.data(), s.w, s.h, c.w, c.h, stretch);
            ASSERT_EQ(render(fitter, pixels, s, c, stretch, false), fitted)
                << s.w << "x" << s.h << " on " << c.w << "x" << c.h << " stretch " << stretch;
            ASSERT_EQ(render(fitter, pixels, s, c, stretch, true), reference_frame::Mirror(fitted.data(), c.w, c.h))
                << "mirrored " << s.w << "x" << s.h << " on " << c.w << "x" << c.h;
        }
    }
}

// Crop is the centred window of the camera's aspect, stretched over the
// whole frame: no bars, whatever the stretch setting says.
TEST(FrameFitter, CropFillsTheFrameFromTheCentredWindow)
{
    const struct {
        Size src, cam;
        FitRect window;
    } cases[] = {
        {{1920, 1080}, {640, 480}, {240, 0, 1440, 1080}}, {{1080, 1920}, {1280, 720}, {0, 656, 1080, 607}},
        {{641, 479}, {97, 31}, {0, 137, 641, 204}},       {{3, 2}, {64, 64}, {0, 0, 2, 2}},
        {{1280, 720}, {1280, 720}, {0, 0, 1280, 720}},
    };
    FrameFitter fitter;
    for (const auto &c : cases) {
        const FitRect w = ComputeCropWindow(c.src.w, c.src.h, c.cam.w, c.cam.h);
        ASSERT_EQ(std::tie(w.x, w.y, w.width, w.height),
                  std::tie(c.window.x, c.window.y, c.window.width, c.window.height))
            << c.src.w << "x" << c.src.h << " on " << c.cam.w << "x" << c.cam.h;
        const auto pixels = reference_frame::Pattern(c.src.w, c.src.h);
        std::vector<uint8_t> window;
        for (int y = w.y; y < w.y + w.height; ++y)
            window.insert(window.end(), &pixels[(size_t(y) * c.src.w + w.x) * 3],
                          &pixels[(size_t(y) * c.src.w + w.x + w.width) * 3]);
        const auto want = reference_frame::Fit(window.data(), w.width, w.height, c.cam.w, c.cam.h, true);
        for (bool mirror : {false, true}) {
            std::vector<uint8_t> out;
            fitter.Render(FrameView::Bgr(pixels.data(), c.src.w, c.src.h), c.cam.w, c.cam.h, FitMode::Crop, mirror,
                          out);
            EXPECT_EQ(out, mirror ? reference_frame::Mirror(want.data(), c.cam.w, c.cam.h) : want)
                << c.src.w << "x" << c.src.h << " on " << c.cam.w << "x" << c.cam.h << " mirror " << mirror;
        }
    }
}

// Every version of the row packer writes what the plain one does, at every
// length around the vector width, both directions, out-of-range values held.
TEST(YuyvPack, VectorVersionsMatchThePlainOne)
{
    const auto bytes = reference_frame::Pattern(300, 1);
    const uint8_t *y = bytes.data(), *u = y + 300, *v = y + 600;
    for (bool backward : {false, true})
        for (auto level : {yuyv_pack::Level::Sse2, yuyv_pack::Level::Ssse3})
            for (int pairs = 0; pairs <= 70; ++pairs) {
                // Backwards reads from the last pixel down.
                const int back = backward ? 2 * pairs - 1 : 0, backC = backward ? pairs - 1 : 0;
                std::vector<uint8_t> plain(size_t(pairs) * 4 + 1, 7), fast(plain);
                yuyv_pack::Row(backward, yuyv_pack::Level::Plain)(y + back, u + backC, v + backC, pairs, plain.data());
                yuyv_pack::Row(backward, level)(y + back, u + backC, v + backC, pairs, fast.data());
                ASSERT_EQ(fast, plain) << pairs << " pairs, backward " << backward;
            }
}
