// Still images of every common kind come out as tightly packed BGR24 frames;
// anything broken or enormous fails and leaves the loader empty.
#include "image_loader.h"
#include "test_media.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTest>
#include <QtEndian>

#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

QString pathOf(const QString &name) { return QString::fromStdString((test_media::Dir() / name.toStdString()).string()); }

QString saveBytes(const QString &name, const QByteArray &bytes)
{
    return QString::fromStdString(test_media::WriteFile(name.toStdString(), bytes.toStdString()).string());
}

QByteArray encode(const QImage &image, const char *format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(95);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

QRgb pixelAt(const ImageLoader &loader, uint32_t x, uint32_t y)
{
    const uint8_t *p = loader.pixels.data() + (size_t(y) * loader.width + x) * 3;
    return qRgb(p[2], p[1], p[0]);
}

bool near(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance
        && qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

// 16x16 colour blocks: whole JPEG blocks, so lossy formats keep them nearly flat.
const QRgb kRed = qRgb(220, 30, 30), kBlue = qRgb(40, 50, 210);
QImage blocks(int w, int h)
{
    const QRgb colours[4] = {kRed, qRgb(30, 200, 40), kBlue, qRgb(240, 240, 240)};
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, colours[((y / 16) % 2) * 2 + (x / 16) % 2]);
    return image;
}

QImage halves(int w, int h, bool sideBySide)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(kBlue);
    QPainter(&image).fillRect(0, 0, sideBySide ? w / 2 : w, sideBySide ? h : h / 2, kRed);
    return image;
}

uint32_t crc32(const QByteArray &data)
{
    uint32_t crc = 0xffffffffu;
    for (char c : data) {
        crc ^= uint8_t(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray be32(uint32_t v)
{
    QByteArray out(4, 0);
    qToBigEndian(v, out.data());
    return out;
}

// A PNG that is only a signature and a well-formed header claiming w x h.
QByteArray pngHeaderOnly(uint32_t w, uint32_t h)
{
    const QByteArray ihdr = QByteArray("IHDR") + be32(w) + be32(h) + QByteArray("\x08\x02\x00\x00\x00", 5);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + be32(13) + ihdr + be32(crc32(ihdr));
}

// Inserts an EXIF block holding only an orientation tag after the JPEG's start marker.
QByteArray withOrientation(const QByteArray &jpeg, char orientation)
{
    const QByteArray tiff = QByteArray("II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0", 18) + orientation
        + QByteArray(7, 0);
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const QByteArray app1 = QByteArray("\xff\xe1\0", 3) + char(payload.size() + 2);
    return jpeg.left(2) + app1 + payload + jpeg.mid(2);
}

// Peak resident memory since the last reset (the test process's own
// footprint included), and the reset.
qint64 peakRssKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6));
    return -1;
}
void resetPeakRss() { std::ofstream("/proc/self/clear_refs") << "5"; }

// One flat red picture of that size made by ffmpeg.
QString make(const char *name, const char *size)
{
    const bool jpeg = QByteArray(name).endsWith("jpg");
    return QString::fromStdString(test_media::Generate(name, std::string("-f lavfi -i color=c=red:s=") + size
                                                                 + " -frames:v 1 -pix_fmt " + (jpeg ? "yuvj420p" : "rgb24"))
                                      .string());
}

} // namespace

class ImageLoaderTest : public QObject {
    Q_OBJECT

private:
    ImageLoader loader;

private slots:
    void initTestCase() { QVERIFY(loader.Initialize()); }

    void needsInitializeOnceAndKeepsItAfterRelease()
    {
        const std::string file = saveBytes("life.png", encode(blocks(32, 16), "png")).toStdString();
        ImageLoader fresh;
        QVERIFY(!fresh.LoadImageW(file));
        QVERIFY(fresh.Initialize() && fresh.Initialize() && fresh.LoadImageW(file));
        fresh.Release();
        QVERIFY(fresh.pixels.empty() && fresh.width == 0 && fresh.height == 0);
        QVERIFY(fresh.LoadImageW(file));
    }

    // Tolerance 0: every pixel exact; otherwise the centre of each 16x16 block.
    void goodFilesDecode_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QImage>("expected");
        QTest::addColumn<int>("tolerance");

