// Per-frame costs of the streaming path (bench/run.sh runs it):
// - FrameFitter::Render (fit + mirror in one pass) for three size pairs,
//   each beside a plain memcpy of a frame of the output size as a yardstick;
// - unpaced end-to-end throughput: VideoDecoder::ReadFrame, Render, and a
//   copy into a send buffer (what a camera's send does with the frame), one
//   frame per iteration, looping the file like the worker does;
// - decoding alone with 1, 2 and automatic codec threads, to back the
//   decoder's thread setting.
//
// The clips come from the command line: --video-1080p=FILE --video-4k=FILE.
// After the run a summary prints time per frame, the ratio to memcpy and the
// end-to-end frame rates.

#include "frame_fitter.h"
#include "video_decoder.h"

#include <benchmark/benchmark.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

std::string g_video1080;
std::string g_video4k;

struct Size {
    int w, h;
};

std::vector<uint8_t> PatternFrame(Size s)
{
    std::vector<uint8_t> f(size_t(s.w) * s.h * 3);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = uint8_t(i * 7 + (i / 3) * 13);
    return f;
}

void BM_FitMirror(benchmark::State &state, Size src, Size cam)
{
    const std::vector<uint8_t> frame = PatternFrame(src);
    std::vector<uint8_t> out;
    FrameFitter fitter;
    for (auto _ : state) {
        fitter.Render(frame.data(), src.w, src.h, cam.w, cam.h, false, true, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
}

void BM_Memcpy(benchmark::State &state, Size s)
{
    const std::vector<uint8_t> from = PatternFrame(s);
    std::vector<uint8_t> to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(from.size()));
}

// One frame per iteration: read (looping at the end), fit + mirror, send.
void BM_EndToEnd(benchmark::State &state, const std::string *path, Size cam)
{
    VideoDecoder decoder;
    if (path->empty() || !decoder.Open(*path)) {
        state.SkipWithError("no clip (pass --video-1080p= / --video-4k=)");
        return;
    }
    std::vector<uint8_t> frame, fitted, sent(size_t(cam.w) * cam.h * 3);
    FrameFitter fitter;
    for (auto _ : state) {
        if (!decoder.ReadFrame(frame)) {
            decoder.SeekToStart();
            if (!decoder.ReadFrame(frame)) {
                state.SkipWithError("read failed");
                break;
            }
        }
        fitter.Render(frame.data(), int(decoder.width), int(decoder.height), cam.w, cam.h, false, true, fitted);
        std::memcpy(sent.data(), fitted.data(), sent.size());
        benchmark::DoNotOptimize(sent.data());
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// VideoDecoder::ReadFrame alone (decode + conversion to BGR24).
void BM_ReadFrame(benchmark::State &state, const std::string *path)
{
    VideoDecoder decoder;
    if (path->empty() || !decoder.Open(*path)) {
        state.SkipWithError("no clip");
        return;
    }
    std::vector<uint8_t> frame;
    for (auto _ : state) {
        if (!decoder.ReadFrame(frame)) {
            decoder.SeekToStart();
            decoder.ReadFrame(frame);
        }
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// libavcodec decoding only, with state.range(0) threads (0 = automatic).
void BM_DecodeThreads(benchmark::State &state, const std::string *path)
{
    AVFormatContext *format = nullptr;
    if (path->empty() || avformat_open_input(&format, path->c_str(), nullptr, nullptr) < 0) {
        state.SkipWithError("no clip");
        return;
    }
    avformat_find_stream_info(format, nullptr);
    const AVCodec *codec = nullptr;
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    AVCodecContext *ctx = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(ctx, format->streams[stream]->codecpar);
    ctx->thread_count = int(state.range(0));
    ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    avcodec_open2(ctx, codec, nullptr);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();

    auto next = [&]() {
        for (;;) {
            int r = avcodec_receive_frame(ctx, frame);
            if (r == 0)
                return true;
            if (r == AVERROR_EOF) {
                av_seek_frame(format, stream, 0, AVSEEK_FLAG_BACKWARD);
                avcodec_flush_buffers(ctx);
                continue;
            }
            if (av_read_frame(format, packet) < 0) {
                avcodec_send_packet(ctx, nullptr);
                continue;
            }
            if (packet->stream_index == stream)
                avcodec_send_packet(ctx, packet);
            av_packet_unref(packet);
        }
    };
    for (auto _ : state) {
        next();
        av_frame_unref(frame);
    }
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&ctx);
    avformat_close_input(&format);
}

const Size k720{1280, 720}, k1080{1920, 1080}, k2160{3840, 2160};

void Register()
{
    struct Fit {
        const char *name;
        Size src, cam;
    };
    for (const Fit &f : {Fit{"1920x1080->1280x720", k1080, k720}, Fit{"1280x720->3840x2160", k720, k2160},
                         Fit{"3840x2160->1920x1080", k2160, k1080}}) {
        benchmark::RegisterBenchmark((std::string("FitMirror/") + f.name).c_str(), BM_FitMirror, f.src, f.cam)
            ->Unit(benchmark::kMillisecond);
    }
    for (Size s : {k720, k2160, k1080}) {
        const std::string name = "Memcpy/" + std::to_string(s.w) + "x" + std::to_string(s.h);
        benchmark::RegisterBenchmark(name.c_str(), BM_Memcpy, s)->Unit(benchmark::kMillisecond);
    }
    // Real time: the decoder's threads work beside the measuring thread.
    benchmark::RegisterBenchmark("EndToEnd/1080p->1280x720", BM_EndToEnd, &g_video1080, k720)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("EndToEnd/4K->1920x1080", BM_EndToEnd, &g_video4k, k1080)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("ReadFrame/1080p", BM_ReadFrame, &g_video1080)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("ReadFrame/4K", BM_ReadFrame, &g_video4k)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    for (auto [name, path] : {std::pair{"1080p", &g_video1080}, std::pair{"4K", &g_video4k}})
        benchmark::RegisterBenchmark((std::string("DecodeThreads/") + name).c_str(), BM_DecodeThreads, path)
            ->ArgName("threads")
            ->Arg(1)
            ->Arg(2)
            ->Arg(0)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
}

// Console output as usual, and the runs kept for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    SummaryReporter()
        : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular)
    {
    }
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs)
            if (!run.error_occurred && run.run_type == Run::RT_Iteration && run.iterations > 0)
                seconds[run.benchmark_name()] = run.real_accumulated_time / double(run.iterations);
    }
    std::map<std::string, double> seconds; // per iteration (last repetition)
};

