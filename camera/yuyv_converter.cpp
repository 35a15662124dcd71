#include "yuyv_converter.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define VIDLOOM_X86 1
#endif

namespace {

// swscale's BT.601 coefficients in 1/32768, and its offsets: 16 (luma) or
// 128 (chroma) plus 1/128 of a code.
constexpr int coefficient(double c, int range)
{
    return int(c * range / 255 * (1 << 15) + 0.5);
}
constexpr int kRY = coefficient(0.299, 219), kGY = coefficient(0.587, 219), kBY = coefficient(0.114, 219);
constexpr int kRU = -coefficient(0.169, 224), kGU = -coefficient(0.331, 224), kBU = coefficient(0.5, 224);
constexpr int kRV = kBU, kGV = -coefficient(0.419, 224), kBV = -coefficient(0.081, 224);
constexpr int kLumaBias = (32 << 14) + (1 << 8), kChromaBias = (256 << 14) + (1 << 8);

// Luma in one step; chroma as swscale does it: each pixel's value in 1/64
// of a code, truncated, then the pair's mean. Neither needs clamping: the
// coefficients keep luma in 16..235 and chroma in 16..240.
void rowPlain(const uint8_t *bgr, int pairs, bool rounded, uint8_t *out)
{
    const int lumaRound = rounded ? 1 << 14 : 0, chromaRound = rounded ? 64 : 0;
    for (int p = 0; p < pairs; ++p, bgr += 6, out += 4) {
        int u = 0, v = 0;
        for (int k = 0; k < 2; ++k) {
            const int b = bgr[3 * k], g = bgr[3 * k + 1], r = bgr[3 * k + 2];
            out[2 * k] = uint8_t((kRY * r + kGY * g + kBY * b + kLumaBias + lumaRound) >> 15);
            u += (kRU * r + kGU * g + kBU * b + kChromaBias) >> 9;
            v += (kRV * r + kGV * g + kBV * b + kChromaBias) >> 9;
        }
        out[1] = uint8_t((u + chromaRound) >> 7);
        out[3] = uint8_t((v + chromaRound) >> 7);
    }
}

#ifdef VIDLOOM_X86
// Coefficient pairs for _mm_madd_epi16 over (b, g) words and (r, 0) words.
inline __m128i pair(int low, int high)
{
    return _mm_set1_epi32(int(uint32_t(uint16_t(high)) << 16 | uint16_t(low)));
}

// The eight pair means of 16 pixels' chroma, as words.
__attribute__((target("ssse3"))) inline __m128i pairMeans(const __m128i *s, __m128i round)
{
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_hadd_epi32(s[0], s[1]), round), 7),
                           _mm_srai_epi32(_mm_add_epi32(_mm_hadd_epi32(s[2], s[3]), round), 7));
}

// 8 pixel pairs (48 bytes in, 32 out) per step, the same arithmetic as rowPlain.
__attribute__((target("ssse3"))) void rowSsse3(const uint8_t *bgr, int pairs, bool rounded, uint8_t *out)
{
    const __m128i takeBg = _mm_setr_epi8(0, -1, 1, -1, 3, -1, 4, -1, 6, -1, 7, -1, 9, -1, 10, -1);
    const __m128i takeR = _mm_setr_epi8(2, -1, -1, -1, 5, -1, -1, -1, 8, -1, -1, -1, 11, -1, -1, -1);
    const __m128i yBg = pair(kBY, kGY), yR = pair(kRY, 0), uBg = pair(kBU, kGU), uR = pair(kRU, 0),
                  vBg = pair(kBV, kGV), vR = pair(kRV, 0);
    const __m128i lumaBias = _mm_set1_epi32(kLumaBias + (rounded ? 1 << 14 : 0)),
                  chromaBias = _mm_set1_epi32(kChromaBias), chromaRound = _mm_set1_epi32(rounded ? 64 : 0);
    int p = 0;
    for (; p + 8 <= pairs; p += 8, bgr += 48, out += 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bgr));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bgr + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bgr + 32));
        // Four pixels (12 bytes) at the start of each register.
        const __m128i quads[4] = {a, _mm_alignr_epi8(b, a, 12), _mm_alignr_epi8(c, b, 8), _mm_srli_si128(c, 4)};
        __m128i y[4], u[4], v[4];
        for (int i = 0; i < 4; ++i) {
            const __m128i bg = _mm_shuffle_epi8(quads[i], takeBg), r = _mm_shuffle_epi8(quads[i], takeR);
            y[i] = _mm_srai_epi32(
                _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(bg, yBg), _mm_madd_epi16(r, yR)), lumaBias), 15);
            u[i] = _mm_srai_epi32(
                _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(bg, uBg), _mm_madd_epi16(r, uR)), chromaBias), 9);
            v[i] = _mm_srai_epi32(
                _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(bg, vBg), _mm_madd_epi16(r, vR)), chromaBias), 9);
        }
        const __m128i luma = _mm_packus_epi16(_mm_packs_epi32(y[0], y[1]), _mm_packs_epi32(y[2], y[3]));
        const __m128i cb = pairMeans(u, chromaRound), cr = pairMeans(v, chromaRound);
        const __m128i chroma = _mm_packus_epi16(_mm_unpacklo_epi16(cb, cr), _mm_unpackhi_epi16(cb, cr));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi8(luma, chroma));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), _mm_unpackhi_epi8(luma, chroma));
    }
    rowPlain(bgr, pairs - p, rounded, out);
}
#endif

} // namespace

YuyvConverter::Level YuyvConverter::Best()
{
#ifdef VIDLOOM_X86
    static const Level best = __builtin_cpu_supports("ssse3") ? Level::Ssse3 : Level::Plain;
    return best;
#else
    return Level::Plain;
#endif
}

YuyvConverter::YuyvConverter(int width, int height, Level level)
    : width(width)
    , height(height)
    , row(rowPlain)
{
#ifdef VIDLOOM_X86
    if (level >= Level::Ssse3 && Best() >= Level::Ssse3)
        row = rowSsse3;
#else
    (void)level;
#endif
}

void YuyvConverter::Convert(const uint8_t *bgr, uint8_t *yuyv) const
{
    for (int y = 0; y < height; ++y)
        row(bgr + size_t(y) * width * 3, width / 2, y >= height - 2, yuyv + size_t(y) * width * 2);
}
