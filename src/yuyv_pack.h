#pragma once

#include <cstdint>

namespace yuyv_pack {

// Values held to the nominal range (luma 16-235, chroma 16-240), as a trip
// through BGR24 would leave them.
inline uint8_t Luma(int y)
{
    return uint8_t(y < 16 ? 16 : y > 235 ? 235 : y);
}

inline uint8_t Chroma(int c)
{
    return uint8_t(c < 16 ? 16 : c > 240 ? 240 : c);
}

// Interleaves rows of 4:2:0 (or 4:2:2) planes into YUYV 4:2:2, one output
// pair per chroma sample, values held to the nominal range: forwards
// (y[0..2n), u[0..n)) or backwards for a mirrored row (y[0] down to
// y[1-2n], u[0] down to u[1-n]). The fastest version this CPU runs is
// picked once at run time.
using RowFn = void (*)(const uint8_t *y, const uint8_t *u, const uint8_t *v, int pairs, uint8_t *out);

enum class Level { Plain, Sse2, Ssse3 };

Level Best();
// The version for a level (a level above Best() gives Best()'s).
RowFn Row(bool backward, Level level = Best());

} // namespace yuyv_pack
