// Started from a folder without the camera library, the window says where
// the library belongs and stays usable.
#include "mainwindow_test_support.h"

class MainWindowNoLibraryTest : public QObject {
    Q_OBJECT

private slots:
    void missingLibraryIsReportedAndTheWindowWorks()
    {
        WindowTestEnvironment env;
        QVERIFY(env.ok());
        env.reset();
        MainWindow window;
        QCOMPARE(statusText(window), QString("libvidloomcam.so not found. Place it next to vidloom"));
        load(window, testImage());
        QCOMPARE(labelText(window, "timeLabel"), QString("Image"));
        invoke(window, "onPlayPause");
        QCOMPARE(statusText(window), QString("Failed to create virtual camera."));
        invoke(window, "onStop");
        QCOMPARE(statusText(window), QString("Stopped."));
    }
};

QTEST_MAIN(MainWindowNoLibraryTest)
#include "mainwindow_nolib_test.moc"
