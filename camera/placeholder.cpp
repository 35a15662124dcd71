#include "placeholder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

struct Rgb {
    uint8_t r, g, b;
};

constexpr Rgb kBackground{0x1e, 0x21, 0x27};
constexpr Rgb kText{0xc8, 0xcc, 0xd4};
constexpr char kLine[] = "NO VIDEO PLAYING";

// 5x7 glyphs, one byte a row, high bit on the left (bits 4..0).
const uint8_t *glyph(char c)
{
    static const struct {
        char c;
        uint8_t rows[7];
    } font[] = {
        {'A', {0x0e, 0x11, 0x11, 0x1f, 0x11, 0x11, 0x11}}, {'D', {0x1e, 0x11, 0x11, 0x11, 0x11, 0x11, 0x1e}},
        {'E', {0x1f, 0x10, 0x10, 0x1e, 0x10, 0x10, 0x1f}}, {'G', {0x0e, 0x11, 0x10, 0x17, 0x11, 0x11, 0x0f}},
        {'I', {0x0e, 0x04, 0x04, 0x04, 0x04, 0x04, 0x0e}}, {'L', {0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x1f}},
        {'N', {0x11, 0x19, 0x15, 0x13, 0x11, 0x11, 0x11}}, {'O', {0x0e, 0x11, 0x11, 0x11, 0x11, 0x11, 0x0e}},
        {'P', {0x1e, 0x11, 0x11, 0x1e, 0x10, 0x10, 0x10}}, {'V', {0x11, 0x11, 0x11, 0x11, 0x11, 0x0a, 0x04}},
        {'Y', {0x11, 0x11, 0x0a, 0x04, 0x04, 0x04, 0x04}},
    };
    for (const auto &g : font)
        if (g.c == c)
            return g.rows;
    return nullptr; // a space
}

// The icon's shapes in its 64-unit square (resources/icons/vidloom.svg),
// back to front.
struct Circle {
    double x, y, r;
    Rgb colour;
    bool upperHalf;
};
constexpr Circle kBase{32, 32, 30, {0x75, 0x84, 0xf2}, false};
constexpr Circle kFront[] = {
    {32, 50, 10, {0xd3, 0xd7, 0xe0}, true},   {32, 27, 13, {0xff, 0xff, 0xff}, false},
    {32, 27, 9, {0xdd, 0xe1, 0xea}, false},   {32, 27, 7, {0xb9, 0xbf, 0xcc}, false},
    {32, 27, 4.8, {0x3a, 0x3f, 0x47}, false}, {30.2, 25.2, 1.5, {0xff, 0xff, 0xff}, false},
};
constexpr Rgb kShadow{0x48, 0x55, 0xb7};
// The shadow's outline; its arc runs along the base circle, which clips it.
constexpr double kShadowPath[][2] = {{41.2, 17.8}, {61.4, 38}, {64, 64}, {33.9, 61.9}, {22, 50}, {22.8, 36.2}};

bool inCircle(const Circle &c, double x, double y)
{
    return (x - c.x) * (x - c.x) + (y - c.y) * (y - c.y) <= c.r * c.r && (!c.upperHalf || y <= c.y);
}

bool inShadow(double x, double y)
{
    bool inside = false;
    const int n = int(std::size(kShadowPath));
    for (int i = 0, j = n - 1; i < n; j = i++) {
        const double *a = kShadowPath[i], *b = kShadowPath[j];
        if ((a[1] > y) != (b[1] > y) && x < (b[0] - a[0]) * (y - a[1]) / (b[1] - a[1]) + a[0])
            inside = !inside;
    }
    return inside;
}

// The icon's colour at (x, y) in its own units, or null outside it.
const Rgb *iconAt(double x, double y)
{
    if (!inCircle(kBase, x, y))
        return nullptr;
    const Rgb *colour = &kBase.colour;
    if (inShadow(x, y))
        colour = &kShadow;
    if (x >= 29 && x < 35 && y >= 36 && y < 44)
        colour = &kFront[0].colour;
    for (const Circle &c : kFront)
        if (inCircle(c, x, y))
            colour = &c.colour;
    return colour;
}

void put(std::vector<uint8_t> &bgr, int width, int x, int y, const Rgb &c)
{
    uint8_t *p = &bgr[(size_t(y) * width + x) * 3];
    p[0] = c.b, p[1] = c.g, p[2] = c.r;
}

} // namespace

std::vector<uint8_t> PlaceholderBgr(int width, int height)
{
    std::vector<uint8_t> bgr(size_t(width) * height * 3);
    for (size_t i = 0; i < bgr.size(); i += 3)
        bgr[i] = kBackground.b, bgr[i + 1] = kBackground.g, bgr[i + 2] = kBackground.r;

    // The icon takes 40 % of the shorter side, a little above the middle.
    const int side = std::max(8, std::min(width, height) * 2 / 5);
    const int left = (width - side) / 2, top = height * 2 / 5 - side / 2;
    for (int y = std::max(0, top); y < std::min(height, top + side); ++y)
        for (int x = std::max(0, left); x < std::min(width, left + side); ++x)
            if (const Rgb *c = iconAt((x - left + 0.5) * 64.0 / side, (y - top + 0.5) * 64.0 / side))
                put(bgr, width, x, y, *c);

    // The line below it, as wide as fits: 6 cells a character.
    const int length = int(std::strlen(kLine));
    const int cell = std::max(1, std::min(height / 90, width * 9 / 10 / (length * 6)));
    const int textLeft = (width - (length * 6 - 1) * cell) / 2;
    const int textTop = std::min(height - 7 * cell, top + side + side / 6);
    for (int i = 0; i < length; ++i) {
        const uint8_t *rows = glyph(kLine[i]);
        for (int row = 0; rows && row < 7 * cell; ++row)
            for (int col = 0; col < 5 * cell; ++col)
                if (rows[row / cell] & (0x10 >> (col / cell))) {
                    const int x = textLeft + (i * 6) * cell + col, y = textTop + row;
                    if (x >= 0 && x < width && y >= 0 && y < height)
                        put(bgr, width, x, y, kText);
                }
    }
    return bgr;
}
