#pragma once

#include <QImage>
#include <QMutex>
#include <QWidget>

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
    // Drops the stored frame; only the background is painted. UI thread only.
    void clear();
    // true: fill the whole widget; false: keep the aspect ratio, centred.
    // UI thread only.
    void setStretch(bool stretch);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void requestRepaint();

    QImage frame; // RGB888, guarded by mutex
    QMutex mutex;
    bool stretch = false;
};
