#pragma once

#include "mainwindow.h"

#include <QMimeData>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>

// What the window tests share: the user's config and runtime folders moved
// to a private temporary folder (so no test sees or touches the real user's
// settings or lock), a fake sysfs whose Vidloom device the registration
// check looks for, and a fake registration helper that creates or removes
// that device the way the real one loads or unloads v4l2loopback.
class WindowTestEnvironment {
public:
    enum class Helper { Succeeds, Fails, Hangs };

    WindowTestEnvironment();
    ~WindowTestEnvironment();

    bool ok() const { return root.isValid(); }
    void setRegistered(bool registered);
    void setHelper(Helper behaviour);
    // Removes the settings file, for a first start.
    void clearSettings();
    // The settings file as it is on disk now.
    QByteArray settingsOnDisk() const;

private:
    QTemporaryDir root;
    std::filesystem::path sysfs;
    std::filesystem::path helperScript;
};

// Sets the identity the app sets in main(); the settings path depends on it.
void setApplicationIdentity();

// A child widget or object of the window, by object name; fails the test
// when it is missing.
template <class T>
T *part(QObject *window, const char *name)
{
    T *child = window->findChild<T *>(name);
    if (!child)
        qFatal("window has no %s", name);
    return child;
}

QString statusText(MainWindow &window);
// Calls a private slot by name, as the shortcut and the worker do.
void invoke(MainWindow &window, const char *slot);
// The preview as painted.
QImage previewImage(MainWindow &window);
// A file made at test time with ffmpeg (see test_media).
QString mediaFile(const char *name, const char *ffmpegArgs);
// 2 s at 30 fps of a moving pattern, 320x240: first and last frame differ.
QString testVideo();
// 125.4 s, so its duration reads "2:05".
QString longVideo();
// A 200x150 picture.
QString testImage();
QString writeFile(const char *name, const QByteArray &bytes);

// The size of the camera the recording camera library last created.
QSize recordedCameraSize();

// Drags data (taking it over) onto the window and drops it there; returns
// whether the window accepted the drag.
bool drop(MainWindow &window, QMimeData *data);
QMimeData *urls(const QList<QUrl> &list);
// Loads a file the way a user drops it on the window.
void load(MainWindow &window, const QString &path);
