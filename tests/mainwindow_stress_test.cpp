// Rapid, random user actions against a running stream, the camera unpaced
// so the worker races the UI thread as hard as it can; the ThreadSanitizer
// build runs the long version (VIDLOOM_STRESS_SEQUENCES). The window must
// end consistent and usable.
#include "mainwindow_test_support.h"

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
        TestWindow window;
        window.show();
        window.resolution->setEditText("320x240");
        window.load(files[0]);
        std::mt19937 random(6061); // fixed, so a failure can be replayed
        const std::function<void()> actions[] = {
            [&] { window.invoke("onPlayPause"); },
            [&] { window.invoke("onPlayPause"); },
            [&] { window.invoke("onStop"); },
            [&] {
                window.slider->setSliderDown(true);
                window.slider->setValue(int(random() % 1001));
                window.slider->setSliderDown(false);
            },
            [&] { window.load(files[random() % 2]); },
            [&] { window.loop->toggle(); },
            [&] { window.stretch->toggle(); },
            [&] { window.invoke("onTimerTick"); },
        };
        window.invoke("onPlayPause");
        for (int sequence = 0; sequence < VIDLOOM_STRESS_SEQUENCES; ++sequence) {
            for (int step = 0, steps = 1 + int(random() % 3); step < steps; ++step)
                actions[random() % 8]();
            QCoreApplication::processEvents();
            // What the UI thread sets in one go must agree at all times.
            QCOMPARE(window.stop->isEnabled(), !window.resolution->isEnabled());
            QVERIFY(window.play->text() != " &Pause" || window.stop->isEnabled());
            QVERIFY(window.stop->isEnabled() || !env.camera.cameraLive());
        }
        window.invoke("onStop");
        QCOMPARE(window.status(), QString("Stopped."));
        QVERIFY(!env.camera.cameraLive());
        // Still fully usable afterwards.
        window.loop->setChecked(true);
        const qint64 sent = env.camera.frameCount();
        window.invoke("onPlayPause");
        QCOMPARE(window.status(), QString("Streaming..."));
        QVERIFY(env.camera.waitForFrames(sent + 10));
        window.invoke("onStop");
    }
};

QTEST_MAIN(MainWindowStressTest)
#include "mainwindow_stress_test.moc"
