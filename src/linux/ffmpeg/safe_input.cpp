#include "safe_input.h"

#include "regular_file.h"
#include "video_decoder.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/log.h>
}

namespace ffmpeg_input {

namespace {

// Frame threads beyond this cost memory (each holds frames of its own, and
// a 4K frame is 12 MiB) for little speed: see the note at OpenDecoder.
constexpr int kMaxThreads = 4;

// The file is read through a descriptor of our own.
int ReadFd(void *opaque, uint8_t *buf, int size)
{
    const int fd = *static_cast<int *>(opaque);
    for (;;) {
        const ssize_t n = ::read(fd, buf, size_t(size));
        if (n > 0)
            return int(n);
        if (n == 0)
            return AVERROR_EOF;
        if (errno != EINTR)
            return AVERROR(errno);
    }
}

int64_t SeekFd(void *opaque, int64_t offset, int whence)
{
    const int fd = *static_cast<int *>(opaque);
    if (whence == AVSEEK_SIZE) {
        struct stat st { };
        return ::fstat(fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t r = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return r < 0 ? AVERROR(errno) : int64_t(r);
}

// Demuxers of self-contained video files. Playlists and other formats that
// name further files (hls, dash, concat, image sequences, ...) are not
// among them, and neither is anything that makes video out of text.
constexpr const char *kDemuxers = "mov,avi,asf,matroska,mpegts,mpeg,flv,h264,hevc,m4v,"
                                  "mpegvideo,ivf,ogg,nut,yuv4mpegpipe,dv,obu,vc1,h263,mxf,rm";

// Demuxers ask through io_open for every file beyond the one they were given
// (playlist entries, segments, external references): refuse them all.
int DenyIoOpen(AVFormatContext *, AVIOContext **, const char *, int, AVDictionary **)
{
    return AVERROR(EPERM);
}

constexpr int64_t kMaxPixels = int64_t(VideoDecoder::kMaxWidth) * VideoDecoder::kMaxHeight;

// Probing decodes a few frames: the same size limit applies there, and a
// size the container already states is checked before any decoding.
bool FindStreamInfo(AVFormatContext *format)
{
    std::vector<AVDictionary *> probeOptions(format->nb_streams, nullptr);
    bool oversized = false;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVCodecParameters *par = format->streams[i]->codecpar;
        oversized |= par->codec_type == AVMEDIA_TYPE_VIDEO && (par->width > 0 || par->height > 0)
            && !ValidFrameSize(par->width, par->height);
        av_dict_set_int(&probeOptions[i], "max_pixels", kMaxPixels, 0);
    }
    const int r = oversized ? -1 : avformat_find_stream_info(format, probeOptions.data());
    for (AVDictionary *&o : probeOptions)
        av_dict_free(&o);
    return r >= 0;
}

// The first video stream that can be decoded; cover art is not video. Every
// other stream is discarded.
const AVCodec *ChooseStream(SafeInput &in)
{
    const AVCodec *decoder = nullptr;
    for (unsigned i = 0; i < in.format->nb_streams; ++i) {
        AVStream *st = in.format->streams[i];
        if (in.streamIndex < 0 && st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO
            && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            decoder = avcodec_find_decoder(st->codecpar->codec_id);
            if (decoder) {
                in.streamIndex = int(i);
                in.stream = st;
                continue;
            }
        }
        st->discard = AVDISCARD_ALL;
    }
    return in.stream ? decoder : nullptr;
}

// The decoder goes into `codec` as soon as it exists, for the owner to free.
bool OpenDecoder(const AVCodec *decoder, const AVStream *st, AVCodecContext *&codec)
{
    codec = avcodec_alloc_context3(decoder);
    if (!codec || avcodec_parameters_to_context(codec, st->codecpar) < 0)
        return false;
    codec->pkt_timebase = st->time_base;
    // Refused inside the decoder before any frame buffer is allocated.
    codec->max_pixels = kMaxPixels;
    // Frame and slice threads, one per core up to kMaxThreads: 1.5 to 1.8
    // times the single-thread rate for H.264 on two cores.
    codec->thread_count = std::clamp(int(std::thread::hardware_concurrency()) + 1, 1, kMaxThreads);
    codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    return avcodec_open2(codec, decoder, nullptr) >= 0;
}

} // namespace

bool ValidFrameSize(int w, int h)
{
    return w > 0 && h > 0 && unsigned(w) <= VideoDecoder::kMaxWidth && unsigned(h) <= VideoDecoder::kMaxHeight;
}

SafeInput::~SafeInput()
{
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    if (io)
        av_freep(&io->buffer);
    avio_context_free(&io);
    if (fd >= 0)
        ::close(fd);
}

bool SafeInput::Open(const std::filesystem::path &path)
{
    // FFmpeg prints its own diagnostics to stderr ("moov atom not found"
    // for every bad file); Vidloom reports failures as results instead.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });

    fd = regular_file::Open(path);
    if (fd < 0)
        return false;
    constexpr int kIoBuffer = 64 * 1024;
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBuffer));
    if (!buffer)
        return false;
    io = avio_alloc_context(buffer, kIoBuffer, 0, &fd, ReadFd, nullptr, SeekFd);
    if (!io) {
        av_free(buffer);
        return false;
    }

    format = avformat_alloc_context();
    if (!format)
        return false;
    format->pb = io;
    format->io_open = DenyIoOpen;
    // The name only guides format probing by extension; nothing opens it.
    const std::string url = "file:" + path.string();
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", kDemuxers, 0);
    const int r = avformat_open_input(&format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0 || !FindStreamInfo(format)) // a failed open frees the context
        return false;

    const AVCodec *decoder = ChooseStream(*this);
    if (!decoder || !ValidFrameSize(stream->codecpar->width, stream->codecpar->height))
        return false;
    return OpenDecoder(decoder, stream, codec);
}

} // namespace ffmpeg_input
