// Opens the input as a video file and reads, seeks and reads again.
#include "test_media.h"
#include "video_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    VideoDecoder decoder;
    if (!decoder.Open(test_media::WriteFile("input", std::string(reinterpret_cast<const char *>(data), size))))
        return 0;
    std::vector<uint8_t> frame;
    for (int i = 0; i < 6 && decoder.ReadFrame(frame); ++i) {
    }
    decoder.SeekTo(decoder.duration * 0.6);
    for (int i = 0; i < 3 && decoder.ReadFrame(frame); ++i) {
    }
    return 0;
}
