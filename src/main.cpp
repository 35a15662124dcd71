#include "command_line.h"
#include "headless.h"
#include "instance_activation.h"
#include "mainwindow.h"

#ifndef _WIN32
#include "quit_signals.h"
#endif

#include <QApplication>
#include <QIcon>
#include <QLockFile>

#include <cstdio>
#include <memory>

#ifdef _WIN32
#include <windows.h>
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

// A GUI program has no console: printed text reaches the terminal that
// started it only through that terminal's console.
static void attachParentConsole()
{
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::freopen("CONOUT$", "w", stdout);
        std::freopen("CONOUT$", "w", stderr);
    }
}
#else
static void startPlatformServices()
{
}
static void stopPlatformServices()
{
}
static void attachParentConsole()
{
}
#endif

static void setIdentity()
{
    QCoreApplication::setApplicationName("Vidloom");
    QCoreApplication::setApplicationVersion("1.0");
}

// No display is needed for these: a plain core application serves them.
static int runWithoutWindow(int argc, char **argv)
{
    attachParentConsole();
    QCoreApplication app(argc, argv);
    setIdentity();
    const LaunchOptions options = parseCommandLine(QCoreApplication::arguments());
    switch (options.action) {
    case LaunchOptions::Action::Help:
    case LaunchOptions::Action::Version:
        std::fputs(options.text.toLocal8Bit().constData(), stdout);
        return kExitOk;
    case LaunchOptions::Action::Error:
        std::fprintf(stderr, "vidloom: %s\nTry 'vidloom --help'.\n", options.text.toLocal8Bit().constData());
        return kExitUsage;
    default:
        break;
    }
    const QString lockPath = InstanceActivation::lockFilePath();
    if (lockPath.isEmpty()) {
        std::fprintf(stderr, "vidloom: no private folder for the instance lock (check $XDG_RUNTIME_DIR).\n");
        return kExitInstanceBusy;
    }
    // The camera has one driver at a time: a window or another headless
    // stream that runs keeps it, and this start gives way.
    QLockFile lock(lockPath);
    if (!lock.tryLock(100)) {
        std::fprintf(stderr, "vidloom: another Vidloom is running and drives the camera; quit it first.\n");
        return kExitInstanceBusy;
    }
    InstanceActivation activation(nullptr);
    activation.setHeadless();
    startPlatformServices();
    int result;
    {
        HeadlessStream stream(options, stdout);
        result = stream.run();
    }
    stopPlatformServices();
    return result;
}

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const LaunchOptions options = parseCommandLine(arguments);
    if (options.action != LaunchOptions::Action::Window)
        return runWithoutWindow(argc, argv);

    startPlatformServices();
    auto app = std::make_unique<QApplication>(argc, argv);
    setIdentity();
    QGuiApplication::setWindowIcon(QIcon(":/icons/vidloom.svg"));

    const QString lockPath = InstanceActivation::lockFilePath();
    if (lockPath.isEmpty()) {
        std::fprintf(stderr, "vidloom: no private folder for the instance lock (check $XDG_RUNTIME_DIR).\n");
        app.reset();
        stopPlatformServices();
        return kExitInstanceBusy;
    }
    auto lock = std::make_unique<QLockFile>(lockPath);
    if (!lock->tryLock(100)) {
        // Another instance runs: hand the request over and leave without a
        // window.
        const auto answer = InstanceActivation::activateRunningInstance({options.file, options.play});
        int result = kExitOk;
        if (answer == InstanceActivation::Answer::Headless) {
            std::fprintf(stderr, "vidloom: a headless Vidloom streams to the camera; stop it first.\n");
            result = kExitInstanceBusy;
        } else if (answer == InstanceActivation::Answer::NoAnswer) {
            std::fprintf(stderr, "vidloom: another Vidloom holds the lock but does not answer.\n");
            result = kExitInstanceBusy;
        }
        stopPlatformServices();
        lock.reset();
        app.reset();
        return result;
    }

    // Listening before the window loads its last file: a second start
    // meanwhile waits in the queue instead of being lost.
    InstanceActivation activation(nullptr);
    auto window = std::make_unique<MainWindow>(nullptr, options.file.isEmpty());
    activation.setWindow(window.get());
    QObject::connect(&activation, &InstanceActivation::openRequested, window.get(), &MainWindow::openRequested);
#ifndef _WIN32
    // A polite kill (logout, service manager, Ctrl+C) quits like File > Quit.
    QuitSignals quitSignals(window.get(), "onQuit");
#endif
    window->start(options);
    const int result = QApplication::exec();

    stopPlatformServices();
    // The lock goes only after the window, so a new instance never starts
    // while this one still holds the camera.
    window.reset();
    lock.reset();
    app.reset();
    return result;
}
