#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QWidget;

// One Vidloom per user: the first start holds a lock file, a later start
// asks the running instance to bring its window forward and exits.
//
// On Linux the request travels over a local socket in the per-user runtime
// directory, which only the user can reach. On Windows it is a broadcast,
// registered window message that MainWindow::nativeEvent receives, so this
// object has nothing to do there.
class InstanceActivation : public QObject {
    Q_OBJECT

public:
    // Starts listening for later starts on behalf of the given window.
    explicit InstanceActivation(QWidget *window, QObject *parent = nullptr);
    ~InstanceActivation() override;

    // The per-user lock file that marks the running instance.
    static QString lockFilePath();
    // Called by a later start: asks the running instance to show itself.
    static void activateRunningInstance();
    // Shown if hidden, restored if minimised (other state kept), raised,
    // activated.
    static void bringToFront(QWidget *window);

private:
    QWidget *window = nullptr;
    QLocalServer *server = nullptr;
};
