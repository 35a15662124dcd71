#include "instance_activation.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QWidget>

namespace {

const char kActivateRequest[] = "activate\n";

// The runtime directory belongs to the user alone (mode 0700), so nobody
// else can take the socket's name or send us requests.
QString runtimeDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString socketPath()
{
    return QDir(runtimeDir()).filePath("vidloom-activate");
}

} // namespace

InstanceActivation::InstanceActivation(QWidget *window, QObject *parent)
    : QObject(parent), window(window), server(new QLocalServer(this))
{
    // We hold the lock, so a socket file left behind by a crashed instance
    // is stale and can go.
    QLocalServer::removeServer(socketPath());
    server->setSocketOptions(QLocalServer::UserAccessOption);
    server->listen(socketPath());

    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine() == kActivateRequest)
                    bringToFront(this->window);
                socket->disconnectFromServer();
            });
        }
    });
}

InstanceActivation::~InstanceActivation()
{
    server->close();
}

QString InstanceActivation::lockFilePath()
{
    return QDir(runtimeDir()).filePath("vidloom.lock");
}

void InstanceActivation::activateRunningInstance()
{
    // The running instance may still be building its window and not listen
    // yet; give it a moment rather than lose the request.
    QDeadlineTimer deadline(2000);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(500))
            break;
        if (deadline.hasExpired())
            return;
        QThread::msleep(50);
    }
    socket.write(kActivateRequest);
    socket.waitForBytesWritten(1000);
    socket.disconnectFromServer();
}
