// What the preview costs the streaming worker per frame: PreviewWidget::
// setFrame for a 1080p and a 4K source, BGR24 and 4:2:0 YUV, at the widget
// sizes of the default window, a larger one and a maximised one on a 1080p
// screen, beside a memcpy of a 1080p BGR24 frame measured in the same run.
// The goal is 0.5 ms or less per 1080p frame. Run under the offscreen
// platform: QT_QPA_PLATFORM=offscreen build/bin/preview_bench
#include "previewwidget.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

struct Source {
    int w, h;
    bool yuv;
};

void BM_Memcpy1080p(benchmark::State &state)
{
    const std::vector<uint8_t> src(size_t(1920) * 1080 * 3, 7);
    std::vector<uint8_t> dst(src.size());
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size());
        benchmark::ClobberMemory();
    }
}

void BM_SetFrame(benchmark::State &state, Source s, int widgetW, int widgetH)
{
    std::vector<uint8_t> data(size_t(s.w) * s.h * 3);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = uint8_t(i * 7 + i / 4096);
    FrameView view = FrameView::Bgr(data.data(), s.w, s.h);
    if (s.yuv) {
        view.format = FrameView::Format::Yuv420;
        view.plane[1] = data.data() + size_t(s.w) * s.h;
        view.plane[2] = view.plane[1] + size_t(s.w / 2) * (s.h / 2);
        view.stride[0] = s.w;
        view.stride[1] = view.stride[2] = s.w / 2;
    }
    PreviewWidget preview;
    preview.resize(widgetW, widgetH);
    preview.show();
    QApplication::processEvents();
    for (auto _ : state)
        preview.setFrame(view);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    benchmark::RegisterBenchmark("memcpy 1080p BGR24", BM_Memcpy1080p)->Unit(benchmark::kMillisecond);
    const struct {
        const char *name;
        Source source;
    } sources[] = {
        {"1080p BGR24", {1920, 1080, false}}, {"1080p YUV", {1920, 1080, true}}, {"4K YUV", {3840, 2160, true}}};
    const struct {
        int w, h;
    } widgets[] = {{560, 315}, {1280, 720}, {1900, 900}};
    for (const auto &s : sources)
        for (const auto &w : widgets) {
            const std::string name =
                std::string("setFrame ") + s.name + " into " + std::to_string(w.w) + "x" + std::to_string(w.h);
            benchmark::RegisterBenchmark(name.c_str(), BM_SetFrame, s.source, w.w, w.h)->Unit(benchmark::kMillisecond);
        }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
