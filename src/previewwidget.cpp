#include "previewwidget.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QPainter>
#include <QThread>

namespace {

const QColor kBackground(20, 20, 20);

uint8_t clamp8(int v)
{
    return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
}

// YUYV (BT.601, limited range; rows `pairsWidth` pixels long) to w x h
// BGR24, for the preview only.
void yuyvToBgr(const uint8_t *yuyv, int pairsWidth, int w, int h, std::vector<uint8_t> &bgr)
{
    bgr.resize(size_t(w) * h * 3);
    for (int row = 0; row < h; ++row) {
        const uint8_t *s = yuyv + size_t(row) * pairsWidth * 2;
        uint8_t *d = bgr.data() + size_t(row) * w * 3;
        for (int x = 0; x < w; ++x, d += 3) {
            const int y = 298 * (s[x * 2] - 16) + 128;
            const uint8_t *pair = s + (x & ~1) * 2;
            const int u = pair[1] - 128, v = pair[3] - 128;
            d[0] = clamp8((y + 516 * u) >> 8);
            d[1] = clamp8((y - 100 * u - 208 * v) >> 8);
            d[2] = clamp8((y + 409 * v) >> 8);
        }
    }
}

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
    setFrame(FrameView::Bgr(data, width, height));
}

void PreviewWidget::setFrame(const FrameView &view)
{
    if (QThread::currentThread() == thread())
        noteSize();
    const bool empty = !view.plane[0] || view.width <= 0 || view.height <= 0;
    // Nothing finer than the widget can show is kept.
    QSize stored(view.width, view.height);
    const QSize target(targetWidth.load(), targetHeight.load());
    if (!empty && target.width() > 0 && target.height() > 0
        && (stored.width() > target.width() || stored.height() > target.height()))
        stored = stored.scaled(target, Qt::KeepAspectRatio).expandedTo(QSize(2, 1));

    QMutexLocker lock(&mutex);
    if (empty) {
        frame = QImage();
        yuyvSize = QSize();
        sourceSize = QSize();
        requestRepaint();
        return;
    }
    const int w = stored.width(), h = stored.height();
    if (view.format == FrameView::Format::Yuv420) {
        // Only sampled here; the colour conversion waits for a paint, on
        // the UI thread, and is skipped for frames nobody sees.
        sampler.RenderYuyv(view, w + w % 2, h, FitMode::Stretch, false, yuyv);
        yuyvSize = stored;
    } else {
        yuyvSize = QSize();
        const uint8_t *before = pixels.data();
        if (stored == QSize(view.width, view.height))
            pixels.assign(view.plane[0], view.plane[0] + size_t(w) * h * 3);
        else
            sampler.Render(view, w, h, FitMode::Stretch, false, pixels);
        wrapPixels(before, stored);
    }
    sourceSize = QSize(view.width, view.height);
    requestRepaint();
}

// The image only wraps the buffer: rebuilt when the buffer moved or the
// size changed, not per frame.
void PreviewWidget::wrapPixels(const uint8_t *before, QSize size)
{
    if (frame.isNull() || pixels.data() != before || frame.size() != size)
        frame = QImage(pixels.data(), size.width(), size.height(), qsizetype(size.width()) * 3, QImage::Format_BGR888);
}

void PreviewWidget::clear()
{
    QMutexLocker lock(&mutex);
    frame = QImage();
    yuyvSize = QSize();
    sourceSize = QSize();
    requestRepaint();
}

void PreviewWidget::noteSize()
{
    const qreal ratio = devicePixelRatioF();
    targetWidth = qRound(width() * ratio);
    targetHeight = qRound(height() * ratio);
}

void PreviewWidget::resizeEvent(QResizeEvent *event)
{
    noteSize();
    QWidget::resizeEvent(event);
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
    if (yuyvSize.isValid()) {
        const uint8_t *before = pixels.data();
        const int w = yuyvSize.width();
        yuyvToBgr(yuyv.data(), w + w % 2, w, yuyvSize.height(), pixels);
        wrapPixels(before, yuyvSize);
        yuyvSize = QSize();
    }
    if (frame.isNull())
        return;
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect source(0, 0, frame.width(), frame.height());
    if (stretch) {
        painter.drawImage(QRect(0, 0, width(), height()), frame, source);
        return;
    }
    const QSize fitted = sourceSize.scaled(size(), Qt::KeepAspectRatio);
    // Integer halving puts an odd leftover pixel in the right or bottom band.
    const int x = (width() - fitted.width()) / 2;
    const int y = (height() - fitted.height()) / 2;
    painter.drawImage(QRect(QPoint(x, y), fitted), frame, source);
}