void PrintSummary(const std::map<std::string, double> &seconds)
{
    auto find = [&](const std::string &name) {
        auto it = seconds.find(name);
        return it == seconds.end() ? -1.0 : it->second;
    };
    std::printf("\nFit + mirror (FrameFitter::Render) per frame, against memcpy of the output frame:\n");
    for (auto [fit, copy] :
         {std::pair{"1920x1080->1280x720", "1280x720"}, std::pair{"1280x720->3840x2160", "3840x2160"},
          std::pair{"3840x2160->1920x1080", "1920x1080"}}) {
        const double t = find(std::string("FitMirror/") + fit);
        const double m = find(std::string("Memcpy/") + copy);
        if (t > 0 && m > 0)
            std::printf("  %-22s %8.3f ms   memcpy %s %7.3f ms   ratio %5.2fx\n", fit, t * 1e3, copy, m * 1e3, t / m);
    }
    std::printf("\nUnpaced throughput (frames per second):\n");
    for (auto [label, name] : {std::pair{"decode+fit+mirror+send 1080p H.264 -> 1280x720 ", "EndToEnd/1080p->1280x720"},
                               std::pair{"decode+fit+mirror+send 4K H.264    -> 1920x1080", "EndToEnd/4K->1920x1080"},
                               std::pair{"ReadFrame only (decode + BGR24)  1080p        ", "ReadFrame/1080p"},
                               std::pair{"ReadFrame only (decode + BGR24)  4K           ", "ReadFrame/4K"}}) {
        const double t = find(std::string(name) + "/real_time");
        if (t > 0)
            std::printf("  %s %8.1f fps\n", label, 1.0 / t);
    }
    std::printf("\nDecoding alone (libavcodec, frames per second) by codec threads:\n");
    for (const char *clip : {"1080p", "4K"}) {
        std::printf("  %-6s", clip);
        for (const char *threads : {"1", "2", "0"}) {
            const double t = find(std::string("DecodeThreads/") + clip + "/threads:" + threads + "/real_time");
            if (t > 0)
                std::printf("   %s: %6.1f", *threads == '0' ? "auto" : threads, 1.0 / t);
        }
        std::printf("\n");
    }
}

} // namespace

int main(int argc, char **argv)
{
    // Our own options first; Google Benchmark rejects what it does not know.
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--video-1080p=", 0) == 0)
            g_video1080 = arg.substr(14);
        else if (arg.rfind("--video-4k=", 0) == 0)
            g_video4k = arg.substr(11);
        else
            rest.push_back(argv[i]);
    }
    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    if (benchmark::ReportUnrecognizedArguments(count, rest.data()))
        return 1;
    Register();
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter.seconds);
    benchmark::Shutdown();
    return 0;
}
