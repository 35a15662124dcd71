// Not a test: scripts/screenshot.sh runs it under Xvfb for a picture of the window streaming into the recording
// camera, on a dark theme with "dark" after the output file, or after Register through pkexec with "register".
#include "mainwindow_test_support.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QByteArray mode = argc > 2 ? argv[2] : "";
    if (mode == "dark") // Fusion, the style on a bare X server, with a dark palette
        QApplication::setPalette(QPalette(QColor(53, 53, 53)));
    WindowTestEnvironment env;
    if (!env.camera.ok())
        qFatal("the recording camera library must lie beside this program");
    env.camera.setConnected(true);
    const QString clip = env.mediaFile("demo.mp4", "-f lavfi -i testsrc2=s=1280x720:r=30 -t 60 -c:v mpeg4 -q:v 3");
    QSettings(MainWindow::settingsFilePath(), QSettings::IniFormat).setValue("lastFile", clip);
    if (mode == "register")
        camera_registration::ResetForTesting();
    TestWindow window;
    if (mode == "register")
        part<QPushButton>(&window, "registerButton")->click();
    else
        window.invoke("onPlayPause");
    QDeadlineTimer settle(mode == "register" ? 120000 : 4000);
    while (!settle.hasExpired() && !(mode == "register" && !window.status().endsWith("...")))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    qInfo("status: %s | %s", qPrintable(window.status()), qPrintable(window.label("connectionLabel")));
    return window.grab().save(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("vidloom.png")) ? 0 : 1;
}
