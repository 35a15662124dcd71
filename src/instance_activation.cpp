#include "instance_activation.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QWidget>

#include <utility>

void InstanceActivation::bringToFront(QWidget *window)
{
    window->show();
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
    window->activateWindow();
}

// One line of compact JSON: file names may hold any character, and JSON
// escapes the line breaks.
QByteArray InstanceActivation::encode(const Request &request)
{
    QJsonObject object{{"activate", true}};
    if (!request.file.isEmpty())
        object.insert("file", request.file);
    if (request.play)
        object.insert("play", true);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

bool InstanceActivation::decode(const QByteArray &message, Request &request)
{
    // Bounded: a file path, not a payload.
    if (message.size() > 65536)
        return false;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(message.trimmed(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()
        || !document.object().value("activate").toBool())
        return false;
    request.file = document.object().value("file").toString();
    request.play = document.object().value("play").toBool();
    return true;
}

void InstanceActivation::setWindow(QWidget *w)
{
    window = w;
    const QList<Request> waiting = std::exchange(pending, {});
    for (const Request &request : waiting)
        handle(request);
}

void InstanceActivation::handle(const Request &request)
{
    if (!window) {
        if (!headless)
            pending << request;
        return;
    }
    bringToFront(window);
    if (!request.file.isEmpty())
        emit openRequested(request.file, request.play);
}
