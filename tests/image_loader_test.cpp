// Still images of every common kind, made at test time, come out as tightly
// packed BGR24 frames; anything broken or enormous fails fast and leaves the
// loader empty.
#include "image_loader.h"
#include "test_media.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTest>
#include <QtEndian>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

fs::path pathOf(const QString &name) { return test_media::Dir() / name.toStdString(); }

fs::path save(const QImage &image, const QString &name, const char *format = nullptr, int quality = -1)
{
    const fs::path path = pathOf(name);
    QImageWriter writer(QString::fromStdString(path.string()), format);
    writer.setQuality(quality);
    return writer.write(image) ? path : fs::path();
}

fs::path saveBytes(const QString &name, const QByteArray &bytes)
{
    return test_media::WriteFile(name.toStdString(), bytes.toStdString());
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

// Colour of pixel (x, y) of the loaded BGR24 frame.
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

// Four colour blocks of 16x16 pixels (whole JPEG blocks, so lossy formats keep
// them nearly flat), repeated over the image.
const QRgb kBlocks[4] = {qRgb(220, 30, 30), qRgb(30, 200, 40), qRgb(40, 50, 210), qRgb(240, 240, 240)};
QImage blocks(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y, kBlocks[((y / 16) % 2) * 2 + (x / 16) % 2]);
    return image;
}
QRgb blockColour(int x, int y) { return kBlocks[((y / 16) % 2) * 2 + (x / 16) % 2]; }

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

// An EXIF block with only an orientation tag, placed right after the JPEG's
// start-of-image marker.
QByteArray withOrientation(const QByteArray &jpeg, uint16_t orientation)
{
    QByteArray tiff("II*\0\x08\0\0\0", 8);            // little endian, first directory at 8
    tiff += QByteArray("\x01\0", 2);                  // one entry
    tiff += QByteArray("\x12\x01\x03\0\x01\0\0\0", 8); // tag 0x0112, SHORT, count 1
    tiff += char(orientation & 0xff);
    tiff += char(orientation >> 8);
    tiff += QByteArray(2, 0);                         // value padding
    tiff += QByteArray(4, 0);                         // no next directory
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    QByteArray app1("\xff\xe1", 2);
    app1 += char((payload.size() + 2) >> 8);
    app1 += char((payload.size() + 2) & 0xff);
    return jpeg.left(2) + app1 + payload + jpeg.mid(2);
}

// An uncompressed RGB TIFF with one directory per page.
QByteArray multiPageTiff(const QList<QImage> &pages)
{
    QByteArray out("II*\0", 4);
    out += QByteArray(4, 0); // offset of the first directory, patched below
    auto le16 = [](QByteArray &b, uint16_t v) { b += char(v & 0xff); b += char(v >> 8); };
    auto le32 = [](QByteArray &b, uint32_t v) { for (int i = 0; i < 4; ++i) b += char((v >> (8 * i)) & 0xff); };
    qsizetype linkAt = 4;
    for (const QImage &page : pages) {
        const uint32_t dataAt = uint32_t(out.size());
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x) {
                const QRgb c = page.pixel(x, y);
                out += char(qRed(c));
                out += char(qGreen(c));
                out += char(qBlue(c));
            }
        const uint32_t bitsAt = uint32_t(out.size());
        le16(out, 8); le16(out, 8); le16(out, 8);
        const uint32_t ifdAt = uint32_t(out.size());
        qToLittleEndian(ifdAt, out.data() + linkAt);
        const uint32_t bytes = uint32_t(page.width() * page.height() * 3);
        const uint32_t entries[][3] = {
            {256, 4, uint32_t(page.width())}, {257, 4, uint32_t(page.height())}, {258, 3, bitsAt},
            {259, 3, 1}, {262, 3, 2}, {273, 4, dataAt}, {277, 3, 3},
            {278, 4, uint32_t(page.height())}, {279, 4, bytes}, {284, 3, 1},
        };
        le16(out, uint16_t(std::size(entries)));
        for (const auto &e : entries) {
            le16(out, uint16_t(e[0]));
            le16(out, uint16_t(e[1]));
            le32(out, e[0] == 258 ? 3 : 1);
            if (e[1] == 3 && e[0] != 258) {
                le16(out, uint16_t(e[2]));
                le16(out, 0);
            } else {
                le32(out, e[2]);
            }
        }
        linkAt = out.size();
        le32(out, 0);
    }
    return out;
}

} // namespace

