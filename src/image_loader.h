#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

// Loads the first frame of a still image file as one BGR24 frame (blue,
// green, red per pixel, rows top to bottom, no row padding), optionally
// scaled to a target size. The decoding backend is per platform: Windows
// Imaging Component on Windows, Qt's image reader elsewhere. Used on one
// thread only. Failures are false results with the loader left empty.
class ImageLoader {
public:
    ImageLoader();
    ~ImageLoader();
    ImageLoader(const ImageLoader &) = delete;
    ImageLoader &operator=(const ImageLoader &) = delete;

    // Prepares the backend; true at once when it is already prepared.
    bool Initialize();
    // Forgets the loaded image (storage kept); the backend stays prepared.
    void Release();
    // Loads `path` scaled to targetWidth x targetHeight, aspect ratio not
    // kept; a 0 in either value means the image's own size, made to fit
    // inside kMaxWidth x kMaxHeight (aspect ratio kept). False (and the
    // loader empty) for anything that is not a regular file in an accepted
    // format the window offers (BMP, GIF, JPEG, PNG), that cannot be decoded, or that
    // cannot be decoded within a bounded amount of memory; and for targets
    // beyond kMaxWidth x kMaxHeight.
    static constexpr uint32_t kMaxWidth = 7680;
    static constexpr uint32_t kMaxHeight = 4320;
    bool LoadImageW(const std::filesystem::path &path, unsigned int targetWidth = 0, unsigned int targetHeight = 0);

    // Backend handle, owned: the imaging factory on Windows, a marker that
    // Initialize ran elsewhere. Null until Initialize succeeds.
    void *factory = nullptr;
    std::vector<uint8_t> pixels;
    uint32_t width = 0;
    uint32_t height = 0;
};
