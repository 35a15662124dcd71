#pragma once

#include "mainwindow.h"
#include "recording_camera_control.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <fstream>

// What the window tests share: the app's identity, the user's config and
// runtime folders in a private temporary folder, a fake sysfs whose Vidloom
// device the registration check looks for, a fake registration helper that
// creates or removes that device, and the recording camera's controls.
class WindowTestEnvironment {
public:
    // Waits: does its work once gate() is called, or after 15 s.
    enum class Helper { Succeeds, Fails, Cancels, Waits, Missing };

    WindowTestEnvironment();
    ~WindowTestEnvironment();
    bool ok() const { return root.isValid(); }
    // Before each test: no settings file, registered, a working helper,
    // nothing recorded.
    void reset();
    void setRegistered(bool registered);
    void setHelper(Helper behaviour);
    void gate() { std::ofstream(root.filePath("gate").toStdString()); }
    QByteArray settingsOnDisk() const;
    void writeSettings(const QByteArray &contents);

    RecordingCamera camera;

private:
    QTemporaryDir root;
    std::filesystem::path device, helperScript;
};

// A child of the window by object name; aborts when it is missing.
template <class T> T *part(QObject *window, const char *name)
{
    T *child = window->findChild<T *>(name);
    if (!child)
        qFatal("window has no %s", name);
    return child;
}

// The window with its controls at hand, driven the way a user drives it.
class TestWindow : public MainWindow {
public:
    QPushButton *play = part<QPushButton>(this, "playButton"), *stop = part<QPushButton>(this, "stopButton");
    QComboBox *resolution = part<QComboBox>(this, "resolutionCombo");
    QCheckBox *loop = part<QCheckBox>(this, "loopCheck"), *stretch = part<QCheckBox>(this, "stretchCheck");
    QSlider *slider = part<QSlider>(this, "seekSlider");
    QSystemTrayIcon *tray = part<QSystemTrayIcon>(this, "trayIcon");

    QString label(const char *name) { return part<QLabel>(this, name)->text(); }
    QString status() { return label("statusLabel"); }
    QImage preview() { return part<QWidget>(this, "preview")->grab().toImage(); }
    // Calls a private slot by name, as the shortcut and the worker do.
    void invoke(const char *slot);
    // The tray menu entry with that text; null when there is none.
    QAction *trayAction(const QString &text);
    // Drags these links (or this text) onto the window and drops them;
    // false when the window refuses the drag.
    bool drop(const QList<QUrl> &urls, const QString &text = {});
    // Loads a file the way a user drops it on the window.
    void load(const QString &path) { QVERIFY2(drop({QUrl::fromLocalFile(path)}), "the window refused a file"); }
    // Loads a file and plays it; true once the camera has had frames.
    bool stream(const QString &path, RecordingCamera &camera)
    {
        load(path);
        invoke("onPlayPause");
        return camera.waitForFrames(2);
    }
};

// One data row per table entry, named after the entry's first field, in a
// column "row" that the test reads with QFETCH(Row, row).
template <class Row> void addRows(std::initializer_list<Row> rows)
{
    QTest::addColumn<Row>("row");
    for (const Row &row : rows)
        QTest::newRow(row.name) << row;
}

// Files made at test time with ffmpeg (see test_media).
QString mediaFile(const char *name, const char *ffmpegArgs);
QString writeFile(const char *name, const QByteArray &bytes);
// 2 s at 30 fps, 320x240; first and last frame differ.
inline QString testVideo()
{
    return mediaFile("clip.mp4", "-f lavfi -i testsrc=size=320x240:rate=30 -t 2 -c:v mpeg4");
}
// 125.4 s, so its duration reads "2:05".
inline QString longVideo()
{
    return mediaFile("long.mkv", "-f lavfi -i testsrc=size=64x48:rate=10 -t 125.4 -c:v mpeg4");
}
inline QString testImage()
{
    return mediaFile("still.png", "-f lavfi -i testsrc=size=200x150 -frames:v 1");
}
