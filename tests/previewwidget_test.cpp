// The preview's pixels, painted offscreen, and its hand-over from the
// streaming thread: no torn frames, and no wait on a blocked UI thread.
#include "previewwidget.h"

#include <QDeadlineTimer>
#include <QTest>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace {

const QRgb kBackground = qRgb(20, 20, 20);

// A BGR24 frame of one colour.
std::vector<uchar> solid(int w, int h, QRgb colour)
{
    std::vector<uchar> bgr(size_t(w) * h * 3);
    for (size_t i = 0; i < bgr.size(); i += 3) {
        bgr[i] = uchar(qBlue(colour));
        bgr[i + 1] = uchar(qGreen(colour));
        bgr[i + 2] = uchar(qRed(colour));
    }
    return bgr;
}

QImage paint(QWidget &widget)
{
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Columns [from, to) of `image` are `colour` on every row.
bool columnsAre(const QImage &image, int from, int to, QRgb colour)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = from; x < to; ++x)
            if (image.pixel(x, y) != colour)
                return false;
    return true;
}

bool allAre(const QImage &image, QRgb colour) { return columnsAre(image, 0, image.width(), colour); }

// Counts paint events, to see a repaint arrive.
class PaintCounter : public QObject {
public:
    std::atomic<int> paints{0};
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

} // namespace

class PreviewWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void emptyWidgetShowsOnlyTheBackground()
    {
        PreviewWidget preview;
        preview.resize(300, 200);
        QVERIFY(allAre(paint(preview), kBackground));
        QCOMPARE(preview.minimumHeight(), 200);
        QCOMPARE(preview.sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(preview.sizePolicy().verticalPolicy(), QSizePolicy::Expanding);

        const auto frame = solid(30, 20, qRgb(200, 0, 0));
        preview.setFrame(frame.data(), 30, 20);
        QVERIFY(!allAre(paint(preview), kBackground));
        preview.clear();
        QVERIFY(allAre(paint(preview), kBackground));

        // A frame with no pixels is no frame.
        preview.setFrame(frame.data(), 30, 20);
        preview.setFrame(frame.data(), 0, 20);
        QVERIFY(allAre(paint(preview), kBackground));
        preview.setFrame(frame.data(), 30, 0);
        QVERIFY(allAre(paint(preview), kBackground));
    }

    void keepsAspectRatioCentred_data()
    {
        QTest::addColumn<QSize>("frameSize");
        QTest::addColumn<QSize>("widgetSize");
        QTest::addColumn<QRect>("picture");
        QTest::newRow("pillarbox") << QSize(640, 480) << QSize(1000, 500) << QRect(167, 0, 666, 500);
        QTest::newRow("odd column right") << QSize(640, 480) << QSize(641, 480) << QRect(0, 0, 640, 480);
        QTest::newRow("letterbox") << QSize(640, 480) << QSize(400, 500) << QRect(0, 100, 400, 300);
        QTest::newRow("odd row bottom") << QSize(400, 200) << QSize(400, 201) << QRect(0, 0, 400, 200);
        QTest::newRow("upscaled") << QSize(4, 3) << QSize(800, 300) << QRect(200, 0, 400, 300);
    }

    void keepsAspectRatioCentred()
    {
        QFETCH(QSize, frameSize);
        QFETCH(QSize, widgetSize);
        QFETCH(QRect, picture);
        PreviewWidget preview;
        preview.resize(widgetSize);
        const QRgb colour = qRgb(30, 160, 90);
        const auto frame = solid(frameSize.width(), frameSize.height(), colour);
        preview.setFrame(frame.data(), frameSize.width(), frameSize.height());

        const QImage image = paint(preview);
        QCOMPARE(image.size(), widgetSize);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixel(x, y) != (picture.contains(x, y) ? colour : kBackground))
                    QFAIL(qPrintable(QString("pixel %1,%2 is %3").arg(x).arg(y).arg(image.pixel(x, y), 8, 16)));
    }

    void stretchCoversEveryPixel()
    {
        PreviewWidget preview;
        preview.resize(1000, 500);
        const QRgb colour = qRgb(30, 160, 90);
        const auto frame = solid(640, 480, colour);
        preview.setFrame(frame.data(), 640, 480);
        preview.setStretch(true);
        QVERIFY(allAre(paint(preview), colour));
        preview.clear();
        QVERIFY(allAre(paint(preview), kBackground));
        preview.setFrame(frame.data(), 640, 480);
        QVERIFY(allAre(paint(preview), colour)); // stretch survives clear()
        preview.setStretch(false);
        QVERIFY(columnsAre(paint(preview), 0, 167, kBackground));
    }

    // Four 32x32 blocks, blue-green-red bytes in: the picture must come out
    // red-green-blue, left to right and top to bottom as given.
    void channelsAndOrientation()
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
        preview.setFrame(bgr.data(), w, h);
        bgr.assign(bgr.size(), 0); // the widget must have its own copy

        const QImage image = paint(preview);
        QCOMPARE(image.pixel(64, 64), qRgb(30, 20, 10));   // top left
        QCOMPARE(image.pixel(192, 64), qRgb(250, 0, 0));   // top right: red
        QCOMPARE(image.pixel(64, 192), qRgb(0, 0, 250));   // bottom left: blue
        QCOMPARE(image.pixel(192, 192), qRgb(0, 250, 0));  // bottom right: green
    }

    // Frames from a streaming thread while the UI thread keeps painting:
    // every painted picture is one whole frame, never a mix of two.
    void framesFromAnotherThreadNeverTear()
    {
        PreviewWidget preview;
        preview.resize(160, 120);
        preview.setStretch(true);
        const int frames = 300;
        std::vector<std::vector<uchar>> sources;
        for (int i = 0; i < frames; ++i)
            sources.push_back(solid(64, 48, qRgb(i % 256, 255 - i % 256, 40 + i / 256)));

        std::atomic<bool> done{false};
        std::thread worker([&] {
            for (int i = 0; i < frames; ++i)
                preview.setFrame(sources[size_t(i)].data(), 64, 48);
            done = true;
        });
        // The UI thread paints and handles no events meanwhile.
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
        QVERIFY2(!stuck, "setFrame waited for the UI thread");
        QVERIFY2(!torn, "painted a mix of two frames");
        QCOMPARE(paint(preview).pixel(80, 60), qRgb((frames - 1) % 256, 255 - (frames - 1) % 256, 41));
    }

    // The streaming thread hands a frame over while the UI thread is busy
    // waiting for that very thread (as when streaming stops): setFrame must
    // not wait for the UI thread, and the repaint still arrives afterwards.
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
        // The UI thread processes no events until the worker is done.
        const bool finished = worker.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        if (!finished) {
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
