#pragma once

#include <cstdint>
#include <vector>

// Repacking 32-bit RGB pictures (blue, green, red and one unused byte per
// pixel) into BGR24 frames. Platform-free, so the row arithmetic is tested
// everywhere although only the Windows backends use it.
namespace rgb32_frame {

// The distance in bytes between two rows of a locked RGB32 buffer of
// `length` bytes holding a width x height picture whose media type claims
// `stride` (sign ignored; rows are never reversed). Some decoders pad rows
// without saying so, so the buffer length has the last word:
// - a buffer too short for the claimed stride is read with 4 x width;
// - an unusual claimed stride, or a buffer that fits it exactly, is trusted;
// - a longer buffer that splits into equal rows of at least 4 x width is
//   read with length / height; otherwise with 4 x width rounded up to 64
//   when the buffer holds that, else with the claimed stride.
// height must not be 0.
uint32_t RowPitch(uint32_t width, uint32_t height, int32_t stride, uint32_t length);

// Writes the width x height picture whose rows start every `pitch` bytes of
// `data` into `out` as a BGR24 frame, dropping the fourth byte. False, with
// `out` untouched, when the last row would reach past `length`.
bool ToBgr24(const uint8_t *data, uint32_t length, uint32_t width, uint32_t height, uint32_t pitch,
             std::vector<uint8_t> &out);

} // namespace rgb32_frame
