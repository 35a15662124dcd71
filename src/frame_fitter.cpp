#include "frame_fitter.h"

#include <cstring>

FitRect ComputeFitRect(int srcW, int srcH, int camW, int camH, bool stretch)
{
    if (stretch || srcW <= 0 || srcH <= 0 || camW <= 0 || camH <= 0)
        return {0, 0, camW, camH};
    const float srcAspect = static_cast<float>(srcW) / static_cast<float>(srcH);
    const float camAspect = static_cast<float>(camW) / static_cast<float>(camH);
    FitRect r;
    if (srcAspect > camAspect) {
        r.width = camW;
        r.height = static_cast<int>(static_cast<float>(camW) / srcAspect);
        r.y = (camH - r.height) / 2;
    } else {
        r.width = static_cast<int>(static_cast<float>(camH) * srcAspect);
        r.height = camH;
        r.x = (camW - r.width) / 2;
    }
    return r;
}

void FrameFitter::rebuild(int sw, int sh, int cw, int ch, bool st, bool mi)
{
    srcW = sw;
    srcH = sh;
    camW = cw;
    camH = ch;
    stretch = st;
    mirror = mi;
    rect = ComputeFitRect(sw, sh, cw, ch, st);
    if (rect.width <= 0 || rect.height <= 0) {
        columnOffsets.clear();
        sourceRows.clear();
        return;
    }
    // Mirroring is folded into the column table: output column c (counted
    // from the rect's left edge) shows what the unmirrored frame has at
    // rect column width-1-c, and the mirrored rect sits at camW-x-width.
    columnOffsets.resize(static_cast<size_t>(rect.width));
    for (int c = 0; c < rect.width; ++c) {
        const int unmirrored = mi ? rect.width - 1 - c : c;
        const int64_t sx = static_cast<int64_t>(unmirrored) * sw / rect.width;
        columnOffsets[static_cast<size_t>(c)] = static_cast<uint32_t>(sx * 3);
    }
    sourceRows.resize(static_cast<size_t>(rect.height));
    for (int r = 0; r < rect.height; ++r)
        sourceRows[static_cast<size_t>(r)] =
            static_cast<int32_t>(static_cast<int64_t>(r) * sh / rect.height);
}

namespace {

// Copies one rect row through the column table. Pixels are moved as 4-byte
// words whose stray fourth byte is overwritten by the next pixel; the last
// pixel, and every pixel of the source's last row (where a 4-byte read
// could run past the buffer), go byte by byte.
inline void sampleRow(const uint8_t *srcRow, const uint32_t *cols, int count, uint8_t *dst,
                      bool lastSourceRow)
{
    int c = 0;
    if (!lastSourceRow) {
        for (; c + 1 < count; ++c) {
            uint32_t px;
            std::memcpy(&px, srcRow + cols[c], 4);
            std::memcpy(dst + c * 3, &px, 4);
        }
    }
    for (; c < count; ++c) {
        const uint8_t *s = srcRow + cols[c];
        uint8_t *d = dst + c * 3;
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
    }
}

} // namespace

void FrameFitter::Render(const uint8_t *src, int sw, int sh, int cw, int ch, bool st, bool mi,
                         std::vector<uint8_t> &out)
{
    if (sw != srcW || sh != srcH || cw != camW || ch != camH || st != stretch || mi != mirror)
        rebuild(sw, sh, cw, ch, st, mi);

    const size_t rowBytes = static_cast<size_t>(cw) * 3;
    out.resize(rowBytes * static_cast<size_t>(ch));
    uint8_t *dst = out.data();
    if (columnOffsets.empty()) {
        std::memset(dst, 0, out.size());
        return;
    }

    const int left = mi ? cw - rect.x - rect.width : rect.x;
    const size_t leftBytes = static_cast<size_t>(left) * 3;
    const size_t rectBytes = static_cast<size_t>(rect.width) * 3;
    const size_t rightBytes = rowBytes - leftBytes - rectBytes;
    const size_t srcRowBytes = static_cast<size_t>(sw) * 3;

    // Bars above and below.
    std::memset(dst, 0, rowBytes * static_cast<size_t>(rect.y));
    const int bottom = rect.y + rect.height;
    std::memset(dst + rowBytes * static_cast<size_t>(bottom), 0,
                rowBytes * static_cast<size_t>(ch - bottom));

    int previousSource = -1;
    for (int r = 0; r < rect.height; ++r) {
        uint8_t *row = dst + rowBytes * static_cast<size_t>(rect.y + r);
        const int sy = sourceRows[static_cast<size_t>(r)];
        if (sy == previousSource) {
            // Upscaling repeats source rows: the previous output row is
            // already the right bytes, bars included.
            std::memcpy(row, row - rowBytes, rowBytes);
            continue;
        }
        previousSource = sy;
        std::memset(row, 0, leftBytes);
        sampleRow(src + srcRowBytes * static_cast<size_t>(sy), columnOffsets.data(), rect.width,
                  row + leftBytes, sy == sh - 1);
        std::memset(row + leftBytes + rectBytes, 0, rightBytes);
    }
}
