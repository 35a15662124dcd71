// The window against the recording camera library and a fake registration
// helper: as built, registration, taking media files, settings, closing and
// quitting, the play/stop state table, the resolution box, the end of a
// video, the live status line and connection indicator, seeking, headless.
#include "mainwindow_test_support.h"

#include "command_line.h"
#include "headless.h"
#include "image_loader.h"
#include "reference_frame.h"

#include <QMenuBar>
#include <QStatusBar>

#include <cmath>
#include <csignal>
#include <cstdio>

#include <sys/stat.h>

namespace {
const char kVideoLoaded[] = "Video loaded. Press Play to stream.";
const char kImageLoaded[] = "Image loaded. Press Play to stream.";

bool matchesStatusLine(const QString &text, const char *state, const QString &size)
{
    return text.contains(QRegularExpression(QString("^%1  \\|  \\d+\\.\\d fps  \\|  %2$").arg(state, size)));
}

struct RegistrationRow {
    const char *name;
    bool registered;
    const char *button; // empty: none pressed
    WindowTestEnvironment::Helper helper;
    const char *status;
    bool registeredAfter;
};

// Actions: p and s = the play/pause and stop slots, P and S = the buttons,
// k = the Space key, t and T = the tray's Play/Pause and Stop, h = a click
// on the tray icon, i and v = loading the image and the video, u = the
// Unregister button, o = a later start's file with --play, B and K = Space
// on the focused Play button and Loop box. After: the Play button's text,
// whether Stop and the resolution box are enabled, whether the camera is
// live and the window visible, the tray's tooltip.
struct StateRow {
    const char *name;
    char file; // v video, i image, 0 none
    bool registered;
    const char *actions, *status, *after;
};
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(env.ok() && env.camera.ok()); }
    void init() { env.reset(); }

    void firstStart()
    {
        TestWindow window;
        window.show();
        QCOMPARE(window.windowTitle(), QString("Vidloom v1.0"));
        QCOMPARE(window.size(), QSize(780, 600));
        window.resize(100, 100);
        QCOMPARE(window.size(), QSize(580, 480));
        QString menus; // "title[entry(shortcut, checked)|...]", separators as "-"
        for (QAction *menu : window.menuBar()->actions()) {
            menus += menu->text() + "[";
            for (QAction *entry : menu->menu()->actions())
                menus += entry->isSeparator()
                    ? QString("-|")
                    : QString("%1(%2%3)|")
                          .arg(entry->text(), entry->shortcut().toString(), entry->isChecked() ? "on" : "");
            menus += "] ";
        }
        QCOMPARE(menus,
                 QString("&File[&Open media...(%1)|-|&Quit(%2)|] &Settings[Minimize to tray on close(on)|-|"
                         "Mirror(on)|Play at the file's own speed()|Crop to fill()|] &?[&About Vidloom()|] ")
                     .arg(QKeySequence(QKeySequence::Open).toString(), QKeySequence(QKeySequence::Quit).toString()));
        QVERIFY(MainWindow::aboutText().startsWith("<h3>Vidloom v1.0</h3><p>Virtual camera application for "));
        QVERIFY(MainWindow::aboutText().contains(QString("Qt %1.").arg(qVersion())));
        QStringList items;
        for (int i = 0; i < window.resolution->count(); ++i)
            items << window.resolution->itemText(i);
        QCOMPARE(items, QStringList({"640x480", "1280x720", "1920x1080", "3840x2160"}));
        QVERIFY(window.loop->isChecked() && !window.stretch->isChecked());
        // The usual light grey status bar stays on a light palette only.
        window.setPalette(QPalette(QColor(30, 30, 30)));
        QVERIFY(!window.statusBar()->styleSheet().contains("#f0f0f0"));
        window.setPalette(QPalette(QColor(240, 240, 240)));
        QVERIFY(window.statusBar()->styleSheet().contains("#f0f0f0"));
    }

    // The outcome text comes from the helper's exit code and stderr, the
    // buttons and the label from whether the device exists afterwards. The
    // event loop runs while the helper waits (as for a password), with
    // neither button usable.
    void registration_data()
    {
        using H = WindowTestEnvironment::Helper;
        const char *missing = "Registration failed. The camera helper is missing.";
        addRows<RegistrationRow>({
            {"not registered", false, "", H::Succeeds, "Ready.", false},
            {"registered", true, "", H::Succeeds, "Ready.", true},
            {"register", false, "registerButton", H::Succeeds, "Camera registered!", true},
            {"register, helper waits", false, "registerButton", H::Waits, "Camera registered!", true},
            {"register fails", false, "registerButton", H::Fails, "Registration failed.", false},
            {"register cancelled", false, "registerButton", H::Cancels, "Registration cancelled.", false},
            {"no helper", false, "registerButton", H::Missing, missing, false},
            {"unregister", true, "unregisterButton", H::Succeeds, "Camera unregistered.", false},
            {"unregister fails", true, "unregisterButton", H::Fails, "Failed.", true},
            {"unregister cancelled", true, "unregisterButton", H::Cancels, "Unregistration cancelled.", true},
        });
    }
    void registration()
    {
        QFETCH(RegistrationRow, row);
        using H = WindowTestEnvironment::Helper;
        env.setRegistered(row.registered);
        env.setHelper(row.helper);
        TestWindow window;
        auto *registerButton = part<QPushButton>(&window, "registerButton");
        auto *unregisterButton = part<QPushButton>(&window, "unregisterButton");
        QString during;
        QTimer::singleShot(0, &window, [&] {
            during =
                window.status() + QString(" %1%2").arg(registerButton->isEnabled()).arg(unregisterButton->isEnabled());
            env.gate();
        });
        if (*row.button)
            part<QPushButton>(&window, row.button)->click();
        const QString reason = row.helper == H::Fails ? " The module is not installed (Debian package x)." : "";
        QTRY_COMPARE(window.status(), row.status + reason);
        QVERIFY(row.helper != H::Waits || during == "Registering... 00");
        QVERIFY(
            window.label("registerStatusLabel").contains(row.registeredAfter ? "✓ Registered" : "✗ Not registered"));
        QCOMPARE(window.play->toolTip(),
                 QString(row.registeredAfter ? "Open a file first" : "Register the camera first"));
        QCOMPARE(window.trayAction("Play")->isEnabled(), row.registeredAfter);
        QCOMPARE(registerButton->isEnabled(), !row.registeredAfter);
        QCOMPARE(unregisterButton->isEnabled(), row.registeredAfter);
    }

    // Someone else registers or removes the camera: the window follows.
    void registrationIsLive()
    {
        env.setRegistered(false);
        TestWindow window;
        for (bool registered : {true, false, true}) {
            env.setRegistered(registered);
            QTRY_COMPARE_WITH_TIMEOUT(window.play->toolTip(),
                                      QString(registered ? "Open a file first" : "Register the camera first"), 1000);
            QCOMPARE(part<QPushButton>(&window, "registerButton")->isEnabled(), !registered);
        }
    }

    // After a video, an image replaces preview and times. A file whose
    // first frame cannot be decoded is refused at once with the text for
    // its kind (by extension), and the video stays loaded and saved.
    void loading_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("status");
        QFile mp4(testVideo()), png(testImage());
        QVERIFY(mp4.open(QIODevice::ReadOnly) && png.open(QIODevice::ReadOnly));
        const QString badVideo = "Failed to open video.", badImage = "Failed to load image.";
        const QString folder = QFileInfo(testImage()).absolutePath();
        QTest::newRow("image") << testImage() << kImageLoaded;
        QTest::newRow("markup in the name")
            << writeFile(QByteArray("<br>").repeated(10).append("x.png").constData(), png.readAll()) << kImageLoaded;
        QTest::newRow("webm") << mediaFile("clip.webm", "-f lavfi -i testsrc=size=64x48:rate=10 -t 1 -c:v libvpx")
                              << kVideoLoaded;
        QTest::newRow("truncated") << writeFile("CLIP.MP4", mp4.read(700)) << badVideo;
        QVERIFY(QDir(folder).mkpath("folder.mkv"));
        QTest::newRow("folder") << folder + "/folder.mkv" << badVideo;
        QTest::newRow("backup") << writeFile("archive.mp4.bak", "x") << badImage;
        QTest::newRow("missing") << folder + "/no-such-file.png" << badImage;
    }
    void loading()
    {
        QFETCH(QString, path);
        QFETCH(QString, status);
        TestWindow window;
        window.show();
        const QImage blank = window.preview();
        window.load(longVideo());
        QCOMPARE(window.label("timeLabel"), QString("0:00 / 2:05"));
        const QImage firstFrame = window.preview();
        QVERIFY(firstFrame != blank);
        QTRY_VERIFY(env.settingsOnDisk().contains("long.mkv"));
        window.load(path);
        const bool taken = status.endsWith("Press Play to stream.");
        QCOMPARE(window.status(), status);
        QCOMPARE(window.label("fileLabel"), taken ? QFileInfo(path).fileName() : QString("long.mkv"));
        QVERIFY(part<QLabel>(&window, "fileLabel")->sizeHint().height() < 100); // text, not markup
        QCOMPARE(window.label("timeLabel") == "0:00 / 2:05", !taken);
        QCOMPARE(window.preview() == firstFrame, !taken);
        QCOMPARE(window.slider->isEnabled(), status != kImageLoaded);
        QTRY_VERIFY(env.settingsOnDisk().contains("lastFile=" + (taken ? path : longVideo()).toUtf8()));
    }

    // Of three files the first is taken. A remote link is accepted as a drag
    // but changes nothing; text is refused.
    void drops()
    {
        TestWindow window;
        QVERIFY(window.drop(
            {QUrl::fromLocalFile(testVideo()), QUrl::fromLocalFile(testImage()), QUrl::fromLocalFile(longVideo())}));
        QVERIFY(window.drop({QUrl("https://example.com/still.png")}));
        QVERIFY(!window.drop({}, testImage()));
        QCOMPARE(window.label("fileLabel"), QString("clip.mp4"));
        QCOMPARE(window.status(), QString(kVideoLoaded));
    }

    void formatTime()
    {
        const std::pair<double, const char *> cases[] = {{0.0, "0:00"},          {59.99, "0:59"},
                                                         {3725.0, "62:05"},      {-3.0, "0:00"},
                                                         {std::nan(""), "0:00"}, {1e12, "0:00"}}; // beyond int
        for (const auto &[seconds, text] : cases)
            QCOMPARE(::formatTime(seconds), QString(text));
    }

    // Whatever the file holds, the window opens usable at the first-start
    // size, with defaults for what it cannot read.
    void settingsAtStart_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("resolution");
        const QString fifo = QFileInfo(testImage()).absolutePath() + "/last.mp4";
        QVERIFY(::mkfifo(fifo.toLocal8Bit().constData(), 0600) == 0 || errno == EEXIST);
        QTest::newRow("last file") << "resolution=1920x1080\nlastFile=" + longVideo().toUtf8() << "1920x1080";
        QTest::newRow("new size") << QByteArray("resolution=800x600") << "800x600";
        QTest::newRow("leading blank") << QByteArray("resolution=\" 800x600\"") << "1280x720";
        QTest::newRow("six digits") << QByteArray("resolution=123456x600") << "1280x720";
        // Opening it would wait for a writer for ever.
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
        window.show();
        // A geometry that cannot be restored leaves the size alone.
        QCOMPARE(window.size() == QSize(780, 600), !contents.contains("windowGeometry"));
        QCOMPARE(window.resolution->currentText(), resolution);
        QCOMPARE(window.resolution->count(), resolution == "800x600" ? 5 : 4); // only a well-formed new size is added
        QCOMPARE(window.label("fileLabel"), QString(contents.contains("long.mkv") ? "long.mkv" : "No file selected"));
        window.load(testImage());
        QCOMPARE(window.status(), QString(kImageLoaded));
    }

    // Closing with minimise-to-tray on hides the window (or minimises it
    // where no tray exists) and the stream goes on. Closing otherwise and
    // File > Quit save the options for the next start; the tray's Quit does
    // not. Both quits end the event loop with the camera shut down.
    void leaving_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("toTray");
        QTest::addColumn<bool>("saved");
        QTest::newRow("close to tray") << "close" << true << false;
        QTest::newRow("close for good") << "close" << false << true;
        QTest::newRow("File > Quit") << "&Quit" << true << true;
        QTest::newRow("tray Quit") << "Quit" << true << false;
    }
    void leaving()
    {
        QFETCH(QString, how);
        QFETCH(bool, toTray);
        QFETCH(bool, saved);
        {
            TestWindow window;
            window.show();
            part<QAction>(&window, "minimizeToTrayAction")->setChecked(toTray);
            window.loop->setChecked(false);
            window.stretch->setChecked(true);
            for (const char *action : {"mirrorAction", "cropAction", "ownSpeedAction"})
                part<QAction>(&window, action)->toggle();
            window.resolution->setEditText("1024x576");
            window.resize(900, 650);
            QVERIFY(window.stream(testImage(), env.camera));
            if (how == "close") {
                QCOMPARE(window.close(), !toTray);
                QCOMPARE(window.tray->property("lastMessage").toString().contains("keeps running"),
                         toTray && QSystemTrayIcon::isSystemTrayAvailable());
            } else {
                QAction *quit = how == "Quit" ? window.trayAction(how)
                                              : window.menuBar()->actions()[0]->menu()->actions()[2];
                QCOMPARE(quit->text(), how);
                QTimer::singleShot(30000, &window, [] { QCoreApplication::exit(1); });
                QTimer::singleShot(0, quit, &QAction::trigger);
                QCOMPARE(QApplication::exec(), 0);
                QVERIFY(!window.tray->isVisible());
            }
            const bool streaming = how == "close" && toTray;
            if (streaming)
                QVERIFY(QSystemTrayIcon::isSystemTrayAvailable() ? !window.isVisible() : window.isMinimized());
            QCOMPARE(env.camera.cameraLive(), streaming);
            QVERIFY(!streaming || env.camera.waitForFrames(env.camera.frameCount() + 5));
            QTRY_COMPARE(env.settingsOnDisk().contains("windowGeometry"), saved); // only on leaving
        }
        if (!saved)
            return;
        TestWindow window;
        QCOMPARE(window.size(), QSize(900, 650));
        QCOMPARE(window.resolution->currentText(), QString("1024x576"));
        QVERIFY(!window.loop->isChecked() && window.stretch->isChecked());
        QCOMPARE(part<QAction>(&window, "minimizeToTrayAction")->isChecked(), toTray);
        QVERIFY(!part<QAction>(&window, "mirrorAction")->isChecked()
                && part<QAction>(&window, "cropAction")->isChecked()
                && part<QAction>(&window, "ownSpeedAction")->isChecked());
        QCOMPARE(window.label("fileLabel"), QString("still.png"));
    }

    void stateTable_data()
    {
        const char *idle = " &Play 01 01 Vidloom", *playing = " &Pause 10 11 Vidloom - Streaming",
                   *paused = " &Play 10 11 Vidloom - Streaming", *streaming = "Streaming...";
        addRows<StateRow>({
            {"no file", 0, false, "p", "Open a file first.", idle},
            {"stop with no file", 0, true, "s", "Ready.", idle},
            {"not registered", 'i', false, "p", "Register the camera first.", idle},
            {"play", 'v', true, "P", streaming, playing},
            {"pause", 'v', true, "PP", "Paused.", paused},
            {"resume", 'v', true, "PPP", "Resuming...", playing},
            {"stop", 'v', true, "PPS", "Stopped.", idle},
            {"load while playing", 'v', true, "Pi", streaming, playing},
            {"load while paused", 'v', true, "PPv", kVideoLoaded, idle},
            {"unregister while playing", 'i', true, "Pu", "Camera unregistered.", idle},
            {"space key and tray", 'i', true, "kt", "Paused.", paused},
            {"tray stop", 'i', true, "tT", "Stopped.", idle},
            {"open and play", 0, true, "o", streaming, playing},
            {"open and play while paused", 'i', true, "PPo", streaming, playing},
            // A focused button or check box takes Space itself, exactly once.
            {"space on focused Play", 'i', true, "B", streaming, playing},
            {"space on focused Loop", 'i', true, "K", kImageLoaded, idle},
            // One click on the tray icon hides, the next shows; what fails
            // meanwhile says why in a notification.
            {"tray icon hides", 0, true, "ht", "Open a file first.", " &Play 01 00 Vidloom Open a file first."},
            {"tray icon shows", 'i', true, "hPh", streaming, playing},
        });
    }
    void stateTable()
    {
        QFETCH(StateRow, row);
        env.setRegistered(row.registered);
        TestWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        if (row.file)
            window.load(row.file == 'v' ? testVideo() : testImage());
        const auto spaceOn = [&](QWidget *target) {
            target->setFocus();
            QTest::keyClick(target, Qt::Key_Space);
            QCOMPARE(window.loop->isChecked(), target == window.play);
        };
        const QHash<char, std::function<void()>> act = {
            {'p', [&] { window.invoke("onPlayPause"); }},
            {'s', [&] { window.invoke("onStop"); }},
            {'P', [&] { window.play->click(); }},
            {'S', [&] { window.stop->click(); }},
            {'k', [&] { QTest::keyClick(&window, Qt::Key_Space); }},
            {'t',
             [&] { (window.trayAction("Play") ? window.trayAction("Play") : window.trayAction("Pause"))->trigger(); }},
            {'T', [&] { window.trayAction("Stop")->trigger(); }},
            {'h', [&] { window.tray->activated(QSystemTrayIcon::Trigger); }},
            {'i', [&] { window.load(testImage()); }},
            {'v', [&] { window.load(testVideo()); }},
            {'u', [&] { part<QPushButton>(&window, "unregisterButton")->click(); }},
            {'o',
             [&] {
                 window.start(parseCommandLine({"vidloom", testVideo(), "--play"}));
             }},
            {'B', [&] { spaceOn(window.play); }},
            {'K', [&] { spaceOn(window.loop); }},
        };
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

    // Clamped to 64..7680 and rounded down to a multiple of 4; unreadable
    // text falls back to 1280x720. The validator stops malformed typing.
    void resolutionBox_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("boxAfter");
        QTest::addColumn<bool>("typeable");
        QTest::newRow("rounded down") << "1366x768" << QSize(1364, 768) << "1366x768" << true;
        QTest::newRow("too small") << "10x10" << QSize(64, 64) << "10x10" << true;
        QTest::newRow("too wide") << "9000x64" << QSize(7680, 64) << "9000x64" << true;
        QTest::newRow("blanks") << " 1920 x 1080 " << QSize(1920, 1080) << " 1920 x 1080 " << false;
        QTest::newRow("upper-case X") << "1280X720" << QSize(1280, 720) << "1280x720" << false;
        QTest::newRow("three numbers") << "1280x720x2" << QSize(1280, 720) << "1280x720" << false;
        QTest::newRow("letters") << "abc" << QSize(1280, 720) << "1280x720" << false;
        QTest::newRow("beyond 32 bits") << "99999999999x480" << QSize(1280, 720) << "1280x720" << false;
    }
    void resolutionBox()
    {
        QFETCH(QString, text);
        QFETCH(QSize, size);
        QFETCH(QString, boxAfter);
        QFETCH(bool, typeable);
        TestWindow window;
        int pos = 0;
        QCOMPARE(window.resolution->validator()->validate(text, pos) == QValidator::Acceptable, typeable);
        window.resolution->setEditText(text);
        QVERIFY(window.stream(testImage(), env.camera));
        QCOMPARE(window.resolution->currentText(), boxAfter);
        window.invoke("onTimerTick");
        QVERIFY(matchesStatusLine(window.status(), "Playing", QString("%1x%2").arg(size.width()).arg(size.height())));
        QCOMPARE(env.camera.frame().size(), size_t(size.width()) * size.height() * 3);
    }

    // Without loop, played to the end: each frame is sent once and the
    // first frame comes back.
    void videoWithoutLoop()
    {
        TestWindow window;
        window.show();
        window.loop->setChecked(false);
        window.load(testVideo());
        const QImage firstFrame = window.preview();
        env.camera.setPacing(false);
        window.invoke("onPlayPause");
        QTRY_COMPARE_WITH_TIMEOUT(window.status(), QString("Playback finished."), 20000);
        QCOMPARE(window.preview(), firstFrame);
        QVERIFY(window.slider->value() == 0 && window.play->text() == " &Play" && !env.camera.cameraLive());
        QCOMPARE(env.camera.frameCount(), 60);
    }

    void statusLineAndConnection()
    {
        TestWindow window;
        QVERIFY(window.stream(testImage(), env.camera));
        QTRY_VERIFY(matchesStatusLine(window.status(), "Playing", "1280x720"));
        QCOMPARE(window.label("connectionLabel"), QString("Waiting for app..."));
        // After a full second the measured rate shows.
        QTRY_VERIFY_WITH_TIMEOUT(!window.status().contains(" 0.0 fps"), 10000);

        env.camera.setConnected(true);
        QTRY_COMPARE(window.label("connectionLabel"), QString("Connected"));
        QCOMPARE(window.tray->toolTip(), QString("Vidloom - Connected"));
        window.invoke("onPlayPause");
        QTRY_VERIFY(matchesStatusLine(window.status(), "Paused", "1280x720"));
        env.camera.setConnected(false);
        QTRY_COMPARE(window.label("connectionLabel"), QString("Waiting for app..."));
        QCOMPARE(window.tray->toolTip(), QString("Vidloom - Streaming"));

        window.invoke("onStop");
        QCOMPARE(window.tray->toolTip(), QString("Vidloom"));
        window.invoke("onTimerTick"); // stopped, the ticker leaves all alone
        QCOMPARE(window.status(), QString("Stopped."));
        QCOMPARE(window.label("connectionLabel"), QString());
    }

    // Stopped, keys move 5 s with the preview following, and the slider
    // picks the start. Streaming, the slider's own keys move the stream and
    // it does not snap back; paused, a key sends that one frame; a released
    // slider stays on the target while the decoder catches up, then follows.
    void seeking()
    {
        TestWindow window;
        window.show();
        window.load(longVideo());
        const QImage first = window.preview();
        for (Qt::Key key : {Qt::Key_Right, Qt::Key_Right, Qt::Key_Left})
            QTest::keyClick(&window, key);
        QCOMPARE(window.label("timeLabel"), QString("0:05 / 2:05"));
        QVERIFY(window.preview() != first);
        QTest::keyClick(&window, Qt::Key_Home);
        QCOMPARE(window.label("timeLabel"), QString("0:00 / 2:05"));
        QCOMPARE(window.preview(), first);
        window.slider->setValue(500);
        QCOMPARE(window.label("timeLabel"), QString("1:02 / 2:05"));

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

    // The menu's settings apply to the running stream at once: unmirrored,
    // then cropped to fill (which greys out Stretch).
    void settingsMenu()
    {
        TestWindow window;
        QVERIFY(window.stream(testImage(), env.camera));
        ImageLoader loader;
        QVERIFY(loader.Initialize() && loader.LoadImageW(QFileInfo(testImage()).filesystemFilePath()));
        part<QAction>(&window, "mirrorAction")->setChecked(false);
        QVERIFY(env.camera.waitForFrames(env.camera.frameCount() + 3));
        QCOMPARE(env.camera.frame(), reference_frame::Fit(loader.pixels.data(), 200, 150, 1280, 720, false));
        part<QAction>(&window, "cropAction")->setChecked(true);
        QVERIFY(!window.stretch->isEnabled());
        QVERIFY(env.camera.waitForFrames(env.camera.frameCount() + 3));
        // The middle 200x112 rows fill the whole frame.
        const auto middle =
            std::vector<uint8_t>(loader.pixels.begin() + 19 * 200 * 3, loader.pixels.begin() + 131 * 200 * 3);
        QCOMPARE(env.camera.frame(), reference_frame::Fit(middle.data(), 200, 112, 1280, 720, true));
    }

    // Exit codes and the last status line; a stream ends at its end (no
    // loop) or on SIGTERM, releasing the camera either way. Without a size
    // on the command line the window's saved one applies.
    void headless_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<bool>("registered");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("last");
        QTest::newRow("video to its end") << testVideo() << false << true << 0 << "Playback finished.";
        QTest::newRow("image until SIGTERM") << testImage() << true << true << 0 << "Stopped.";
        QTest::newRow("missing file") << testVideo() + ".gone.mp4" << true << true << 1 << "Failed to open video.";
        QTest::newRow("not registered") << testImage() << true << false << 3 << "Register the camera first.";
    }
    void headless()
    {
        QFETCH(QString, file);
        QFETCH(bool, loop);
        QFETCH(bool, registered);
        QFETCH(int, exitCode);
        QFETCH(QString, last);
        env.setRegistered(registered);
        env.camera.setPacing(false);
        env.writeSettings("[General]\nresolution=320x240\n");
        LaunchOptions options = parseCommandLine({"vidloom", "--headless", file});
        options.loop = loop;
        if (loop)
            options.resolution = QSize(320, 240);
        char *written = nullptr;
        size_t size = 0;
        FILE *out = open_memstream(&written, &size);
        int code;
        {
            HeadlessStream stream(options, out);
            if (exitCode == 0 && loop)
                QTimer::singleShot(0, [this] {
                    env.camera.waitForFrames(5);
                    std::raise(SIGTERM);
                });
            code = stream.run();
        }
        std::fclose(out);
        const QString text = QString::fromLocal8Bit(written, qsizetype(size));
        std::free(written);
        QCOMPARE(code, exitCode);
        QVERIFY2(text.trimmed().endsWith(last), qPrintable(text));
        QVERIFY(!env.camera.cameraLive());
        if (exitCode == 0) {
            const QRegularExpression firstLine("^Playing  \\|  (0:00 / 0:02|Image)  \\|  \\d+\\.\\d fps  \\|  "
                                               "320x240  \\|  Waiting for app\\.\\.\\.\n");
            QVERIFY2(text.contains(firstLine), qPrintable(text));
            QVERIFY(env.camera.frameCount() >= (loop ? 5 : 60));
        }
    }

    // While nothing streams the camera shows the placeholder at the chosen
    // size, again after Stop, and not while unregistered.
    void standbyFollowsTheWindow()
    {
        auto standby = [this] { return env.camera.locked()->standby; };
        TestWindow window;
        QTRY_COMPARE(standby(), 12800720);
        window.resolution->setCurrentText("640x480");
        QTRY_COMPARE(standby(), 6400480);
        QVERIFY(window.stream(testImage(), env.camera));
        window.stop->click();
        QTRY_COMPARE(standby(), 6400480);
        env.setRegistered(false);
        QTRY_COMPARE(standby(), 0);
    }

private:
    WindowTestEnvironment env;
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
