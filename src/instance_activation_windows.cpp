#include "instance_activation.h"

#include <QDir>
#include <QWidget>

#ifndef NOMINMAX
#define NOMINMAX // keep std::min and std::max usable
#endif
#include <windows.h>

// Every process that registers this name gets the same message id.
static const UINT WM_VIDLOOM_ACTIVATE = RegisterWindowMessageW(L"Vidloom_Activate");

InstanceActivation::InstanceActivation(QWidget *window, QObject *parent)
    : QObject(parent), window(window)
{
}

InstanceActivation::~InstanceActivation() = default;

QString InstanceActivation::lockFilePath()
{
    return QDir(QDir::tempPath()).filePath("vidloom.lock");
}

void InstanceActivation::activateRunningInstance()
{
    // Reaches hidden top-level windows too, so a window hidden in the tray
    // comes back; MainWindow::nativeEvent answers it.
    PostMessageW(HWND_BROADCAST, WM_VIDLOOM_ACTIVATE, 0, 0);
}
