#pragma once

#include "frame_fitter.h"
#include "frame_view.h"

#include <QImage>
#include <QMutex>
#include <QWidget>

#include <atomic>
#include <vector>

// The dark panel that shows the current source frame, letterboxed and
// centred or stretched over the whole panel. Frames arrive from the UI
// thread and from the frame sender's worker thread, so the stored copy is
// guarded by a mutex and repaints are requested without ever waiting for the
// UI thread (which may itself be waiting for the worker to stop).
class PreviewWidget : public QWidget {
    Q_OBJECT

public:
    explicit PreviewWidget(QWidget *parent = nullptr);
    ~PreviewWidget() override;

    // Copies a BGR24 frame (3 * width * height bytes, rows top to bottom, no
    // padding) and requests a repaint. Safe to call from any thread; `data`
    // is not used after the call returns.
    void setFrame(const uchar *data, int width, int height);
    // The same for any decoded frame. A frame larger than the widget is
    // kept only at the widget's size (nearest pixels; the painter smooths),
    // so a 4K stream costs the worker a few hundred kilobytes per frame.
    void setFrame(const FrameView &view);
    // Drops the stored frame; only the background is painted. UI thread only.
    void clear();
    // true: fill the whole widget; false: keep the aspect ratio, centred.
    // UI thread only.
    void setStretch(bool stretch);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void requestRepaint();
    void noteSize();
    void wrapPixels(const uint8_t *before, QSize size);

    // Guarded by mutex: the frame as stored (BGR888 over `pixels`) and the
    // source size it stands for, which the painted geometry follows.
    QImage frame;
    QSize sourceSize;
    std::vector<uint8_t> pixels, yuyv;
    QSize yuyvSize; // valid: `yuyv` holds a frame not yet converted to `pixels`
    FrameFitter sampler;
    QMutex mutex;
    // The widget's size in device pixels, for the worker; 0 until known.
    std::atomic<int> targetWidth{0}, targetHeight{0};
    bool stretch = false;
};