        // An odd width: Qt pads its rows to 4 bytes, the frame must not.
        QImage ramp(37, 13, QImage::Format_RGB32);
        for (int y = 0; y < ramp.height(); ++y)
            for (int x = 0; x < ramp.width(); ++x)
                ramp.setPixel(x, y, qRgb(x * 6, y * 19, (x * 7 + y * 3) % 256));
        QTest::newRow("png") << saveBytes("exact.png", encode(ramp, "png")) << ramp << 0;
        QTest::newRow("bmp") << saveBytes("exact.bmp", encode(ramp, "bmp")) << ramp << 0;
        // Readable by Qt, but not among the formats the window offers.
        QTest::newRow("tiff") << saveBytes("exact.tif", encode(ramp, "tiff")) << QImage() << 0;
        QTest::newRow("unicode name") << saveBytes(QString::fromUtf8("bild-\u00fc\u00df.png"), encode(ramp, "png"))
                                      << ramp << 0;

        // Alpha is dropped, not blended, also under fully transparent pixels.
        QImage alpha = ramp.convertToFormat(QImage::Format_ARGB32);
        for (int x = 0; x < alpha.width(); ++x)
            alpha.setPixel(x, 0, (ramp.pixel(x, 0) & 0xffffffu) | (uint(x * 7) << 24));
        QTest::newRow("alpha") << saveBytes("alpha.png", encode(alpha, "png")) << ramp << 0;

        for (auto format : {QImage::Format_Grayscale8, QImage::Format_Indexed8}) {
            const QImage converted = ramp.convertToFormat(format);
            const QString name = QString("format%1.png").arg(int(format));
            QTest::addRow("%s", qPrintable(name)) << saveBytes(name, encode(converted, "png"))
                                                  << converted.convertToFormat(QImage::Format_RGB32) << 0;
        }

        QImage deep(4, 2, QImage::Format_RGBA64), deep8(4, 2, QImage::Format_RGB32);
        deep.fill(QColor::fromRgba64(0xffff, 0x8080, 0x0000, 0xffff));
        deep.setPixelColor(3, 1, QColor::fromRgba64(0x0101, 0xfefe, 0x7f7f, 0x4000));
        deep8.fill(qRgb(255, 128, 0));
        deep8.setPixel(3, 1, qRgb(1, 254, 127));
        QTest::newRow("16 bits") << saveBytes("deep.png", encode(deep, "png")) << deep8 << 0;

        QTest::newRow("jpeg baseline") << saveBytes("baseline.jpg", encode(blocks(64, 48), "jpeg"))
                                       << blocks(64, 48) << 6;
        QTest::newRow("jpeg progressive") << saveBytes("progressive.jpg", encode(blocks(64, 48), "jpeg", true))
                                          << blocks(64, 48) << 6;
        // Stored landscape with "rotate 90 degrees clockwise": the left half comes out on top.
        QTest::newRow("exif rotated") << saveBytes("rotated.jpg", withOrientation(encode(halves(64, 32, true), "jpeg"), 6))
                                      << halves(32, 64, false) << 6;

