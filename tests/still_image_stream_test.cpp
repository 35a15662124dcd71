// A still image file, loaded by ImageLoader, streams through FrameSender
// into the recording camera: every frame the camera receives is the image
// fitted and mirrored, byte for byte.
#include "frame_sender.h"
#include "image_loader.h"
#include "recording_camera_control.h"
#include "reference_frame.h"
#include "test_media.h"

#include <QImage>
#include <QTest>

class StillImageStreamTest : public QObject {
    Q_OBJECT

private:
    RecordingCamera camera;

private slots:
    void initTestCase() { QVERIFY2(camera.ok(), "the recording camera library is not beside the test"); }
    void init() { camera.reset(); }

    void streamsFittedAndMirrored_data()
    {
        QTest::addColumn<QSize>("source");
        QTest::addColumn<QSize>("cameraSize");
        QTest::addColumn<bool>("stretch");
        QTest::newRow("wider: bars above and below") << QSize(37, 23) << QSize(64, 48) << false;
        QTest::newRow("taller: bars left and right") << QSize(23, 37) << QSize(64, 48) << false;
        QTest::newRow("same size: mirrored only") << QSize(64, 48) << QSize(64, 48) << false;
        QTest::newRow("stretched") << QSize(37, 23) << QSize(64, 48) << true;
        QTest::newRow("downscaled") << QSize(301, 199) << QSize(96, 54) << false;
    }

    void streamsFittedAndMirrored()
    {
        QFETCH(QSize, source);
        QFETCH(QSize, cameraSize);
        QFETCH(bool, stretch);
        const int w = source.width(), h = source.height();

        // A lossless file whose pixels are exactly the pattern.
        const std::vector<uint8_t> pattern = reference_frame::Pattern(w, h, uint32_t(w * 7 + h));
        QImage image(w, h, QImage::Format_BGR888);
        for (int y = 0; y < h; ++y)
            std::copy_n(pattern.data() + size_t(y) * w * 3, size_t(w) * 3, image.scanLine(y));
        const std::string file = (test_media::Dir() / ("still-" + std::to_string(w) + "x" + std::to_string(h) + ".png")).string();
        QVERIFY(image.save(QString::fromStdString(file), "PNG"));

        ImageLoader loader;
        QVERIFY(loader.Initialize());
        QVERIFY(loader.LoadImageW(file));
        QVERIFY(loader.pixels == pattern);

        FrameSender sender;
        QVERIFY(sender.InitCamera(cameraSize.width(), cameraSize.height(), 30.0f));
        sender.stretch = stretch;
        camera.captureFrames(3);
        sender.StartImage(loader.pixels.data(), w, h);
        // The sender keeps its own copy: the loader may load the next file.
        std::fill(loader.pixels.begin(), loader.pixels.end(), uint8_t(0x5a));
        loader.Release();

        QVERIFY(camera.waitForFrames(3));
        sender.Stop();
        const auto expected = reference_frame::CameraFrame(pattern.data(), w, h, cameraSize.width(),
                                                           cameraSize.height(), stretch);
        for (int i = 0; i < 3; ++i)
            QVERIFY2(camera.frame(i) == expected, qPrintable(QString("frame %1").arg(i)));
    }
};

QTEST_GUILESS_MAIN(StillImageStreamTest)
#include "still_image_stream_test.moc"
