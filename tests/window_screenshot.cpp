// Takes a picture of the real window while it streams a test video into
// the recording camera, with a client connected; with "register" after the
// output file, after pressing Register with the real helper through pkexec
// on this machine; with "dark", on a dark theme. Run by
// scripts/screenshot.sh under Xvfb; not a test.
#include "camera_registration.h"
#include "mainwindow_test_support.h"

#include <QSettings>

#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QString output = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("vidloom.png");
    const QByteArray mode = argc > 2 ? argv[2] : "";
    if (mode == "dark") {
        QApplication::setStyle("Fusion");
        QApplication::setPalette(QPalette(Qt::white, QColor(53, 53, 53), QColor(80, 80, 80), QColor(20, 20, 20),
                                          QColor(40, 40, 40), Qt::white, Qt::white, QColor(35, 35, 35),
                                          QColor(53, 53, 53)));
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
    if (mode == "register")
        camera_registration::ResetForTesting();
    TestWindow window;
    window.show();
    if (mode == "register")
        part<QPushButton>(&window, "registerButton")->click();
    else
        window.invoke("onPlayPause");
    // Long enough for a measured frame rate and a moved slider, or for the
    // helper to finish.
    QDeadlineTimer settle(mode == "register" ? 120000 : 4000);
    while (!settle.hasExpired() && !(mode == "register" && !window.status().endsWith("...")))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::printf("status: %s | %s\n", qPrintable(window.status()), qPrintable(window.label("connectionLabel")));
    const bool saved = window.grab().save(output);
    window.invoke("onStop");
    return saved ? 0 : 1;
}
