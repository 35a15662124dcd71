// Linux backend of VideoDecoder: libavformat demuxes, libavcodec decodes the
// first video stream, libswscale converts to BGR24 – unless the caller takes
// the decoder's own 4:2:0 planes (ReadFrame into a FrameView).
//
// Output layout: BGR24, tightly packed at the decoded (and, for rotated
// videos, upright) size, so `stride` is always width * 3 – the row length of
// the frame ReadFrame hands out. (The Media Foundation backend reports the
// RGB32 stride of its own intermediate buffer there; nothing outside the
// decoder uses the field.)
//
// Time: `duration` and `position` are seconds from the start of the video
// stream (its start_time is subtracted, or the first frame's time stamp when
// that is later). position is the time stamp of the
// last frame read, or the (clamped) target of the last seek until the next
// read.
//
// Seeking is lazy: SeekTo and SeekToStart only record the target (and set
// position at once); the next ReadFrame does the work – a backward seek to a
// key frame, then decoding forward to the last frame whose time stamp is at
// or before the target. That frame is what the next ReadFrame returns, and the
// frame decoded after it is kept, so reading continues without a gap. Being
// lazy keeps the owner's (user-interface) thread from decoding a whole group
// of pictures per slider move, and a burst of seeks costs only one.
//
// Safety:
// - the file is opened by this code, as a regular file only (a FIFO would
//   block the open forever), and read through our own I/O context, so no
//   protocol is involved at all (a ':' in the name is never one);
// - only demuxers of self-contained video files are allowed, and io_open
//   refuses every request for a further file, so a playlist (HLS, concat,
//   ...) in disguise cannot reach other files or the network;
// - frames larger than kMaxWidth x kMaxHeight are refused, by the decoder
//   itself too (max_pixels), so a small file cannot claim a huge frame;
// - decoder threads are capped: every frame thread keeps frames of its own.
//
// swscale: its fast yuv420p/yuv422p -> BGR24 path in FFmpeg 5.1 writes past
// the end of a tightly packed buffer for some widths and leaves the last
// width % 8 pixels of each row unconverted when the row stride is exactly
// width * 3. So the converter writes into the caller's buffer directly only
// after a one-off check (per converter configuration) that a tightly packed
// conversion neither writes outside the frame nor differs from a conversion
// into padded rows; otherwise it converts into padded rows in a scratch
// buffer and copies the rows out.

#include "video_decoder.h"

#include "regular_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/log.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

bool ValidFrameSize(int w, int h)
{
    return w > 0 && h > 0 && unsigned(w) <= VideoDecoder::kMaxWidth &&
           unsigned(h) <= VideoDecoder::kMaxHeight;
}

// Frame threads beyond this cost memory (each holds frames of its own, and
// a 4K frame is 12 MiB) for little speed: see the note at Open.
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
        struct stat st {};
        return ::fstat(fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    }
    const off_t r = ::lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return r < 0 ? AVERROR(errno) : int64_t(r);
}

// Row pitch of the scratch buffer: generous padding so no SIMD writer can
// reach the next row, and 64-byte aligned rows.
size_t PaddedPitch(int w)
{
    return (static_cast<size_t>(w) * 3 + 64 + 63) & ~size_t(63);
}
// Extra bytes after the last padded row.
constexpr size_t kScratchTail = 4096;

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

int64_t FrameDurationTicks(const AVFrame *f)
{
#if LIBAVUTIL_VERSION_INT >= AV_VERSION_INT(57, 30, 100)
    return f->duration;
#else
    return f->pkt_duration;
#endif
}