        // Red then blue; the encoder dithers red to its palette.
        const fs::path gif = test_media::Generate(
            "animated.gif",
            "-f lavfi -i \"color=c=red:s=40x30:r=5:d=0.4[a];color=c=blue:s=40x30:r=5:d=0.4[b];[a][b]concat=n=2[out0]\"");
        QImage red(40, 30, QImage::Format_RGB32);
        red.fill(qRgb(255, 0, 0));
        QTest::newRow("first frame of a gif") << QString::fromStdString(gif.string()) << red << 50;
    }

    void goodFilesDecode()
    {
        QFETCH(QString, file);
        QFETCH(QImage, expected);
        QFETCH(int, tolerance);
        QVERIFY(!file.isEmpty());
        QCOMPARE(loader.LoadImageW(file.toStdString()), !expected.isNull());
        QCOMPARE(QSize(int(loader.width), int(loader.height)), expected.isNull() ? QSize(0, 0) : expected.size());
        QCOMPARE(loader.pixels.size(), size_t(expected.width()) * expected.height() * 3);
        for (int y = tolerance ? 8 : 0; y < expected.height(); y += tolerance ? 16 : 1)
            for (int x = tolerance ? 8 : 0; x < expected.width(); x += tolerance ? 16 : 1)
                QVERIFY2(near(pixelAt(loader, x, y), expected.pixel(x, y), tolerance),
                         qPrintable(QString("%1,%2: %3").arg(x).arg(y).arg(pixelAt(loader, x, y), 8, 16)));
    }

    void targetSize()
    {
        const std::string file = saveBytes("wide.png", encode(halves(1920, 1080, true), "png")).toStdString();
        QVERIFY(loader.LoadImageW(file, 320, 240));
        QCOMPARE(loader.pixels.size(), size_t(320 * 240 * 3));
        QCOMPARE(pixelAt(loader, 0, 0), kRed);
        QCOMPARE(pixelAt(loader, 319, 239), kBlue);

        // A 0 on either side means the image's own size.
        for (auto [w, h] : {std::pair{0u, 240u}, {320u, 0u}, {1920u, 1080u}}) {
            QVERIFY(loader.LoadImageW(file, w, h));
            QCOMPARE(QSize(int(loader.width), int(loader.height)), QSize(1920, 1080));
            QCOMPARE(pixelAt(loader, 959, 500), kRed);
            QCOMPARE(pixelAt(loader, 960, 500), kBlue);
        }
        QVERIFY(loader.LoadImageW(file, 3, 1000)); // aspect ratio is not kept
        QCOMPARE(loader.pixels.size(), size_t(3 * 1000 * 3));
    }

    void badFilesFailAndLeaveLoaderEmpty_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QSize>("target");

        const QByteArray png = encode(blocks(400, 300), "png");
        const QSize own(0, 0);

        QTest::newRow("truncated png") << saveBytes("truncated.png", png.left(png.size() / 2)) << own;
        QTest::newRow("png header only") << saveBytes("header.png", png.left(33)) << own;
        QTest::newRow("empty file") << saveBytes("empty.png", {}) << own;
        QTest::newRow("text named png") << saveBytes("text.png", "this is not a picture\n") << own;
        QTest::newRow("garbage named jpg") << saveBytes("garbage.jpg", QByteArray("\xff\xd8\xff\xe0 garbage", 13)) << own;
        // Beyond the largest camera frame's pixels, and not a JPEG, which could scale.
        QTest::newRow("png claims 100000 x 100000") << saveBytes("huge.png", pngHeaderOnly(100000, 100000)) << own;
        QTest::newRow("real png 8000 x 4500") << make("bomb.png", "8000x4500") << own;
        QTest::newRow("svg 16000 x 16000")
            << saveBytes("bomb.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='16000' height='16000'>"
                                     "<rect width='16000' height='16000' fill='red'/></svg>")
            << own;
        QTest::newRow("negative width") << saveBytes("negative.png", pngHeaderOnly(0x80000001u, 10)) << own;
        QTest::newRow("zero width") << saveBytes("zero.png", pngHeaderOnly(0, 10)) << own;
        QTest::newRow("missing") << pathOf("missing.png") << own;
        QTest::newRow("directory") << pathOf("") << own;
        const QString fifo = pathOf("fifo.png"); // opening it would wait for a writer
        QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0 || errno == EEXIST);
        QTest::newRow("fifo") << fifo << own;
        QTest::newRow("device") << QString("/dev/zero") << own;
        QTest::newRow("empty path") << QString() << own;
        QTest::newRow("target beyond the largest camera") << saveBytes("tiny.png", encode(blocks(4, 4), "png"))
                                                          << QSize(7681, 100);
    }

    void badFilesFailAndLeaveLoaderEmpty()
    {
        QFETCH(QString, file);
        QFETCH(QSize, target);
        QVERIFY(loader.LoadImageW(saveBytes("good.png", encode(blocks(20, 10), "png")).toStdString()));
        resetPeakRss();
        QVERIFY(!loader.LoadImageW(file.toStdString(), target.width(), target.height()));
        QVERIFY(loader.pixels.empty() && loader.width == 0 && loader.height == 0);
        QVERIFY(peakRssKiB() < 250 * 1024); // whatever the file claims
    }

    // Larger than the largest camera frame: a JPEG decodes scaled to fit it,
    // a panorama that fits its pixel count is decoded, then scaled.
    void largePicturesComeOutFitted()
    {
        for (auto [name, size, fitted] : {std::tuple{"bomb.jpg", "15360x8640", QSize(7680, 4320)},
                                          {"panorama.png", "16000x1000", QSize(7680, 480)}}) {
            resetPeakRss();
            QVERIFY(loader.LoadImageW(make(name, size).toStdString()));
            QCOMPARE(QSize(int(loader.width), int(loader.height)), fitted);
            QVERIFY2(peakRssKiB() < 250 * 1024, qPrintable(QString::number(peakRssKiB() / 1024)));
            loader.Release();
            loader.pixels.shrink_to_fit();
        }
    }
};

QTEST_GUILESS_MAIN(ImageLoaderTest)
#include "image_loader_test.moc"
