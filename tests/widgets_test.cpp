// The preview's pixels and its hand-over from the streaming thread, the seek
// slider's gestures and signals, and the compiled-in icons.
#include "clickableslider.h"
#include "previewwidget.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QIcon>
#include <QTest>
#include <QThread>

#include <array>
#include <atomic>
#include <thread>

namespace {

const QRgb kBackground = qRgb(20, 20, 20);

// Which quadrant of a w x h frame pixel (x, y) lies in: 0 top left .. 3 bottom right.
int quadrant(int x, int y, int w, int h)
{
    return (y >= (h + 1) / 2) * 2 + (x >= (w + 1) / 2);
}

std::vector<uchar> quadrants(int w, int h, std::array<QRgb, 4> colours)
{
    std::vector<uchar> bgr(size_t(w) * h * 3);
    for (size_t i = 0; i < bgr.size(); ++i)
        bgr[i] = uchar(colours[quadrant(int(i / 3) % w, int(i / 3) / w, w, h)] >> (8 * (i % 3)));
    return bgr;
}

bool uniform(const QImage &image, QRgb colour)
{
    QImage filled(image.size(), image.format());
    filled.fill(QColor(colour));
    return image == filled;
}

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
    // Where the picture goes (null: stretched) and what it shows; an odd leftover
    // pixel goes right or down; an empty frame, like clear(), leaves the background.
    void paints_data()
    {
        QTest::addColumn<QSize>("frameSize");
        QTest::addColumn<QSize>("widgetSize");
        QTest::addColumn<QRect>("picture");
        QTest::addColumn<int>("pattern"); // 0: one colour, 1: BGR quadrants, 2: YUV quadrants
        QTest::newRow("pillarbox") << QSize(640, 480) << QSize(1000, 500) << QRect(167, 0, 666, 500) << 0;
        QTest::newRow("odd column right") << QSize(640, 480) << QSize(641, 480) << QRect(0, 0, 640, 480) << 0;
        QTest::newRow("letterbox") << QSize(640, 480) << QSize(400, 500) << QRect(0, 100, 400, 300) << 0;
        QTest::newRow("odd row bottom") << QSize(400, 200) << QSize(400, 201) << QRect(0, 0, 400, 200) << 0;
        QTest::newRow("no width") << QSize(0, 20) << QSize(300, 200) << QRect(0, 0, 0, 1) << 0;
        QTest::newRow("upscaled") << QSize(4, 3) << QSize(800, 300) << QRect(200, 0, 400, 300) << 0;
        QTest::newRow("stretched") << QSize(640, 480) << QSize(1000, 500) << QRect() << 0;
        QTest::newRow("bgr quadrants") << QSize(64, 64) << QSize(256, 256) << QRect(0, 0, 256, 256) << 1;
        QTest::newRow("yuv quadrants") << QSize(63, 64) << QSize(256, 256) << QRect(2, 0, 252, 256) << 2;
    }
    void paints()
    {
        QFETCH(QSize, frameSize);
        QFETCH(QSize, widgetSize);
        QFETCH(QRect, picture);
        QFETCH(int, pattern);
        const int w = frameSize.width(), h = frameSize.height();
        // Red, blue, green, grey, and the same in limited-range BT.601; or one colour.
        std::array<QRgb, 4> colours = {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 255, 0), qRgb(128, 128, 128)};
        if (!pattern)
            colours.fill(qRgb(30, 160, 90));
        const uchar yuvOf[4][3] = {{81, 90, 240}, {41, 240, 110}, {145, 54, 34}, {126, 128, 128}};
        std::vector<uchar> bgr = quadrants(qMax(w, 1), qMax(h, 1), colours), planes[3];
        FrameView view = FrameView::Bgr(bgr.data(), w, h);
        if (pattern == 2) {
            view.format = FrameView::Format::Yuv420;
            for (int p = 0, s = 1; p < 3; ++p, s = 2) {
                const int pw = (w + s - 1) / s;
                planes[p].resize(size_t(pw) * (h / s));
                for (size_t i = 0; i < planes[p].size(); ++i)
                    planes[p][i] = yuvOf[quadrant(int(i % pw) * s, int(i / pw) * s, w, h)][p];
                view.plane[p] = planes[p].data();
                view.stride[p] = pw;
            }
        }
        PreviewWidget preview;
        preview.resize(widgetSize);
        preview.setStretch(picture.isNull());
        preview.setFrame(quadrants(8, 8, {}).data(), 8, 8);
        preview.setFrame(view);
        bgr.assign(bgr.size(), 0); // the widget must have its own copy
        for (auto &plane : planes)
            plane.assign(plane.size(), 0);
        if (picture.isNull())
            picture = preview.rect();
        const QImage image = preview.grab().toImage();
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                // In frame pixels; quadrants blend within 3 of their borders.
                const int fx = (x - picture.x()) * w / qMax(picture.width(), 1);
                const int fy = (y - picture.y()) * h / qMax(picture.height(), 1);
                const bool inside = picture.contains(x, y);
                const QRgb got = image.pixel(x, y), want = inside ? colours[quadrant(fx, fy, w, h)] : kBackground;
                const int off =
                    qAbs(qRed(got) - qRed(want)) + qAbs(qGreen(got) - qGreen(want)) + qAbs(qBlue(got) - qBlue(want));
                if (off > (pattern == 2 ? 4 : 0)
                    && !(inside && pattern && (qAbs(fx - (w + 1) / 2) < 3 || qAbs(fy - (h + 1) / 2) < 3)))
                    QFAIL(qPrintable(QString("(%1,%2) is %3").arg(x).arg(y).arg(got, 0, 16)));
            }
        preview.clear();
        QVERIFY(uniform(preview.grab().toImage(), kBackground));
    }

    // Frames from a streaming thread while the UI thread paints but handles no events:
    // setFrame neither waits nor paints, every picture is one whole frame, the repaint comes later.
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
            for (int i = 0; i < 300; ++i) {
                const QRgb colour = qRgb(i % 256, 255 - i % 256, 40 + i / 256);
                preview.setFrame(quadrants(320, 240, {colour, colour, colour, colour}).data(), 320, 240);
            }
            done = true;
        });
        QDeadlineTimer deadline(std::chrono::seconds(30));
        bool torn = false;
        for (int paints = 0; (!done || paints < 5) && !torn && !deadline.hasExpired(); ++paints) {
            const QImage image = preview.grab().toImage();
            torn = !uniform(image, image.pixel(0, 0));
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

    // A letter and a position in percent of the handle's travel: p, r = left press, release; m = move with
    // the left button held (after r: pressed elsewhere); c, q = right press, release; d = double click.
    // Signals: P pressed, R released, M moved, C value changed (the window seeks between P and R). Starts at 300.
    void gestures_data()
    {
        QTest::addColumn<QString>("gestures");
        QTest::addColumn<int>("value");
        QTest::addColumn<QString>("signalLetters");
        QTest::newRow("click") << "p50 r50" << 500 << "PMCMRR";
        QTest::newRow("click on the value") << "p50 r50 p50 r50" << 500 << "PMCMRRPMRR";
        QTest::newRow("quarter") << "p25 r25" << 250 << "PMCMRR";
        QTest::newRow("drag beyond both ends") << "p50 m75 m-50 m175 r175" << 1000 << "PMCMMCMMCMMCMRR";
        QTest::newRow("stray move after a drag") << "p50 r50 m10" << 500 << "PMCMRR";
        QTest::newRow("right click") << "c90 q90" << 300 << "";
        QTest::newRow("right release mid-drag") << "p50 q50 m60 r60" << 600 << "PMCMMCMRR";
        QTest::newRow("double click, as delivered") << "p60 r60 d60 r60" << 600 << "PMCMRRPMRR";
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
        using Mouse = std::tuple<QEvent::Type, Qt::MouseButton, Qt::MouseButtons>; // and the buttons held after
        const QHash<QChar, Mouse> mouse = {{'p', {QEvent::MouseButtonPress, Qt::LeftButton, Qt::LeftButton}},
                                           {'r', {QEvent::MouseButtonRelease, Qt::LeftButton, Qt::NoButton}},
                                           {'m', {QEvent::MouseMove, Qt::NoButton, Qt::LeftButton}},
                                           {'c', {QEvent::MouseButtonPress, Qt::RightButton, Qt::RightButton}},
                                           {'q', {QEvent::MouseButtonRelease, Qt::RightButton, Qt::LeftButton}},
                                           {'d', {QEvent::MouseButtonDblClick, Qt::LeftButton, Qt::LeftButton}}};
        for (const QString &gesture : gestures.split(' ')) {
            const QPointF at(groove.x() + half + qRound(gesture.mid(1).toInt() / 100.0 * (groove.width() - 2 * half)),
                             slider.height() / 2);
            const auto [type, button, held] = mouse[gesture[0]];
            QMouseEvent event(type, at, slider.mapToGlobal(at), button, held, Qt::NoModifier);
            QApplication::sendEvent(&slider, &event);
        }
        QVERIFY2(qAbs(slider.value() - value) <= (value % 1000 ? 5 : 0), qPrintable(QString::number(slider.value())));
        QCOMPARE(log, signalLetters);
        QVERIFY(!slider.isSliderDown());
    }

    // Every icon draws at button and at large size, shaped rather than a filled square.
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
    }
};

QTEST_MAIN(WidgetsTest)
#include "widgets_test.moc"
