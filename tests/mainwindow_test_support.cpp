#include "mainwindow_test_support.h"

#include "camera_library.h"
#include "camera_registration.h"
#include "previewwidget.h"
#include "test_media.h"

#include <QFile>
#include <QLabel>

#include <fstream>
#include <memory>

WindowTestEnvironment::WindowTestEnvironment()
{
    const QString base = root.path();
    QDir(base).mkpath("config");
    QDir(base).mkpath("runtime");
    QFile::setPermissions(base + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(base + "/config"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(base + "/runtime"));

    sysfs = std::filesystem::path(base.toStdString()) / "sys";
    std::filesystem::create_directories(sysfs / "class" / "video4linux");
    camera_registration::SetSysfsRootForTesting(sysfs);
    helperScript = std::filesystem::path(base.toStdString()) / "fake-helper";
    setHelper(Helper::Succeeds);
    camera_registration::SetHelperPathForTesting(helperScript);
}

WindowTestEnvironment::~WindowTestEnvironment()
{
    camera_registration::ResetForTesting();
}

void WindowTestEnvironment::setRegistered(bool registered)
{
    const std::filesystem::path device = sysfs / "class" / "video4linux" / "video7";
    if (registered) {
        std::filesystem::create_directories(device);
        std::ofstream(device / "name") << "Vidloom\n";
    } else {
        std::filesystem::remove_all(device);
    }
}

void WindowTestEnvironment::setHelper(Helper behaviour)
{
    const std::string device = (sysfs / "class" / "video4linux" / "video7").string();
    std::ofstream script(helperScript, std::ios::trunc);
    script << "#!/bin/sh\n";
    switch (behaviour) {
    case Helper::Fails:
        script << "exit 1\n";
        break;
    case Helper::Hangs:
        // Finishes its work, but far too late.
        script << "sleep 13\n";
        [[fallthrough]];
    case Helper::Succeeds:
        script << "if [ \"$1\" = register ]; then\n"
               << "  mkdir -p '" << device << "' && echo Vidloom > '" << device << "/name'\n"
               << "else\n"
               << "  rm -rf '" << device << "'\n"
               << "fi\n";
        break;
    }
    script.close();
    std::filesystem::permissions(helperScript, std::filesystem::perms::owner_all);
}

void WindowTestEnvironment::clearSettings()
{
    QFile::remove(MainWindow::settingsFilePath());
}

QByteArray WindowTestEnvironment::settingsOnDisk() const
{
    QFile file(MainWindow::settingsFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void setApplicationIdentity()
{
    QCoreApplication::setApplicationName("Vidloom");
    QCoreApplication::setApplicationVersion("1.0");
}

QString statusText(MainWindow &window)
{
    return part<QLabel>(&window, "statusLabel")->text();
}

void invoke(MainWindow &window, const char *slot)
{
    if (!QMetaObject::invokeMethod(&window, slot, Qt::DirectConnection))
        qFatal("no slot %s", slot);
}

QImage previewImage(MainWindow &window)
{
    return part<PreviewWidget>(&window, "preview")->grab().toImage();
}

QString mediaFile(const char *name, const char *ffmpegArgs)
{
    const std::filesystem::path path = test_media::Generate(name, ffmpegArgs);
    if (path.empty())
        qFatal("ffmpeg could not make %s", name);
    return QString::fromStdString(path.string());
}

QString testVideo()
{
    return mediaFile("clip.mp4", "-f lavfi -i testsrc=size=320x240:rate=30 -t 2 -c:v mpeg4");
}

QString longVideo()
{
    return mediaFile("long.mkv", "-f lavfi -i testsrc=size=64x48:rate=10 -t 125.4 -c:v mpeg4");
}

QString testImage()
{
    return mediaFile("still.png", "-f lavfi -i testsrc=size=200x150 -frames:v 1");
}

QString writeFile(const char *name, const QByteArray &bytes)
{
    return QString::fromStdString(test_media::WriteFile(name, bytes.toStdString()).string());
}

bool drop(MainWindow &window, QMimeData *data)
{
    const std::unique_ptr<QMimeData> owned(data);
    const QPoint at(50, 50);
    QDragEnterEvent enter(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropped(at, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &dropped);
    return true;
}

QMimeData *urls(const QList<QUrl> &list)
{
    auto *data = new QMimeData;
    data->setUrls(list);
    return data;
}

void load(MainWindow &window, const QString &path)
{
    if (!drop(window, urls({QUrl::fromLocalFile(path)})))
        QFAIL("the window refused a dropped file");
}

QSize recordedCameraSize()
{
    void *library = camera_library::Open(camera_library::ExecutableDir() / camera_library::FileName());
    auto *cameraSize = reinterpret_cast<void (*)(int *, int *)>(camera_library::Symbol(library, "tcCameraSize"));
    int width = 0, height = 0;
    if (cameraSize)
        cameraSize(&width, &height);
    camera_library::Close(library);
    return QSize(width, height);
}
