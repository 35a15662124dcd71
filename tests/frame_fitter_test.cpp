#include "frame_fitter.h"
#include "reference_frame.h"
#include "yuyv_pack.h"

#include <gtest/gtest.h>

// Every source on every camera in every mode, with same-aspect pairs where floats round down
// (240 * (500 / 240.f) is 499.99997). One fitter and buffer for all, as the sender keeps them:
// cached tables must follow every change, and the last frame's picture never shows in a bar.
TEST(FrameFitter, MatchesReferenceByteForByte)
{
    const std::pair<int, int> sources[] = {{1920, 1080}, {720, 480}, {1080, 1920}, {640, 480},  {1366, 768},
                                           {1, 1},       {3, 2},     {2, 3},       {641, 479},  {1, 1000},
                                           {999, 1},     {500, 240}, {440, 268},   {1000, 240}, {5, 3}};
    const std::pair<int, int> cameras[] = {{640, 480}, {1280, 720}, {641, 480}, {64, 64},   {97, 31},
                                           {5, 3},     {500, 240},  {440, 268}, {500, 120}, {1000, 240}};
    FrameFitter fitter;
    std::vector<uint8_t> out;
    for (const auto &[camW, camH] : cameras)
        for (const auto &[w, h] : sources) {
            const auto pixels = reference_frame::Pattern(w, h, uint32_t(w * 7 + h));
            for (FitMode mode : {FitMode::Letterbox, FitMode::Stretch, FitMode::Crop}) {
                const auto fitted = reference_frame::Fit(pixels.data(), w, h, camW, camH, mode == FitMode::Stretch,
                                                         mode == FitMode::Crop);
                for (bool mirror : {false, true}) {
                    fitter.Render(FrameView::Bgr(pixels.data(), w, h), camW, camH, mode, mirror, out);
                    ASSERT_EQ(out, mirror ? reference_frame::Mirror(fitted.data(), camW, camH) : fitted)
                        << w << "x" << h << " on " << camW << "x" << camH << " mode " << int(mode) << " mirror "
                        << mirror;
                }
            }
        }
}

// A 3x2 picture pillarboxed on 8x2 starts and ends on odd columns: the pairs half picture, half
// bar take the rounded mean chroma, as the BGR24 route's converter gives.
TEST(FrameFitter, YuyvPairsBesideABarMixTheirChroma)
{
    const uint8_t y[] = {100, 110, 120, 130, 140, 150}, u[] = {129, 131}, v[] = {141, 99};
    const FrameView view{FrameView::Format::Yuv420, 3, 2, {y, u, v}, {3, 2, 2}};
    const std::vector<uint8_t> plain = {16, 128, 16, 128, 100, 129, 110, 141, 120, 130, 16, 114, 16, 128, 16, 128,
                                        16, 128, 16, 128, 130, 129, 140, 141, 150, 130, 16, 114, 16, 128, 16, 128};
    const std::vector<uint8_t> mirrored = {16, 128, 16, 128, 16, 130, 120, 114, 110, 129, 100, 141, 16, 128, 16, 128,
                                           16, 128, 16, 128, 16, 130, 150, 114, 140, 129, 130, 141, 16, 128, 16, 128};
    FrameFitter fitter;
    std::vector<uint8_t> out;
    fitter.RenderYuyv(view, 8, 2, FitMode::Letterbox, false, out);
    EXPECT_EQ(out, plain);
    fitter.RenderYuyv(view, 8, 2, FitMode::Letterbox, true, out);
    EXPECT_EQ(out, mirrored);
}

// Every row packer writes what the plain one does around the vector width, both ways, clamping alike.
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
