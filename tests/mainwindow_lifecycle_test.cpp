// Settings at start and across a restart, closing the window, the two ways
// to quit, and the time format.
#include "mainwindow_test_support.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenuBar>

#include <limits>

class MainWindowLifecycleTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(env.ok() && env.camera.ok()); }
    void init() { env.reset(); }

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

    // To the tray (or the task bar where no tray exists) the stream goes on
    // and nothing is saved; otherwise the stream ends and the options come
    // back at the next start.
    void closeWindow_data()
    {
        QTest::addColumn<bool>("toTray");
        QTest::newRow("to tray") << true;
        QTest::newRow("for good") << false;
    }
    void closeWindow()
    {
        QFETCH(bool, toTray);
        {
            MainWindow window;
            window.show();
            part<QAction>(&window, "minimizeToTrayAction")->setChecked(toTray);
            part<QCheckBox>(&window, "loopCheck")->setChecked(false);
            part<QCheckBox>(&window, "stretchCheck")->setChecked(true);
            part<QComboBox>(&window, "resolutionCombo")->setEditText("1024x576");
            window.resize(900, 650);
            QVERIFY(env.stream(window, testImage()));
            QCOMPARE(window.close(), !toTray);
            if (toTray)
                QVERIFY(QSystemTrayIcon::isSystemTrayAvailable() ? !window.isVisible() : window.isMinimized());
            QCOMPARE(env.camera.cameraLive(), toTray);
            QVERIFY(!toTray || env.camera.waitForFrames(env.camera.frameCount() + 5));
            QTRY_COMPARE_WITH_TIMEOUT(env.settingsOnDisk().contains("windowGeometry"), !toTray, 10000);
        }
        if (toTray)
            return;
        MainWindow window;
        QCOMPARE(window.size(), QSize(900, 650));
        QCOMPARE(part<QComboBox>(&window, "resolutionCombo")->currentText(), QString("1024x576"));
        QVERIFY(!part<QCheckBox>(&window, "loopCheck")->isChecked());
        QVERIFY(part<QCheckBox>(&window, "stretchCheck")->isChecked());
        QVERIFY(!part<QAction>(&window, "minimizeToTrayAction")->isChecked());
        QCOMPARE(labelText(window, "fileLabel"), QString("still.png"));
    }

    // Both quit with minimise-to-tray on; only File > Quit saves the
    // closing settings.
    void quitPaths_data()
    {
        QTest::addColumn<bool>("fromTray");
        QTest::newRow("File > Quit") << false;
        QTest::newRow("tray Quit") << true;
    }
    void quitPaths()
    {
        QFETCH(bool, fromTray);
        MainWindow window;
        window.show();
        QVERIFY(env.stream(window, testImage()));
        QAction *quit = fromTray ? trayAction(window, "Quit") : window.menuBar()->actions()[0]->menu()->actions()[2];
        bool timedOut = false;
        QTimer::singleShot(30000, &window, [&timedOut] {
            timedOut = true;
            QCoreApplication::quit();
        });
        QTimer::singleShot(0, quit, &QAction::trigger);
        QApplication::exec();
        QVERIFY(!timedOut);
        QVERIFY(!env.camera.cameraLive());
        QVERIFY(!part<QSystemTrayIcon>(&window, "trayIcon")->isVisible());
        QCOMPARE(env.settingsOnDisk().contains("windowGeometry"), !fromTray);
    }

private:
    WindowTestEnvironment env;
};

QTEST_MAIN(MainWindowLifecycleTest)
#include "mainwindow_lifecycle_test.moc"
