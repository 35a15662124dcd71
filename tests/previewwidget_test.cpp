// The preview's pixels, painted offscreen, and its hand-over from the
// streaming thread: no torn frames, and no wait on a blocked UI thread.
#include "previewwidget.h"

#include <QDeadlineTimer>
#include <QTest>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace {

const QRgb kBackground = qRgb(20, 20, 20);

std::vector<uchar> solid(int w, int h, QRgb colour)
{
    std::vector<uchar> bgr(size_t(w) * h * 3);
    for (size_t i = 0; i < bgr.size(); i += 3)
        bgr[i] = uchar(qBlue(colour)), bgr[i + 1] = uchar(qGreen(colour)), bgr[i + 2] = uchar(qRed(colour));
    return bgr;
}

QImage paint(QWidget &widget) { return widget.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Every pixel is `inside` within rect, `outside` elsewhere.
bool paintedAs(const QImage &image, const QRect &rect, QRgb inside, QRgb outside = kBackground)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != (rect.contains(x, y) ? inside : outside))
                return false;
    return true;
}

bool allAre(const QImage &image, QRgb colour) { return paintedAs(image, image.rect(), colour); }

class PaintCounter : public QObject {
public:
    std::atomic<int> paints{0};
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

class PreviewWidgetTest : public QObject {
    Q_OBJECT

private slots:
    // An odd leftover pixel goes to the right or bottom band; an empty frame
    // replaces the one before it with the background.
    void fitsCentredOrStretched_data()
    {
        QTest::addColumn<QSize>("frameSize");
        QTest::addColumn<QSize>("widgetSize");
        QTest::addColumn<bool>("stretch");
        QTest::addColumn<QRect>("picture");
        QTest::newRow("pillarbox") << QSize(640, 480) << QSize(1000, 500) << false << QRect(167, 0, 666, 500);
        QTest::newRow("odd column right") << QSize(640, 480) << QSize(641, 480) << false << QRect(0, 0, 640, 480);
        QTest::newRow("letterbox") << QSize(640, 480) << QSize(400, 500) << false << QRect(0, 100, 400, 300);
        QTest::newRow("odd row bottom") << QSize(400, 200) << QSize(400, 201) << false << QRect(0, 0, 400, 200);
        QTest::newRow("no width") << QSize(0, 20) << QSize(300, 200) << false << QRect();
        QTest::newRow("no height") << QSize(30, 0) << QSize(300, 200) << false << QRect();
        QTest::newRow("upscaled") << QSize(4, 3) << QSize(800, 300) << false << QRect(200, 0, 400, 300);
        QTest::newRow("stretched") << QSize(640, 480) << QSize(1000, 500) << true << QRect(0, 0, 1000, 500);
    }

    void fitsCentredOrStretched()
    {
        QFETCH(QSize, frameSize);
        QFETCH(QSize, widgetSize);
        QFETCH(bool, stretch);
        QFETCH(QRect, picture);
        PreviewWidget preview;
        preview.resize(widgetSize);
        preview.setStretch(stretch);
        const auto previous = solid(8, 8, qRgb(200, 0, 0));
        preview.setFrame(previous.data(), 8, 8);
        const QRgb colour = qRgb(30, 160, 90);
        const auto frame = solid(qMax(frameSize.width(), 1), qMax(frameSize.height(), 1), colour);
        preview.setFrame(frame.data(), frameSize.width(), frameSize.height());
        QVERIFY(paintedAs(paint(preview), picture, colour));
    }

    // Blue-green-red bytes in, red-green-blue out, rows top to bottom; clear()
    // leaves the background.
    void channelsOrientationAndClear()
    {
        const int w = 64, h = 64;
        std::vector<uchar> bgr(size_t(w) * h * 3);
        const uchar blocks[4][3] = {{10, 20, 30}, {0, 0, 250}, {250, 0, 0}, {0, 250, 0}}; // B, G, R
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uchar *b = blocks[(y >= 32) * 2 + (x >= 32)];
                std::copy(b, b + 3, &bgr[(size_t(y) * w + x) * 3]);
            }
        PreviewWidget preview;
        preview.resize(256, 256);
        QVERIFY(allAre(paint(preview), kBackground));
        preview.setFrame(bgr.data(), w, h);
        bgr.assign(bgr.size(), 0); // the widget must have its own copy

        const QImage image = paint(preview);
        QCOMPARE(image.pixel(64, 64), qRgb(30, 20, 10));
        QCOMPARE(image.pixel(192, 64), qRgb(250, 0, 0));
        QCOMPARE(image.pixel(64, 192), qRgb(0, 0, 250));
        QCOMPARE(image.pixel(192, 192), qRgb(0, 250, 0));
        preview.clear();
        QVERIFY(allAre(paint(preview), kBackground));
    }

    // Frames from a streaming thread while the UI thread keeps painting (and
    // handles no events): every painted picture is one whole frame.
    void framesFromAnotherThreadNeverTear()
    {
        PreviewWidget preview;
        preview.resize(160, 120);
        preview.setStretch(true);
        const int frames = 300;
        std::vector<std::vector<uchar>> sources;
        for (int i = 0; i < frames; ++i)
            sources.push_back(solid(320, 240, qRgb(i % 256, 255 - i % 256, 40 + i / 256)));

        std::atomic<bool> done{false};
        std::thread worker([&] {
            for (const auto &source : sources)
                preview.setFrame(source.data(), 320, 240);
            done = true;
        });
        QDeadlineTimer deadline(std::chrono::seconds(30));
        bool torn = false;
        for (int paints = 0; (!done || paints < 5) && !torn && !deadline.hasExpired(); ++paints) {
            const QImage image = paint(preview);
            torn = !allAre(image, image.pixel(0, 0));
        }
        const bool stuck = !done;
        while (!done)
            QCoreApplication::processEvents();
        worker.join();
        QVERIFY2(!torn, "painted a mix of two frames");
        QVERIFY2(!stuck, "setFrame waited for the UI thread");
        QCOMPARE(paint(preview).pixel(80, 60), qRgb((frames - 1) % 256, 255 - (frames - 1) % 256, 41));
    }

    // As when streaming stops: the UI thread waits for the streaming thread,
    // which must not wait for it in turn; the repaint arrives afterwards.
    void blockedUiThreadDoesNotBlockSetFrame()
    {
        PreviewWidget preview;
        preview.resize(160, 120);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        PaintCounter counter;
        preview.installEventFilter(&counter);
        QCoreApplication::processEvents();
        counter.paints = 0;

        const auto frame = solid(64, 48, qRgb(1, 2, 3));
        auto worker = std::async(std::launch::async, [&] {
            for (int i = 0; i < 50; ++i)
                preview.setFrame(frame.data(), 64, 48);
        });
        if (worker.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            while (worker.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
                QCoreApplication::processEvents();
            QFAIL("setFrame waited for the UI thread");
        }
        QCOMPARE(counter.paints.load(), 0);
        QTRY_VERIFY(counter.paints > 0);
        QCOMPARE(paint(preview).pixel(80, 60), qRgb(1, 2, 3));
    }
};

QTEST_MAIN(PreviewWidgetTest)
#include "previewwidget_test.moc"
