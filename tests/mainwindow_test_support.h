#pragma once

#include "camera_registration.h"
#include "mainwindow.h"
#include "recording_camera_control.h"
#include "test_media.h"

#include <QtTest>
#include <QtWidgets>

#include <filesystem>
#include <fstream>

// Private user folders, a fake sysfs, a fake registration helper, the recording camera.
class WindowTestEnvironment {
public:
    // Waits: does its work once gate() is called, or after 15 s.
    enum class Helper { Succeeds, Fails, Cancels, Waits, Missing };

    WindowTestEnvironment()
    {
        QCoreApplication::setApplicationName("Vidloom");
        QCoreApplication::setApplicationVersion("1.0");
        camera_library::SetInstalledDirForTesting({}); // never a camera library the machine has installed
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath("config")));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.path())); // private: 0700
        camera_registration::SetSysfsRootForTesting(path("sys"));
        camera_registration::SetHelperPathForTesting(path("fake-helper"));
        reset();
    }

    void reset()
    {
        QFile::remove(MainWindow::settingsFilePath());
        setHelper(Helper::Succeeds);
        setRegistered(true);
        if (camera.ok())
            camera.reset();
    }
    // As someone else would, with the working helper.
    void setRegistered(bool registered)
    {
        const std::string command = test_media::Quote(path("fake-helper")) + (registered ? " register" : " unregister");
        QVERIFY(std::system(command.c_str()) == 0);
    }
    void setHelper(Helper behaviour)
    {
        const char *const before[] = {
            // by Helper: the work alone, or after failing, cancelling, waiting
            "", "echo 'vidloom-camera-helper: The module is not installed (Debian package x).' >&2; exit 4\n",
            "exit 126\n", "i=0; while [ ! -e \"$r/gate\" ] && [ $i -lt 300 ]; do sleep 0.05; i=$((i+1)); done\n"};
        std::filesystem::remove(path("gate"));
        std::filesystem::remove(path("fake-helper"));
        if (behaviour == Helper::Missing)
            return;
        // The device lies beside the helper; max_openers is v4l2loopback's mark.
        std::ofstream(path("fake-helper"))
            << "#!/bin/sh\nr=$(dirname \"$0\"); d=$r/sys/class/video4linux/video7\n"
            << before[int(behaviour)] << "if [ \"$1\" = register ]; then mkdir -p \"$d\" && "
            << "echo Vidloom > \"$d/name\" && echo 10 > \"$d/max_openers\"; else rm -rf \"$d\"; fi\n";
        std::filesystem::permissions(path("fake-helper"), std::filesystem::perms::owner_all);
    }
    void gate() { std::ofstream{path("gate")}; }
    QByteArray settingsOnDisk() const
    {
        return QByteArray::fromStdString(test_media::ReadFile(MainWindow::settingsFilePath().toStdString()));
    }
    void writeSettings(const QByteArray &contents)
    {
        const std::filesystem::path file = MainWindow::settingsFilePath().toStdString();
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << contents.toStdString();
    }

    static QString mediaFile(const char *name, const char *ffmpegArgs)
    {
        const std::filesystem::path file = test_media::Generate(name, ffmpegArgs);
        if (file.empty())
            qFatal("ffmpeg could not make %s", name);
        return QString::fromStdString(file.string());
    }
    // 2 s at 30 fps; first and last frame differ.
    static QString video() { return mediaFile("clip.mp4", "-f lavfi -i testsrc=s=160x120:r=30 -t 2 -c:v mpeg4"); }
    // 125.4 s, so its duration reads "2:05".
    static QString longVideo() { return mediaFile("long.mkv", "-f lavfi -i testsrc=s=64x48:r=10 -t 125.4 -c:v mpeg4"); }
    static QString image() { return mediaFile("still.png", "-f lavfi -i testsrc=size=200x150 -frames:v 1"); }

    RecordingCamera camera;

private:
    std::filesystem::path path(const char *name) const { return root.filePath(name).toStdString(); }

    QTemporaryDir root;
};

template <class T> T *part(QObject *window, const char *name)
{
    T *child = window->findChild<T *>(name);
    if (!child)
        qFatal("window has no %s", name);
    return child;
}

class TestWindow : public MainWindow {
public:
    TestWindow() { show(); }
    QPushButton *play = part<QPushButton>(this, "playButton"), *stop = part<QPushButton>(this, "stopButton");
    QComboBox *resolution = part<QComboBox>(this, "resolutionCombo");
    QCheckBox *loop = part<QCheckBox>(this, "loopCheck"), *stretch = part<QCheckBox>(this, "stretchCheck");
    QSlider *slider = part<QSlider>(this, "seekSlider");
    QSystemTrayIcon *tray = part<QSystemTrayIcon>(this, "trayIcon");

    QString label(const char *name) { return part<QLabel>(this, name)->text(); }
    QString status() { return label("statusLabel"); }
    QImage preview() { return part<QWidget>(this, "preview")->grab().toImage(); }
    void invoke(const char *slot) { QVERIFY(QMetaObject::invokeMethod(this, slot, Qt::DirectConnection)); }
    QAction *trayAction(const QString &text)
    {
        const QList<QAction *> actions = part<QMenu>(this, "trayMenu")->actions();
        const auto found = std::find_if(actions.begin(), actions.end(), [&](QAction *a) { return a->text() == text; });
        return found == actions.end() ? nullptr : *found;
    }
    // Drops these links (or this text); false when the drag is refused.
    bool drop(const QList<QUrl> &urls, const QString &text = {})
    {
        QMimeData data;
        text.isEmpty() ? data.setUrls(urls) : data.setText(text);
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QDropEvent dropped(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(this, &enter);
        return enter.isAccepted() && QCoreApplication::sendEvent(this, &dropped);
    }
    void load(const QString &path) { QVERIFY2(drop({QUrl::fromLocalFile(path)}), "the window refused a file"); }
    bool stream(const QString &path, RecordingCamera &camera)
    {
        load(path);
        invoke("onPlayPause");
        return camera.waitForFrames(2);
    }
};

// One data row per entry, named by its first field; read with QFETCH(Row, row).
template <class Row> void addRows(std::initializer_list<Row> rows)
{
    QTest::addColumn<Row>("row");
    for (const Row &row : rows)
        QTest::newRow(row.name) << row;
}
