#include "instance_activation.h"

#include <QWidget>

void InstanceActivation::bringToFront(QWidget *window)
{
    window->show();
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->raise();
    window->activateWindow();
}
