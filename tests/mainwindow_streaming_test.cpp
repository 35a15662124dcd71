// Play, pause, resume and stop against the recording camera library: every
// state change with its status text, the resolution box, the end of a
// video, the live status line and connection indicator, and seeking.
#include "mainwindow_test_support.h"
#include "recording_camera_control.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSystemTrayIcon>

namespace {

QAction *trayAction(MainWindow &window, const QString &text)
{
    for (QAction *action : part<QMenu>(&window, "trayMenu")->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

bool matchesStatusLine(const QString &text, const char *state, const char *size)
{
    const QString pattern = QString("^%1  \\|  \\d+\\.\\d fps  \\|  %2$").arg(state, size);
    return QRegularExpression(pattern).match(text).hasMatch();
}

} // namespace

class MainWindowStreamingTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        QVERIFY(env.ok());
        QVERIFY(camera.ok());
    }
    void init()
    {
        env.clearSettings();
        env.setRegistered(true);
        camera.reset();
    }

    void checksBeforeStarting()
    {
        env.setRegistered(false);
        MainWindow window;
        const int creates = camera.createCalls();
        // The file check comes first, even without a registered camera.
        invoke(window, "onPlayPause");
        QCOMPARE(statusText(window), QString("Open a file first."));
        invoke(window, "onStop");
        QCOMPARE(statusText(window), QString("Ready."));
        load(window, testImage());
        invoke(window, "onPlayPause");
        QCOMPARE(statusText(window), QString("Register the camera first."));
        QCOMPARE(camera.createCalls(), creates);

        env.setRegistered(true);
        camera.setCreateFailures(2);
        invoke(window, "onPlayPause");
        QCOMPARE(statusText(window), QString("Failed to create virtual camera."));
        QVERIFY(!camera.cameraLive());
        QCOMPARE(part<QPushButton>(&window, "playButton")->text(), QString(" Play"));
    }

