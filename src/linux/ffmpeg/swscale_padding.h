#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

// A work-around for swscale in FFmpeg 5.1: its fast yuv420p/yuv422p -> BGR24
// path writes past the end of a tightly packed buffer for some widths and
// leaves the last width % 8 pixels of each row unconverted when the row
// stride is exactly width * 3. So the converter writes into the caller's
// buffer directly only after this one-off check (per converter
// configuration); otherwise it converts into padded rows and copies them
// out. Once the FFmpeg in use is fixed, this file and its one call go.
namespace swscale_padding {

// True when converting f with sws into tightly packed rows writes exactly the
// frame's bytes and matches a conversion into padded rows (made in scratch).
bool TightRowsAreSafe(SwsContext *sws, const AVFrame *f, std::vector<uint8_t> &scratch);

} // namespace swscale_padding
