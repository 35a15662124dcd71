#include "headless.h"

#include "camera_registration.h"
#include "mainwindow.h"
#include "media_types.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

#ifndef _WIN32
#include "quit_signals.h"
#include <unistd.h>
#else
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno

// Ctrl+C and closing the console arrive on a thread of their own; the stop
// is queued to the stream's thread like the signals on Linux.
static HeadlessStream *consoleStream = nullptr;
static BOOL WINAPI onConsoleControl(DWORD)
{
    if (consoleStream)
        QMetaObject::invokeMethod(consoleStream, "stop", Qt::QueuedConnection);
    return TRUE;
}
#endif

HeadlessStream::HeadlessStream(const LaunchOptions &o, FILE *f)
    : options(o)
    , out(f)
    , terminal(isatty(fileno(f)))
{
}

HeadlessStream::~HeadlessStream()
{
    sender.Stop();
    sender.ShutdownCamera();
    decoder.Close();
}

int HeadlessStream::start()
{
    // The window's saved choices apply here too, unless the command line
    // says otherwise.
    QSettings settings(MainWindow::settingsFilePath(), QSettings::IniFormat);
    QSize size = options.resolution;
    if (!size.isValid())
        size = parseResolution(settings.value("resolution").toString());
    if (!size.isValid())
        size = QSize(1280, 720);
    sender.mirror = settings.value("mirror", true).toBool();
    sender.stretch = settings.value("stretch", false).toBool();
    sender.crop = settings.value("crop", false).toBool();
    sender.ownSpeed = settings.value("ownSpeed", false).toBool();

    const std::filesystem::path path = QFileInfo(options.file).filesystemFilePath();
    video = media_types::isVideo(options.file);
    if (video ? !decoder.Open(path) : !(loader.Initialize() && loader.LoadImageW(path, 0, 0))) {
        print(video ? "Failed to open video." : "Failed to load image.", true);
        return kExitFileFailed;
    }
    if (!sender.LoadDll()) {
        print(MainWindow::missingLibraryText(), true);
        return kExitCameraFailed;
    }
    if (!camera_registration::IsRegistered()) {
        print("Register the camera first.", true);
        return kExitCameraFailed;
    }
    const int width = MainWindow::clampSide(size.width()), height = MainWindow::clampSide(size.height());
    if (!sender.InitCamera(width, height, MainWindow::kCameraFps)) {
        print("Failed to create virtual camera.", true);
        return kExitCameraFailed;
    }
    fileDuration = decoder.duration;
    sender.onFinished = [this] { QMetaObject::invokeMethod(this, "onFinished", Qt::QueuedConnection); };
    if (video)
        sender.StartVideo(&decoder, options.loop);
    else
        sender.StartImage(loader.pixels.data(), int(loader.width), int(loader.height));
    return kExitOk;
}

int HeadlessStream::run()
{
    const int failed = start();
    if (failed != kExitOk)
        return failed;
#ifndef _WIN32
    QuitSignals quitSignals(this, "stop");
#else
    consoleStream = this;
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
#endif
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &HeadlessStream::onTick);
    timer->start(terminal ? 200 : 1000);
    onTick();
    const int result = QCoreApplication::exec();
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    consoleStream = nullptr;
#endif
    sender.Stop();
    sender.ShutdownCamera();
    print(statusLine() + "  " + ending, true);
    return result;
}

void HeadlessStream::stop()
{
    QCoreApplication::exit(kExitOk);
}

void HeadlessStream::onFinished()
{
    if (sender.running)
        return;
    ending = "Playback finished.";
    QCoreApplication::exit(kExitOk);
}

QString HeadlessStream::statusLine() const
{
    const QString time = video ? QString("%1 / %2").arg(formatTime(sender.position), formatTime(fileDuration))
                               : QString("Image");
    return QString("%1  |  %2  |  %3 fps  |  %4x%5  |  %6")
        .arg(sender.running ? "Playing" : "Stopped", time)
        .arg(sender.currentFps.load(), 0, 'f', 1)
        .arg(sender.cameraWidth)
        .arg(sender.cameraHeight)
        .arg(sender.IsConnected() ? "Connected" : "Waiting for app...");
}

void HeadlessStream::onTick()
{
    print(statusLine(), false);
}

// On a terminal the line is rewritten in place; into a pipe or a file each
// update is a line of its own, once a second.
void HeadlessStream::print(const QString &line, bool final)
{
    const QByteArray text = line.toLocal8Bit();
    if (terminal)
        std::fprintf(out, "\r%s\033[K%s", text.constData(), final ? "\n" : "");
    else if (final || line != shownLine)
        std::fprintf(out, "%s\n", text.constData());
    std::fflush(out);
    shownLine = line;
}
