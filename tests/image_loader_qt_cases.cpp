// The Qt backend's own cases: what Qt's readers can do beyond the shared
// formats (EXIF orientation, TIFF and SVG that must be refused), and
// files that claim enormous pictures, which must fail or come out fitted
// within a bounded amount of memory.
#include "image_loader.h"
#include "test_media.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>
#include <QtEndian>

#include <fstream>
#include <sys/stat.h>

namespace {

std::filesystem::path Save(const std::string &name, const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(95);
    writer.write(image);
    return test_media::WriteFile(name, bytes.toStdString());
}

// A PNG that is only a signature and a well-formed header claiming w x h.
std::filesystem::path PngHeaderOnly(const std::string &name, uint32_t w, uint32_t h)
{
    auto be32 = [](uint32_t v) {
        QByteArray out(4, 0);
        qToBigEndian(v, out.data());
        return out;
    };
    const QByteArray ihdr = QByteArray("IHDR") + be32(w) + be32(h) + QByteArray("\x08\x02\x00\x00\x00", 5);
    uint32_t crc = 0xffffffffu;
    for (char c : ihdr) {
        crc ^= uint8_t(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    const QByteArray png = QByteArray("\x89PNG\r\n\x1a\n", 8) + be32(13) + ihdr + be32(~crc);
    return test_media::WriteFile(name, png.toStdString());
}

// Peak resident memory since the last reset, the test process's own
// footprint included. AddressSanitizer's shadow and quarantine swell it
// beyond any bound, so under it the bound is not judged (0).
#if defined(__SANITIZE_ADDRESS__)
#define VIDLOOM_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VIDLOOM_ASAN 1
#endif
#endif
long PeakRssMiB()
{
#ifdef VIDLOOM_ASAN
    return 0;
#endif
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6)) / 1024;
    return -1;
}
void ResetPeakRss()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// One flat red picture of that size made by ffmpeg.
std::filesystem::path Red(const std::string &name, const std::string &size)
{
    const bool jpeg = name.find(".jpg") != std::string::npos;
    return test_media::Generate(
        name, "-f lavfi -i color=c=red:s=" + size + " -frames:v 1 -pix_fmt " + (jpeg ? "yuvj420p" : "rgb24"));
}

QRgb PixelAt(const ImageLoader &l, uint32_t x, uint32_t y)
{
    const uint8_t *p = &l.pixels[(size_t(y) * l.width + x) * 3];
    return qRgb(p[2], p[1], p[0]);
}

} // namespace

TEST(ImageLoaderQt, ExifOrientedPhotosComeOutUpright)
{
    ImageLoader loader;
    ASSERT_TRUE(loader.Initialize());
    // Stored landscape, left red, right blue, with EXIF orientation 6
    // ("rotate 90 degrees clockwise"): red comes out on top.
    QImage halves(64, 32, QImage::Format_RGB32);
    halves.fill(Qt::blue);
    QPainter(&halves).fillRect(0, 0, 32, 32, Qt::red);
    QByteArray jpeg = QByteArray::fromStdString(test_media::ReadFile(Save("plain.jpg", halves, "jpeg")));
    const QByteArray tiff =
        QByteArray("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 18) + char(6) + QByteArray(7, 0);
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    jpeg.insert(2, QByteArray("\xff\xe1\0", 3) + char(payload.size() + 2) + payload);
    ASSERT_TRUE(loader.LoadImageW(test_media::WriteFile("rotated.jpg", jpeg.toStdString())));
    ASSERT_EQ(std::make_pair(loader.width, loader.height), std::make_pair(32u, 64u));
    EXPECT_GT(qRed(PixelAt(loader, 16, 8)), 200);
    EXPECT_GT(qBlue(PixelAt(loader, 16, 56)), 200);
}

// Whatever the file claims, the loader fails (and is empty) without using
// more than a bounded amount of memory.
TEST(ImageLoaderQt, RefusesOtherFormatsAndEnormousClaims)
{
    ImageLoader loader;
    ASSERT_TRUE(loader.Initialize());
    const auto fifo = test_media::Dir() / "fifo.png"; // opening it would wait for a writer
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::filesystem::path bad[] = {
        Save("readable.tif", QImage(8, 8, QImage::Format_RGB32), "tiff"), // Qt reads it; not offered
        test_media::WriteFile("bomb.svg",
                              "<svg xmlns='http://www.w3.org/2000/svg' width='16000' height='16000'>"
                              "<rect width='16000' height='16000' fill='red'/></svg>"),
        PngHeaderOnly("huge.png", 100000, 100000),
        PngHeaderOnly("negative.png", 0x80000001u, 10),
        PngHeaderOnly("zero.png", 0, 10),
        Red("bomb.png", "8000x4500"), // beyond the largest frame's pixels, and not a JPEG, which could scale
        fifo,
        "/dev/zero",
    };
    for (const auto &path : bad) {
        ResetPeakRss();
        EXPECT_FALSE(loader.LoadImageW(path)) << path;
        EXPECT_TRUE(loader.pixels.empty() && loader.width + loader.height == 0);
        EXPECT_LT(PeakRssMiB(), 250) << path;
    }
    // A JPEG decodes scaled to fit the largest frame.
    ResetPeakRss();
    ASSERT_TRUE(loader.LoadImageW(Red("bomb.jpg", "15360x8640")));
    EXPECT_EQ(std::make_pair(loader.width, loader.height), std::make_pair(7680u, 4320u));
    EXPECT_LT(PeakRssMiB(), 250);
}
