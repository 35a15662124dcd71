#include "yuyv_converter.h"

extern "C" {
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

YuyvConverter::YuyvConverter(int width, int height)
    : width(width)
    , height(height)
{
    // No scaling happens; the flags only steer the chroma subsampling. Full
    // chroma input with an area filter averages each pixel pair, so colour
    // never bleeds into the neighbouring pair (wider filters smear edges).
    // Slice threads, one per core: the same bytes in about half the time.
    context = sws_alloc_context();
    if (!context)
        return;
    av_opt_set_int(context, "srcw", width, 0);
    av_opt_set_int(context, "srch", height, 0);
    av_opt_set_int(context, "src_format", AV_PIX_FMT_BGR24, 0);
    av_opt_set_int(context, "dstw", width, 0);
    av_opt_set_int(context, "dsth", height, 0);
    av_opt_set_int(context, "dst_format", AV_PIX_FMT_YUYV422, 0);
    av_opt_set_int(context, "sws_flags", SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, 0);
    av_opt_set_int(context, "threads", 0, 0);
    if (sws_init_context(context, nullptr, nullptr) < 0) {
        sws_freeContext(context);
        context = nullptr;
    }
    if (!context)
        return;
    // swscale's defaults vary with the build; say exactly what clients
    // expect from a webcam: BT.601 matrix, 16..235 luma.
    const int *bt601 = sws_getCoefficients(SWS_CS_ITU601);
    if (sws_setColorspaceDetails(context, bt601, 1, bt601, 0, 0, 1 << 16, 1 << 16) < 0) {
        sws_freeContext(context);
        context = nullptr;
    }
}

YuyvConverter::~YuyvConverter()
{
    sws_freeContext(context);
}

void YuyvConverter::Convert(const uint8_t *bgr, uint8_t *yuyv) const
{
    const uint8_t *src[4] = {bgr, nullptr, nullptr, nullptr};
    const int srcStride[4] = {width * 3, 0, 0, 0};
    uint8_t *dst[4] = {yuyv, nullptr, nullptr, nullptr};
    const int dstStride[4] = {width * 2, 0, 0, 0};
    sws_scale(context, src, srcStride, 0, height, dst, dstStride);
}
