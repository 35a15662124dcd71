// ImageLoader on top of Qt's image reader, for platforms without the
// Windows Imaging Component.
#include "image_loader.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <cstring>

namespace {

// Frames are indexed in 32-bit signed arithmetic downstream.
constexpr uint64_t kMaxFrameBytes = uint64_t{1} << 31;
// Largest decoded image the reader may allocate, in MiB. Decoders mostly
// produce 4 bytes per pixel, so this admits photos of about 268 megapixels.
constexpr int kAllocationLimitMb = 1024;

// Stands in for the imaging factory: there is nothing to create, but
// Initialize still has to run before images load.
int backendMarker;

bool frameFits(uint64_t w, uint64_t h)
{
    return w > 0 && h > 0 && w * h * 3 < kMaxFrameBytes;
}

// Refuses, from the header alone, images that could never be delivered, so
// an enormous (or lying) file costs no decoding time.
bool headerAcceptable(const QImageReader &reader)
{
    const QSize size = reader.size();
    if (!size.isValid())
        return true; // the format does not say; the allocation limit still guards the read
    const uint64_t w = uint64_t(size.width()), h = uint64_t(size.height());
    return frameFits(w, h) && w * h * 4 <= uint64_t(kAllocationLimitMb) << 20;
}

QImage readFirstFrame(const std::filesystem::path &path)
{
    QImageReader reader(QFile::decodeName(QByteArray::fromStdString(path.native())));
    reader.setAutoTransform(true); // EXIF orientation: photos come out upright
    reader.setAllocationLimit(kAllocationLimitMb);
    if (!reader.canRead() || !headerAcceptable(reader))
        return {};
    return reader.read(); // the first frame of animated and multi-page files
}

// Alpha is dropped, not blended: colour channels are kept as stored, also
// under fully transparent pixels. Done before scaling, which would otherwise
// work on premultiplied colours.
QImage withoutAlpha(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return image;
    return image.convertToFormat(QImage::Format_ARGB32).convertToFormat(QImage::Format_RGB32);
}

} // namespace

ImageLoader::ImageLoader() = default;

ImageLoader::~ImageLoader()
{
    Release();
    factory = nullptr;
}

bool ImageLoader::Initialize()
{
    factory = &backendMarker;
    return true;
}

bool ImageLoader::LoadImageW(const std::filesystem::path &path, unsigned int targetWidth,
                             unsigned int targetHeight)
{
    Release();
    if (!factory)
        return false;

    QImage image = withoutAlpha(readFirstFrame(path));
    if (image.isNull())
        return false;
    if (targetWidth == 0 || targetHeight == 0) {
        targetWidth = unsigned(image.width());
        targetHeight = unsigned(image.height());
    }
    if (!frameFits(targetWidth, targetHeight))
        return false;
    if (image.size() != QSize(int(targetWidth), int(targetHeight)))
        image = image.scaled(int(targetWidth), int(targetHeight), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image = image.convertToFormat(QImage::Format_BGR888);
    if (image.isNull() || image.size() != QSize(int(targetWidth), int(targetHeight)))
        return false;

    // QImage pads rows to 4 bytes; the frame has none.
    const size_t stride = size_t(targetWidth) * 3;
    pixels.resize(stride * targetHeight);
    for (unsigned y = 0; y < targetHeight; ++y)
        std::memcpy(pixels.data() + y * stride, image.constScanLine(int(y)), stride);
    width = targetWidth;
    height = targetHeight;
    return true;
}
