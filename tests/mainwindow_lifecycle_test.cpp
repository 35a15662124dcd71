// What survives a restart, what closing the window does, the two ways to
// quit, and the time format of every time text.
#include "mainwindow_test_support.h"
#include "recording_camera_control.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>

#include <limits>

namespace {

void writeSettings(const QVariantMap &values)
{
    QSettings settings(MainWindow::settingsFilePath(), QSettings::IniFormat);
    for (auto it = values.begin(); it != values.end(); ++it)
        settings.setValue(it.key(), it.value());
}

QAction *fileQuit(MainWindow &window)
{
    return window.menuBar()->actions().at(0)->menu()->actions().at(2);
}

QAction *trayQuit(MainWindow &window)
{
    return part<QMenu>(&window, "trayMenu")->actions().last();
}

// Runs the application's event loop until something quits it; false if
// nothing did within a generous time.
bool eventLoopEndsAfter(QAction *action)
{
    bool timedOut = false;
    QTimer fallback;
    fallback.setSingleShot(true);
    QObject::connect(&fallback, &QTimer::timeout, [&timedOut] {
        timedOut = true;
        QCoreApplication::quit();
    });
    fallback.start(30000);
    QTimer::singleShot(0, action, &QAction::trigger);
    QApplication::exec();
    return !timedOut;
}

} // namespace

class MainWindowLifecycleTest : public QObject {
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

