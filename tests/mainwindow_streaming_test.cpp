// Play, pause, resume and stop against the recording camera library: the
// state table, the resolution box, the end of a video, the live status
// line and connection indicator, and seeking.
#include "mainwindow_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSystemTrayIcon>

static bool matchesStatusLine(const QString &text, const char *state, const QString &size)
{
    return QRegularExpression(QString("^%1  \\|  \\d+\\.\\d fps  \\|  %2$").arg(state, size)).match(text).hasMatch();
}

class MainWindowStreamingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(env.ok() && env.camera.ok()); }
    void init() { env.reset(); }

    // Actions: p and s = the play/pause and stop slots, P and S = the
    // buttons, k = space key, t and T = the tray's Play/Pause and Stop.
    // After: idle, playing, paused, or "left" (not streaming, camera left
    // created until the next stop).
    void stateTable_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("registered");
        QTest::addColumn<QString>("actions");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("after");
        const QString video = testVideo(), image = testImage();
        const QString broken = writeFile("broken.mp4", QByteArray(3000, 'v'));
        QTest::newRow("no file") << "" << false << "p" << "Open a file first." << "idle";
        QTest::newRow("stop with no file") << "" << true << "s" << "Ready." << "idle";
        QTest::newRow("not registered") << image << false << "p" << "Register the camera first." << "idle";
        QTest::newRow("play") << video << true << "P" << "Streaming..." << "playing";
        QTest::newRow("pause") << video << true << "PP" << "Paused." << "paused";
        QTest::newRow("resume") << video << true << "PPP" << "Resuming..." << "playing";
        QTest::newRow("stop") << video << true << "PPS" << "Stopped." << "idle";
        QTest::newRow("space key and tray") << image << true << "kt" << "Paused." << "paused";
        QTest::newRow("tray stop") << image << true << "tT" << "Stopped." << "idle";
        QTest::newRow("broken video") << broken << true << "p" << "Failed to open video." << "left";
        QTest::newRow("broken image") << writeFile("broken.png", QByteArray(3000, 'i')) << true << "p"
                                      << "Failed to load image." << "left";
        QTest::newRow("empty image") << writeFile("empty.jpg", "") << true << "p" << "Failed to load image." << "left";
        QTest::newRow("stop after failure") << broken << true << "ps" << "Stopped." << "idle";
    }
    void stateTable()
    {
        QFETCH(QString, file);
        QFETCH(bool, registered);
        QFETCH(QString, actions);
        QFETCH(QString, status);
        QFETCH(QString, after);
        env.setRegistered(registered);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        if (!file.isEmpty())
            load(window, file);
        for (QChar action : actions) {
            switch (action.toLatin1()) {
            case 'p': invoke(window, "onPlayPause"); break;
            case 's': invoke(window, "onStop"); break;
            case 'P': part<QPushButton>(&window, "playButton")->click(); break;
            case 'S': part<QPushButton>(&window, "stopButton")->click(); break;
            case 'k': QTest::keyClick(&window, Qt::Key_Space); break;
            case 't': (trayAction(window, "Play") ? trayAction(window, "Play") : trayAction(window, "Pause"))->trigger(); break;
            case 'T': trayAction(window, "Stop")->trigger(); break;
            }
        }
        const bool playing = after == "playing", running = playing || after == "paused";
        QCOMPARE(statusText(window), status);
        QCOMPARE(part<QPushButton>(&window, "playButton")->text(), QString(playing ? " Pause" : " Play"));
        QVERIFY(trayAction(window, playing ? "Pause" : "Play"));
        QCOMPARE(part<QPushButton>(&window, "stopButton")->isEnabled(), running);
        QCOMPARE(part<QComboBox>(&window, "resolutionCombo")->isEnabled(), !running);
        QCOMPARE(env.camera.cameraLive(), running || after == "left");
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
        QTest::newRow("too wide") << "9000x5000" << QSize(7680, 5000) << "9000x5000" << true;
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
        MainWindow window;
        auto *combo = part<QComboBox>(&window, "resolutionCombo");
        QString typed = text;
        int pos = 0;
        QCOMPARE(combo->validator()->validate(typed, pos) == QValidator::Acceptable, typeable);
        combo->setEditText(text);
        QVERIFY(env.stream(window, testImage()));
        QCOMPARE(recordedCameraSize(), size);
        QCOMPARE(combo->currentText(), boxAfter);
        const QString sizeText = QString("%1x%2").arg(size.width()).arg(size.height());
        QTRY_VERIFY_WITH_TIMEOUT(matchesStatusLine(statusText(window), "Playing", sizeText), 5000);
    }

    // Without loop: Stop is never followed by "Playback finished."; played
    // to the end, each frame is sent once and the first frame comes back.
    void videoWithoutLoop()
    {
        MainWindow window;
        window.show();
        part<QCheckBox>(&window, "loopCheck")->setChecked(false);
        load(window, testVideo());
        const QImage firstFrame = previewImage(window);
        invoke(window, "onPlayPause");
        QVERIFY(env.camera.waitForFrames(2));
        invoke(window, "onStop");
        QTest::qWait(2500); // longer than the rest of the video
        QCOMPARE(statusText(window), QString("Stopped."));

        env.camera.reset();
        env.camera.setPacing(false);
        invoke(window, "onPlayPause");
        QTRY_COMPARE_WITH_TIMEOUT(statusText(window), QString("Playback finished."), 20000);
        QCOMPARE(previewImage(window), firstFrame);
        QCOMPARE(part<QSlider>(&window, "seekSlider")->value(), 0);
        QCOMPARE(part<QPushButton>(&window, "playButton")->text(), QString(" Play"));
        QVERIFY(!env.camera.cameraLive());
        QCOMPARE(env.camera.frameCount(), 60);
    }

    // Loading while playing streams the new file, while paused waits for
    // Play. Unregistering stops the stream before the device goes.
    void loadingAndUnregisteringWhileStreaming()
    {
        MainWindow window;
        QVERIFY(env.stream(window, testVideo()));
        load(window, testImage());
        QCOMPARE(statusText(window), QString("Streaming..."));
        QVERIFY(env.camera.cameraLive());
        invoke(window, "onPlayPause");
        load(window, testVideo());
        QCOMPARE(statusText(window), QString("Video loaded. Press Play to stream."));
        QVERIFY(!env.camera.cameraLive());

        QVERIFY(env.stream(window, testImage()));
        part<QPushButton>(&window, "unregisterButton")->click();
        QCOMPARE(statusText(window), QString("Camera unregistered."));
        QVERIFY(!env.camera.cameraLive());
        QVERIFY(!part<QPushButton>(&window, "stopButton")->isEnabled());
    }

    void statusLineAndConnection()
    {
        MainWindow window;
        auto *tray = part<QSystemTrayIcon>(&window, "trayIcon");
        QVERIFY(env.stream(window, testImage()));
        QTRY_VERIFY_WITH_TIMEOUT(matchesStatusLine(statusText(window), "Playing", "1280x720"), 5000);
        QCOMPARE(labelText(window, "connectionLabel"), QString("Waiting for app..."));
        QCOMPARE(tray->toolTip(), QString("Vidloom - Streaming"));
        // After a full second the measured rate shows.
        QTRY_VERIFY_WITH_TIMEOUT(!statusText(window).contains(" 0.0 fps"), 10000);

        env.camera.setConnected(true);
        QTRY_COMPARE_WITH_TIMEOUT(labelText(window, "connectionLabel"), QString("Connected"), 5000);
        QCOMPARE(tray->toolTip(), QString("Vidloom - Connected"));
        invoke(window, "onPlayPause");
        QTRY_VERIFY_WITH_TIMEOUT(matchesStatusLine(statusText(window), "Paused", "1280x720"), 5000);
        env.camera.setConnected(false);
        QTRY_COMPARE_WITH_TIMEOUT(labelText(window, "connectionLabel"), QString("Waiting for app..."), 5000);
        QCOMPARE(tray->toolTip(), QString("Vidloom - Streaming"));

        invoke(window, "onStop");
        QCOMPARE(tray->toolTip(), QString("Vidloom"));
        QTest::qWait(450); // a tick or two: stopped, the ticker leaves all alone
        QCOMPARE(statusText(window), QString("Stopped."));
        QCOMPARE(labelText(window, "connectionLabel"), QString());
    }

    // Stopped, the slider picks the start. Playing, a released slider stays
    // on the target while the decoder catches up, then follows the stream.
    void seeking()
    {
        MainWindow window;
        auto *slider = part<QSlider>(&window, "seekSlider");
        load(window, longVideo());
        slider->setValue(500);
        QCOMPARE(labelText(window, "timeLabel"), QString("1:02 / 2:05"));
        invoke(window, "onPlayPause");
        QTRY_VERIFY_WITH_TIMEOUT(labelText(window, "timeLabel").startsWith("1:0"), 10000);
        QVERIFY(slider->value() >= 495);

        env.camera.setSendDelayMs(700); // several ticks before the seek shows
        slider->setSliderDown(true);
        slider->setValue(750);
        QCOMPARE(labelText(window, "timeLabel"), QString("1:34 / 2:05"));
        slider->setSliderDown(false);
        const qint64 seen = env.camera.frameCount();
        QDeadlineTimer deadline(20000);
        while (env.camera.frameCount() < seen + 3 && !deadline.hasExpired()) {
            QTest::qWait(20);
            QVERIFY(slider->value() >= 745);
        }
        QTRY_VERIFY_WITH_TIMEOUT(labelText(window, "timeLabel").startsWith("1:3"), 5000);
        QVERIFY(slider->value() >= 745 && slider->value() <= 800);
        env.camera.setSendDelayMs(0);
        QTRY_VERIFY_WITH_TIMEOUT(slider->value() > 765, 10000); // following the stream again
    }

private:
    WindowTestEnvironment env;
};

QTEST_MAIN(MainWindowStreamingTest)
#include "mainwindow_streaming_test.moc"
