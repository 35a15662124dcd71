#include "video_decoder.h"

struct VideoDecoder::Source {};

VideoDecoder::VideoDecoder() = default;
VideoDecoder::~VideoDecoder() { Close(); }
bool VideoDecoder::Open(const std::filesystem::path &) { Close(); return false; }
void VideoDecoder::Close() { delete source; source = nullptr; width = height = 0; duration = position = 0.0; }
bool VideoDecoder::ReadFrame(std::vector<uint8_t> &) { return false; }
void VideoDecoder::SeekToStart() {}
void VideoDecoder::SeekTo(double) {}