const int32_t *DisplayMatrix(const AVStream *st)
{
#if LIBAVFORMAT_VERSION_MAJOR >= 61
    const AVPacketSideData *sd = av_packet_side_data_get(
        st->codecpar->coded_side_data, st->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    if (sd && sd->size >= 9 * sizeof(int32_t))
        return reinterpret_cast<const int32_t *>(sd->data);
    return nullptr;
#else
    size_t size = 0;
    const uint8_t *data = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (data && size >= 9 * sizeof(int32_t))
        return reinterpret_cast<const int32_t *>(data);
    return nullptr;
#endif
}

// Counter-clockwise rotation (0, 90, 180, 270) that makes the picture
// upright, as the ffmpeg tool's autorotate reads the display matrix. Angles
// that are not within a degree of a right angle are ignored.
int RotationOf(const AVStream *st)
{
    const int32_t *matrix = DisplayMatrix(st);
    if (!matrix)
        return 0;
    const double angle = av_display_rotation_get(matrix);
    if (std::isnan(angle))
        return 0;
    double ccw = std::fmod(angle, 360.0);
    if (ccw < 0)
        ccw += 360.0;
    for (int right : {0, 90, 180, 270, 360})
        if (std::fabs(ccw - right) < 1.0)
            return right % 360;
    return 0;
}

// BGR24 rotations, src (w x h, rows srcPitch bytes apart) -> dst, tightly
// packed. Tiled so both sides stay in cache.
constexpr int kTile = 64;

inline void CopyPixel(uint8_t *d, const uint8_t *s)
{
    d[0] = s[0];
    d[1] = s[1];
    d[2] = s[2];
}

// A quarter turn: output is h x w. Counter-clockwise out(X, Y) =
// src(w-1-Y, X); clockwise out(X, Y) = src(Y, h-1-X).
void RotateQuarter(const uint8_t *src, size_t srcPitch, int w, int h, bool clockwise, uint8_t *dst)
{
    const int outW = h, outH = w;
    const size_t outPitch = size_t(outW) * 3;
    const ptrdiff_t step = clockwise ? -ptrdiff_t(srcPitch) : ptrdiff_t(srcPitch);
    const uint8_t *origin = clockwise ? src + size_t(h - 1) * srcPitch : src + size_t(w - 1) * 3;
    const ptrdiff_t column = clockwise ? 3 : -3; // source step per output row
    for (int y0 = 0; y0 < outH; y0 += kTile)
        for (int x0 = 0; x0 < outW; x0 += kTile) {
            const int y1 = std::min(y0 + kTile, outH), x1 = std::min(x0 + kTile, outW);
            for (int Y = y0; Y < y1; ++Y) {
                uint8_t *d = dst + size_t(Y) * outPitch;
                const uint8_t *s = origin + ptrdiff_t(Y) * column;
                for (int X = x0; X < x1; ++X)
                    CopyPixel(d + size_t(X) * 3, s + ptrdiff_t(X) * step);
            }
        }
}

// 180 degrees: out(X, Y) = src(w-1-X, h-1-Y).
void Rotate180(const uint8_t *src, size_t srcPitch, int w, int h, uint8_t *dst)
{
    const size_t outPitch = size_t(w) * 3;
    for (int Y = 0; Y < h; ++Y) {
        const uint8_t *s = src + size_t(h - 1 - Y) * srcPitch + size_t(w - 1) * 3;
        uint8_t *d = dst + size_t(Y) * outPitch;
        for (int X = 0; X < w; ++X, d += 3, s -= 3)
            CopyPixel(d, s);
    }
}

bool IsYuv(AVPixelFormat fmt)
{
    const AVPixFmtDescriptor *desc = av_pix_fmt_desc_get(fmt);
    return desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB) && desc->nb_components >= 3;
}

bool IsFullRangeFormat(AVPixelFormat fmt)
{
    switch (fmt) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
    case AV_PIX_FMT_YUVJ440P:
    case AV_PIX_FMT_YUVJ411P:
        return true;
    default:
        return false;
    }
}

// Frames the camera can take as they are: 8-bit 4:2:0 in limited range with
// the BT.601 matrix (or none stated, which is read as BT.601), the camera's
// own colours. Anything else is converted to BGR24 first.
bool PassesAsYuv(const AVFrame *f)
{
    if (f->format != AV_PIX_FMT_YUV420P || f->color_range == AVCOL_RANGE_JPEG)
        return false;
    if (f->linesize[0] <= 0 || f->linesize[1] <= 0 || f->linesize[1] != f->linesize[2])
        return false;
    switch (f->colorspace) {
    case AVCOL_SPC_UNSPECIFIED:
    case AVCOL_SPC_RESERVED:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        return ValidFrameSize(f->width, f->height);
    default:
        return false;
    }
}

} // namespace

