#pragma once

#include <QObject>

// Tells the window when the camera appears or disappears, whoever caused it:
// another session, modprobe -r, a reboot without the module. Reacts at once
// where the system reports changes to the device folder (sysfs mostly does
// not), and otherwise within a poll interval, well under a second.
class CameraRegistrationWatcher : public QObject {
    Q_OBJECT
public:
    explicit CameraRegistrationWatcher(QObject *parent = nullptr);
    bool registered() const { return registered_; }

signals:
    void changed(bool registered);

private:
    void check();

    bool registered_ = false;
};
