#include "bgr_conversion.h"

#include "rotation.h"
#include "safe_input.h"
#include "swscale_padding.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace ffmpeg_conversion {

namespace {

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

} // namespace

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
        return ffmpeg_input::ValidFrameSize(f->width, f->height);
    default:
        return false;
    }
}

BgrConverter::~BgrConverter()
{
    sws_freeContext(sws);
}

bool BgrConverter::Prepare(const AVFrame *f)
{
    const AVPixelFormat fmt = static_cast<AVPixelFormat>(f->format);
    if (!ffmpeg_input::ValidFrameSize(f->width, f->height) || fmt == AV_PIX_FMT_NONE)
        return false;
    bool recheck = !sws || f->width != swsW || f->height != swsH || fmt != swsFormat;
    if (recheck) {
        if (!sws_isSupportedInput(fmt))
            return false;
        sws = sws_getCachedContext(sws, f->width, f->height, fmt, f->width, f->height, AV_PIX_FMT_BGR24, SWS_BILINEAR,
                                   nullptr, nullptr, nullptr);
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
        sws_setColorspaceDetails(sws, coefficients, range, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        swsColorspace = colorspace;
        swsRange = range;
        recheck = true; // the coefficients can change the code path
    }
    if (recheck) {
        direct = rotation == 0 && swscale_padding::TightRowsAreSafe(sws, f, scratch);
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

bool BgrConverter::Convert(const AVFrame *f, std::vector<uint8_t> &out, uint32_t &width, uint32_t &height)
{
    if (!Prepare(f))
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
        ffmpeg_rotation::Rotate(scratch.data(), pitch, w, h, rotation, out.data());
    }
    const bool swap = rotation == 90 || rotation == 270;
    width = uint32_t(swap ? h : w);
    height = uint32_t(swap ? w : h);
    return true;
}

} // namespace ffmpeg_conversion
