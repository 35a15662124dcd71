// The window and headless streaming against the recording camera and a fake registration helper.
#include "mainwindow_test_support.h"

#include "command_line.h"
#include "headless.h"
#include "image_loader.h"
#include "reference_frame.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <random>

#include <sys/stat.h>

namespace {
const char kVideoReady[] = "Video loaded. Press Play to stream.", kImageReady[] = "Image loaded. Press Play to stream.";

// The label's mark; Register, Unregister and the tray's Play usable; Play's tooltip.
QString shownRegistration(TestWindow &window)
{
    return QString::asprintf("%s %d%d%d %s", window.label("registerStatusLabel").contains("✓") ? "✓" : "✗",
                             part<QPushButton>(&window, "registerButton")->isEnabled(),
                             part<QPushButton>(&window, "unregisterButton")->isEnabled(),
                             window.trayAction("Play")->isEnabled(), qPrintable(window.play->toolTip()));
}
const char kRegistered[] = "✓ 011 Open a file first", kUnregistered[] = "✗ 100 Register the camera first";

using H = WindowTestEnvironment::Helper;
struct RegistrationRow {
    const char *name, *button, *status;
    bool registered, registeredAfter;
    H helper;
};

struct LeavingRow {
    const char *name;
    QString how; // "close" or the Quit entry's text
    bool toTray, saved;
};

// After: Play's text, Stop and resolution box usable, camera live, window shown, tray tooltip.
struct StateRow {
    const char *name, *actions, *status, *after;
    bool registered;
};

struct ResolutionRow {
    const char *name, *text, *boxAfter;
    int width, height; // the camera's
    bool typeable;
};

struct HeadlessRow {
    const char *name, *last, *file;
    bool loop, registered;
    int exitCode;
};
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init() { env.reset(); }

    // Run from a folder without the camera library: the window says where it belongs and stays usable.
    void missingLibrary()
    {
        if (env.camera.ok())
            QSKIP("run by mainwindow_nolib_test");
        TestWindow window;
        QCOMPARE(window.status(), QString("libvidloomcam.so not found. Place it next to vidloom"));
        window.load(env.image());
        QCOMPARE(window.label("timeLabel"), QString("Image"));
        window.invoke("onPlayPause");
        QCOMPARE(window.status(), QString("Failed to create virtual camera."));
        window.invoke("onStop");
        QCOMPARE(window.status(), QString("Stopped."));
    }

    void firstStart()
    {
        TestWindow window;
        window.resize(100, 100);
        QCOMPARE(window.size(), QSize(580, 480));
        // The title, "menu[entry(shortcut, checked)|...]" with separators as "-", the sizes.
        QString menus = window.windowTitle() + " ";
        for (QAction *menu : window.menuBar()->actions()) {
            menus += menu->text() + "[";
            for (QAction *e : menu->menu()->actions())
                menus += e->isSeparator()
                    ? "-|"
                    : e->text() + "(" + e->shortcut().toString() + (e->isChecked() ? "on)|" : ")|");
            menus += "] ";
        }
        for (int i = 0; i < window.resolution->count(); ++i)
            menus += window.resolution->itemText(i) + " ";
        QCOMPARE(
            menus,
            QString("Vidloom v1.0 &File[&Open media...(%1)|-|&Quit(%2)|] &Settings[Minimize to tray on close(on)|-|"
                    "Mirror(on)|Play at the file's own speed()|Crop to fill()|] &?[&About Vidloom()|] "
                    "640x480 1280x720 1920x1080 3840x2160 ")
                .arg(QKeySequence(QKeySequence::Open).toString(), QKeySequence(QKeySequence::Quit).toString()));
        QVERIFY(MainWindow::aboutText().startsWith("<h3>Vidloom v1.0</h3><p>Virtual camera application for "));
        QVERIFY(MainWindow::aboutText().contains(QString("Qt %1.").arg(qVersion())));
        QVERIFY(window.loop->isChecked() && !window.stretch->isChecked());
        // The usual light grey status bar stays on a light palette only.
        window.setPalette(QPalette(QColor(30, 30, 30)));
        QVERIFY(!window.statusBar()->styleSheet().contains("#f0f0f0"));
        window.setPalette(QPalette(QColor(240, 240, 240)));
        QVERIFY(window.statusBar()->styleSheet().contains("#f0f0f0"));
    }