class ImageLoaderTest : public QObject {
    Q_OBJECT

private:
    ImageLoader loader;

    void expectEmpty()
    {
        QVERIFY(loader.pixels.empty());
        QCOMPARE(loader.width, 0u);
        QCOMPARE(loader.height, 0u);
    }
    void expectSize(uint32_t w, uint32_t h)
    {
        QCOMPARE(loader.width, w);
        QCOMPARE(loader.height, h);
        QCOMPARE(loader.pixels.size(), size_t(w) * h * 3);
    }

private slots:
    void initTestCase() { QVERIFY(loader.Initialize()); }

    void lifecycle()
    {
        const fs::path file = save(blocks(32, 16), "life.png");
        ImageLoader fresh;
        QVERIFY(!fresh.LoadImageW(file, 0, 0)); // not initialised yet
        QVERIFY(fresh.pixels.empty());
        QVERIFY(fresh.Initialize());
        QVERIFY(fresh.Initialize());
        QVERIFY(fresh.LoadImageW(file, 0, 0));
        QCOMPARE(fresh.width, 32u);
        fresh.Release();
        QVERIFY(fresh.pixels.empty());
        QCOMPARE(fresh.width, 0u);
        QVERIFY(fresh.LoadImageW(file, 0, 0)); // still initialised after Release
    }

