#include "camera_registration_watcher.h"

#include "camera_registration.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>

namespace {
// Reading a few sysfs names costs microseconds, so polling is cheap.
constexpr int kPollMs = 300;
} // namespace

CameraRegistrationWatcher::CameraRegistrationWatcher(QObject *parent)
    : QObject(parent)
    , registered_(camera_registration::IsRegistered())
{
#ifndef _WIN32
    // The folder exists only once a video driver is loaded.
    const QString path = QString::fromStdString(camera_registration::DeviceFolder().string());
    auto *folder = new QFileSystemWatcher(this);
    if (QFileInfo::exists(path))
        folder->addPath(path);
    connect(folder, &QFileSystemWatcher::directoryChanged, this, &CameraRegistrationWatcher::check);
#endif
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &CameraRegistrationWatcher::check);
    poll->start(kPollMs);
}

void CameraRegistrationWatcher::check()
{
    const bool now = camera_registration::IsRegistered();
    if (now == registered_)
        return;
    registered_ = now;
    emit changed(now);
}