struct VideoDecoder::Source {
    ~Source();

    AVFormatContext *format = nullptr;
    int fd = -1;
    AVIOContext *io = nullptr; // ours, over fd, so freed here
    AVCodecContext *codec = nullptr;
    AVStream *stream = nullptr;
    int streamIndex = -1;
    AVPacket *packet = nullptr;
    // Decoded frames carry their time stamp (in stream ticks, counted for
    // streams without stamps) in best_effort_timestamp.
    AVFrame *work = nullptr; // decoding target
    AVFrame *queue[2] = {};  // decoded ahead: the first frame, or a seek's landing frame and the next
    int queued = 0;

    AVRational timeBase{1, 1};
    // Position 0: the stream's start_time, or the first frame's time stamp
    // when that comes later (AVI with packed B-frames stamps its first frame
    // one frame late).
    int64_t startTicks = 0;
    int64_t fallbackDuration = 0; // ticks per frame from the frame rate, 0 if unknown
    bool timestamps = true;       // false: no frame carries one, they are counted
    int64_t nextTicks = AV_NOPTS_VALUE; // expected time stamp of the next frame
    int64_t lastStep = 0;                // duration of the last frame decoded, ticks (0 unknown)
    int rotation = 0;             // counter-clockwise degrees applied to every frame

    bool inputEnded = false;   // demuxer exhausted, decoder told to drain
    bool decoderEnded = false; // decoder fully drained
    bool atEnd = false;        // ReadFrame returns false until the next seek

    int64_t firstTicks = 0;                   // time stamp of the first frame
    int64_t firstAfterSeek = AV_NOPTS_VALUE;  // time stamp of the first frame after the last seek

    bool seekPending = false;
    double seekTarget = 0.0; // seconds from the start, >= 0
    const std::function<bool()> *interrupt = nullptr; // the owner's, during ReadFrame

    // Converter state.
    SwsContext *sws = nullptr;
    int swsW = 0, swsH = 0;
    AVPixelFormat swsFormat = AV_PIX_FMT_NONE;
    int swsColorspace = -1, swsRange = -1;
    bool direct = false; // tightly packed output verified for this configuration
    std::vector<uint8_t> scratch;

    AVFrame *shown = nullptr;  // the frame a YUV view points into
    std::vector<uint8_t> bgr;  // the frame a BGR24 view points into

    bool Prime();
    bool Receive(AVFrame *f);
    bool DecodeNext(AVFrame *f);
    void Stamp(AVFrame *f);
    double Seconds(int64_t ticks) const;
    bool PrepareConverter(const AVFrame *f);
    bool CheckDirect(const AVFrame *f);
    bool Emit(const AVFrame *f, std::vector<uint8_t> &out, uint32_t &width, uint32_t &height);
    bool PerformSeek();
    enum class Landing { Done, Overshot, Failed, Interrupted };
    Landing Land(int64_t seekTicks, bool fromStart, bool byBytes, int64_t target);
    void ResetDecoding();
    void ClearQueue();
    void PushFrame(AVFrame *f);
    void PopFrame();
    AVFrame *Take(bool &interrupted);
    void Release(AVFrame *f);
};

VideoDecoder::Source::~Source()
{
    ClearQueue();
    av_frame_free(&shown);
    av_frame_free(&queue[0]);
    av_frame_free(&queue[1]);
    av_frame_free(&work);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    if (io)
        av_freep(&io->buffer);
    avio_context_free(&io);
    if (fd >= 0)
        ::close(fd);
    sws_freeContext(sws);
}

double VideoDecoder::Source::Seconds(int64_t ticks) const
{
    const double s = double(ticks - startTicks) * av_q2d(timeBase);
    return s > 0.0 ? s : 0.0;
}

void VideoDecoder::Source::ClearQueue()
{
    for (AVFrame *f : queue)
        if (f)
            av_frame_unref(f);
    queued = 0;
}

// Moves f's content to the back of the queue (no allocation: the queue's
// frames are allocated once, av_frame_move_ref only moves references).
void VideoDecoder::Source::PushFrame(AVFrame *f)
{
    AVFrame *slot = queue[queued++];
    av_frame_unref(slot);
    av_frame_move_ref(slot, f);
}

