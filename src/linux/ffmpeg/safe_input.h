#pragma once

#include <filesystem>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// Opening a video file that nobody vouches for: the file is opened by this
// code, as a regular file only (a FIFO would block the open forever), and
// read through our own I/O context, so no protocol is involved at all (a
// ':' in the name is never one); only demuxers of self-contained video files
// are allowed, and every request for a further file is refused, so a
// playlist (HLS, concat, ...) in disguise cannot reach other files or the
// network; frames beyond the largest camera frame are refused, by the
// decoder itself too, so a small file cannot claim a huge frame.
namespace ffmpeg_input {

// Within VideoDecoder::kMaxWidth x kMaxHeight, and not empty.
bool ValidFrameSize(int w, int h);

// The demuxer and decoder of a file's first decodable video stream.
struct SafeInput {
    SafeInput() = default;
    SafeInput(const SafeInput &) = delete;
    SafeInput &operator=(const SafeInput &) = delete;
    ~SafeInput();

    // False for anything that is not a regular file with such a stream
    // within the size limit; what was made is freed by the destructor.
    bool Open(const std::filesystem::path &path);

    int fd = -1;
    AVIOContext *io = nullptr; // ours, over fd, so freed here
    AVFormatContext *format = nullptr;
    AVStream *stream = nullptr;
    int streamIndex = -1;
    AVCodecContext *codec = nullptr;
};

} // namespace ffmpeg_input
