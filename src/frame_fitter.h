#pragma once

#include <cstdint>
#include <vector>

// Where a source picture lands inside the camera frame.
struct FitRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Letterbox (or stretch) placement of a srcW x srcH picture in a camW x camH
// frame. The aspect comparison is in single precision on purpose: frames
// must come out byte for byte the same on every platform and build.
FitRect ComputeFitRect(int srcW, int srcH, int camW, int camH, bool stretch);

// Turns a BGR24 source frame into the BGR24 frame the camera receives:
// nearest-neighbour fit into the camera size with black bars, and mirrored
// left to right when asked, in a single pass over the output. The sampling
// tables are kept between calls and rebuilt only when a size, the stretch
// flag or the mirror flag changes, so a steady stream pays for them once.
class FrameFitter {
public:
    // Writes camW x camH x 3 bytes into out (storage reused). The source must
    // hold srcW x srcH x 3 bytes; all sizes must be positive.
    void Render(const uint8_t *src, int srcW, int srcH, int camW, int camH, bool stretch,
                bool mirror, std::vector<uint8_t> &out);

private:
    void rebuild(int srcW, int srcH, int camW, int camH, bool stretch, bool mirror);

    int srcW = 0, srcH = 0, camW = 0, camH = 0;
    bool stretch = false, mirror = false;
    FitRect rect;
    std::vector<uint32_t> columnOffsets; // source byte offset within a row, per rect column
    std::vector<int32_t> sourceRows;     // source row, per rect row
};
