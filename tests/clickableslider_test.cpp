// The seek slider jumps to the clicked value and follows a drag; the signal
// sequence matters because the window starts and finishes a seek on
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
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.sliderPosition = slider->sliderPosition();
        option.sliderValue = slider->value();
        option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
        return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, slider);
    }
    int halfHandle() const { return slider->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, slider) / 2; }
    QPoint at(int x) const { return QPoint(x, slider->height() / 2); }
    // Where the handle's centre sits for a value: clicking there selects it.
    QPoint pointFor(double fraction) const
    {
        const int span = groove().width() - 2 * halfHandle();
        return at(groove().x() + halfHandle() + qRound(fraction * span));
    }
    int count(const QString &what) const { return log.filter(QRegularExpression("^" + what + "$")).size(); }

private slots:
    void init()
    {
        slider = new ClickableSlider(Qt::Horizontal);
        slider->setRange(0, 1000);
        slider->setTracking(true);
        slider->resize(400, 24);
        slider->show();
        QVERIFY(QTest::qWaitForWindowExposed(slider));
        log.clear();
        connect(slider, &QSlider::sliderPressed, this, [this] { log << "pressed"; });
        connect(slider, &QSlider::sliderReleased, this, [this] { log << "released"; });
        connect(slider, &QSlider::sliderMoved, this, [this](int v) { log << QString("moved %1").arg(v); });
        connect(slider, &QSlider::valueChanged, this, [this](int v) { log << QString("changed %1").arg(v); });
    }

    void cleanup()
    {
        delete slider;
        slider = nullptr;
    }

    void leftClickJumpsWithSignalsInOrder()
    {
        QTest::mousePress(slider, Qt::LeftButton, {}, pointFor(0.5));
        const int v = slider->value();
        QVERIFY2(qAbs(v - 500) <= 5, qPrintable(QString::number(v)));
        QVERIFY(slider->isSliderDown());
        const QString moved = QString("moved %1").arg(v), changed = QString("changed %1").arg(v);
        QCOMPARE(log, (QStringList{"pressed", moved, changed, moved}));

        QTest::mouseRelease(slider, Qt::LeftButton, {}, pointFor(0.5));
        QCOMPARE(log, (QStringList{"pressed", moved, changed, moved, "released", "released"}));
        QVERIFY(!slider->isSliderDown());
        QCOMPARE(slider->value(), v);
    }

    void clickOnCurrentValueChangesNothing()
    {
        QTest::mouseClick(slider, Qt::LeftButton, {}, pointFor(0.25));
        const int v = slider->value();
        log.clear();
        QTest::mousePress(slider, Qt::LeftButton, {}, pointFor(0.25));
        QCOMPARE(log, (QStringList{"pressed", QString("moved %1").arg(v)}));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, pointFor(0.25));
        QCOMPARE(count("released"), 2);
        QCOMPARE(slider->value(), v);
    }

    void valuesAreClampedAndIncreaseLeftToRight()
    {
        slider->setValue(500);
        QTest::mouseClick(slider, Qt::LeftButton, {}, at(0));
        QCOMPARE(slider->value(), 0);
        slider->setValue(500);
        QTest::mouseClick(slider, Qt::LeftButton, {}, at(groove().x() + halfHandle()));
        QCOMPARE(slider->value(), 0); // the handle cannot go further left
        QTest::mouseClick(slider, Qt::LeftButton, {}, at(slider->width() - 1));
        QCOMPARE(slider->value(), 1000);
        slider->setValue(500);
        QTest::mouseClick(slider, Qt::LeftButton, {}, at(groove().right() + 1 - halfHandle()));
        QCOMPARE(slider->value(), 1000);

        int previous = -1;
        for (double f = 0.1; f < 0.95; f += 0.1) {
            QTest::mouseClick(slider, Qt::LeftButton, {}, pointFor(f));
            QVERIFY(slider->value() > previous);
            QVERIFY2(qAbs(slider->value() - qRound(f * 1000)) <= 5, qPrintable(QString::number(slider->value())));
            previous = slider->value();
        }
    }

    void dragFollowsThePointerOutsideTheWidget()
    {
        QTest::mousePress(slider, Qt::LeftButton, {}, pointFor(0.5));
        QTest::mouseMove(slider, pointFor(0.75));
        QVERIFY(qAbs(slider->value() - 750) <= 5);
        QTest::mouseMove(slider, at(-200));
        QCOMPARE(slider->value(), 0);
        QTest::mouseMove(slider, at(slider->width() + 300));
        QCOMPARE(slider->value(), 1000);
        QCOMPARE(count("pressed"), 1);
        QCOMPARE(log.last(), "moved 1000");

        QTest::mouseRelease(slider, Qt::LeftButton, {}, at(slider->width() + 300));
        QCOMPARE(count("released"), 2);
        QVERIFY(!slider->isSliderDown());

        // The drag is over: a stray move with a button held elsewhere does nothing.
        log.clear();
        QMouseEvent move(QEvent::MouseMove, QPointF(pointFor(0.1)), slider->mapToGlobal(QPointF(pointFor(0.1))),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(slider, &move);
        QCOMPARE(slider->value(), 1000);
        QVERIFY(log.isEmpty());
    }

    void otherButtonsDoNothing()
    {
        slider->setValue(300);
        log.clear();
        QTest::mouseClick(slider, Qt::RightButton, {}, pointFor(0.9));
        QTest::mouseClick(slider, Qt::MiddleButton, {}, pointFor(0.1));
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
        QTest::mousePress(slider, Qt::LeftButton, {}, pointFor(0.6));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, pointFor(0.6));
        QTest::mouseDClick(slider, Qt::LeftButton, {}, pointFor(0.6));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, pointFor(0.6));
        QCOMPARE(count("pressed"), 2);
        QCOMPARE(count("released"), 4);
        QCOMPARE(count("changed .*"), 1);
        QVERIFY(qAbs(slider->value() - 600) <= 5);
    }

    void disabledSliderIgnoresTheMouse()
    {
        slider->setEnabled(false);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not accepted"));
        QTest::mousePress(slider, Qt::LeftButton, {}, pointFor(0.8));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not accepted"));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, pointFor(0.8));
        QCOMPARE(slider->value(), 0);
        QVERIFY(log.isEmpty());
    }

    void keyboardKeepsTheStandardBehaviour()
    {
        slider->setFocus();
        QTest::keyClick(slider, Qt::Key_Right);
        QCOMPARE(slider->value(), 1);
        QTest::keyClick(slider, Qt::Key_End);
        QCOMPARE(slider->value(), 1000);
        QCOMPARE(count("pressed"), 0);
        QCOMPARE(count("released"), 0);
        QCOMPARE(count("changed .*"), 2);
    }
};

QTEST_MAIN(ClickableSliderTest)
#include "clickableslider_test.moc"
