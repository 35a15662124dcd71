// The window started from a folder without the camera library: it says
// where the library belongs and stays usable.
#include "mainwindow_test_support.h"

#include <QLabel>

class MainWindowNoLibraryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        QVERIFY(env.ok());
        env.clearSettings();
        env.setRegistered(true);
    }

    void missingLibraryIsReportedAndTheWindowWorks()
    {
        MainWindow window;
        window.show();
        QCOMPARE(statusText(window), QString("libvidloomcam.so not found. Place it next to vidloom"));

        load(window, testImage());
        QCOMPARE(part<QLabel>(&window, "timeLabel")->text(), QString("Image"));

        invoke(window, "onPlayPause");
        QCOMPARE(statusText(window), QString("Failed to create virtual camera."));
        invoke(window, "onStop");
        QCOMPARE(statusText(window), QString("Stopped."));
    }

private:
    WindowTestEnvironment env;
};

QTEST_MAIN(MainWindowNoLibraryTest)
#include "mainwindow_nolib_test.moc"
