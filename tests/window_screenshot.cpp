// Takes a picture of the real window while it streams a test video into
// the recording camera, with a client connected; with "register" after the
// output file, after pressing Register with the real helper through pkexec
// on this machine. Run by scripts/screenshot.sh under Xvfb; not a test.
#include "camera_registration.h"
#include "mainwindow_test_support.h"

#include <QSettings>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    setApplicationIdentity();
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("vidloom.png");
    // "dark": the window on a dark theme.
    if (argc > 2 && QByteArray(argv[2]) == "dark") {
        QApplication::setStyle("Fusion");
        QPalette dark(Qt::white, QColor(53, 53, 53), QColor(80, 80, 80), QColor(20, 20, 20), QColor(40, 40, 40),
                      Qt::white, Qt::white, QColor(35, 35, 35), QColor(53, 53, 53));
        QApplication::setPalette(dark);
    }

    WindowTestEnvironment env;
    if (!env.ok() || !env.camera.ok()) {
        std::fprintf(stderr, "the recording camera library must lie beside this program\n");
        return 1;
    }
    env.setRegistered(true);
    env.camera.setConnected(true);
    const QString clip =
        mediaFile("vidloom-demo.mp4", "-f lavfi -i testsrc2=size=1280x720:rate=30 -t 60 -c:v mpeg4 -q:v 3");
    QSettings(MainWindow::settingsFilePath(), QSettings::IniFormat).setValue("lastFile", clip);

    const bool registering = argc > 2 && QByteArray(argv[2]) == "register";
    if (registering)
        camera_registration::ResetForTesting();
    TestWindow window;
    window.show();
    if (registering)
        part<QPushButton>(&window, "registerButton")->click();
    else
        window.invoke("onPlayPause");
    // Long enough for a measured frame rate and a moved slider, or for the
    // helper to finish.
    QDeadlineTimer settle(registering ? 120000 : 4000);
    while (!settle.hasExpired() && !(registering && !window.status().endsWith("...")))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    std::printf("status: %s | %s\n", qPrintable(window.status()), qPrintable(window.label("connectionLabel")));
    const bool saved = window.grab().save(output);
    window.invoke("onStop");
    return saved ? 0 : 1;
}
