// The window as built, registration, taking media files, settings, closing
// and quitting.
#include "mainwindow_test_support.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>

#include <limits>

namespace {
const QString kVideoLoaded = "Video loaded. Press Play to stream.";
const QString kImageLoaded = "Image loaded. Press Play to stream.";
} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(env.ok() && env.camera.ok()); }
    void init() { env.reset(); }

    void firstStart()
    {
        MainWindow window;
        window.show();
        QCOMPARE(window.windowTitle(), QString("Vidloom v1.0"));
        QCOMPARE(window.size(), QSize(780, 600));
        window.resize(100, 100);
        QCOMPARE(window.size(), QSize(580, 480));
        QString menus; // "title[entry(shortcut)...]", separators as "-"
        for (QAction *menu : window.menuBar()->actions()) {
            menus += menu->text() + "[";
            for (QAction *entry : menu->menu()->actions())
                menus += entry->isSeparator() ? QString("-|") : entry->text() + "(" + entry->shortcut().toString() + ")|";
            menus += "] ";
        }
        QCOMPARE(menus, QString("&File[&Open media...(%1)|-|&Quit(%2)|] &Settings[Minimize to tray on close()|] "
                                "&?[&About Vidloom()|] ")
                            .arg(QKeySequence(QKeySequence::Open).toString(), QKeySequence(QKeySequence::Quit).toString()));
        QVERIFY(part<QAction>(&window, "minimizeToTrayAction")->isChecked());
    }

    // The outcome text comes from the helper's exit code, the buttons and
    // the label from whether the device exists afterwards.
    void registration_data()
    {
        QTest::addColumn<bool>("registered");
        QTest::addColumn<QString>("button");
        QTest::addColumn<WindowTestEnvironment::Helper>("helper");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("registeredAfter");
        using H = WindowTestEnvironment::Helper;
        QTest::newRow("not registered") << false << "" << H::Succeeds << "Ready." << false;
        QTest::newRow("registered") << true << "" << H::Succeeds << "Ready." << true;
        QTest::newRow("register") << false << "registerButton" << H::Succeeds << "Camera registered!" << true;
        QTest::newRow("register fails") << false << "registerButton" << H::Fails << "Registration failed." << false;
        QTest::newRow("unregister") << true << "unregisterButton" << H::Succeeds << "Camera unregistered." << false;
        QTest::newRow("unregister fails") << true << "unregisterButton" << H::Fails << "Failed." << true;
        // Waits out the time-out; last, as the helper finishes after the test.
        QTest::newRow("register hangs") << false << "registerButton" << H::Hangs << "Registration failed." << false;
    }
    void registration()
    {
        QFETCH(bool, registered);
        QFETCH(QString, button);
        QFETCH(WindowTestEnvironment::Helper, helper);
        QFETCH(QString, status);
        QFETCH(bool, registeredAfter);
        env.setRegistered(registered);
        env.setHelper(helper);
        MainWindow window;
        if (!button.isEmpty())
            part<QPushButton>(&window, qPrintable(button))->click();
        QCOMPARE(statusText(window), status);
        QCOMPARE(labelText(window, "registerStatusLabel"),
                 registeredAfter ? QString::fromUtf8("<span style='color: #2a2;font-weight:bold;'>✓ Registered</span>")
                                 : QString::fromUtf8("<span style='color: #888;'>✗ Not registered</span>"));
        QCOMPARE(part<QPushButton>(&window, "playButton")->isEnabled(), registeredAfter);
        QCOMPARE(part<QPushButton>(&window, "registerButton")->isEnabled(), !registeredAfter);
        QCOMPARE(part<QPushButton>(&window, "unregisterButton")->isEnabled(), registeredAfter);
    }

    // After a video, an image replaces preview and times. The extension
    // alone picks the loaded text: an unreadable file still becomes the
    // current one, but the video's preview and times stay.
    void loading_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("video");
        QTest::addColumn<QString>("time");
        QFile mp4(testVideo());
        QVERIFY(mp4.open(QIODevice::ReadOnly));
        const QByteArray video = mp4.readAll();
        const QString kept = "0:00 / 2:05";
        QTest::newRow("image") << testImage() << false << "Image";
        QTest::newRow("empty") << writeFile("empty.mp4", "") << true << kept;
        QTest::newRow("truncated") << writeFile("CLIP.MP4", video.left(700)) << true << kept;
        QTest::newRow("text") << writeFile("notes.Mov", QByteArray("not a video\n").repeated(300)) << true << kept;
        QTest::newRow("wmv") << writeFile("clip.wmv", "x") << true << kept;
        QTest::newRow("webm") << writeFile("clip.webm", "x") << false << kept;
        QTest::newRow("backup") << writeFile("archive.mp4.bak", "x") << false << kept;
        QTest::newRow("video named as image") << writeFile("clip.jpg", video) << false << kept;
        QTest::newRow("missing") << QFileInfo(testImage()).absolutePath() + "/no-such-file.png" << false << kept;
    }
    void loading()
    {
        QFETCH(QString, path);
        QFETCH(bool, video);
        QFETCH(QString, time);
        MainWindow window;
        window.show();
        const QImage blank = previewImage(window);
        load(window, longVideo());
        QCOMPARE(statusText(window), kVideoLoaded);
        QCOMPARE(labelText(window, "timeLabel"), QString("0:00 / 2:05"));
        const QImage firstFrame = previewImage(window);
        QVERIFY(firstFrame != blank);
        load(window, path);
        QCOMPARE(statusText(window), video ? kVideoLoaded : kImageLoaded);
        QCOMPARE(labelText(window, "fileLabel"), QFileInfo(path).fileName());
        QCOMPARE(labelText(window, "timeLabel"), time);
        QCOMPARE(previewImage(window) == firstFrame, time != "Image");
        QCOMPARE(part<QSlider>(&window, "seekSlider")->isEnabled(), time != "Image");
        // On disk once the event loop has had a turn, not at exit.
        QTRY_VERIFY_WITH_TIMEOUT(env.settingsOnDisk().contains("lastFile=" + path.toUtf8()), 10000);
    }

    // Of three files the first is taken. A remote link is accepted as a drag
    // but changes nothing; text is refused.
    void drops()
    {
        MainWindow window;
        QVERIFY(drop(window, {QUrl::fromLocalFile(testVideo()), QUrl::fromLocalFile(testImage()),
                              QUrl::fromLocalFile(longVideo())}));
        QVERIFY(drop(window, {QUrl("https://example.com/still.png")}));
        QVERIFY(!drop(window, {}, testImage()));
        QCOMPARE(labelText(window, "fileLabel"), QString("clip.mp4"));
        QCOMPARE(statusText(window), kVideoLoaded);
    }

    void formatTime_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0:00";
        QTest::newRow("just under a minute") << 59.99 << "0:59";
        QTest::newRow("fraction") << 125.4 << "2:05";
        QTest::newRow("past an hour") << 3725.0 << "62:05";
        QTest::newRow("negative") << -3.0 << "0:00";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "0:00";
        QTest::newRow("too big for int") << 1e12 << "0:00";
    }
    void formatTime()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(::formatTime(seconds), text);
    }

    // Whatever the file holds, the window opens usable at the first-start
    // size, with defaults for what it cannot read.
    void settingsAtStart_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("resolution");
        QTest::addColumn<QString>("file");
        const QString none = "No file selected";
        QTest::newRow("empty") << QByteArray() << "1280x720" << none;
        QTest::newRow("last file") << "[General]\nresolution=1920x1080\nlastFile=" + longVideo().toUtf8() << "1920x1080" << QString("long.mkv");
        QTest::newRow("new size") << QByteArray("[General]\nresolution=800x600\n") << "800x600" << none;
        QTest::newRow("upper-case X") << QByteArray("[General]\nresolution=1280X720\n") << "1280x720" << none;
        QTest::newRow("leading blank") << QByteArray("[General]\nresolution=\" 800x600\"\n") << "1280x720" << none;
        QTest::newRow("six digits") << QByteArray("[General]\nresolution=123456x600\n") << "1280x720" << none;
        QTest::newRow("deleted last file") << QByteArray("[General]\nlastFile=/nonexistent/gone.mp4\n") << "1280x720" << none;
        QTest::newRow("binary junk") << QByteArray("\x00\xff\xfe[\x01=\x02\n", 9).repeated(1000) << "1280x720" << none;
        QTest::newRow("enormous") << QByteArray("[General]\nnoise=").append(QByteArray(8 << 20, 'n')) << "1280x720" << none;
        QTest::newRow("wrong types") << QByteArray("[General]\nloop=maybe\nresolution=@Invalid()\nwindowGeometry=@ByteArray(\\x1\\xd9"
                                                   "\nlastFile=@Variant(\\0\\0)\n") << "1280x720" << none;
    }
    void settingsAtStart()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, resolution);
        QFETCH(QString, file);
        writeSettingsFile(contents);
        MainWindow window;
        window.show();
        QCOMPARE(window.size(), QSize(780, 600));
        auto *combo = part<QComboBox>(&window, "resolutionCombo");
        QCOMPARE(combo->currentText(), resolution);
        QCOMPARE(combo->count(), resolution == "800x600" ? 5 : 4); // only a well-formed new size is added
        QCOMPARE(labelText(window, "fileLabel"), file);
        load(window, testImage());
        QCOMPARE(statusText(window), kImageLoaded);
    }

    // Closing with minimise-to-tray on hides the window (or minimises it
    // where no tray exists) and the stream goes on. Closing otherwise and
    // File > Quit save the options for the next start; the tray's Quit
    // does not. Both quits end the event loop with the camera shut down.
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
            MainWindow window;
            window.show();
            // Written at once, before anything else is saved.
            auto *minimize = part<QAction>(&window, "minimizeToTrayAction");
            for (bool on : {false, true}) {
                minimize->setChecked(on);
                QTRY_VERIFY_WITH_TIMEOUT(env.settingsOnDisk().contains(on ? "minimizeToTray=true" : "minimizeToTray=false"), 10000);
            }
            QVERIFY(!env.settingsOnDisk().contains("windowGeometry"));
            minimize->setChecked(toTray);
            part<QCheckBox>(&window, "loopCheck")->setChecked(false);
            part<QCheckBox>(&window, "stretchCheck")->setChecked(true);
            part<QComboBox>(&window, "resolutionCombo")->setEditText("1024x576");
            window.resize(900, 650);
            QVERIFY(env.stream(window, testImage()));
            if (how == "close") {
                QCOMPARE(window.close(), !toTray);
            } else {
                QAction *quit = how == "Quit" ? trayAction(window, how) : window.menuBar()->actions()[0]->menu()->actions()[2];
                QCOMPARE(quit->text(), how);
                bool timedOut = false;
                QTimer::singleShot(30000, &window, [&timedOut] {
                    timedOut = true;
                    QCoreApplication::quit();
                });
                QTimer::singleShot(0, quit, &QAction::trigger);
                QApplication::exec();
                QVERIFY(!timedOut);
                QVERIFY(!part<QSystemTrayIcon>(&window, "trayIcon")->isVisible());
            }
            const bool streaming = how == "close" && toTray;
            if (streaming)
                QVERIFY(QSystemTrayIcon::isSystemTrayAvailable() ? !window.isVisible() : window.isMinimized());
            QCOMPARE(env.camera.cameraLive(), streaming);
            QVERIFY(!streaming || env.camera.waitForFrames(env.camera.frameCount() + 5));
            QTRY_COMPARE_WITH_TIMEOUT(env.settingsOnDisk().contains("windowGeometry"), saved, 10000);
        }
        if (!saved)
            return;
        MainWindow window;
        QCOMPARE(window.size(), QSize(900, 650));
        QCOMPARE(part<QComboBox>(&window, "resolutionCombo")->currentText(), QString("1024x576"));
        QVERIFY(!part<QCheckBox>(&window, "loopCheck")->isChecked());
        QVERIFY(part<QCheckBox>(&window, "stretchCheck")->isChecked());
        QCOMPARE(part<QAction>(&window, "minimizeToTrayAction")->isChecked(), toTray);
        QCOMPARE(labelText(window, "fileLabel"), QString("still.png"));
    }

private:
    WindowTestEnvironment env;
};

QTEST_MAIN(MainWindowTest)
#include "mainwindow_test.moc"
