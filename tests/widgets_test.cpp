// The window's own widgets: the preview's pixels and its hand-over from the
// streaming thread, the seek slider (the window seeks between sliderPressed
// and sliderReleased, so the signal order matters) and the compiled-in icons.
#include "clickableslider.h"
#include "previewwidget.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QIcon>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

namespace {

const QRgb kBackground = qRgb(20, 20, 20);

std::vector<uchar> solid(int w, int h, QRgb colour)
{
    std::vector<uchar> bgr(size_t(w) * h * 3);
    for (size_t i = 0; i < bgr.size(); ++i)
        bgr[i] = uchar(colour >> (8 * (i % 3)));
    return bgr;
}

// Every pixel is `inside` within rect, `outside` elsewhere.
bool paintedAs(const QImage &image, const QRect &rect, QRgb inside, QRgb outside = kBackground)
{
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != (rect.contains(x, y) ? inside : outside))
                return false;
    return true;
}

// Paints on the widget's thread, and on any other.
struct PaintCounter : QObject {
    std::atomic<int> paints{0}, offThread{0};
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++(QThread::currentThread() == thread() ? paints : offThread);
        return false;
    }
};

} // namespace

class WidgetsTest : public QObject {
    Q_OBJECT

private slots:
    // An odd leftover pixel goes to the right or bottom band; an empty frame
    // replaces the one before it with the background.
    void fitsCentredOrStretched_data()
    {
        QTest::addColumn<QSize>("frameSize");
        QTest::addColumn<QSize>("widgetSize");
        QTest::addColumn<QRect>("picture"); // stretched when empty
        QTest::newRow("pillarbox") << QSize(640, 480) << QSize(1000, 500) << QRect(167, 0, 666, 500);
        QTest::newRow("odd column right") << QSize(640, 480) << QSize(641, 480) << QRect(0, 0, 640, 480);
        QTest::newRow("letterbox") << QSize(640, 480) << QSize(400, 500) << QRect(0, 100, 400, 300);
        QTest::newRow("odd row bottom") << QSize(400, 200) << QSize(400, 201) << QRect(0, 0, 400, 200);
        QTest::newRow("no width") << QSize(0, 20) << QSize(300, 200) << QRect(0, 0, 0, 1);
        QTest::newRow("upscaled") << QSize(4, 3) << QSize(800, 300) << QRect(200, 0, 400, 300);
        QTest::newRow("stretched") << QSize(640, 480) << QSize(1000, 500) << QRect();
    }
    void fitsCentredOrStretched()
    {
        QFETCH(QSize, frameSize);
        QFETCH(QSize, widgetSize);
        QFETCH(QRect, picture);
        PreviewWidget preview;
        preview.resize(widgetSize);
        preview.setStretch(picture.isNull());
        preview.setFrame(solid(8, 8, qRgb(200, 0, 0)).data(), 8, 8);
        const QRgb colour = qRgb(30, 160, 90);
        const auto frame = solid(qMax(frameSize.width(), 1), qMax(frameSize.height(), 1), colour);
        preview.setFrame(frame.data(), frameSize.width(), frameSize.height());
        QVERIFY(paintedAs(preview.grab().toImage(), picture.isNull() ? preview.rect() : picture, colour));
    }

