#include "yuyv_converter.h"

extern "C" {
#include <libswscale/swscale.h>
}

YuyvConverter::YuyvConverter(int width, int height)
    : width(width)
    , height(height)
{
    // No scaling happens; the flags only steer the chroma subsampling. Full
    // chroma input with an area filter averages each pixel pair, so colour
    // never bleeds into the neighbouring pair (wider filters smear edges).
    context = sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, AV_PIX_FMT_YUYV422,
                             SWS_AREA | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr);
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