    void formatTime_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0:00";
        QTest::newRow("just under a minute") << 59.99 << "0:59";
        QTest::newRow("a minute") << 60.0 << "1:00";
        QTest::newRow("fraction") << 125.4 << "2:05";
        QTest::newRow("past an hour") << 3725.0 << "62:05";
        QTest::newRow("negative") << -3.0 << "0:00";
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << "0:00";
        QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << "0:00";
        QTest::newRow("too big for int") << 1e12 << "0:00";
    }
    void formatTime()
    {
        QFETCH(double, seconds);
        QFETCH(QString, text);
        QCOMPARE(::formatTime(seconds), text);
    }

    void resolutionSetting_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("items");
        QTest::newRow("built-in") << "1920x1080" << "1920x1080" << 4;
        QTest::newRow("new size") << "800x600" << "800x600" << 5;
        QTest::newRow("upper-case X") << "1280X720" << "1280x720" << 4;
        QTest::newRow("leading blank") << " 800x600" << "1280x720" << 4;
        QTest::newRow("six digits") << "123456x600" << "1280x720" << 4;
        QTest::newRow("unfinished") << "80" << "1280x720" << 4;
        QTest::newRow("empty") << "" << "1280x720" << 4;
    }
    void resolutionSetting()
    {
        QFETCH(QString, stored);
        QFETCH(QString, shown);
        QFETCH(int, items);
        writeSettings({{"resolution", stored}});
        MainWindow window;
        auto *combo = part<QComboBox>(&window, "resolutionCombo");
        QCOMPARE(combo->currentText(), shown);
        QCOMPARE(combo->count(), items);
    }

    void optionsSurviveARestart()
    {
        const QString file = testImage();
        {
            MainWindow window;
            window.show();
            part<QAction>(&window, "minimizeToTrayAction")->setChecked(false);
            part<QCheckBox>(&window, "loopCheck")->setChecked(false);
            part<QCheckBox>(&window, "stretchCheck")->setChecked(true);
            part<QComboBox>(&window, "resolutionCombo")->setEditText("1024x576");
            window.resize(900, 650);
            load(window, file);
            QVERIFY(window.close());
        }
        for (const char *key : {"windowGeometry=", "resolution=1024x576", "loop=false", "stretch=true", "lastFile=",
                                "minimizeToTray=false"})
            QVERIFY2(env.settingsOnDisk().contains(key), key);

        MainWindow window;
        QCOMPARE(window.size(), QSize(900, 650));
        QCOMPARE(part<QComboBox>(&window, "resolutionCombo")->currentText(), QString("1024x576"));
        QVERIFY(!part<QCheckBox>(&window, "loopCheck")->isChecked());
        QVERIFY(part<QCheckBox>(&window, "stretchCheck")->isChecked());
        QVERIFY(!part<QAction>(&window, "minimizeToTrayAction")->isChecked());
        QCOMPARE(part<QLabel>(&window, "fileLabel")->text(), QString("still.png"));
    }

    // Whatever is in the file, the window opens, usable, with defaults for
    // what it cannot read.
    void damagedSettingsFile_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::newRow("binary junk") << QByteArray("\x00\xff\xfe[\x01=\x02\n", 9).repeated(1000);
        QTest::newRow("enormous") << QByteArray("[General]\nnoise=").append(QByteArray(8 << 20, 'n'));
        QTest::newRow("truncated") << QByteArray("[General]\nwindowGeometry=@ByteArray(\\x1\\xd9\\xd0\\xcb\nresolu");
        QTest::newRow("wrong types") << QByteArray("[General]\nloop=maybe\nstretch=@Variant(\\0)\nresolution=@Invalid()\n"
                                                   "windowGeometry=not a geometry\nlastFile=@Variant(\\0\\0)\n");
        QTest::newRow("empty") << QByteArray();
    }
    void damagedSettingsFile()
    {
        QFETCH(QByteArray, contents);
        QFile file(MainWindow::settingsFilePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
        file.close();

        MainWindow window;
        window.show();
        QCOMPARE(window.size(), QSize(780, 600));
        QCOMPARE(part<QComboBox>(&window, "resolutionCombo")->currentText(), QString("1280x720"));
        QCOMPARE(part<QLabel>(&window, "fileLabel")->text(), QString("No file selected"));
        load(window, testImage());
        QCOMPARE(statusText(window), QString("Image loaded. Press Play to stream."));
    }

    void minimizeToTrayIsWrittenAtOnce()
    {
        MainWindow window;
        part<QAction>(&window, "minimizeToTrayAction")->setChecked(false);
        QTRY_VERIFY_WITH_TIMEOUT(env.settingsOnDisk().contains("minimizeToTray=false"), 10000);
        part<QAction>(&window, "minimizeToTrayAction")->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(env.settingsOnDisk().contains("minimizeToTray=true"), 10000);
        QVERIFY(!env.settingsOnDisk().contains("windowGeometry"));
    }

    // With no tray to hide in, the window goes to the task bar; either
    // way the stream goes on and nothing is saved.
    void closeWithMinimizeToTrayKeepsStreaming()
    {
        MainWindow window;
        window.show();
        load(window, testImage());
        invoke(window, "onPlayPause");
        QVERIFY(camera.waitForFrames(2));

        QVERIFY(!window.close());
        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable() ? !window.isVisible() : window.isMinimized());
        const qint64 sent = camera.frameCount();
        QVERIFY(camera.waitForFrames(sent + 5));
        QVERIFY(!env.settingsOnDisk().contains("windowGeometry"));
    }

    void closeWithoutMinimizeToTrayEndsTheStream()
    {
        MainWindow window;
        window.show();
        part<QAction>(&window, "minimizeToTrayAction")->setChecked(false);
        load(window, testImage());
        invoke(window, "onPlayPause");
        QVERIFY(camera.waitForFrames(2));

        QVERIFY(window.close());
        QVERIFY(!camera.cameraLive());
        QTRY_VERIFY_WITH_TIMEOUT(env.settingsOnDisk().contains("windowGeometry"), 10000);
    }

    void fileQuitEndsTheApplication()
    {
        MainWindow window;
        window.show();
        load(window, testImage());
        invoke(window, "onPlayPause");
        QVERIFY(camera.waitForFrames(2));
        // Minimise-to-tray is on, and still Quit quits.
        QVERIFY(eventLoopEndsAfter(fileQuit(window)));
        QVERIFY(!window.isVisible());
        QVERIFY(!camera.cameraLive());
        QVERIFY(env.settingsOnDisk().contains("windowGeometry"));
    }

    void trayQuitEndsTheApplicationFromHiding()
    {
        MainWindow window;
        load(window, testImage());
        invoke(window, "onPlayPause");
        QVERIFY(camera.waitForFrames(2));
        QVERIFY(eventLoopEndsAfter(trayQuit(window)));
        QVERIFY(!camera.cameraLive());
        QVERIFY(!part<QSystemTrayIcon>(&window, "trayIcon")->isVisible());
        // Quitting from the tray does not save the five closing keys.
        QVERIFY(!env.settingsOnDisk().contains("windowGeometry"));
    }

private:
    WindowTestEnvironment env;
    RecordingCamera camera;
};

QTEST_MAIN(MainWindowLifecycleTest)
#include "mainwindow_lifecycle_test.moc"