void VideoDecoder::Source::PopFrame()
{
    av_frame_unref(queue[0]);
    std::swap(queue[0], queue[1]);
    --queued;
}

// Settles the time stamp of a freshly decoded frame (stream ticks) into its
// best_effort_timestamp. Frames without one get the previous frame's stamp
// plus its duration (raw elementary streams carry no stamps at all).
void VideoDecoder::Source::Stamp(AVFrame *f)
{
    int64_t ts = f->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE)
        ts = f->pts;
    if (ts == AV_NOPTS_VALUE || !timestamps)
        ts = nextTicks != AV_NOPTS_VALUE ? nextTicks : startTicks;
    int64_t step = FrameDurationTicks(f);
    if (step <= 0)
        step = fallbackDuration;
    lastStep = std::max<int64_t>(step, 0);
    nextTicks = ts + lastStep;
    f->best_effort_timestamp = ts;
}

// Decodes the next frame of the chosen stream into f and stamps it.
bool VideoDecoder::Source::DecodeNext(AVFrame *f)
{
    if (!Receive(f))
        return false;
    Stamp(f);
    return true;
}

// Decodes the next frame of the chosen stream into f. Drains the decoder at
// the end of the input so the last (reordered) frames come out too. False at
// the end or on an error the decoder cannot get past.
bool VideoDecoder::Source::Receive(AVFrame *f)
{
    for (;;) {
        if (decoderEnded)
            return false;
        int r = avcodec_receive_frame(codec, f);
        if (r >= 0)
            return true;
        if (r == AVERROR_EOF) {
            decoderEnded = true;
            return false;
        }
        if (r != AVERROR(EAGAIN))
            return false;
        if (inputEnded) {
            // Draining and still EAGAIN: should not happen; do not spin.
            decoderEnded = true;
            return false;
        }
        r = av_read_frame(format, packet);
        if (r < 0) {
            // End of file, or a read error: either way, drain what is there.
            inputEnded = true;
            avcodec_send_packet(codec, nullptr);
            continue;
        }
        if (packet->stream_index == streamIndex) {
            // A damaged packet is skipped; the decoder conceals what it can.
            avcodec_send_packet(codec, packet);
        }
        av_packet_unref(packet);
    }
}

void VideoDecoder::Source::ResetDecoding()
{
    avcodec_flush_buffers(codec);
    inputEnded = false;
    decoderEnded = false;
    atEnd = false;
    ClearQueue();
}

// Decodes the first frame at Open: proves the stream decodes and gives the
// real frame size. The frame is queued for the first ReadFrame.
bool VideoDecoder::Source::Prime()
{
    if (!Receive(work))
        return false;
    if (work->best_effort_timestamp == AV_NOPTS_VALUE && work->pts == AV_NOPTS_VALUE)
        timestamps = false;
    nextTicks = AV_NOPTS_VALUE;
    Stamp(work);
    PushFrame(work);
    return true;
}

bool VideoDecoder::Source::PrepareConverter(const AVFrame *f)
{
    const AVPixelFormat fmt = static_cast<AVPixelFormat>(f->format);
    if (!ValidFrameSize(f->width, f->height) || fmt == AV_PIX_FMT_NONE)
        return false;
    bool recheck = !sws || f->width != swsW || f->height != swsH || fmt != swsFormat;
    if (recheck) {
        if (!sws_isSupportedInput(fmt))
            return false;
        sws = sws_getCachedContext(sws, f->width, f->height, fmt, f->width, f->height,
                                   AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!sws) {
            swsW = swsH = 0;
            swsFormat = AV_PIX_FMT_NONE;
            return false;
        }
        swsW = f->width;
        swsH = f->height;
        swsFormat = fmt;
        swsColorspace = swsRange = -1;
    }
    // Untagged YUV is taken as BT.601, as the ffmpeg tool does.
    const int colorspace = f->colorspace;
    const int range = (f->color_range == AVCOL_RANGE_JPEG || IsFullRangeFormat(fmt)) ? 1 : 0;
    if (IsYuv(fmt) && (colorspace != swsColorspace || range != swsRange)) {
        const int *coefficients = sws_getCoefficients(colorspace);
        sws_setColorspaceDetails(sws, coefficients, range, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                 0, 1 << 16, 1 << 16);
        swsColorspace = colorspace;
        swsRange = range;
        recheck = true; // the coefficients can change the code path
    }
    if (recheck) {
        direct = rotation == 0 && CheckDirect(f);
        if (direct) {
            scratch.clear();
            scratch.shrink_to_fit();
        }
    }
    if (!direct) {
        const size_t need = PaddedPitch(f->width) * size_t(f->height) + kScratchTail;
        if (scratch.size() < need)
            scratch.resize(need);
    }
    return true;
}

