// The seek slider jumps to the clicked value and follows a drag; the signal
// order matters because the window starts and finishes a seek on
// sliderPressed/sliderReleased.
#include "clickableslider.h"

#include <QApplication>
#include <QTest>

class ClickableSliderTest : public QObject {
    Q_OBJECT

private slots:
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
};

QTEST_MAIN(ClickableSliderTest)
#include "clickableslider_test.moc"