    // Odd widths matter: Qt pads its rows to 4 bytes, the frame must not.
    void losslessFormatsExact_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("png") << "exact.png" << QByteArray("png");
        QTest::newRow("bmp") << "exact.bmp" << QByteArray("bmp");
        if (QImageReader::supportedImageFormats().contains("tiff"))
            QTest::newRow("tiff") << "exact.tif" << QByteArray("tiff");
        QTest::newRow("unicode name") << QString::fromUtf8("bild-\u00fc\u00df.png") << QByteArray("png");
    }

    void losslessFormatsExact()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, format);
        QImage image(37, 13, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, qRgb(x * 6, y * 19, (x * 7 + y * 3) % 256));
        const fs::path file = save(image, name, format.constData());
        QVERIFY(!file.empty());
        QVERIFY(loader.LoadImageW(file, 0, 0));
        expectSize(37, 13);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                QCOMPARE(pixelAt(loader, x, y), image.pixel(x, y));
    }

    void alphaIsDroppedNotBlended()
    {
        QImage image(3, 2, QImage::Format_ARGB32);
        image.setPixel(0, 0, qRgba(255, 0, 0, 128));
        image.setPixel(1, 0, qRgba(0, 255, 0, 0));
        image.setPixel(2, 0, qRgba(10, 20, 30, 255));
        image.setPixel(0, 1, qRgba(200, 100, 50, 1));
        image.setPixel(1, 1, qRgba(0, 0, 255, 200));
        image.setPixel(2, 1, qRgba(255, 255, 255, 0));
        const fs::path file = save(image, "alpha.png");
        QVERIFY(loader.LoadImageW(file, 0, 0));
        expectSize(3, 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                QCOMPARE(pixelAt(loader, x, y), image.pixel(x, y) | 0xff000000u);
    }

    void greyPaletteAndDeepImagesBecomeBgr()
    {
        QImage grey(9, 3, QImage::Format_Grayscale8);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 9; ++x)
                grey.scanLine(y)[x] = uchar(x * 25 + y);
        QVERIFY(loader.LoadImageW(save(grey, "grey.png"), 0, 0));
        QCOMPARE(QImageReader(QString::fromStdString(pathOf("grey.png").string())).imageFormat(), QImage::Format_Grayscale8);
        expectSize(9, 3);
        QCOMPARE(pixelAt(loader, 4, 2), qRgb(102, 102, 102));

        QImage palette(5, 4, QImage::Format_Indexed8);
        palette.setColorTable({qRgb(255, 0, 0), qRgb(0, 128, 0), qRgb(1, 2, 250)});
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x)
                palette.setPixel(x, y, (x + y) % 3);
        QVERIFY(loader.LoadImageW(save(palette, "palette.png"), 0, 0));
        QCOMPARE(QImageReader(QString::fromStdString(pathOf("palette.png").string())).imageFormat(), QImage::Format_Indexed8);
        expectSize(5, 4);
        QCOMPARE(pixelAt(loader, 0, 0), qRgb(255, 0, 0));
        QCOMPARE(pixelAt(loader, 1, 0), qRgb(0, 128, 0));
        QCOMPARE(pixelAt(loader, 1, 1), qRgb(1, 2, 250));

        QImage deep(4, 2, QImage::Format_RGBA64);
        deep.fill(QColor::fromRgba64(0xffff, 0x8080, 0x0000, 0xffff));
        deep.setPixelColor(3, 1, QColor::fromRgba64(0x0101, 0xfefe, 0x7f7f, 0x4000));
        QVERIFY(loader.LoadImageW(save(deep, "deep.png"), 0, 0));
        QVERIFY(QImageReader(QString::fromStdString(pathOf("deep.png").string())).imageFormat() >= QImage::Format_RGBX64);
        expectSize(4, 2);
        QCOMPARE(pixelAt(loader, 0, 0), qRgb(255, 128, 0));
        QCOMPARE(pixelAt(loader, 3, 1), qRgb(1, 254, 127));
    }

    void jpegBaselineAndProgressive()
    {
        for (bool progressive : {false, true}) {
            const QByteArray bytes = encode(blocks(64, 48), "jpeg", progressive);
            // Start of frame: C0 baseline, C2 progressive.
            QCOMPARE(bytes.contains("\xff\xc2"), progressive);
            const fs::path file = saveBytes(progressive ? "progressive.jpg" : "baseline.jpg", bytes);
            QVERIFY(loader.LoadImageW(file, 0, 0));
            expectSize(64, 48);
            for (int y = 8; y < 48; y += 16)
                for (int x = 8; x < 64; x += 16)
                    QVERIFY2(near(pixelAt(loader, x, y), blockColour(x, y), 6), qPrintable(QString("%1,%2").arg(x).arg(y)));
        }
    }

    // A camera held upright writes a landscape picture with "rotate 90
    // degrees clockwise" in its EXIF data: the frame must come out upright.
    void exifOrientationIsApplied()
    {
        QImage stored(64, 32, QImage::Format_RGB32);
        stored.fill(kBlocks[2]);
        QPainter(&stored).fillRect(0, 0, 32, 32, kBlocks[0]); // left half red
        const fs::path file = saveBytes("rotated.jpg", withOrientation(encode(stored, "jpeg"), 6));
        QVERIFY(loader.LoadImageW(file, 0, 0));
        expectSize(32, 64);
        QVERIFY(near(pixelAt(loader, 16, 16), kBlocks[0], 6)); // the left edge is now the top
        QVERIFY(near(pixelAt(loader, 16, 48), kBlocks[2], 6));
    }

    void firstFrameOfAnimatedGif()
    {
        const fs::path file = test_media::Generate(
            "animated.gif",
            "-f lavfi -i \"color=c=red:s=40x30:r=5:d=0.4[a];color=c=blue:s=40x30:r=5:d=0.4[b];[a][b]concat=n=2[out0]\"");
        QVERIFY(!file.empty());
        QImageReader reader(QString::fromStdString(file.string()));
        QVERIFY(reader.imageCount() > 1 || reader.supportsAnimation());
        QVERIFY(loader.LoadImageW(file, 0, 0));
        expectSize(40, 30);
        // The encoder dithers to its palette: red, not exactly 255.
        for (uint32_t y = 0; y < 30; y += 7)
            for (uint32_t x = 0; x < 40; x += 7) {
                const QRgb c = pixelAt(loader, x, y);
                QVERIFY2(qRed(c) > 200 && qGreen(c) < 40 && qBlue(c) < 40, qPrintable(QString::number(c, 16)));
            }
    }

    void firstPageOfMultiPageTiff()
    {
        if (!QImageReader::supportedImageFormats().contains("tiff"))
            QSKIP("no TIFF reader");
        QImage first(6, 4, QImage::Format_RGB32), second(3, 2, QImage::Format_RGB32);
        first.fill(qRgb(12, 34, 56));
        first.setPixel(5, 3, qRgb(200, 0, 100));
        second.fill(qRgb(250, 250, 0));
        const fs::path file = saveBytes("pages.tif", multiPageTiff({first, second}));
        QCOMPARE(QImageReader(QString::fromStdString(file.string())).imageCount(), 2);
        QVERIFY(loader.LoadImageW(file, 0, 0));
        expectSize(6, 4);
        QCOMPARE(pixelAt(loader, 0, 0), qRgb(12, 34, 56));
        QCOMPARE(pixelAt(loader, 5, 3), qRgb(200, 0, 100));
    }

    void targetSize()
    {
        // Left half red, right half blue, 1920x1080.
        QImage wide(1920, 1080, QImage::Format_RGB32);
        wide.fill(kBlocks[2]);
        QPainter(&wide).fillRect(0, 0, 960, 1080, kBlocks[0]);
        const fs::path file = save(wide, "wide.png");

        QVERIFY(loader.LoadImageW(file, 320, 240));
        expectSize(320, 240);
        QCOMPARE(loader.pixels.size(), size_t(230400));
        QCOMPARE(pixelAt(loader, 80, 120), kBlocks[0]);
        QCOMPARE(pixelAt(loader, 240, 120), kBlocks[2]);
        QCOMPARE(pixelAt(loader, 0, 0), kBlocks[0]);
        QCOMPARE(pixelAt(loader, 319, 239), kBlocks[2]);

        for (auto [w, h] : {std::pair{0u, 0u}, {0u, 240u}, {320u, 0u}, {1920u, 1080u}}) {
            QVERIFY(loader.LoadImageW(file, w, h));
            expectSize(1920, 1080);
            QCOMPARE(pixelAt(loader, 959, 500), kBlocks[0]);
            QCOMPARE(pixelAt(loader, 960, 500), kBlocks[2]);
        }

        QVERIFY(loader.LoadImageW(file, 3, 1000)); // aspect ratio is not kept
        expectSize(3, 1000);
    }

    void secondLoadReplacesFirst()
    {
        QImage small(2, 2, QImage::Format_RGB32);
        small.fill(qRgb(9, 8, 7));
        QVERIFY(loader.LoadImageW(save(blocks(50, 40), "first.png"), 0, 0));
        QVERIFY(loader.LoadImageW(save(small, "second.png"), 0, 0));
        expectSize(2, 2);
        QCOMPARE(pixelAt(loader, 1, 1), qRgb(9, 8, 7));
        QVERIFY(!loader.LoadImageW(pathOf("no-such-file.png"), 0, 0));
        expectEmpty();
    }

    void badFilesFailFastAndLeaveLoaderEmpty_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");

        QImage noise(400, 300, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y)
            for (int x = 0; x < noise.width(); ++x)
                noise.setPixel(x, y, qRgb((x * 31 + y * 17) % 256, (x * y) % 256, (x ^ y) % 256));
        const QByteArray png = encode(noise, "png");

        QTest::newRow("truncated png") << "truncated.png" << png.left(png.size() / 2);
        QTest::newRow("png header only") << "header.png" << png.left(33);
        QTest::newRow("empty file") << "empty.png" << QByteArray();
        QTest::newRow("text named png") << "text.png" << QByteArray("this is not a picture\n");
        QTest::newRow("garbage named jpg") << "garbage.jpg" << QByteArray("\xff\xd8\xff\xe0 garbage", 13);
        QTest::newRow("100000 x 100000") << "huge.png" << pngHeaderOnly(100000, 100000);
        // Each under 2^31 pixels, but not under 2^31 bytes as a frame.
        QTest::newRow("30000 x 30000") << "big.png" << pngHeaderOnly(30000, 30000);
        // A frame would fit, but decoding needs more than the reader may allocate.
        QTest::newRow("over allocation limit") << "limit.png" << pngHeaderOnly(20000, 20000);
        QTest::newRow("negative width") << "negative.png" << pngHeaderOnly(0x80000001u, 10);
        QTest::newRow("zero width") << "zero.png" << pngHeaderOnly(0, 10);
    }

    void badFilesFailFastAndLeaveLoaderEmpty()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        const fs::path file = saveBytes(name, bytes);
        QVERIFY(loader.LoadImageW(save(blocks(20, 10), "good.png"), 0, 0));

        QElapsedTimer timer;
        timer.start();
        QVERIFY(!loader.LoadImageW(file, 0, 0));
        expectEmpty();
        // A hang guard, not a benchmark: refusing must never mean decoding
        // (or allocating) gigabytes first.
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    }

    void missingAndDirectoryPaths()
    {
        QVERIFY(!loader.LoadImageW(pathOf("missing.png"), 0, 0));
        expectEmpty();
        QVERIFY(!loader.LoadImageW(test_media::Dir(), 0, 0));
        expectEmpty();
        QVERIFY(!loader.LoadImageW(fs::path(), 0, 0));
        expectEmpty();
    }

    void targetTooLargeForAFrame()
    {
        QVERIFY(!loader.LoadImageW(save(blocks(4, 4), "tiny.png"), 40000, 40000));
        expectEmpty();
    }
};

QTEST_GUILESS_MAIN(ImageLoaderTest)
#include "image_loader_test.moc"