// One-off test of a tightly packed conversion of f: true when it writes
// exactly the frame's bytes and matches a conversion into padded rows.
bool VideoDecoder::Source::CheckDirect(const AVFrame *f)
{
    const int w = f->width, h = f->height;
    const size_t tight = size_t(w) * 3, pitch = PaddedPitch(w);
    const size_t bytes = tight * size_t(h);
    std::vector<uint8_t> &padded = scratch;
    padded.resize(pitch * size_t(h) + kScratchTail);
    {
        uint8_t *dst[4] = {padded.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {int(pitch), 0, 0, 0};
        if (sws_scale(sws, f->data, f->linesize, 0, h, dst, dstStride) != h)
            return false;
    }
    std::vector<uint8_t> packed(bytes + kScratchTail);
    for (uint8_t fill : {uint8_t(0x5A), uint8_t(0xA5)}) {
        std::memset(packed.data(), fill, packed.size());
        uint8_t *dst[4] = {packed.data(), nullptr, nullptr, nullptr};
        int dstStride[4] = {int(tight), 0, 0, 0};
        if (sws_scale(sws, f->data, f->linesize, 0, h, dst, dstStride) != h)
            return false;
        for (size_t i = bytes; i < packed.size(); ++i)
            if (packed[i] != fill)
                return false;
        for (int y = 0; y < h; ++y)
            if (std::memcmp(packed.data() + size_t(y) * tight, padded.data() + size_t(y) * pitch,
                            tight) != 0)
                return false;
    }
    return true;
}

// Converts f into out (BGR24, upright). out is only touched once the frame
// is known to be convertible.
bool VideoDecoder::Source::Emit(const AVFrame *f, std::vector<uint8_t> &out, uint32_t &width,
                                uint32_t &height)
{
    if (!PrepareConverter(f))
        return false;
    const int w = f->width, h = f->height;
    const size_t tight = size_t(w) * 3;
    const size_t bytes = tight * size_t(h);
    int dstStride[4] = {0, 0, 0, 0};
    uint8_t *dst[4] = {nullptr, nullptr, nullptr, nullptr};

    if (rotation == 0 && direct) {
        out.resize(bytes);
        dst[0] = out.data();
        dstStride[0] = int(tight);
        sws_scale(sws, f->data, f->linesize, 0, h, dst, dstStride);
    } else {
        const size_t pitch = PaddedPitch(w);
        dst[0] = scratch.data();
        dstStride[0] = int(pitch);
        if (sws_scale(sws, f->data, f->linesize, 0, h, dst, dstStride) != h)
            return false;
        out.resize(bytes);
        switch (rotation) {
        case 90:
            RotateQuarter(scratch.data(), pitch, w, h, false, out.data());
            break;
        case 180:
            Rotate180(scratch.data(), pitch, w, h, out.data());
            break;
        case 270:
            RotateQuarter(scratch.data(), pitch, w, h, true, out.data());
            break;
        default:
            for (int y = 0; y < h; ++y)
                std::memcpy(out.data() + size_t(y) * tight, scratch.data() + size_t(y) * pitch,
                            tight);
        }
    }
    const bool swap = rotation == 90 || rotation == 270;
    width = uint32_t(swap ? h : w);
    height = uint32_t(swap ? w : h);
    return true;
}

// Seeks the demuxer back to a key frame at or before seekTicks (or to the
// first byte) and decodes forward to the last frame at or before target,
// which is queued with the frame after it. Overshot: the first frame decoded
// already lies past the target (the demuxer's index holds decoding times, and
// reordered streams show their key frames later), so the caller should seek
// further back. From the start, the first frame is taken whatever its stamp.
VideoDecoder::Source::Landing VideoDecoder::Source::Land(int64_t seekTicks, bool fromStart,
                                                          bool byBytes, int64_t target)
{
    ResetDecoding();
    const int r = byBytes ? av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE)
                          : av_seek_frame(format, streamIndex, seekTicks, AVSEEK_FLAG_BACKWARD);
    if (r < 0)
        return Landing::Failed;
    nextTicks = fromStart ? startTicks : AV_NOPTS_VALUE;
    firstAfterSeek = AV_NOPTS_VALUE;

    bool landed = false;
    int64_t landedEnd = 0; // end of the landing frame; 0 when its duration is unknown
    while (DecodeNext(work)) {
        if (interrupt && *interrupt && (*interrupt)())
            return Landing::Interrupted;
        const int64_t ts = work->best_effort_timestamp;
        if (firstAfterSeek == AV_NOPTS_VALUE)
            firstAfterSeek = ts;
        if (ts <= target) {
            if (queued)
                PopFrame();
            PushFrame(work);
            landed = true;
            landedEnd = lastStep > 0 ? ts + lastStep : 0;
            continue;
        }
        if (!landed && !fromStart)
            return Landing::Overshot;
        // The frame after the landing frame, or the first frame when the
        // target precedes it.
        PushFrame(work);
        return Landing::Done;
    }
    if (!landed)
        return fromStart ? Landing::Failed : Landing::Overshot;
    // The stream ended after the landing frame: a target beyond that frame's
    // end is past the end of the file.
    if (landedEnd > 0 && target >= landedEnd) {
        ClearQueue();
        atEnd = true;
    }
    return Landing::Done;
}

