// A still image file, loaded by ImageLoader, streams through FrameSender
// into the recording camera: every frame the camera receives is the image
// fitted and mirrored, byte for byte, at the camera's pace.
#include "frame_sender.h"
#include "image_loader.h"
#include "recording_camera_control.h"
#include "reference_frame.h"
#include "test_media.h"

#include <QImage>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace {

// Writes a lossless file whose pixels are the given BGR24 frame.
std::filesystem::path writePng(const std::vector<uint8_t> &bgr, int w, int h, const std::string &name)
{
    QImage image(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y)
        std::memcpy(image.scanLine(y), bgr.data() + size_t(y) * w * 3, size_t(w) * 3);
    const std::filesystem::path path = test_media::Dir() / name;
    return image.save(QString::fromStdString(path.string()), "PNG") ? path : std::filesystem::path();
}

} // namespace

class StillImageStreamTest : public QObject {
    Q_OBJECT

private:
    RecordingCamera camera;

private slots:
    void initTestCase() { QVERIFY2(camera.ok(), "the recording camera library is not beside the test"); }
    void init() { camera.reset(); }

    void streamsFittedAndMirrored_data()
    {
        QTest::addColumn<int>("srcW");
        QTest::addColumn<int>("srcH");
        QTest::addColumn<int>("camW");
        QTest::addColumn<int>("camH");
        QTest::addColumn<bool>("stretch");
        QTest::newRow("wider: bars above and below") << 37 << 23 << 64 << 48 << false;
        QTest::newRow("taller: bars left and right") << 23 << 37 << 64 << 48 << false;
        QTest::newRow("same size: mirrored only") << 64 << 48 << 64 << 48 << false;
        QTest::newRow("stretched") << 37 << 23 << 64 << 48 << true;
        QTest::newRow("downscaled") << 301 << 199 << 96 << 54 << false;
    }

    void streamsFittedAndMirrored()
    {
        QFETCH(int, srcW);
        QFETCH(int, srcH);
        QFETCH(int, camW);
        QFETCH(int, camH);
        QFETCH(bool, stretch);

        const std::vector<uint8_t> source = reference_frame::Pattern(srcW, srcH, uint32_t(srcW * 7 + srcH));
        const auto file = writePng(source, srcW, srcH, "still-" + std::to_string(srcW) + "x" + std::to_string(srcH) + ".png");
        QVERIFY(!file.empty());
        ImageLoader loader;
        QVERIFY(loader.Initialize());
        QVERIFY(loader.LoadImageW(file, 0, 0));
        QCOMPARE(int(loader.width), srcW);
        QCOMPARE(int(loader.height), srcH);
        QVERIFY(loader.pixels == source);

        FrameSender sender;
        QVERIFY(sender.InitCamera(camW, camH, 30.0f));
        sender.stretch = stretch;
        std::atomic<int> previews{0}, wrongPreviews{0};
        sender.onFrame = [&](const unsigned char *pixels, int w, int h) {
            ++previews;
            if (w != srcW || h != srcH || !std::equal(source.begin(), source.end(), pixels))
                ++wrongPreviews;
        };
        camera.captureFrames(3);
        sender.StartImage(loader.pixels.data(), int(loader.width), int(loader.height));
        // The sender keeps its own copy: the loader may load the next file.
        std::fill(loader.pixels.begin(), loader.pixels.end(), uint8_t(0x5a));
        loader.Release();

        QVERIFY(camera.waitForFrames(3));
        sender.Stop();
        const auto expected = reference_frame::CameraFrame(source.data(), srcW, srcH, camW, camH, stretch);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(camera.frame(i) == expected, qPrintable(QString("frame %1").arg(i)));
        QVERIFY(previews >= 3);
        QCOMPARE(wrongPreviews.load(), 0);
    }

    // The worker repeats the image without pause of its own: the camera's
    // send call alone sets the rate, so it can never exceed the camera's.
    void repeatsAtTheCameraPace()
    {
        const std::vector<uint8_t> source = reference_frame::Pattern(50, 30);
        const auto file = writePng(source, 50, 30, "paced.png");
        ImageLoader loader;
        QVERIFY(loader.Initialize());
        QVERIFY(loader.LoadImageW(file, 0, 0));

        FrameSender sender;
        QVERIFY(sender.InitCamera(80, 60, 30.0f));
        sender.StartImage(loader.pixels.data(), 50, 30);
        QVERIFY(camera.waitForFrames(40)); // more than one measuring window
        QTRY_VERIFY(sender.currentFps > 0.0);
        const double fps = sender.currentFps;
        QVERIFY2(fps <= 31.0, qPrintable(QString::number(fps)));
        QVERIFY(sender.running);
        QVERIFY(camera.frame() == reference_frame::CameraFrame(source.data(), 50, 30, 80, 60, false));
        sender.Stop();
        QCOMPARE(sender.currentFps.load(), 0.0);
    }
};

QTEST_GUILESS_MAIN(StillImageStreamTest)
#include "still_image_stream_test.moc"
