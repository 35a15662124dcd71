#include "instance_activation.h"

#include <QCoreApplication>
#include <QDir>
#include <QWidget>

#ifndef NOMINMAX
#define NOMINMAX // keep std::min and std::max usable
#endif
#include <windows.h>

// Every process that registers this name gets the same message id.
static const UINT WM_VIDLOOM_ACTIVATE = RegisterWindowMessageW(L"Vidloom_Activate");

InstanceActivation::InstanceActivation(QWidget *w, QObject *parent)
    : QObject(parent)
    , window(w)
{
}

InstanceActivation::~InstanceActivation() = default;

QString InstanceActivation::lockFilePath()
{
    return QDir(QDir::tempPath()).filePath("vidloom.lock");
}

InstanceActivation::Answer InstanceActivation::activateRunningInstance(const Request &request)
{
    if (request.file.isEmpty()) {
        // Reaches hidden top-level windows too, so a window hidden in the
        // tray comes back; MainWindow::nativeEvent answers it.
        PostMessageW(HWND_BROADCAST, WM_VIDLOOM_ACTIVATE, 0, 0);
        return Answer::Activated;
    }
    // A broadcast cannot carry data: the file goes to the running window,
    // found by its title (FindWindow sees hidden windows too), as
    // WM_COPYDATA, which Windows copies across the process boundary.
    const QString title = QString("Vidloom v%1").arg(QCoreApplication::applicationVersion());
    const HWND target = FindWindowW(nullptr, reinterpret_cast<const wchar_t *>(title.utf16()));
    if (!target)
        return Answer::NoAnswer;
    const QByteArray message = encode(request);
    COPYDATASTRUCT data{};
    data.dwData = kCopyDataTag;
    data.cbData = static_cast<DWORD>(message.size());
    data.lpData = const_cast<char *>(message.constData());
    DWORD_PTR result = 0;
    // The receiver gets the right to come to the foreground.
    DWORD pid = 0;
    GetWindowThreadProcessId(target, &pid);
    AllowSetForegroundWindow(pid);
    if (!SendMessageTimeoutW(target, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_ABORTIFHUNG, 2000, &result))
        return Answer::NoAnswer;
    return result == 1 ? Answer::Activated : Answer::NoAnswer;
}

bool InstanceActivation::handleNativeMessage(QWidget *window, void *message, qintptr *result, Request &request)
{
    const MSG *msg = static_cast<MSG *>(message);
    if (msg->message == WM_VIDLOOM_ACTIVATE) {
        bringToFront(window);
        return true;
    }
    // The copied data is only valid during this call, so it is decoded here.
    if (msg->message != WM_COPYDATA)
        return false;
    const auto *data = reinterpret_cast<const COPYDATASTRUCT *>(msg->lParam);
    if (!data || data->dwData != kCopyDataTag || !data->lpData || data->cbData > 65536
        || !decode(QByteArray(static_cast<const char *>(data->lpData), int(data->cbData)), request))
        return false;
    bringToFront(window);
    *result = 1;
    return true;
}