// Lands on the last frame at or before seekTarget (see Land); sets atEnd when
// the target lies past the last frame or nothing can be decoded. False when
// interrupted: the seek stays pending.
bool VideoDecoder::Source::PerformSeek()
{
    seekPending = false;
    auto interrupted = [this](Landing l) {
        if (l == Landing::Interrupted)
            seekPending = true;
        return l == Landing::Interrupted;
    };
    const double tb = av_q2d(timeBase);
    // Ticks of the target, rounded down: the frame at or before it.
    const int64_t target = startTicks + int64_t(std::floor(seekTarget / tb + 1e-6));
    const int64_t second = std::max<int64_t>(1, std::llround(1.0 / tb));

    // Without time stamps the demuxer cannot seek by time: start over and
    // count frames. Otherwise, when a seek lands past the target, go back one
    // second more, two, four, ... and finally to the start.
    int64_t back = 0;
    for (int attempt = 0;; ++attempt, back = back ? back * 2 : second) {
        const int64_t seekTicks = timestamps ? target - back : startTicks;
        if (seekTicks > startTicks && attempt < 6) {
            const Landing l = Land(seekTicks, false, false, target);
            if (l == Landing::Done)
                return true;
            if (interrupted(l))
                return false;
            continue;
        }
        // From the start. A time seek there can land a little late (MPEG-TS
        // searches by time stamps in the data); the first byte cannot.
        Landing landing = Land(startTicks, true, false, target);
        if (interrupted(landing))
            return false;
        const bool late = landing != Landing::Done ||
                          (timestamps && firstAfterSeek != AV_NOPTS_VALUE && firstAfterSeek > firstTicks);
        if (late && !(format->iformat->flags & AVFMT_NO_BYTE_SEEK)) {
            const Landing l = Land(startTicks, true, true, target);
            if (l == Landing::Done)
                return true;
            if (interrupted(l))
                return false;
            landing = Land(startTicks, true, false, target);
            if (interrupted(landing))
                return false;
        }
        if (landing != Landing::Done) {
            ClearQueue();
            atEnd = true;
        }
        return true;
    }
}

VideoDecoder::VideoDecoder() = default;

VideoDecoder::~VideoDecoder()
{
    Close();
}

