#include "mainwindow_test_support.h"

#include "camera_registration.h"
#include "test_media.h"

#include <QMenu>
#include <QMimeData>

#include <fstream>

WindowTestEnvironment::WindowTestEnvironment()
{
    // The identity main() sets; the settings path depends on it.
    QCoreApplication::setApplicationName("Vidloom");
    QCoreApplication::setApplicationVersion("1.0");
    const QString runtime = root.filePath("runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath("config")));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    const std::filesystem::path base = root.path().toStdString();
    device = base / "sys" / "class" / "video4linux" / "video7";
    std::filesystem::create_directories(device.parent_path());
    camera_registration::SetSysfsRootForTesting(base / "sys");
    helperScript = base / "fake-helper";
    setHelper(Helper::Succeeds);
    camera_registration::SetHelperPathForTesting(helperScript);
}

WindowTestEnvironment::~WindowTestEnvironment()
{
    camera_registration::ResetForTesting();
}

void WindowTestEnvironment::reset()
{
    QFile::remove(MainWindow::settingsFilePath());
    setRegistered(true);
    setHelper(Helper::Succeeds);
    if (camera.ok())
        camera.reset();
}

void WindowTestEnvironment::setRegistered(bool registered)
{
    std::filesystem::remove_all(device);
    if (registered) {
        std::filesystem::create_directories(device);
        std::ofstream(device / "name") << "Vidloom\n";
        std::ofstream(device / "max_openers") << "10\n"; // v4l2loopback's mark
    }
}

void WindowTestEnvironment::setHelper(Helper behaviour)
{
    const std::string gateFile = root.filePath("gate").toStdString(), dir = device.string();
    std::filesystem::remove(gateFile);
    std::filesystem::remove(helperScript);
    if (behaviour == Helper::Missing)
        return;
    std::ofstream script(helperScript, std::ios::trunc);
    script << "#!/bin/sh\n";
    if (behaviour == Helper::Fails)
        script << "echo 'vidloom-camera-helper: The module is not installed (Debian package x).' >&2; exit 4\n";
    if (behaviour == Helper::Cancels)
        script << "exit 126\n";
    if (behaviour == Helper::Waits)
        script << "i=0; while [ ! -e '" << gateFile << "' ] && [ $i -lt 300 ]; do sleep 0.05; i=$((i+1)); done\n";
    script << "if [ \"$1\" = register ]; then mkdir -p '" << dir << "' && echo Vidloom > '" << dir
           << "/name' && echo 10 > '" << dir << "/max_openers'; else rm -rf '" << dir << "'; fi\n";
    script.close();
    std::filesystem::permissions(helperScript, std::filesystem::perms::owner_all);
}

QByteArray WindowTestEnvironment::settingsOnDisk() const
{
    QFile file(MainWindow::settingsFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WindowTestEnvironment::writeSettings(const QByteArray &contents)
{
    QFile file(MainWindow::settingsFilePath());
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!file.open(QIODevice::WriteOnly) || file.write(contents) != contents.size())
        qFatal("cannot write the settings file");
}

void TestWindow::invoke(const char *slot)
{
    if (!QMetaObject::invokeMethod(this, slot, Qt::DirectConnection))
        qFatal("no slot %s", slot);
}

QAction *TestWindow::trayAction(const QString &text)
{
    for (QAction *action : part<QMenu>(this, "trayMenu")->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

bool TestWindow::drop(const QList<QUrl> &urls, const QString &text)
{
    QMimeData data;
    if (text.isEmpty())
        data.setUrls(urls);
    else
        data.setText(text);
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(this, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent dropped(QPoint(50, 50), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(this, &dropped);
    return true;
}

QString mediaFile(const char *name, const char *ffmpegArgs)
{
    const std::filesystem::path path = test_media::Generate(name, ffmpegArgs);
    if (path.empty())
        qFatal("ffmpeg could not make %s", name);
    return QString::fromStdString(path.string());
}

QString writeFile(const char *name, const QByteArray &bytes)
{
    return QString::fromStdString(test_media::WriteFile(name, bytes.toStdString()).string());
}
