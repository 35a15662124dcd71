// Started from a folder without the camera library, and with none
// installed, the window says where the library belongs and stays usable.
#include "mainwindow_test_support.h"

class MainWindowNoLibraryTest : public QObject {
    Q_OBJECT

private slots:
    void missingLibraryIsReportedAndTheWindowWorks()
    {
        camera_library::SetInstalledDirForTesting({});
        WindowTestEnvironment env;
        QVERIFY(env.ok());
        TestWindow window;
        QCOMPARE(window.status(), QString("libvidloomcam.so not found. Place it next to vidloom"));
        window.load(env.image());
        QCOMPARE(window.label("timeLabel"), QString("Image"));
        window.invoke("onPlayPause");
        QCOMPARE(window.status(), QString("Failed to create virtual camera."));
        window.invoke("onStop");
        QCOMPARE(window.status(), QString("Stopped."));
    }
};

QTEST_MAIN(MainWindowNoLibraryTest)
#include "mainwindow_nolib_test.moc"
