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
// Opening (safe_input), conversion to BGR24 (bgr_conversion, with the
// swscale work-around in swscale_padding) and turning sideways videos
// upright (rotation) live beside this file; here is the decoding, the time
// stamps and the seeking.

#include "video_decoder.h"

#include "bgr_conversion.h"
#include "rotation.h"
#include "safe_input.h"

#include <algorithm>
#include <cmath>

namespace {

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
    const AVPacketSideData *sd = av_packet_side_data_get(st->codecpar->coded_side_data,
                                                         st->codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
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

} // namespace

struct VideoDecoder::Source {
    ~Source();

    ffmpeg_input::SafeInput input; // destroyed last: the frames below refer to its decoder
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
    int64_t fallbackDuration = 0;       // ticks per frame from the frame rate, 0 if unknown
    bool timestamps = true;             // false: no frame carries one, they are counted
    int64_t nextTicks = AV_NOPTS_VALUE; // expected time stamp of the next frame
    int64_t lastStep = 0;               // duration of the last frame decoded, ticks (0 unknown)
    bool stampGuessed = false;          // the last frame decoded carried no stamp of its own

    bool inputEnded = false;   // demuxer exhausted, decoder told to drain
    bool decoderEnded = false; // decoder fully drained
    bool atEnd = false;        // ReadFrame returns false until the next seek

    int64_t firstTicks = 0;                  // time stamp of the first frame
    int64_t firstAfterSeek = AV_NOPTS_VALUE; // time stamp of the first frame after the last seek

    bool seekPending = false;
    double seekTarget = 0.0;                          // seconds from the start, >= 0
    const std::function<bool()> *interrupt = nullptr; // the owner's, during ReadFrame

    ffmpeg_conversion::BgrConverter converter; // its rotation turns every frame upright

    AVFrame *shown = nullptr; // the frame a YUV view points into
    std::vector<uint8_t> bgr; // the frame a BGR24 view points into

    bool Prime();
    bool Receive(AVFrame *f);
    bool DecodeNext(AVFrame *f);
    void Stamp(AVFrame *f);
    double Seconds(int64_t ticks) const;
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
    stampGuessed = ts == AV_NOPTS_VALUE || !timestamps;
    if (stampGuessed)
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
        int r = avcodec_receive_frame(input.codec, f);
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
        r = av_read_frame(input.format, packet);
        if (r < 0) {
            // End of file, or a read error: either way, drain what is there.
            inputEnded = true;
            avcodec_send_packet(input.codec, nullptr);
            continue;
        }
        if (packet->stream_index == input.streamIndex) {
            // A damaged packet is skipped; the decoder conceals what it can.
            avcodec_send_packet(input.codec, packet);
        }
        av_packet_unref(packet);
    }
}

void VideoDecoder::Source::ResetDecoding()
{
    avcodec_flush_buffers(input.codec);
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

// Seeks the demuxer back to a key frame at or before seekTicks (or to the
// first byte) and decodes forward to the last frame at or before target,
// which is queued with the frame after it. Overshot: the first frame decoded
// already lies past the target (the demuxer's index holds decoding times, and
// reordered streams show their key frames later), so the caller should seek
// further back. From the start, the first frame is taken whatever its stamp.
VideoDecoder::Source::Landing VideoDecoder::Source::Land(int64_t seekTicks, bool fromStart, bool byBytes,
                                                         int64_t target)
{
    ResetDecoding();
    AVFormatContext *format = input.format;
    const int r = byBytes ? av_seek_frame(format, -1, 0, AVSEEK_FLAG_BYTE)
                          : av_seek_frame(format, input.streamIndex, seekTicks, AVSEEK_FLAG_BACKWARD);
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
        // A first frame without a stamp cannot be placed (AVI with packed
        // B-frames, landing on its last key frame, gives one such frame and
        // nothing after it): look from further back.
        if (!fromStart && !landed && stampGuessed && timestamps)
            return Landing::Overshot;
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
        const bool late = landing != Landing::Done
            || (timestamps && firstAfterSeek != AV_NOPTS_VALUE && firstAfterSeek > firstTicks);
        if (late && !(input.format->iformat->flags & AVFMT_NO_BYTE_SEEK)) {
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
    Close();
    auto *s = new Source;
    auto fail = [&] {
        delete s;
        return false;
    };
    if (!s->input.Open(path))
        return fail();
    AVStream *st = s->input.stream;

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
    s->converter.rotation = ffmpeg_rotation::FromDisplayMatrix(DisplayMatrix(st));

    // Duration: the stream's own, else the container's unless that is only
    // a guess from the bit rate.
    double seconds = 0.0;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        seconds = double(st->duration) * av_q2d(s->timeBase);
    else if (s->input.format->duration != AV_NOPTS_VALUE && s->input.format->duration > 0
             && s->input.format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE)
        seconds = double(s->input.format->duration) / AV_TIME_BASE;
    if (!std::isfinite(seconds) || seconds < 0.0)
        seconds = 0.0;

    if (!s->Prime() || !s->converter.Prepare(s->queue[0]))
        return fail();
    s->firstTicks = s->queue[0]->best_effort_timestamp;
    if (s->timestamps && s->firstTicks > s->startTicks)
        s->startTicks = s->firstTicks;

    source = s;
    const AVFrame *first = s->queue[0];
    const bool swap = s->converter.rotation == 90 || s->converter.rotation == 270;
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
    if (yuv && ffmpeg_conversion::PassesAsYuv(frame)) {
        // Handed out as it is: the planes stay alive in `shown` until the
        // next read.
        av_frame_move_ref(s.shown, frame);
        const AVFrame *f = s.shown;
        const int rotation = s.converter.rotation;
        const bool quarter = rotation == 90 || rotation == 270;
        w = uint32_t(quarter ? f->height : f->width);
        h = uint32_t(quarter ? f->width : f->height);
        view = FrameView{};
        view.format = FrameView::Format::Yuv420;
        view.rotation = rotation;
        for (int i = 0; i < 3; ++i) {
            view.plane[i] = f->data[i];
            view.stride[i] = f->linesize[i];
        }
    } else {
        ok = s.converter.Convert(frame, s.bgr, w, h);
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
