#include "previewwidget.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QPainter>
#include <QThread>

namespace {

const QColor kBackground(20, 20, 20);

} // namespace

PreviewWidget::PreviewWidget(QWidget *parent)
    : QWidget(parent)
{
    setMinimumHeight(200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    setStyleSheet("background-color: #141414;");
}

PreviewWidget::~PreviewWidget() = default;

void PreviewWidget::setFrame(const uchar *data, int width, int height)
{
    QMutexLocker lock(&mutex);
    // A fresh image every call: the painter may still hold the previous one.
    frame = (data && width > 0 && height > 0) ? QImage(width, height, QImage::Format_RGB888) : QImage();
    // An image too large to allocate comes back null; nothing is copied then.
    if (!frame.isNull()) {
        const qsizetype rowBytes = qsizetype(width) * 3;
        for (int y = 0; y < height; ++y) {
            const uchar *src = data + y * rowBytes;
            uchar *dst = frame.scanLine(y);
            for (int x = 0; x < width; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        }
    }
    requestRepaint();
}

void PreviewWidget::clear()
{
    QMutexLocker lock(&mutex);
    frame = QImage();
    requestRepaint();
}

void PreviewWidget::setStretch(bool on)
{
    stretch = on;
    requestRepaint();
}

void PreviewWidget::requestRepaint()
{
    if (QThread::currentThread() == thread()) {
        update();
        return;
    }
    // From the worker: post the request and return at once. The UI thread
    // may be blocked waiting for this very worker to end, so nothing here may
    // wait for it. Pending update() calls collapse into one paint.
    QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection);
}

void PreviewWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);

    QMutexLocker lock(&mutex);
    if (frame.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect source(0, 0, frame.width(), frame.height());
    if (stretch) {
        painter.drawImage(QRect(0, 0, width(), height()), frame, source);
        return;
    }
    const QSize fitted = frame.size().scaled(size(), Qt::KeepAspectRatio);
    // Integer halving puts an odd leftover pixel in the right or bottom band.
    const int x = (width() - fitted.width()) / 2;
    const int y = (height() - fitted.height()) / 2;
    painter.drawImage(QRect(QPoint(x, y), fitted), frame, source);
}
