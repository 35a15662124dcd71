#pragma once

#include "frame_view.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

// Decodes the first video stream of a file into BGR24 frames (3 bytes per
// pixel, blue, green, red, rows top to bottom, no row padding), one frame
// per ReadFrame. Every failure, end of file included, is a false result.
//
// The platform backend (FFmpeg on Linux, Media Foundation on Windows) hides
// behind `source`; callers only see the public fields below.
class VideoDecoder {
public:
    VideoDecoder();
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder &) = delete;
    VideoDecoder &operator=(const VideoDecoder &) = delete;

    // Opens a file; an open decoder closes its old file first. A failed Open
    // leaves the decoder closed with every size and time at zero.
    bool Open(const std::filesystem::path &path);
    void Close();
    bool IsOpen() const { return source != nullptr; }

    // Reads the next frame into out (width x height x 3 bytes, storage
    // reused). On failure out is left as it was.
    bool ReadFrame(std::vector<uint8_t> &out);
    // Reads the next frame without copying it: the view points into the
    // decoder and stays valid until the next read, seek or Close. With yuv,
    // frames already in the camera's colours come as their 4:2:0 planes;
    // all others as BGR24.
    bool ReadFrame(FrameView &view, bool yuv);
    void SeekToStart();
    // Lands on the frame at or just before the target; position takes the
    // target at once.
    void SeekTo(double seconds);

    // Largest frame accepted in either dimension (the largest camera size);
    // larger videos fail to open.
    static constexpr uint32_t kMaxWidth = 7680;
    static constexpr uint32_t kMaxHeight = 4320;

    // Asked between decoded frames while a seek decodes towards its target
    // (which can take seconds with few key frames). True abandons the work:
    // ReadFrame fails with `interrupted` set and the seek stays pending, so
    // the owner can stop, or seek elsewhere, without waiting for it.
    std::function<bool()> interrupt;
    bool interrupted = false;

    uint32_t width = 0;
    uint32_t height = 0;
    int32_t stride = 0;    // bytes per row of the backend's native output
    double duration = 0.0; // seconds; 0 when the file does not say
    double position = 0.0; // seconds: time stamp of the last frame read or the last seek target

private:
    struct Source;
    Source *source = nullptr;
};
