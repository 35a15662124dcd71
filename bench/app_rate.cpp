// The real window streaming a file, for a paced-rate and CPU figure:
// vidloom_app_rate CLIP WxH SECONDS. The window is shown (run it under Xvfb
// for a real screen), the camera is registered through a stand-in sysfs,
// and the camera library beside this program paces the stream. Prints the
// rate the window shows each second, then the mean rate over the run and
// the process's CPU use over the same span.
#include "camera_registration.h"
#include "mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <fstream>

#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s CLIP WxH SECONDS\n", argv[0]);
        return 2;
    }
    QTemporaryDir root;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.path() + "/config"));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.path() + "/runtime"));
    QDir(root.path()).mkpath("runtime");
    QFile::setPermissions(root.path() + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const std::filesystem::path sysfs = std::filesystem::path(root.path().toStdString()) / "sys";
    std::filesystem::create_directories(sysfs / "class/video4linux/video7");
    std::ofstream(sysfs / "class/video4linux/video7/name") << "Vidloom\n";
    std::ofstream(sysfs / "class/video4linux/video7/max_openers") << "10\n";
    camera_registration::SetSysfsRootForTesting(sysfs);

    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("Vidloom");
    QCoreApplication::setApplicationVersion("1.0");
    QDir().mkpath(QFileInfo(MainWindow::settingsFilePath()).absolutePath());
    {
        QFile settings(MainWindow::settingsFilePath());
        if (!settings.open(QIODevice::WriteOnly))
            return 1;
        settings.write(QString("[General]\nresolution=%1\nlastFile=%2\n")
                           .arg(argv[2], QFileInfo(argv[1]).absoluteFilePath())
                           .toUtf8());
    }
    MainWindow window;
    window.show();
    QMetaObject::invokeMethod(&window, "onPlayPause", Qt::DirectConnection);

    const int seconds = std::atoi(argv[3]);
    auto *status = window.findChild<QLabel *>("statusLabel");
    QElapsedTimer clock;
    double cpuStart = 0;
    int ticks = 0;
    double sum = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const auto match = QRegularExpression("([0-9.]+) fps").match(status ? status->text() : "");
        const double fps = match.hasMatch() ? match.captured(1).toDouble() : 0.0;
        if (ticks == 2) { // the first seconds fill the measuring window
            clock.start();
            cpuStart = cpuSeconds();
        } else if (ticks > 2) {
            sum += fps;
            std::printf("%5.1f fps  %s\n", fps, status ? qPrintable(status->text()) : "");
            std::fflush(stdout);
        }
        if (ticks++ == seconds + 2) {
            const double wall = clock.elapsed() / 1000.0;
            std::printf("mean %.2f fps over %d s; CPU %.1f%% of one core (%.2f s CPU in %.2f s)\n", sum / seconds,
                        seconds, 100.0 * (cpuSeconds() - cpuStart) / wall, cpuSeconds() - cpuStart, wall);
            QCoreApplication::exit(0); // quit() would ask the window, which hides to the tray
        }
    });
    timer.start(1000);
    return app.exec();
}
