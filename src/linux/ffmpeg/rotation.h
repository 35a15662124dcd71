#pragma once

#include <cstddef>
#include <cstdint>

// Upright pictures from videos filmed sideways: the rotation a display
// matrix asks for, and BGR24 pictures turned by it. No decoder state, so
// each can be checked on its own.
namespace ffmpeg_rotation {

// Counter-clockwise degrees (0, 90, 180 or 270) that make the picture
// upright, read as the ffmpeg tool's autorotate reads the matrix; 0 for no
// matrix and for angles not within a degree of a right angle.
int FromDisplayMatrix(const int32_t *matrix);

// Turns the BGR24 picture src (w x h, rows srcPitch bytes apart) by ccw
// degrees counter-clockwise into dst, tightly packed (h x w for a quarter
// turn). 0 copies the rows.
void Rotate(const uint8_t *src, size_t srcPitch, int w, int h, int ccw, uint8_t *dst);

} // namespace ffmpeg_rotation
