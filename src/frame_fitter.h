#pragma once

#include "frame_view.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Where a source picture lands inside the camera frame.
struct FitRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Letterbox: the whole picture, aspect kept, black bars. Stretch: the whole
// picture over the whole frame. Crop: the frame filled, aspect kept, the
// picture's overhang cut off evenly on both sides.
enum class FitMode { Letterbox, Stretch, Crop };

// Letterbox (or stretch) placement of a srcW x srcH picture in a camW x camH
// frame. A picture of the camera's own aspect fills the frame exactly;
// otherwise the aspect comparison is in single precision on purpose, so
// frames come out byte for byte the same on every platform and build.
FitRect ComputeFitRect(int srcW, int srcH, int camW, int camH, bool stretch);

// The part of a srcW x srcH picture that Crop shows: the largest centred
// window of the camera's aspect.
FitRect ComputeCropWindow(int srcW, int srcH, int camW, int camH);

// Turns a source frame into the frame the camera receives: nearest-neighbour
// fit into the camera size (black bars for letterbox), mirrored left to right
// when asked, in a single pass over the output. The sampling tables are kept
// between calls and rebuilt only when a size, the mode, the mirror flag or
// the source layout changes, so a steady stream pays for them once.
class FrameFitter {
public:
    // BGR24 source to a camW x camH BGR24 frame (storage reused).
    void Render(const FrameView &src, int camW, int camH, FitMode mode, bool mirror, std::vector<uint8_t> &out);
    // The same for packed BGR24 pixels; the older spelling of the above.
    void Render(const uint8_t *src, int srcW, int srcH, int camW, int camH, bool stretch, bool mirror,
                std::vector<uint8_t> &out)
    {
        Render(FrameView::Bgr(src, srcW, srcH), camW, camH, stretch ? FitMode::Stretch : FitMode::Letterbox, mirror,
               out);
    }
    // 4:2:0 YUV source straight to the camera's YUYV 4:2:2 (camW must be
    // even): camW x camH x 2 bytes. Bars are black (16, 128, 128), and the
    // chroma of each output pixel pair is the mean of its two pixels', as a
    // conversion of the BGR24 frame would give.
    void RenderYuyv(const FrameView &src, int camW, int camH, FitMode mode, bool mirror, std::vector<uint8_t> &out);

private:
    struct Layout {
        int srcW = 0, srcH = 0, camW = 0, camH = 0;
        FitMode mode = FitMode::Letterbox;
        bool mirror = false;
        FrameView::Format format = FrameView::Format::Bgr24;
        int rotation = 0;
        int stride[3] = {};
        bool operator==(const Layout &) const = default;
    };
    void rebuild(const Layout &layout);

    Layout layout;
    bool built = false;
    FitRect rect; // in the camera frame, already mirrored
    // Per rect column and rect row: what to add to a plane's base pointer
    // to reach the sampled pixel; luma (or BGR) first, then 4:2:0 chroma.
    std::vector<ptrdiff_t> columnOffsets, rowOffsets;
    std::vector<ptrdiff_t> chromaColumns, chromaRows;
    // YUYV: the run of source columns a whole rect row reads, when it is one
    // plain run forwards or backwards (same width, no rotation).
    bool plainRun = false;
    // Otherwise a rect row is gathered into these first, then packed.
    std::vector<uint8_t> rowY, rowU, rowV;
};
