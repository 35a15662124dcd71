#include "instance_activation.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>

#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxLine = 65536;

// A folder of ours alone: a real directory (no link), owned by us, that
// nobody else may enter.
bool isPrivateDir(const QByteArray &path)
{
    struct stat st { };
    return !path.isEmpty() && ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & 077) == 0;
}

// $XDG_RUNTIME_DIR when it is usable; otherwise a folder of our own under
// the temporary folder, made private and checked before use, never a name
// that another user could have taken.
QString runtimeDir()
{
    const QByteArray xdg = qgetenv("XDG_RUNTIME_DIR");
    if (isPrivateDir(xdg))
        return QFile::decodeName(xdg);
    const QByteArray fallback = QFile::encodeName(QDir::tempPath()) + "/vidloom-" + QByteArray::number(::geteuid());
    ::mkdir(fallback.constData(), 0700);
    return isPrivateDir(fallback) ? QFile::decodeName(fallback) : QString();
}

QString socketPath()
{
    const QString dir = runtimeDir();
    return dir.isEmpty() ? QString() : QDir(dir).filePath("vidloom-activate");
}

// Only a socket of our own is spoken to.
bool isOwnSocket(const QString &path)
{
    struct stat st { };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid();
}

} // namespace

InstanceActivation::InstanceActivation(QWidget *w, QObject *parent)
    : QObject(parent)
    , window(w)
    , server(new QLocalServer(this))
{
    const QString path = socketPath();
    if (path.isEmpty())
        return;
    // We hold the lock, so a socket file left behind by a crashed instance
    // is stale and can go.
    QLocalServer::removeServer(path);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    server->listen(path);

    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > kMaxLine)
                        socket->abort();
                    return;
                }
                Request request;
                const bool valid = decode(socket->readLine(kMaxLine + 1), request);
                socket->write(headless ? "headless\n" : "ok\n");
                socket->flush();
                socket->disconnectFromServer();
                if (valid && !headless)
                    handle(request);
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
    const QString dir = runtimeDir();
    return dir.isEmpty() ? QString() : QDir(dir).filePath("vidloom.lock");
}

InstanceActivation::Answer InstanceActivation::activateRunningInstance(const Request &request)
{
    const QString path = socketPath();
    // The running instance may still be starting and not listen yet; give it
    // a moment rather than lose the request.
    QDeadlineTimer deadline(2000);
    QLocalSocket socket;
    for (;;) {
        if (!path.isEmpty() && isOwnSocket(path)) {
            socket.connectToServer(path);
            if (socket.waitForConnected(500))
                break;
        }
        if (deadline.hasExpired())
            return Answer::NoAnswer;
        QThread::msleep(50);
    }
    socket.write(encode(request));
    socket.waitForBytesWritten(1000);
    QByteArray answer;
    while (!socket.canReadLine() && socket.waitForReadyRead(2000)) {
    }
    answer = socket.readLine(64);
    socket.disconnectFromServer();
    if (answer == "headless\n")
        return Answer::Headless;
    return answer == "ok\n" ? Answer::Activated : Answer::NoAnswer;
}