void VideoDecoder::Close()
{
    delete source;
    source = nullptr;
    width = height = 0;
    stride = 0;
    duration = position = 0.0;
}

bool VideoDecoder::Open(const std::filesystem::path &path)
{
    // FFmpeg prints its own diagnostics to stderr ("moov atom not found"
    // for every bad file); Vidloom reports failures as results instead.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    Close();
    auto *s = new Source;
    auto fail = [&] {
        delete s;
        return false;
    };

    s->fd = regular_file::Open(path);
    if (s->fd < 0)
        return fail();
    constexpr int kIoBuffer = 64 * 1024;
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBuffer));
    if (!buffer)
        return fail();
    s->io = avio_alloc_context(buffer, kIoBuffer, 0, &s->fd, ReadFd, nullptr, SeekFd);
    if (!s->io) {
        av_free(buffer);
        return fail();
    }

    s->format = avformat_alloc_context();
    if (!s->format)
        return fail();
    s->format->pb = s->io;
    s->format->io_open = DenyIoOpen;
    // The name only guides format probing by extension; nothing opens it.
    const std::string url = "file:" + path.string();
    AVDictionary *options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    av_dict_set(&options, "format_whitelist", kDemuxers, 0);
    int r = avformat_open_input(&s->format, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0) // the context is freed on failure
        return fail();
    // Probing decodes a few frames: the same size limit applies there, and a
    // size the container already states is checked before any decoding.
    std::vector<AVDictionary *> probeOptions(s->format->nb_streams, nullptr);
    bool oversized = false;
    for (unsigned i = 0; i < s->format->nb_streams; ++i) {
        const AVCodecParameters *par = s->format->streams[i]->codecpar;
        oversized |= par->codec_type == AVMEDIA_TYPE_VIDEO && (par->width > 0 || par->height > 0) &&
                     !ValidFrameSize(par->width, par->height);
        av_dict_set_int(&probeOptions[i], "max_pixels", int64_t(kMaxWidth) * kMaxHeight, 0);
    }
    r = oversized ? -1 : avformat_find_stream_info(s->format, probeOptions.data());
    for (AVDictionary *&o : probeOptions)
        av_dict_free(&o);
    if (r < 0)
        return fail();

    // The first video stream that can be decoded; cover art is not video.
    const AVCodec *decoder = nullptr;
    for (unsigned i = 0; i < s->format->nb_streams; ++i) {
        AVStream *st = s->format->streams[i];
        if (s->streamIndex < 0 && st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            decoder = avcodec_find_decoder(st->codecpar->codec_id);
            if (decoder) {
                s->streamIndex = int(i);
                s->stream = st;
                continue;
            }
        }
        st->discard = AVDISCARD_ALL;
    }
    if (!s->stream)
        return fail();
    AVStream *st = s->stream;
    if (!ValidFrameSize(st->codecpar->width, st->codecpar->height))
        return fail();

    s->codec = avcodec_alloc_context3(decoder);
    if (!s->codec || avcodec_parameters_to_context(s->codec, st->codecpar) < 0)
        return fail();
    s->codec->pkt_timebase = st->time_base;
    // Refused inside the decoder before any frame buffer is allocated.
    s->codec->max_pixels = int64_t(kMaxWidth) * kMaxHeight;
    // Frame and slice threads, one per core up to kMaxThreads: 1.5 to 1.8
    // times the single-thread rate for H.264 on two cores.
    s->codec->thread_count = std::clamp(int(std::thread::hardware_concurrency()) + 1, 1, kMaxThreads);
    s->codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    if (avcodec_open2(s->codec, decoder, nullptr) < 0)
        return fail();

    s->packet = av_packet_alloc();
    s->work = av_frame_alloc();
    s->queue[0] = av_frame_alloc();
    s->queue[1] = av_frame_alloc();
    s->shown = av_frame_alloc();
    if (!s->packet || !s->work || !s->queue[0] || !s->queue[1] || !s->shown)
        return fail();

    s->timeBase = st->time_base;
    if (s->timeBase.num <= 0 || s->timeBase.den <= 0)
        return fail();
    s->startTicks = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    AVRational rate = st->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = st->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        s->fallbackDuration = av_rescale_q(1, av_inv_q(rate), s->timeBase);
    s->rotation = RotationOf(st);

    // Duration: the stream's own, else the container's unless that is only
    // a guess from the bit rate.
    double seconds = 0.0;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        seconds = double(st->duration) * av_q2d(s->timeBase);
    else if (s->format->duration != AV_NOPTS_VALUE && s->format->duration > 0 &&
             s->format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
        seconds = double(s->format->duration) / AV_TIME_BASE;
    if (!std::isfinite(seconds) || seconds < 0.0)
        seconds = 0.0;

    if (!s->Prime() || !s->PrepareConverter(s->queue[0]))
        return fail();
    s->firstTicks = s->queue[0]->best_effort_timestamp;
    if (s->timestamps && s->firstTicks > s->startTicks)
        s->startTicks = s->firstTicks;

    source = s;
    const AVFrame *first = s->queue[0];
    const bool swap = s->rotation == 90 || s->rotation == 270;
    width = uint32_t(swap ? first->height : first->width);
    height = uint32_t(swap ? first->width : first->height);
    stride = int32_t(width * 3);
    duration = seconds;
    position = 0.0;
    return true;
}

