#pragma once

#include "command_line.h"
#include "frame_sender.h"
#include "image_loader.h"
#include "video_decoder.h"

#include <QObject>

#include <cstdio>

class QTimer;

// `vidloom --headless FILE`: streams one file into the camera with the same
// engine as the window, with no window and no display, and keeps a one-line
// status on the terminal until Ctrl+C, SIGTERM or (without loop) the end.
class HeadlessStream : public QObject {
    Q_OBJECT

public:
    HeadlessStream(const LaunchOptions &options, FILE *out);
    ~HeadlessStream() override;
    // Starts streaming and runs the event loop; returns the exit code.
    int run();

    // The status line: state, position / duration, measured rate, size,
    // and whether an app reads the camera.
    QString statusLine() const;

public slots:
    void stop();

private slots:
    void onTick();
    void onFinished();

private:
    int start();
    void print(const QString &line, bool final);

    LaunchOptions options;
    FILE *out;
    bool terminal;
    VideoDecoder decoder;
    ImageLoader loader;
    FrameSender sender;
    bool video = false;
    double fileDuration = 0.0;
    QTimer *timer = nullptr;
    QString shownLine;
    QString ending = "Stopped.";
};
