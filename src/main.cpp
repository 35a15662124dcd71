#include "instance_activation.h"
#include "mainwindow.h"

#ifndef _WIN32
#include "quit_signals.h"
#endif

#include <QApplication>
#include <QIcon>
#include <QLockFile>

#include <memory>

#ifdef _WIN32
#include <objbase.h>
#include <mfapi.h>

// The image loader needs COM on this thread, the video decoder Media
// Foundation; both stay up for the whole run.
static void startPlatformServices()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
}

static void stopPlatformServices()
{
    MFShutdown();
    CoUninitialize();
}
#else
static void startPlatformServices() {}
static void stopPlatformServices() {}
#endif

int main(int argc, char **argv)
{
    startPlatformServices();

    auto app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName("Vidloom");
    QCoreApplication::setApplicationVersion("1.0");
    QGuiApplication::setWindowIcon(QIcon(":/icons/vidloom.svg"));

    auto lock = std::make_unique<QLockFile>(InstanceActivation::lockFilePath());
    if (!lock->tryLock(100)) {
        // Another instance runs (or the lock cannot be made at all): hand
        // over to it and leave without a window.
        InstanceActivation::activateRunningInstance();
        stopPlatformServices();
        lock.reset();
        app.reset();
        return 0;
    }

    auto window = std::make_unique<MainWindow>();
    InstanceActivation activation(window.get());
#ifndef _WIN32
    // A polite kill (logout, service manager, Ctrl+C) quits like File > Quit.
    QuitSignals quitSignals(window.get(), "onQuit");
#endif
    window->show();
    const int result = QApplication::exec();

    stopPlatformServices();
    // The lock goes only after the window, so a new instance never starts
    // while this one still holds the camera.
    window.reset();
    lock.reset();
    app.reset();
    return result;
}