// The next frame to hand out, after a pending seek; null at the end, or
// with `interrupted` set when the owner broke off the seek (it stays
// pending). Give the frame back with Release.
AVFrame *VideoDecoder::Source::Take(bool &interrupted)
{
    if (seekPending && !PerformSeek()) {
        interrupted = true;
        return nullptr;
    }
    if (atEnd)
        return nullptr;
    if (queued)
        return queue[0];
    if (!DecodeNext(work)) {
        atEnd = true;
        return nullptr;
    }
    return work;
}

void VideoDecoder::Source::Release(AVFrame *f)
{
    if (f == work)
        av_frame_unref(work);
    else
        PopFrame();
}

bool VideoDecoder::ReadFrame(std::vector<uint8_t> &out)
{
    FrameView view;
    if (!ReadFrame(view, false))
        return false;
    // The picture is in the decoder's own buffer; trade buffers instead of
    // copying (the caller's old one is reused for the next frame).
    out.swap(source->bgr);
    return true;
}

bool VideoDecoder::ReadFrame(FrameView &view, bool yuv)
{
    if (!source)
        return false;
    Source &s = *source;
    interrupted = false;
    s.interrupt = &interrupt;
    AVFrame *frame = s.Take(interrupted);
    if (!frame)
        return false;
    const int64_t ts = frame->best_effort_timestamp;
    uint32_t w = 0, h = 0;
    bool ok = true;
    av_frame_unref(s.shown);
    if (yuv && PassesAsYuv(frame)) {
        // Handed out as it is: the planes stay alive in `shown` until the
        // next read.
        av_frame_move_ref(s.shown, frame);
        const AVFrame *f = s.shown;
        const bool quarter = s.rotation == 90 || s.rotation == 270;
        w = uint32_t(quarter ? f->height : f->width);
        h = uint32_t(quarter ? f->width : f->height);
        view = FrameView{};
        view.format = FrameView::Format::Yuv420;
        view.rotation = s.rotation;
        for (int i = 0; i < 3; ++i) {
            view.plane[i] = f->data[i];
            view.stride[i] = f->linesize[i];
        }
    } else {
        ok = s.Emit(frame, s.bgr, w, h);
        if (ok)
            view = FrameView::Bgr(s.bgr.data(), int(w), int(h));
    }
    s.Release(frame);
    if (!ok)
        return false;
    view.width = int(w);
    view.height = int(h);
    width = w;
    height = h;
    stride = int32_t(w * 3);
    position = s.Seconds(ts);
    return true;
}

void VideoDecoder::SeekToStart()
{
    SeekTo(0.0);
}

void VideoDecoder::SeekTo(double seconds)
{
    if (!source)
        return;
    if (!(seconds > 0.0)) // negative and NaN: the start
        seconds = 0.0;
    // Far beyond any real file: keep the tick arithmetic in range.
    seconds = std::min(seconds, 1e9);
    source->seekTarget = seconds;
    source->seekPending = true;
    source->atEnd = false;
    position = seconds;
}