    // Four coloured quadrants in, the same four painted upright, from BGR
    // bytes or from 4:2:0 YUV of an odd width; clear() leaves the background.
    void quadrants()
    {
        // Red, blue, green, grey; and the same in limited-range BT.601.
        const QRgb colours[4] = {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 255, 0), qRgb(128, 128, 128)};
        const uchar yuvOf[4][3] = {{81, 90, 240}, {41, 240, 110}, {145, 54, 34}, {126, 128, 128}};
        const auto quadrant = [](int x, int y) { return (y >= 32) * 2 + (x >= 32); };
        for (const bool yuv : {false, true}) {
            const int width = yuv ? 63 : 64;
            const char *label = yuv ? "yuv" : "bgr";
            std::vector<uchar> bgr(size_t(width) * 64 * 3), planes[3];
            for (size_t i = 0; i < bgr.size(); ++i)
                bgr[i] = uchar(colours[quadrant(int(i / 3) % width, int(i / 3) / width)] >> (8 * (i % 3)));
            FrameView view = FrameView::Bgr(bgr.data(), width, 64);
            if (yuv) {
                view.format = FrameView::Format::Yuv420;
                for (int p = 0, s = 1; p < 3; ++p, s = 2) {
                    const int pw = (width + s - 1) / s;
                    planes[p].resize(size_t(pw) * (64 / s));
                    for (size_t i = 0; i < planes[p].size(); ++i)
                        planes[p][i] = yuvOf[quadrant(int(i % pw) * s, int(i / pw) * s)][p];
                    view.plane[p] = planes[p].data();
                    view.stride[p] = pw;
                }
            }
            PreviewWidget preview;
            preview.resize(256, 256);
            preview.setFrame(view);
            bgr.assign(bgr.size(), 0); // the widget must have its own copy
            for (auto &plane : planes)
                plane.assign(plane.size(), 0);
            const QImage image = preview.grab().toImage();
            const int left = (256 - width * 4) / 2;
            QVERIFY2(paintedAs(image.copy(0, 0, left, 256), QRect(), 0), label);
            // Within 4 levels, away from the borders where quadrants blend.
            for (int y = 0; y < 256; ++y)
                for (int x = left; x < left + width * 4; ++x) {
                    const int fx = (x - left) / 4, fy = y / 4;
                    const QRgb want = colours[quadrant(fx, fy)], got = image.pixel(x, y);
                    const int off = qAbs(qRed(got) - qRed(want)) + qAbs(qGreen(got) - qGreen(want))
                        + qAbs(qBlue(got) - qBlue(want));
                    if (qAbs(fx - 32) >= 3 && qAbs(fy - 32) >= 3 && off > 4)
                        QFAIL(qPrintable(QString("%1 (%2,%3) is %4").arg(label).arg(x).arg(y).arg(got, 0, 16)));
                }
            preview.clear();
            QVERIFY2(paintedAs(preview.grab().toImage(), QRect(), 0), label);
        }
    }

    // Frames from a streaming thread while the UI thread keeps painting and
    // handles no events, as when it waits for that thread to stop: setFrame
    // neither waits for the UI thread nor paints itself, every painted
    // picture is one whole frame, and the repaint it asks for comes later.
    void framesFromAnotherThread()
    {
        PreviewWidget preview;
        preview.resize(160, 120);
        preview.setStretch(true);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        PaintCounter counter;
        preview.installEventFilter(&counter);
        std::atomic<bool> done{false};
        std::thread worker([&] {
            for (int i = 0; i < 300; ++i)
                preview.setFrame(solid(320, 240, qRgb(i % 256, 255 - i % 256, 40 + i / 256)).data(), 320, 240);
            done = true;
        });
        QDeadlineTimer deadline(std::chrono::seconds(30));
        bool torn = false;
        for (int paints = 0; (!done || paints < 5) && !torn && !deadline.hasExpired(); ++paints) {
            const QImage image = preview.grab().toImage();
            torn = !paintedAs(image, image.rect(), image.pixel(0, 0));
        }
        const bool stuck = !done;
        while (!done)
            QCoreApplication::processEvents();
        worker.join();
        QVERIFY2(!torn, "painted a mix of two frames");
        QVERIFY2(!stuck, "setFrame waited for the UI thread");
        QCOMPARE(counter.offThread.load(), 0);
        counter.paints = 0;
        QTRY_VERIFY(counter.paints > 0);
        QCOMPARE(preview.grab().toImage().pixel(80, 60), qRgb(299 % 256, 255 - 299 % 256, 41));
    }

    // Gestures, each a letter and a position in percent of the handle's
    // travel (outside 0..100: beyond the groove): p, r = left press and
    // release, m = move with the left button held, h = a stray move with no
    // drag going on, c = right click, q = right release, d = double click.
    // Signals: P pressed, R released, M moved, C value changed. Starts at 300.
    void gestures_data()
    {
        QTest::addColumn<QString>("gestures");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("signalLetters");
        QTest::newRow("click") << "p50 r50" << 500 << "PMCMRR";
        QTest::newRow("click on the value") << "p50 r50 p50 r50" << 500 << "PMCMRRPMRR";
        QTest::newRow("left of the groove") << "p-10 r-10" << 0 << "PMCMRR";
        QTest::newRow("right of the groove") << "p110 r110" << 1000 << "PMCMRR";
        QTest::newRow("quarter") << "p25 r25" << 250 << "PMCMRR";
        QTest::newRow("drag beyond both ends") << "p50 m75 m-50 m175 r175" << 1000 << "PMCMMCMMCMMCMRR";
        QTest::newRow("stray move after a drag") << "p50 r50 h10" << 500 << "PMCMRR";
        QTest::newRow("right click") << "c90" << 300 << "";
        QTest::newRow("right release mid-drag") << "p50 q50 m60 r60" << 600 << "PMCMMCMRR";
        // What a real double click delivers: press, release, double-click, release.
        QTest::newRow("double click") << "p60 r60 d60 r60" << 600 << "PMCMRRPMRR";
    }
    void gestures()
    {
        QFETCH(QString, gestures);
        QFETCH(int, value);
        QFETCH(QString, signalLetters);
        ClickableSlider slider(Qt::Horizontal);
        slider.setRange(0, 1000);
        slider.setValue(300);
        slider.resize(400, 24);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        QString log;
        connect(&slider, &QSlider::sliderPressed, this, [&] { log += 'P'; });
        connect(&slider, &QSlider::sliderReleased, this, [&] { log += 'R'; });
        connect(&slider, &QSlider::sliderMoved, this, [&](int v) { log += v == slider.value() ? "M" : "M?"; });
        connect(&slider, &QSlider::valueChanged, this, [&] { log += 'C'; });

        QStyleOptionSlider option;
        option.initFrom(&slider);
        const QRect groove =
            slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, &slider);
        const int half = slider.style()->pixelMetric(QStyle::PM_SliderLength, nullptr, &slider) / 2;
        const QHash<QChar, std::pair<QTest::MouseAction, Qt::MouseButton>> mouse = {
            {'p', {QTest::MousePress, Qt::LeftButton}},    {'r', {QTest::MouseRelease, Qt::LeftButton}},
            {'m', {QTest::MouseMove, Qt::NoButton}},       {'c', {QTest::MouseClick, Qt::RightButton}},
            {'q', {QTest::MouseRelease, Qt::RightButton}}, {'d', {QTest::MouseDClick, Qt::LeftButton}}};
        for (const QString &gesture : gestures.split(' ')) {
            // Where the handle's centre sits for that share of the range.
            const QPoint at(groove.x() + half + qRound(gesture.mid(1).toInt() / 100.0 * (groove.width() - 2 * half)),
                            slider.height() / 2);
            if (gesture[0] == 'h') { // the button went down elsewhere
                QMouseEvent move(QEvent::MouseMove, QPointF(at), slider.mapToGlobal(QPointF(at)), Qt::NoButton,
                                 Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(&slider, &move);
            } else {
                QTest::mouseEvent(mouse[gesture[0]].first, &slider, mouse[gesture[0]].second, {}, at);
            }
        }
        QVERIFY2(qAbs(slider.value() - value) <= 5, qPrintable(QString::number(slider.value())));
        QVERIFY(value % 1000 != 0 || slider.value() == value);
        QCOMPARE(log, signalLetters);
        QVERIFY(!slider.isSliderDown());
    }

    // Every icon the window and the tray use draws at button size and at
    // large size, visible and shaped rather than a filled square; the tray's
    // connected icon differs from the idle one.
    void everyIconDraws()
    {
        for (const char *name : {"connected", "open", "pause", "play", "register", "stop", "unregister",
                                 "vidloom-connected", "vidloom", "waiting"})
            for (int size : {16, 256}) {
                const QImage image = QIcon(QString(":/icons/%1.svg").arg(name)).pixmap(size).toImage();
                int opaque = 0;
                for (int i = 0; i < size * size; ++i)
                    opaque += qAlpha(image.pixel(i % size, i / size)) > 0;
                QVERIFY2(image.size() == QSize(size, size) && opaque > size * size / 10 && opaque < size * size, name);
            }
        QVERIFY(QIcon(":/icons/vidloom.svg").pixmap(64).toImage()
                != QIcon(":/icons/vidloom-connected.svg").pixmap(64).toImage());
    }
};

QTEST_MAIN(WidgetsTest)
#include "widgets_test.moc"