    // While the helper waits (as for a password) no button is usable.
    void registration_data()
    {
        addRows<RegistrationRow>({
            {"registered by others", "others", "Ready.", false, true, H::Succeeds},
            {"unregistered by others", "others", "Ready.", true, false, H::Succeeds},
            {"register, helper waits", "register", "Camera registered!", false, true, H::Waits},
            {"register fails", "register", "Registration failed.", false, false, H::Fails},
            {"register cancelled", "register", "Registration cancelled.", false, false, H::Cancels},
            {"no helper", "register", "Registration failed. The camera helper is missing.", false, false, H::Missing},
            {"unregister", "unregister", "Camera unregistered.", true, false, H::Succeeds},
            {"unregister fails", "unregister", "Failed.", true, true, H::Fails},
            {"unregister cancelled", "unregister", "Unregistration cancelled.", true, true, H::Cancels},
        });
    }
    void registration()
    {
        QFETCH(RegistrationRow, row);
        env.setRegistered(row.registered);
        env.setHelper(row.helper);
        TestWindow window;
        QString during;
        QTimer::singleShot(0, &window, [&] {
            during = window.status() + " " + shownRegistration(window);
            env.gate();
        });
        if (QByteArray(row.button) == "others") {
            QTRY_COMPARE(env.camera.locked()->standby, row.registered ? 12800720 : 0); // something to stop
            env.setRegistered(!row.registered);
        } else
            part<QPushButton>(&window, (QByteArray(row.button) + "Button").constData())->click();
        const QString reason = row.helper == H::Fails ? " The module is not installed (Debian package x)." : "";
        QTRY_COMPARE(window.status(), row.status + reason);
        QVERIFY(row.helper != H::Waits || during == "Registering... ✗ 000 Register the camera first");
        QTRY_COMPARE(shownRegistration(window), QString(row.registeredAfter ? kRegistered : kUnregistered));
        QTRY_COMPARE(env.camera.locked()->standby, row.registeredAfter ? 12800720 : 0);
    }

