// ImageLoader on top of Qt's image reader, for platforms without the
// Windows Imaging Component.
//
// Memory: a file may claim any size, so the reader is told how large a
// picture it may allocate, and pictures beyond kMaxWidth x kMaxHeight are
// decoded scaled down by JPEG, and refused from the header by the other
// formats when a full-size decode would not fit that budget.
//
// Formats: only the ones the window offers. SVG in particular is not
// accepted: QtSvg 6.4 follows <image> references to other local files and
// has no switch to stop it.
#include "image_loader.h"

#include "regular_file.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <cstring>

namespace {

const QByteArrayList kFormats = {"bmp", "gif", "jpeg", "png"};

// The most pixels decoded at full size: one largest-camera frame.
constexpr qint64 kMaxDecodePixels = qint64(ImageLoader::kMaxWidth) * ImageLoader::kMaxHeight;
// What the reader may allocate for one picture, in MiB: such a frame at
// 4 bytes per pixel (127 MiB); deeper formats get correspondingly fewer pixels.
constexpr int kAllocationLimitMb = 128;

// Stands in for the imaging factory: there is nothing to create, but
// Initialize still has to run before images load.
int backendMarker;

bool fitsCamera(QSize size)
{
    return size.width() > 0 && size.height() > 0 && size.width() <= int(ImageLoader::kMaxWidth)
        && size.height() <= int(ImageLoader::kMaxHeight);
}

// The largest size inside the camera maximum with size's aspect ratio.
QSize fittedSize(QSize size)
{
    return size.scaled(int(ImageLoader::kMaxWidth), int(ImageLoader::kMaxHeight), Qt::KeepAspectRatio)
        .expandedTo(QSize(1, 1));
}

QImage readFirstFrame(const std::filesystem::path &path)
{
    QFile file;
    const int fd = regular_file::Open(path);
    if (fd < 0 || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return {};
    // The format comes from the content alone, never from the name.
    QImageReader reader(&file);
    reader.setAutoTransform(true); // EXIF orientation: photos come out upright
    reader.setAllocationLimit(kAllocationLimitMb);
    if (!kFormats.contains(reader.format()) || !reader.canRead())
        return {};
    const QSize size = reader.size();
    if (size.isValid() && !fitsCamera(size)) {
        // libjpeg scales while decoding; Qt's other readers that take a
        // scaled size decode at full size first.
        if (reader.format() == "jpeg")
            reader.setScaledSize(fittedSize(size));
        else if (qint64(size.width()) * size.height() > kMaxDecodePixels)
            return {};
    }
    return reader.read(); // the first frame of animated and multi-page files
}

// Alpha is dropped, not blended: colour channels are kept as stored, also
// under fully transparent pixels. Done before scaling, which would otherwise
// work on premultiplied colours. In place where Qt can.
QImage withoutAlpha(QImage image)
{
    if (image.hasAlphaChannel())
        image = std::move(image).convertToFormat(QImage::Format_ARGB32);
    return std::move(image).convertToFormat(QImage::Format_RGB32);
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

bool ImageLoader::LoadImageW(const std::filesystem::path &path, unsigned int targetWidth, unsigned int targetHeight)
{
    Release();
    if (!factory)
        return false;
    if (targetWidth > kMaxWidth || targetHeight > kMaxHeight)
        return false;

    QImage image = withoutAlpha(readFirstFrame(path));
    if (image.isNull())
        return false;
    QSize target{int(targetWidth), int(targetHeight)};
    if (targetWidth == 0 || targetHeight == 0)
        target = fitsCamera(image.size()) ? image.size() : fittedSize(image.size());
    if (image.size() != target)
        image = image.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    image = std::move(image).convertToFormat(QImage::Format_BGR888);
    if (image.isNull() || image.size() != target)
        return false;

    // QImage pads rows to 4 bytes; the frame has none.
    const size_t stride = size_t(target.width()) * 3;
    pixels.resize(stride * size_t(target.height()));
    for (int y = 0; y < target.height(); ++y)
        std::memcpy(pixels.data() + size_t(y) * stride, image.constScanLine(y), stride);
    width = uint32_t(target.width());
    height = uint32_t(target.height());
    return true;
}
