// Thousands of rapid, random user actions against a running stream, the
// camera unpaced so the worker races the UI thread as hard as it can. The
// ThreadSanitizer build runs the long version (VIDLOOM_STRESS_SEQUENCES);
// the window must end consistent and usable.
#include "mainwindow_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>

#include <random>

class MainWindowStressTest : public QObject {
    Q_OBJECT

private slots:
    void randomSequences()
    {
        WindowTestEnvironment env;
        QVERIFY(env.ok() && env.camera.ok());
        env.reset();
        env.camera.setPacing(false);
        const QString files[] = {mediaFile("short.mp4", "-f lavfi -i testsrc=size=160x120:rate=30 -t 1 -c:v mpeg4"),
                                 testImage()};
        MainWindow window;
        window.show();
        auto *slider = part<QSlider>(&window, "seekSlider");
        auto *play = part<QPushButton>(&window, "playButton");
        auto *stop = part<QPushButton>(&window, "stopButton");
        auto *combo = part<QComboBox>(&window, "resolutionCombo");
        auto *loop = part<QCheckBox>(&window, "loopCheck");
        auto *stretch = part<QCheckBox>(&window, "stretchCheck");
        combo->setEditText("320x240");
        load(window, files[0]);
        invoke(window, "onPlayPause");

        std::mt19937 random(6061); // fixed, so a failure can be replayed
        for (int sequence = 0; sequence < VIDLOOM_STRESS_SEQUENCES; ++sequence) {
            for (int step = 0, steps = 1 + int(random() % 3); step < steps; ++step) {
                switch (random() % 8) {
                case 0:
                case 1: invoke(window, "onPlayPause"); break;
                case 2: invoke(window, "onStop"); break;
                case 3:
                    slider->setSliderDown(true);
                    slider->setValue(int(random() % 1001));
                    slider->setSliderDown(false);
                    break;
                case 4: load(window, files[random() % 2]); break;
                case 5: loop->toggle(); break;
                case 6: stretch->toggle(); break;
                case 7: invoke(window, "onTimerTick"); break;
                }
            }
            QCoreApplication::processEvents();
            // What the UI thread sets in one go must agree at all times.
            QCOMPARE(stop->isEnabled(), !combo->isEnabled());
            QVERIFY(play->text() != " &Pause" || stop->isEnabled());
            QVERIFY(stop->isEnabled() || !env.camera.cameraLive());
        }

        invoke(window, "onStop");
        QCOMPARE(statusText(window), QString("Stopped."));
        QCOMPARE(play->text(), QString(" &Play"));
        QVERIFY(!env.camera.cameraLive());
        // Still fully usable afterwards.
        loop->setChecked(true);
        const qint64 sent = env.camera.frameCount();
        invoke(window, "onPlayPause");
        QCOMPARE(statusText(window), QString("Streaming..."));
        QVERIFY(env.camera.waitForFrames(sent + 10));
        invoke(window, "onStop");
    }
};

QTEST_MAIN(MainWindowStressTest)
#include "mainwindow_stress_test.moc"