    // The first dropped file is taken; a file that does not decode is refused.
    void loading_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("status");
        const QString badVideo = "Failed to open video.", badImage = "Failed to load image.";
        const QString dir = QFileInfo(env.image()).absolutePath() + "/",
                      markup = QString("<br>").repeated(10) + "x.png";
        QVERIFY(QFile::copy(env.image(), dir + markup) && QFile::copy(env.video(), dir + "CLIP.MP4"));
        QVERIFY(QFile::resize(dir + "CLIP.MP4", 700) && QFile::copy(env.video(), dir + "archive.mp4.bak"));
        QVERIFY(QDir(dir).mkpath("dir.mkv"));
        QTest::newRow("markup in the name") << dir + markup << kImageReady;
        QTest::newRow("webm") << env.mediaFile("clip.webm", "-f lavfi -i testsrc=s=64x48:r=10 -t 1 -c:v libvpx")
                              << kVideoReady;
        QTest::newRow("truncated") << dir + "CLIP.MP4" << badVideo;
        QTest::newRow("folder") << dir + "dir.mkv" << badVideo;
        QTest::newRow("backup") << dir + "archive.mp4.bak" << badImage;
        QTest::newRow("missing") << dir + "no-such-file.png" << badImage;
    }
    void loading()
    {
        QFETCH(QString, path);
        QFETCH(QString, status);
        TestWindow window;
        QVERIFY(window.drop({QUrl::fromLocalFile(env.longVideo()), QUrl::fromLocalFile(env.image())}));
        QVERIFY(window.drop({QUrl("https://example.com/still.png")}));
        QVERIFY(!window.drop({}, env.image()));
        QCOMPARE(window.status(), QString(kVideoReady));
        window.slider->setValue(500);
        const QImage shown = window.preview();
        window.load(path);
        const bool taken = status.endsWith("Press Play to stream.");
        QCOMPARE(window.status(), status);
        QCOMPARE(window.label("fileLabel"), taken ? QFileInfo(path).fileName() : QString("long.mkv"));
        QVERIFY(part<QLabel>(&window, "fileLabel")->sizeHint().height() < 100); // text, not markup
        QCOMPARE(window.label("timeLabel") == "1:02 / 2:05", !taken);
        QCOMPARE(window.preview() == shown, !taken);
        QCOMPARE(window.slider->value(), taken ? 0 : 500);
        QCOMPARE(window.slider->isEnabled(), status != kImageReady);
        QTRY_VERIFY(env.settingsOnDisk().contains("lastFile=" + (taken ? path : env.longVideo()).toUtf8()));
    }

    void formatTime()
    {
        // 1e12: beyond int
        const std::pair<double, const char *> cases[] = {
            {59.99, "0:59"}, {3725.0, "62:05"}, {-3.0, "0:00"}, {std::nan(""), "0:00"}, {1e12, "0:00"}};
        for (const auto &[seconds, text] : cases)
            QCOMPARE(::formatTime(seconds), QString(text));
    }

    // Whatever the settings file holds, defaults replace what cannot be read.
    void settingsAtStart_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("resolution");
        const QString fifo = QFileInfo(env.image()).absolutePath() + "/last.mp4"; // opening it would block
        QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0 || errno == EEXIST);
        QTest::newRow("last file") << "resolution=1920x1080\nlastFile=" + env.longVideo().toUtf8() << "1920x1080";
        QTest::newRow("new size") << QByteArray("resolution=800x600") << "800x600";
        QTest::newRow("leading blank") << QByteArray("resolution=\" 800x600\"") << "1280x720";
        QTest::newRow("six digits") << QByteArray("resolution=123456x600") << "1280x720";
        QTest::newRow("fifo as last file") << "lastFile=" + fifo.toUtf8() << "1280x720";
        QTest::newRow("binary junk") << QByteArray("\x00\xff\xfe[\x01=\x02\n", 9).repeated(1000) << "1280x720";
        QTest::newRow("wrong types") << QByteArray("loop=maybe\nresolution=@Invalid()\nwindowGeometry=@ByteArray("
                                                   "\\x1\\xd9\nlastFile=@Variant(\\0\\0)")
                                     << "1280x720";
    }
    void settingsAtStart()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, resolution);
        env.writeSettings("[General]\n" + contents + "\n");
        TestWindow window;
        QCOMPARE(window.size() == QSize(780, 600), !contents.contains("windowGeometry"));
        QCOMPARE(window.resolution->currentText(), resolution);
        QCOMPARE(window.resolution->count(), resolution == "800x600" ? 5 : 4); // only a well-formed new size is added
        QCOMPARE(window.label("fileLabel"), QString(contents.contains("long.mkv") ? "long.mkv" : "No file selected"));
    }

    // Closing to the tray keeps streaming; the tray's Quit saves nothing.
    void leaving_data()
    {
        addRows<LeavingRow>({
            {"close to tray", "close", true, false},
            {"close for good", "close", false, true},
            {"File > Quit", "&Quit", true, true},
            {"tray Quit", "Quit", true, false},
        });
    }
    void leaving()
    {
        QFETCH(LeavingRow, row);
        {
            TestWindow window;
            part<QAction>(&window, "minimizeToTrayAction")->setChecked(row.toTray);
            window.loop->setChecked(false);
            window.stretch->setChecked(true);
            for (const char *action : {"mirrorAction", "cropAction", "ownSpeedAction"})
                part<QAction>(&window, action)->toggle();
            window.resolution->setEditText("1024x576");
            window.resize(900, 650);
            QVERIFY(window.stream(env.image(), env.camera));
            if (row.how == "close") {
                QCOMPARE(window.close(), !row.toTray);
                QCOMPARE(window.tray->property("lastMessage").toString().contains("keeps running"),
                         row.toTray && QSystemTrayIcon::isSystemTrayAvailable());
            } else {
                QAction *quit = row.how == "Quit" ? window.trayAction(row.how)
                                                  : window.menuBar()->actions()[0]->menu()->actions().last();
                QTimer::singleShot(0, quit, &QAction::trigger);
                QCOMPARE(QApplication::exec(), 0);
                QVERIFY(!window.tray->isVisible());
            }
            const bool streaming = row.how == "close" && row.toTray;
            QVERIFY(!streaming
                    || (QSystemTrayIcon::isSystemTrayAvailable() ? !window.isVisible() : window.isMinimized()));
            QCOMPARE(env.camera.cameraLive(), streaming);
            QVERIFY(!streaming || env.camera.waitForFrames(env.camera.frameCount() + 5));
            QTRY_COMPARE(env.settingsOnDisk().contains("windowGeometry"), row.saved); // only on leaving
        }
        if (!row.saved)
            return;
        TestWindow window;
        QCOMPARE(window.size(), QSize(900, 650));
        QCOMPARE(window.resolution->currentText(), QString("1024x576"));
        QVERIFY(!window.loop->isChecked() && window.stretch->isChecked());
        QCOMPARE(part<QAction>(&window, "minimizeToTrayAction")->isChecked(), row.toTray);
        for (const char *action : {"mirrorAction", "cropAction", "ownSpeedAction"})
            QVERIFY2(part<QAction>(&window, action)->isChecked() == (action[0] != 'm'), action);
    }

    void stateTable_data()
    {
        const char *idle = " &Play 01 01 Vidloom", *playing = " &Pause 10 11 Vidloom - Streaming",
                   *paused = " &Play 10 11 Vidloom - Streaming", *streaming = "Streaming...";
        addRows<StateRow>({
            {"no file", "p", "Open a file first.", idle, false},
            {"stop with no file", "s", "Ready.", idle, true},
            {"not registered", "ip", "Register the camera first.", idle, false},
            {"pause", "vPP", "Paused.", paused, true},
            {"resume", "vPPP", "Resuming...", playing, true},
            {"stop", "vPPS", "Stopped.", idle, true},
            {"load while playing", "vPi", streaming, playing, true},
            {"load while paused", "vPPv", kVideoReady, idle, true},
            {"unregister while playing", "iPu", "Camera unregistered.", idle, true},
            {"space key and tray", "ikt", "Paused.", paused, true},
            {"tray stop", "itT", "Stopped.", idle, true},
            {"open and play", "o", streaming, playing, true},
            {"open and play while paused", "iPPo", streaming, playing, true},
            {"space on focused Play", "iB", streaming, playing, true},
            {"space on focused Loop", "iK", kImageReady, idle, true},
            {"tray icon hides, notifies", "ht", "Open a file first.", " &Play 01 00 Vidloom Open a file first.", true},
            {"tray icon shows", "ihPh", streaming, playing, true},
        });
    }
    void stateTable()
    {
        QFETCH(StateRow, row);
        env.setRegistered(row.registered);
        TestWindow window;
        const auto act = actions(window);
        for (char action : QByteArray(row.actions))
            act[action]();
        QTRY_COMPARE(window.status(), QString(row.status));
        QVERIFY(window.trayAction(window.play->text() == " &Pause" ? "Pause" : "Play"));
        window.invoke("onTimerTick");
        const QString tray = window.tray->toolTip() + " " + window.tray->property("lastMessage").toString();
        QCOMPARE(QString::asprintf("%s %d%d %d%d %s", qPrintable(window.play->text()), window.stop->isEnabled(),
                                   window.resolution->isEnabled(), env.camera.cameraLive(), window.isVisible(),
                                   qPrintable(tray.trimmed())),
                 QString(row.after));
    }

    void resolutionBox_data()
    {
        addRows<ResolutionRow>({
            {"rounded down", "1366x768", "1366x768", 1364, 768, true},
            {"too small", "10x10", "10x10", 64, 64, true},
            {"too wide", "9000x64", "9000x64", 7680, 64, true},
            {"blanks", " 1920 x 1080 ", " 1920 x 1080 ", 1920, 1080, false},
            {"upper-case X", "1280X720", "1280x720", 1280, 720, false},
            {"three numbers", "1280x720x2", "1280x720", 1280, 720, false},
            {"beyond 32 bits", "99999999999x480", "1280x720", 1280, 720, false},
        });
    }
    void resolutionBox()
    {
        QFETCH(ResolutionRow, row);
        TestWindow window;
        window.resolution->setEditText(row.text);
        QCOMPARE(window.resolution->lineEdit()->hasAcceptableInput(), row.typeable);
        QVERIFY(window.stream(env.image(), env.camera));
        QCOMPARE(window.resolution->currentText(), QString(row.boxAfter));
        window.invoke("onTimerTick");
        const QString statusLine = QString("^Playing  \\|  \\d+\\.\\d fps  \\|  %1x%2$").arg(row.width).arg(row.height);
        QVERIFY(window.status().contains(QRegularExpression(statusLine)));
        QCOMPARE(env.camera.frame().size(), size_t(row.width) * row.height * 3);
    }

    // Without loop each frame is sent once, then the first frame comes back.
    void videoWithoutLoop()
    {
        TestWindow window;
        window.loop->setChecked(false);
        window.load(env.video());
        const QImage firstFrame = window.preview();
        env.camera.setPacing(false);
        window.invoke("onPlayPause");
        QTRY_COMPARE_WITH_TIMEOUT(window.status(), QString("Playback finished."), 20000);
        QCOMPARE(window.preview(), firstFrame);
        QVERIFY(window.slider->value() == 0 && window.play->text() == " &Play" && !env.camera.cameraLive());
        QCOMPARE(env.camera.frameCount(), 60);
    }

    void streamingImage()
    {
        TestWindow window;
        QVERIFY(window.stream(env.image(), env.camera));
        QTRY_COMPARE(window.label("connectionLabel"), QString("Waiting for app..."));
        QTRY_VERIFY_WITH_TIMEOUT(!window.status().contains(" 0.0 fps"), 10000); // measured after a second

        ImageLoader loader;
        QVERIFY(loader.Initialize() && loader.LoadImageW(QFileInfo(env.image()).filesystemFilePath()));
        part<QAction>(&window, "mirrorAction")->setChecked(false);
        QVERIFY(env.camera.waitForFrames(env.camera.frameCount() + 3));
        QCOMPARE(env.camera.frame(), reference_frame::Fit(loader.pixels.data(), 200, 150, 1280, 720, false));
        part<QAction>(&window, "cropAction")->setChecked(true);
        QVERIFY(!window.stretch->isEnabled());
        QVERIFY(env.camera.waitForFrames(env.camera.frameCount() + 3));
        QCOMPARE(env.camera.frame(), reference_frame::Fit(loader.pixels.data(), 200, 150, 1280, 720, false, true));

        env.camera.setConnected(true);
        QTRY_COMPARE(window.label("connectionLabel"), QString("Connected"));
        QCOMPARE(window.tray->toolTip(), QString("Vidloom - Connected"));
        window.invoke("onPlayPause");
        QTRY_VERIFY(window.status().contains(QRegularExpression("^Paused  \\|  \\d+\\.\\d fps  \\|  1280x720$")));
        env.camera.setConnected(false);
        QTRY_COMPARE(window.label("connectionLabel"), QString("Waiting for app..."));
        QCOMPARE(window.tray->toolTip(), QString("Vidloom - Streaming"));
        window.invoke("onStop");
        QCOMPARE(window.tray->toolTip(), QString("Vidloom"));
        QCOMPARE(window.label("connectionLabel"), QString());
        // Stopped, the camera shows the placeholder again, at the chosen size.
        QTRY_COMPARE(env.camera.locked()->standby, 12800720);
        window.resolution->setCurrentText("640x480");
        QTRY_COMPARE(env.camera.locked()->standby, 6400480);
    }

    // Paused, a key sends one frame; a released slider holds until the stream gets there.
    void seeking()
    {
        TestWindow window;
        window.load(env.longVideo());
        const QImage first = window.preview();
        QTest::keySequence(&window, QKeySequence(Qt::Key_Right, Qt::Key_Right, Qt::Key_Left));
        QCOMPARE(window.label("timeLabel"), QString("0:05 / 2:05"));
        QVERIFY(window.preview() != first);
        QTest::keyClick(&window, Qt::Key_Home);
        QCOMPARE(window.label("timeLabel"), QString("0:00 / 2:05"));
        QCOMPARE(window.preview(), first);
        window.slider->setValue(500);

        window.invoke("onPlayPause");
        QVERIFY(env.camera.waitForFrames(3));
        window.invoke("onTimerTick");
        QVERIFY(window.label("timeLabel").startsWith("1:0") && window.slider->value() >= 495);
        window.invoke("onPlayPause");
        QTest::qWait(50);
        const qint64 held = env.camera.frameCount();
        QTest::keyClick(&window, Qt::Key_Right);
        QVERIFY(env.camera.waitForFrames(held + 1));
        QTest::qWait(100);
        QCOMPARE(env.camera.frameCount(), held + 1);
        window.invoke("onPlayPause");
        window.slider->setFocus();
        for (int i = 0; i < 30; ++i)
            QTest::keyClick(window.slider, Qt::Key_PageUp);
        QTRY_VERIFY(window.label("timeLabel").startsWith("1:4"));
        window.invoke("onTimerTick");
        QVERIFY(window.slider->value() >= 780);

        env.camera.setSendDelayMs(300); // a tick or more per frame before the seek shows
        window.slider->setSliderDown(true);
        window.slider->setValue(750);
        QCOMPARE(window.label("timeLabel"), QString("1:34 / 2:05"));
        window.slider->setSliderDown(false);
        const qint64 seen = env.camera.frameCount();
        QDeadlineTimer deadline(20000);
        while (env.camera.frameCount() < seen + 3 && !deadline.hasExpired()) {
            window.invoke("onTimerTick");
            QVERIFY(window.slider->value() >= 745);
            QTest::qWait(20);
        }
        QTRY_VERIFY(window.label("timeLabel").startsWith("1:3"));
        QVERIFY(window.slider->value() >= 745 && window.slider->value() <= 800);
        env.camera.setSendDelayMs(0);
        QTRY_VERIFY_WITH_TIMEOUT(window.slider->value() > 765, 10000); // following the stream again
    }

    // The camera is released at the end or on SIGTERM; the size defaults to the window's.
    void headless_data()
    {
        addRows<HeadlessRow>({
            {"video to its end", "Playback finished.", "video", false, true, 0},
            {"image until SIGTERM", "Stopped.", "image", true, true, 0},
            {"missing file", "Failed to open video.", "gone.mp4", true, true, 1},
            {"not registered", "Register the camera first.", "image", true, false, 3},
        });
    }
    void headless()
    {
        QFETCH(HeadlessRow, row);
        env.setRegistered(row.registered);
        env.camera.setPacing(false);
        env.writeSettings("[General]\nresolution=320x240\n");
        const QString file = *row.file == 'v' ? env.video() : *row.file == 'i' ? env.image() : row.file;
        const LaunchOptions options =
            parseCommandLine({"vidloom", "--headless", file, row.loop ? "--resolution=320x240" : "--no-loop"});
        if (row.exitCode == 0 && row.loop)
            QTimer::singleShot(0, [this] {
                env.camera.waitForFrames(5);
                std::raise(SIGTERM);
            });
        char written[1 << 16] = {};
        FILE *out = fmemopen(written, sizeof written - 1, "w");
        QCOMPARE(HeadlessStream(options, out).run(), row.exitCode);
        std::fclose(out);
        QVERIFY2(QString(written).trimmed().endsWith(row.last), written);
        QVERIFY(!env.camera.cameraLive());
        if (row.exitCode == 0) {
            const QRegularExpression firstLine("^Playing  \\|  (0:00 / 0:02|Image)  \\|  \\d+\\.\\d fps  \\|  "
                                               "320x240  \\|  Waiting for app\\.\\.\\.\n");
            QVERIFY2(QString(written).contains(firstLine), written);
            QVERIFY(env.camera.frameCount() >= (row.loop ? 5 : 60));
        }
    }

    void randomSequences()
    {
        const int sequences = qEnvironmentVariableIntValue("VIDLOOM_STRESS_SEQUENCES");
        if (sequences == 0)
            QSKIP("run by mainwindow_stress_test");
        env.camera.setPacing(false);
        TestWindow window;
        window.resolution->setEditText("320x240");
        window.load(env.video());
        window.invoke("onPlayPause");
        random.seed(6061); // fixed, so a failure can be replayed
        const auto act = actions(window);
        for (int sequence = 0; sequence < sequences; ++sequence) {
            for (int step = 0, steps = 1 + int(random() % 3); step < steps; ++step)
                act["ppsdlxcippsdlxcv"[random() % 16]](); // a load one step in eight
            QCoreApplication::processEvents();            // then what the UI thread sets in one go must agree
            QCOMPARE(window.stop->isEnabled(), !window.resolution->isEnabled());
            QVERIFY(window.play->text() != " &Pause" || window.stop->isEnabled());
            QVERIFY(window.stop->isEnabled() || !env.camera.cameraLive());
        }
        window.invoke("onStop");
        QCOMPARE(window.status(), QString("Stopped."));
        window.loop->setChecked(true);
        const qint64 sent = env.camera.frameCount();
        window.invoke("onPlayPause");
        QVERIFY(env.camera.waitForFrames(sent + 10));
    }

