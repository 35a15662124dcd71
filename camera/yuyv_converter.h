#pragma once

#include <cstddef>
#include <cstdint>

struct SwsContext;

// BGR24 to YUYV 4:2:2 at the same size, BT.601 limited range: the format
// webcam clients take most readily.
class YuyvConverter {
public:
    YuyvConverter(int width, int height);
    ~YuyvConverter();
    YuyvConverter(const YuyvConverter &) = delete;
    YuyvConverter &operator=(const YuyvConverter &) = delete;

    bool Valid() const { return context != nullptr; }
    size_t OutputBytes() const { return size_t(width) * height * 2; }
    // Converts one frame of width x height x 3 bytes into OutputBytes().
    void Convert(const uint8_t *bgr, uint8_t *yuyv) const;

private:
    int width;
    int height;
    SwsContext *context = nullptr;
};
