#include "yuyv_pack.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VIDLOOM_X86 1
#endif

namespace yuyv_pack {

namespace {

void forwardPlain(const uint8_t *y, const uint8_t *u, const uint8_t *v, int pairs, uint8_t *out)
{
    for (int p = 0; p < pairs; ++p, out += 4) {
        out[0] = Luma(y[2 * p]);
        out[1] = Chroma(u[p]);
        out[2] = Luma(y[2 * p + 1]);
        out[3] = Chroma(v[p]);
    }
}

void backwardPlain(const uint8_t *y, const uint8_t *u, const uint8_t *v, int pairs, uint8_t *out)
{
    for (int p = 0; p < pairs; ++p, out += 4) {
        out[0] = Luma(y[-2 * p]);
        out[1] = Chroma(u[-p]);
        out[2] = Luma(y[-2 * p - 1]);
        out[3] = Chroma(v[-p]);
    }
}

#ifdef VIDLOOM_X86
// 16 pairs: 32 luma bytes in two registers, 16 of each chroma.
inline void store16Pairs(__m128i y0, __m128i y1, __m128i u, __m128i v, uint8_t *out)
{
    const __m128i low = _mm_set1_epi8(16), lumaHigh = _mm_set1_epi8(char(235)), chromaHigh = _mm_set1_epi8(char(240));
    y0 = _mm_min_epu8(_mm_max_epu8(y0, low), lumaHigh);
    y1 = _mm_min_epu8(_mm_max_epu8(y1, low), lumaHigh);
    u = _mm_min_epu8(_mm_max_epu8(u, low), chromaHigh);
    v = _mm_min_epu8(_mm_max_epu8(v, low), chromaHigh);
    const __m128i uvLow = _mm_unpacklo_epi8(u, v), uvHigh = _mm_unpackhi_epi8(u, v);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi8(y0, uvLow));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), _mm_unpackhi_epi8(y0, uvLow));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 32), _mm_unpacklo_epi8(y1, uvHigh));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 48), _mm_unpackhi_epi8(y1, uvHigh));
}

inline __m128i load(const uint8_t *p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
}

void forwardSse2(const uint8_t *y, const uint8_t *u, const uint8_t *v, int pairs, uint8_t *out)
{
    int p = 0;
    for (; p + 16 <= pairs; p += 16, out += 64)
        store16Pairs(load(y + 2 * p), load(y + 2 * p + 16), load(u + p), load(v + p), out);
    forwardPlain(y + 2 * p, u + p, v + p, pairs - p, out);
}

__attribute__((target("ssse3"))) void backwardSsse3(const uint8_t *y, const uint8_t *u, const uint8_t *v, int pairs,
                                                    uint8_t *out)
{
    const __m128i reverse = _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
    int p = 0;
    for (; p + 16 <= pairs; p += 16, out += 64) {
        const uint8_t *ys = y - 2 * p, *us = u - p, *vs = v - p;
        store16Pairs(_mm_shuffle_epi8(load(ys - 15), reverse), _mm_shuffle_epi8(load(ys - 31), reverse),
                     _mm_shuffle_epi8(load(us - 15), reverse), _mm_shuffle_epi8(load(vs - 15), reverse), out);
    }
    backwardPlain(y - 2 * p, u - p, v - p, pairs - p, out);
}
#endif

} // namespace

Level Best()
{
#ifdef VIDLOOM_X86
    static const Level best = __builtin_cpu_supports("ssse3") ? Level::Ssse3 : Level::Sse2;
    return best;
#else
    return Level::Plain;
#endif
}

RowFn Row(bool backward, Level level)
{
    if (level > Best())
        level = Best();
#ifdef VIDLOOM_X86
    if (backward)
        return level >= Level::Ssse3 ? backwardSsse3 : backwardPlain;
    return level >= Level::Sse2 ? forwardSse2 : forwardPlain;
#else
    (void)level;
    return backward ? backwardPlain : forwardPlain;
#endif
}

} // namespace yuyv_pack
