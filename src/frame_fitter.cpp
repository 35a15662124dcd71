#include "frame_fitter.h"

#include "yuyv_pack.h"

#include <algorithm>
#include <cstring>

FitRect ComputeFitRect(int srcW, int srcH, int camW, int camH, bool stretch)
{
    if (stretch || srcW <= 0 || srcH <= 0 || camW <= 0 || camH <= 0)
        return {0, 0, camW, camH};
    // The same aspect, exactly: single precision would make some of these
    // (500x240 on itself) a column narrower.
    if (int64_t{srcW} * camH == int64_t{camW} * srcH)
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

FitRect ComputeCropWindow(int srcW, int srcH, int camW, int camH)
{
    if (srcW <= 0 || srcH <= 0 || camW <= 0 || camH <= 0)
        return {0, 0, std::max(srcW, 0), std::max(srcH, 0)};
    FitRect w{0, 0, srcW, srcH};
    if (int64_t{srcW} * camH > int64_t{camW} * srcH) {
        w.width = std::max(1, static_cast<int>(int64_t{srcH} * camW / camH));
        w.x = (srcW - w.width) / 2;
    } else {
        w.height = std::max(1, static_cast<int>(int64_t{srcW} * camH / camW));
        w.y = (srcH - w.height) / 2;
    }
    return w;
}

void FrameFitter::rebuild(const Layout &l)
{
    layout = l;
    built = true;
    columnOffsets.clear();
    rowOffsets.clear();
    chromaColumns.clear();
    chromaRows.clear();
    plainRun = false;

    FitRect window{0, 0, l.srcW, l.srcH};
    if (l.mode == FitMode::Crop) {
        rect = {0, 0, l.camW, l.camH};
        window = ComputeCropWindow(l.srcW, l.srcH, l.camW, l.camH);
    } else {
        rect = ComputeFitRect(l.srcW, l.srcH, l.camW, l.camH, l.mode == FitMode::Stretch);
    }
    if (rect.width <= 0 || rect.height <= 0)
        return;
    // Mirroring is folded into the column table: output column c (counted
    // from the rect's left edge) shows what the unmirrored frame has at
    // rect column width-1-c, and the mirrored rect sits at camW-x-width.
    if (l.mirror)
        rect.x = l.camW - rect.x - rect.width;

    // Upright source coordinates per rect column and row.
    std::vector<int> xs(static_cast<size_t>(rect.width)), ys(static_cast<size_t>(rect.height));
    for (int c = 0; c < rect.width; ++c) {
        const int unmirrored = l.mirror ? rect.width - 1 - c : c;
        xs[size_t(c)] = window.x + static_cast<int>(int64_t{unmirrored} * window.width / rect.width);
    }
    for (int r = 0; r < rect.height; ++r)
        ys[size_t(r)] = window.y + static_cast<int>(int64_t{r} * window.height / rect.height);

    columnOffsets.resize(xs.size());
    rowOffsets.resize(ys.size());
    if (l.format == FrameView::Format::Bgr24) {
        for (size_t c = 0; c < xs.size(); ++c)
            columnOffsets[c] = ptrdiff_t{xs[c]} * 3;
        for (size_t r = 0; r < ys.size(); ++r)
            rowOffsets[r] = ptrdiff_t{ys[r]} * l.stride[0];
        return;
    }

    // 4:2:0 planes stored turned: an upright column maps to a stored column
    // (0, 180) or a stored row (90, 270), and an upright row to the other.
    chromaColumns.resize(xs.size());
    chromaRows.resize(ys.size());
    const bool quarter = l.rotation % 180 != 0;
    const int storedW = quarter ? l.srcH : l.srcW, storedH = quarter ? l.srcW : l.srcH;
    const ptrdiff_t lumaStride = l.stride[0], chromaStride = l.stride[1];
    auto storedColumn = [&](ptrdiff_t sx, ptrdiff_t &luma, ptrdiff_t &chroma) {
        luma = sx;
        chroma = sx / 2;
    };
    auto storedRow = [&](ptrdiff_t sy, ptrdiff_t &luma, ptrdiff_t &chroma) {
        luma = sy * lumaStride;
        chroma = sy / 2 * chromaStride;
    };
    for (size_t c = 0; c < xs.size(); ++c) {
        const int x = xs[c];
        switch (l.rotation) {
        case 90:
            storedRow(x, columnOffsets[c], chromaColumns[c]);
            break;
        case 180:
            storedColumn(storedW - 1 - x, columnOffsets[c], chromaColumns[c]);
            break;
        case 270:
            storedRow(storedH - 1 - x, columnOffsets[c], chromaColumns[c]);
            break;
        default:
            storedColumn(x, columnOffsets[c], chromaColumns[c]);
        }
    }
    for (size_t r = 0; r < ys.size(); ++r) {
        const int y = ys[r];
        switch (l.rotation) {
        case 90:
            storedColumn(storedW - 1 - y, rowOffsets[r], chromaRows[r]);
            break;
        case 180:
            storedRow(storedH - 1 - y, rowOffsets[r], chromaRows[r]);
            break;
        case 270:
            storedColumn(y, rowOffsets[r], chromaRows[r]);
            break;
        default:
            storedRow(y, rowOffsets[r], chromaRows[r]);
        }
    }
    // One run of whole chroma pairs, read forwards or backwards: the packer
    // can take the rows as they are.
    plainRun = l.rotation == 0 && window.width == rect.width && rect.x % 2 == 0 && rect.width % 2 == 0
        && window.x % 2 == 0;
}

namespace {

// Copies one rect row through the column table. Pixels are moved as 4-byte
// words whose stray fourth byte is overwritten by the next pixel; the last
// pixel, and every pixel of the source's last row (where a 4-byte read
// could run past the buffer), go byte by byte.
inline void sampleRow(const uint8_t *srcRow, const ptrdiff_t *cols, int count, uint8_t *dst, bool lastSourceRow)
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

// Black in YUYV, limited range; four pairs a store.
void fillBlack(uint8_t *dst, size_t pairs)
{
    static constexpr uint8_t kBlack[16] = {16, 128, 16, 128, 16, 128, 16, 128, 16, 128, 16, 128, 16, 128, 16, 128};
    size_t i = 0;
    for (; i + 4 <= pairs; i += 4)
        std::memcpy(dst + i * 4, kBlack, 16);
    for (; i < pairs; ++i)
        std::memcpy(dst + i * 4, kBlack, 4);
}

} // namespace

void FrameFitter::Render(const FrameView &src, int cw, int ch, FitMode mode, bool mi, std::vector<uint8_t> &out)
{
    const Layout wanted{src.width, src.height, cw, ch, mode, mi, FrameView::Format::Bgr24, 0, {src.stride[0], 0, 0}};
    if (!built || !(wanted == layout))
        rebuild(wanted);

    const size_t rowBytes = static_cast<size_t>(cw) * 3;
    out.resize(rowBytes * static_cast<size_t>(ch));
    uint8_t *dst = out.data();
    if (columnOffsets.empty()) {
        std::memset(dst, 0, out.size());
        return;
    }

    const size_t leftBytes = static_cast<size_t>(rect.x) * 3;
    const size_t rectBytes = static_cast<size_t>(rect.width) * 3;
    const size_t rightBytes = rowBytes - leftBytes - rectBytes;
    const ptrdiff_t lastRow = ptrdiff_t{src.height - 1} * src.stride[0];

    // Bars above and below.
    std::memset(dst, 0, rowBytes * static_cast<size_t>(rect.y));
    const int bottom = rect.y + rect.height;
    std::memset(dst + rowBytes * static_cast<size_t>(bottom), 0, rowBytes * static_cast<size_t>(ch - bottom));

    for (int r = 0; r < rect.height; ++r) {
        uint8_t *row = dst + rowBytes * static_cast<size_t>(rect.y + r);
        const ptrdiff_t sy = rowOffsets[size_t(r)];
        if (r > 0 && sy == rowOffsets[size_t(r) - 1]) {
            // Upscaling repeats source rows: the previous output row is
            // already the right bytes, bars included.
            std::memcpy(row, row - rowBytes, rowBytes);
            continue;
        }
        std::memset(row, 0, leftBytes);
        sampleRow(src.plane[0] + sy, columnOffsets.data(), rect.width, row + leftBytes, sy == lastRow);
        std::memset(row + leftBytes + rectBytes, 0, rightBytes);
    }
}

void FrameFitter::RenderYuyv(const FrameView &src, int cw, int ch, FitMode mode, bool mi, std::vector<uint8_t> &out)
{
    const Layout wanted{src.width,
                        src.height,
                        cw,
                        ch,
                        mode,
                        mi,
                        FrameView::Format::Yuv420,
                        src.rotation,
                        {src.stride[0], src.stride[1], src.stride[2]}};
    if (!built || !(wanted == layout))
        rebuild(wanted);

    const size_t rowBytes = static_cast<size_t>(cw) * 2;
    out.resize(rowBytes * static_cast<size_t>(ch));
    uint8_t *dst = out.data();
    if (columnOffsets.empty()) {
        fillBlack(dst, out.size() / 4);
        return;
    }
    fillBlack(dst, rowBytes / 4 * static_cast<size_t>(rect.y));
    const int bottom = rect.y + rect.height;
    fillBlack(dst + rowBytes * static_cast<size_t>(bottom), rowBytes / 4 * static_cast<size_t>(ch - bottom));

    // Output pixel pairs by kind: black, one picture pixel beside a bar
    // (only when the picture starts or ends on an odd column), whole
    // picture pairs.
    const int left = rect.x, right = rect.x + rect.width;
    const int blackLeft = left / 2, blackRight = (right + 1) / 2;
    const int fullBegin = (left + 1) / 2, fullEnd = std::max(fullBegin, right / 2);
    const ptrdiff_t *cols = columnOffsets.data(), *chromaCols = chromaColumns.data();
    const yuyv_pack::RowFn pack = yuyv_pack::Row(mi), forward = yuyv_pack::Row(false);
    if (!plainRun && fullEnd > fullBegin) {
        rowY.resize(size_t(fullEnd - fullBegin) * 2);
        rowU.resize(size_t(fullEnd - fullBegin));
        rowV.resize(size_t(fullEnd - fullBegin));
    }
    ptrdiff_t gatheredChroma = -1;

    for (int r = 0; r < rect.height; ++r) {
        uint8_t *row = dst + rowBytes * static_cast<size_t>(rect.y + r);
        if (r > 0 && rowOffsets[size_t(r)] == rowOffsets[size_t(r) - 1]
            && chromaRows[size_t(r)] == chromaRows[size_t(r) - 1]) {
            std::memcpy(row, row - rowBytes, rowBytes);
            continue;
        }
        const uint8_t *y = src.plane[0] + rowOffsets[size_t(r)];
        const uint8_t *u = src.plane[1] + chromaRows[size_t(r)];
        const uint8_t *v = src.plane[2] + chromaRows[size_t(r)];
        auto pixel = [&](int k, int &py, int &pu, int &pv) {
            const int c = k - left;
            if (c < 0 || c >= rect.width) {
                py = 16;
                pu = pv = 128;
                return;
            }
            py = yuyv_pack::Luma(y[cols[c]]);
            pu = yuyv_pack::Chroma(u[chromaCols[c]]);
            pv = yuyv_pack::Chroma(v[chromaCols[c]]);
        };
        auto mixedPair = [&](int p) {
            int y0, u0, v0, y1, u1, v1;
            pixel(2 * p, y0, u0, v0);
            pixel(2 * p + 1, y1, u1, v1);
            uint8_t *d = row + size_t(p) * 4;
            d[0] = uint8_t(y0);
            d[1] = uint8_t((u0 + u1 + 1) >> 1);
            d[2] = uint8_t(y1);
            d[3] = uint8_t((v0 + v1 + 1) >> 1);
        };
        fillBlack(row, size_t(blackLeft));
        for (int p = blackLeft; p < fullBegin; ++p)
            mixedPair(p);
        uint8_t *d = row + size_t(fullBegin) * 4;
        if (plainRun) {
            // The table's first entry is the run's start (its end when mirrored).
            const int c0 = 2 * fullBegin - left;
            pack(y + cols[c0], u + chromaCols[c0], v + chromaCols[c0], fullEnd - fullBegin, d);
        } else if (fullEnd > fullBegin) {
            // Gather the row's samples (chroma only when its source row
            // changed: 4:2:0 rows come in pairs), then pack them at vector
            // speed.
            // Through local pointers: stores to the rows could otherwise
            // alias the vectors' own pointers and force a reload per byte.
            const int c0 = 2 * fullBegin - left, n = fullEnd - fullBegin;
            uint8_t *gy = rowY.data(), *gu = rowU.data(), *gv = rowV.data();
            const ptrdiff_t *lumaAt = cols + c0, *chromaAt = chromaCols + c0;
            for (int i = 0; i < 2 * n; ++i)
                gy[i] = y[lumaAt[i]];
            if (chromaRows[size_t(r)] != gatheredChroma) {
                gatheredChroma = chromaRows[size_t(r)];
                for (int k = 0; k < n; ++k) {
                    const ptrdiff_t a = chromaAt[2 * k], b = chromaAt[2 * k + 1];
                    gu[k] = uint8_t((u[a] + u[b] + 1) >> 1);
                    gv[k] = uint8_t((v[a] + v[b] + 1) >> 1);
                }
            }
            forward(gy, gu, gv, n, d);
        }
        for (int p = fullEnd; p < blackRight; ++p)
            mixedPair(p);
        fillBlack(row + size_t(blackRight) * 4, size_t(cw / 2 - blackRight));
    }
}