    // A failed open leaves the camera created until the next stop.
    void unreadableMediaFailsToStart_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("status");
        QTest::newRow("video") << writeFile("broken.mp4", QByteArray(3000, 'v')) << "Failed to open video.";
        QTest::newRow("image") << writeFile("broken.png", QByteArray(3000, 'i')) << "Failed to load image.";
        QTest::newRow("empty") << writeFile("empty.jpg", "") << "Failed to load image.";
    }
    void unreadableMediaFailsToStart()
    {
        QFETCH(QString, path);
        QFETCH(QString, status);
        MainWindow window;
        load(window, path);
        invoke(window, "onPlayPause");
        QCOMPARE(statusText(window), status);
        QVERIFY(camera.cameraLive());
        QCOMPARE(part<QPushButton>(&window, "playButton")->text(), QString(" Play"));
        QVERIFY(!part<QPushButton>(&window, "stopButton")->isEnabled());
        invoke(window, "onStop");
        QVERIFY(!camera.cameraLive());
        QCOMPARE(statusText(window), QString("Stopped."));
    }

    void playPausePlayCycles()
    {
        MainWindow window;
        load(window, testVideo());
        auto *play = part<QPushButton>(&window, "playButton");
        auto *stop = part<QPushButton>(&window, "stopButton");
        auto *combo = part<QComboBox>(&window, "resolutionCombo");
        QAction *trayPlay = trayAction(window, "Play");
        QVERIFY(trayPlay);

        const struct {
            const char *status, *button, *tray;
        } steps[] = {{"Streaming...", " Pause", "Pause"}, {"Paused.", " Play", "Play"}, {"Resuming...", " Pause", "Pause"}};
        for (const auto &step : steps) {
            play->click();
            QCOMPARE(statusText(window), QString(step.status));
            QCOMPARE(play->text(), QString(step.button));
            QCOMPARE(trayPlay->text(), QString(step.tray));
            QVERIFY(stop->isEnabled());
            QVERIFY(!combo->isEnabled());
        }

        stop->click();
        QCOMPARE(statusText(window), QString("Stopped."));
        QCOMPARE(play->text(), QString(" Play"));
        QCOMPARE(trayPlay->text(), QString("Play"));
        QVERIFY(!stop->isEnabled());
        QVERIFY(combo->isEnabled());
        QVERIFY(!camera.cameraLive());
    }

    void spaceKeyAndTrayEntryPlayToo()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        load(window, testImage());
        QTest::keyClick(&window, Qt::Key_Space);
        QCOMPARE(statusText(window), QString("Streaming..."));
        trayAction(window, "Pause")->trigger();
        QCOMPARE(statusText(window), QString("Paused."));
        trayAction(window, "Stop")->trigger();
        QCOMPARE(statusText(window), QString("Stopped."));
    }


    void resolutionBox_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("boxAfter");
        QTest::newRow("rounded down to a multiple of 4") << "1366x768" << QSize(1364, 768) << "1366x768";
        QTest::newRow("too small") << "10x10" << QSize(64, 64) << "10x10";
        QTest::newRow("too wide") << "9000x5000" << QSize(7680, 5000) << "9000x5000";
        QTest::newRow("blanks around the numbers") << " 1920 x 1080 " << QSize(1920, 1080) << " 1920 x 1080 ";
        QTest::newRow("upper-case X") << "1280X720" << QSize(1280, 720) << "1280x720";
        QTest::newRow("three numbers") << "1280x720x2" << QSize(1280, 720) << "1280x720";
        QTest::newRow("letters") << "abc" << QSize(1280, 720) << "1280x720";
        QTest::newRow("doubled x") << "640xx480" << QSize(640, 480) << "640xx480";
        QTest::newRow("beyond 32 bits") << "99999999999x480" << QSize(1280, 720) << "1280x720";
    }
    void resolutionBox()
    {
        QFETCH(QString, text);
        QFETCH(QSize, size);
        QFETCH(QString, boxAfter);
        MainWindow window;
        load(window, testImage());
        auto *combo = part<QComboBox>(&window, "resolutionCombo");
        combo->setEditText(text);
        invoke(window, "onPlayPause");
        QCOMPARE(statusText(window), QString("Streaming..."));
        QCOMPARE(recordedCameraSize(), size);
        QCOMPARE(combo->currentText(), boxAfter);
        const QByteArray sizeText = QString("%1x%2").arg(size.width()).arg(size.height()).toLatin1();
        QTRY_VERIFY_WITH_TIMEOUT(matchesStatusLine(statusText(window), "Playing", sizeText), 5000);
    }

    void videoWithoutLoopEnds()
    {
        MainWindow window;
        window.show();
        load(window, testVideo());
        const QImage firstFrame = previewImage(window);
        part<QCheckBox>(&window, "loopCheck")->setChecked(false);
        camera.setPacing(false);
        invoke(window, "onPlayPause");
        QTRY_COMPARE_WITH_TIMEOUT(statusText(window), QString("Playback finished."), 20000);
        QCOMPARE(previewImage(window), firstFrame);
        QCOMPARE(part<QSlider>(&window, "seekSlider")->value(), 0);
        QCOMPARE(part<QPushButton>(&window, "playButton")->text(), QString(" Play"));
        QVERIFY(!camera.cameraLive());
        // All 60 frames went out, each once.
        QCOMPARE(camera.frameCount(), 60);
    }

    void stopIsNeverFollowedByFinished()
    {
        MainWindow window;
        load(window, testVideo());
        part<QCheckBox>(&window, "loopCheck")->setChecked(false);
        invoke(window, "onPlayPause");
        QVERIFY(camera.waitForFrames(3));
        invoke(window, "onStop");
        QCOMPARE(statusText(window), QString("Stopped."));
        // Longer than the rest of the video would have taken.
        QTest::qWait(2500);
        QCOMPARE(statusText(window), QString("Stopped."));
    }


    void loadingWhilePlayingRestarts()
    {
        MainWindow window;
        load(window, testVideo());
        invoke(window, "onPlayPause");
        QVERIFY(camera.waitForFrames(2));
        load(window, testImage());
        QCOMPARE(statusText(window), QString("Streaming..."));
        QCOMPARE(part<QPushButton>(&window, "playButton")->text(), QString(" Pause"));

        // Paused does not count as playing: the new file waits for Play.
        invoke(window, "onPlayPause");
        load(window, testVideo());
        QCOMPARE(statusText(window), QString("Video loaded. Press Play to stream."));
        QVERIFY(!part<QPushButton>(&window, "stopButton")->isEnabled());
        QVERIFY(!camera.cameraLive());
    }

    void unregisterStopsTheStreamFirst()
    {
        MainWindow window;
        load(window, testImage());
        invoke(window, "onPlayPause");
        QVERIFY(camera.waitForFrames(2));
        part<QPushButton>(&window, "unregisterButton")->click();
        QCOMPARE(statusText(window), QString("Camera unregistered."));
        QVERIFY(!camera.cameraLive());
        QVERIFY(!part<QPushButton>(&window, "playButton")->isEnabled());
        QVERIFY(!part<QPushButton>(&window, "stopButton")->isEnabled());
    }

    void statusLineAndConnection()
    {
        MainWindow window;
        load(window, testImage());
        auto *connection = part<QLabel>(&window, "connectionLabel");
        auto *tray = part<QSystemTrayIcon>(&window, "trayIcon");
        invoke(window, "onPlayPause");
        QTRY_VERIFY_WITH_TIMEOUT(matchesStatusLine(statusText(window), "Playing", "1280x720"), 5000);
        QCOMPARE(connection->text(), QString("Waiting for app..."));
        QCOMPARE(connection->styleSheet(), QString("color: #d90; font-weight: bold;"));
        QCOMPARE(tray->toolTip(), QString("Vidloom - Streaming"));
        // After a full second the measured rate shows.
        QTRY_VERIFY_WITH_TIMEOUT(!statusText(window).contains(" 0.0 fps"), 10000);

        camera.setConnected(true);
        QTRY_COMPARE_WITH_TIMEOUT(connection->text(), QString("Connected"), 5000);
        QCOMPARE(connection->styleSheet(), QString("color: #2a2; font-weight: bold;"));
        QCOMPARE(tray->toolTip(), QString("Vidloom - Connected"));

        invoke(window, "onPlayPause");
        QTRY_VERIFY_WITH_TIMEOUT(matchesStatusLine(statusText(window), "Paused", "1280x720"), 5000);
        camera.setConnected(false);
        QTRY_COMPARE_WITH_TIMEOUT(connection->text(), QString("Waiting for app..."), 5000);
        QCOMPARE(tray->toolTip(), QString("Vidloom - Streaming"));

        invoke(window, "onStop");
        QCOMPARE(connection->text(), QString());
        QCOMPARE(tray->toolTip(), QString("Vidloom"));
        // Stopped: the ticker leaves everything alone.
        QTest::qWait(450);
        QCOMPARE(statusText(window), QString("Stopped."));
        QCOMPARE(connection->text(), QString());
    }


    // The slider stays on the target while the decoder catches up, then
    // follows the stream again.
    void seekBySliderRelease()
    {
        MainWindow window;
        load(window, longVideo());
        auto *slider = part<QSlider>(&window, "seekSlider");
        auto *time = part<QLabel>(&window, "timeLabel");
        invoke(window, "onPlayPause");
        QVERIFY(camera.waitForFrames(2));
        // Slow frames, so several ticks come before the seek shows.
        camera.setSendDelayMs(700);

        slider->setSliderDown(true);
        slider->setValue(750);
        QCOMPARE(time->text(), QString("1:34 / 2:05"));
        slider->setSliderDown(false);

        const qint64 seen = camera.frameCount();
        QDeadlineTimer deadline(20000);
        while (camera.frameCount() < seen + 3 && !deadline.hasExpired()) {
            QTest::qWait(20);
            QVERIFY(slider->value() >= 745);
        }
        QTRY_VERIFY_WITH_TIMEOUT(time->text().startsWith("1:3"), 5000);
        QVERIFY(slider->value() >= 745 && slider->value() <= 800);
    }

    void startPositionComesFromTheSlider()
    {
        MainWindow window;
        load(window, longVideo());
        auto *slider = part<QSlider>(&window, "seekSlider");
        // While stopped the slider only previews the chosen start.
        slider->setValue(500);
        QCOMPARE(part<QLabel>(&window, "timeLabel")->text(), QString("1:02 / 2:05"));
        invoke(window, "onPlayPause");
        QTRY_VERIFY_WITH_TIMEOUT(part<QLabel>(&window, "timeLabel")->text().startsWith("1:0"), 10000);
        QVERIFY(slider->value() >= 495);
    }

private:
    WindowTestEnvironment env;
    RecordingCamera camera;
};

QTEST_MAIN(MainWindowStreamingTest)
#include "mainwindow_streaming_test.moc"
