#pragma once

#include <QMouseEvent>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

// A horizontal slider that jumps straight to the value under the pointer on
// a left click and follows the pointer while the button is held, instead of
// stepping by a page. Keyboard and wheel handling stay QSlider's.
class ClickableSlider : public QSlider {
    Q_OBJECT

public:
    explicit ClickableSlider(Qt::Orientation orientation, QWidget *parent = nullptr)
        : QSlider(orientation, parent)
    {
    }
    ~ClickableSlider() override = default;

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton)
            return;
        dragging = true;
        const int value = valueAt(event);
        setSliderDown(true);
        setValue(value);
        emit sliderMoved(value);
        event->accept();
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() != Qt::LeftButton || !dragging)
            return;
        dragging = false;
        setSliderDown(false);
        emit sliderReleased();
        event->accept();
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!dragging)
            return;
        const int value = valueAt(event);
        setValue(value);
        emit sliderMoved(value);
        event->accept();
    }

private:
    // The value whose handle centre lies under the pointer, clamped to the range.
    int valueAt(const QMouseEvent *event) const
    {
        const int x = event->position().toPoint().x();
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
        const int handle = style()->pixelMetric(QStyle::PM_SliderLength, &option, this);
        const int pos = x - groove.x() - handle / 2;
        const int span = groove.width() - handle;
        return QStyle::sliderValueFromPosition(minimum(), maximum(), pos, span, false);
    }

    bool dragging = false;
};
