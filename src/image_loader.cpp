#include "image_loader.h"

// The platform-independent part; decoding lives in linux/image_loader_qt.cpp or
// windows/image_loader_wic.cpp.

void ImageLoader::Release()
{
    pixels.clear();
    width = 0;
    height = 0;
}
