// The seek slider jumps to the clicked value and follows a drag; the signal
// order matters because the window starts and finishes a seek on
// sliderPressed/sliderReleased.
#include "clickableslider.h"

#include <QApplication>
#include <QTest>

class ClickableSliderTest : public QObject {
    Q_OBJECT

private:
    ClickableSlider *slider = nullptr;
    QStringList log; // signals in order of arrival

    QRect groove() const
    {
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = Qt::Horizontal;
        return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, slider);
    }
    int halfHandle() const { return slider->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, slider) / 2; }
    QPoint at(int x) const { return QPoint(x, slider->height() / 2); }
    // Where the handle's centre sits for a value: clicking there selects it.
    QPoint pointFor(double fraction) const
    {
        return at(groove().x() + halfHandle() + qRound(fraction * (groove().width() - 2 * halfHandle())));
    }
    int count(const QString &what) const { return log.filter(QRegularExpression("^" + what + "$")).size(); }
    void click(QPoint where, Qt::MouseButton button = Qt::LeftButton) { QTest::mouseClick(slider, button, {}, where); }
    bool near(int value) const { return qAbs(slider->value() - value) <= 5; }

private slots:
    void init()
    {
        slider = new ClickableSlider(Qt::Horizontal);
        slider->setRange(0, 1000);
        slider->resize(400, 24);
        slider->show();
        QVERIFY(QTest::qWaitForWindowExposed(slider));
        log.clear();
        connect(slider, &QSlider::sliderPressed, this, [this] { log << "pressed"; });
        connect(slider, &QSlider::sliderReleased, this, [this] { log << "released"; });
        connect(slider, &QSlider::sliderMoved, this, [this](int v) { log << QString("moved %1").arg(v); });
        connect(slider, &QSlider::valueChanged, this, [this](int v) { log << QString("changed %1").arg(v); });
    }

    void cleanup() { delete slider; }

    void leftClickJumpsWithSignalsInOrder()
    {
        QTest::mousePress(slider, Qt::LeftButton, {}, pointFor(0.5));
        const int v = slider->value();
        QVERIFY2(near(500), qPrintable(QString::number(v)));
        QVERIFY(slider->isSliderDown());
        const QString moved = QString("moved %1").arg(v);
        QCOMPARE(log, (QStringList{"pressed", moved, QString("changed %1").arg(v), moved}));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, pointFor(0.5));
        QCOMPARE(log.mid(4), (QStringList{"released", "released"}));
        QVERIFY(!slider->isSliderDown());

        // On the current value: no change, but still a press and a move.
        log.clear();
        QTest::mousePress(slider, Qt::LeftButton, {}, pointFor(0.5));
        QCOMPARE(log, (QStringList{"pressed", moved}));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, pointFor(0.5));
        QCOMPARE(slider->value(), v);
    }

    void valuesAreClampedAndIncreaseLeftToRight()
    {
        for (auto [x, expected] : {std::pair{0, 0}, {groove().x() + halfHandle(), 0}, {slider->width() - 1, 1000},
                                   {groove().right() + 1 - halfHandle(), 1000}}) {
            slider->setValue(500);
            click(at(x));
            QCOMPARE(slider->value(), expected);
        }
        int previous = -1;
        for (double f = 0.1; f < 0.95; f += 0.1) {
            click(pointFor(f));
            QVERIFY(slider->value() > previous);
            QVERIFY2(near(qRound(f * 1000)), qPrintable(QString::number(slider->value())));
            previous = slider->value();
        }
    }

    void dragFollowsThePointerOutsideTheWidget()
    {
        QTest::mousePress(slider, Qt::LeftButton, {}, pointFor(0.5));
        QTest::mouseMove(slider, pointFor(0.75));
        QVERIFY(near(750));
        QTest::mouseMove(slider, at(-200));
        QCOMPARE(slider->value(), 0);
        QTest::mouseMove(slider, at(slider->width() + 300));
        QCOMPARE(slider->value(), 1000);
        QCOMPARE(count("pressed"), 1);
        QCOMPARE(log.last(), "moved 1000");
        QTest::mouseRelease(slider, Qt::LeftButton, {}, at(slider->width() + 300));
        QVERIFY(!slider->isSliderDown());

        // The drag is over: a stray move with a button held elsewhere does nothing.
        log.clear();
        QMouseEvent move(QEvent::MouseMove, QPointF(pointFor(0.1)), slider->mapToGlobal(QPointF(pointFor(0.1))),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(slider, &move);
        QCOMPARE(slider->value(), 1000);
        QVERIFY(log.isEmpty());
    }

    void otherButtonsAndDisabledSliderDoNothing()
    {
        slider->setValue(300);
        log.clear();
        click(pointFor(0.9), Qt::RightButton);
        click(pointFor(0.1), Qt::MiddleButton);
        slider->setEnabled(false);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not accepted"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not accepted"));
        click(pointFor(0.8));
        slider->setEnabled(true);
        QCOMPARE(slider->value(), 300);
        QVERIFY(log.isEmpty());

        // A right release in the middle of a left drag does not end it.
        QTest::mousePress(slider, Qt::LeftButton, {}, pointFor(0.5));
        QTest::mouseRelease(slider, Qt::RightButton, {}, pointFor(0.5));
        QVERIFY(slider->isSliderDown());
        QCOMPARE(count("released"), 0);
        QTest::mouseRelease(slider, Qt::LeftButton, {}, pointFor(0.5));
        QCOMPARE(count("released"), 2);
    }

    void doubleClickActsAsTwoClicks()
    {
        // What a real double click delivers: press, release, double-click, release.
        click(pointFor(0.6));
        QTest::mouseDClick(slider, Qt::LeftButton, {}, pointFor(0.6));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, pointFor(0.6));
        QCOMPARE(count("pressed"), 2);
        QCOMPARE(count("released"), 4);
        QCOMPARE(count("changed .*"), 1);
        QVERIFY(near(600));
    }
};

QTEST_MAIN(ClickableSliderTest)
#include "clickableslider_test.moc"