private:
    // The user's actions by letter (p, s: the slots; P, S: the buttons; o: a second start with --play).
    QHash<char, std::function<void()>> actions(TestWindow &window)
    {
        const auto spaceOn = [&](QWidget *target) { // a focused button or check box takes Space itself, exactly once
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Space);
            QCOMPARE(window.loop->isChecked(), target == window.play);
        };
        return {
            {'p', [&] { window.invoke("onPlayPause"); }},
            {'s', [&] { window.invoke("onStop"); }},
            {'P', [&] { window.play->click(); }},
            {'S', [&] { window.stop->click(); }},
            {'k', [&] { QTest::keyClick(&window, Qt::Key_Space); }},
            {'t',
             [&] { (window.trayAction("Play") ? window.trayAction("Play") : window.trayAction("Pause"))->trigger(); }},
            {'T', [&] { window.trayAction("Stop")->trigger(); }},
            {'h', [&] { window.tray->activated(QSystemTrayIcon::Trigger); }},
            {'i', [&] { window.load(env.image()); }},
            {'v', [&] { window.load(env.video()); }},
            {'u', [&] { part<QPushButton>(&window, "unregisterButton")->click(); }},
            {'o', [&] { window.start(parseCommandLine(QStringList() << "vidloom" << env.video() << "--play")); }},
            {'B', [spaceOn, &window] { spaceOn(window.play); }},
            {'K', [spaceOn, &window] { spaceOn(window.loop); }},
            {'d',
             [&] {
                 window.slider->setSliderDown(true);
                 window.slider->setValue(int(random() % 1001));
                 window.slider->setSliderDown(false);
             }},
            {'l', [&] { window.loop->toggle(); }},
            {'x', [&] { window.stretch->toggle(); }},
            {'c', [&] { window.invoke("onTimerTick"); }},
        };
    }

    WindowTestEnvironment env;
    std::mt19937 random;
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
