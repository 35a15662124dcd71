// One Vidloom per user: the activation request between two instances, the
// real executable started several times, and the command line.
#include "command_line.h"
#include "instance_activation.h"

#include <QWidget>
#include <QtTest>

#include <future>

#include <sys/stat.h>
#include <unistd.h>

static qint64 lockOwner()
{
    QFile file(InstanceActivation::lockFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed().toLongLong() : 0;
}

class SingleInstanceTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setApplicationName("Vidloom");
        for (const char *sub : {"runtime", "config", "tmp"})
            QVERIFY(QDir(dirs.path()).mkpath(sub));
        QFile::setPermissions(dirs.path() + "/runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("TMPDIR", QFile::encodeName(dirs.path() + "/tmp"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dirs.path() + "/config"));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(dirs.path() + "/runtime"));
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }

    // The later start asks from a thread, as it blocks on the answer. A request
    // before the window waits for it; a headless stream turns it away.
    void activation_data()
    {
        QTest::addColumn<QString>("running");
        QTest::newRow("window") << "window";
        QTest::newRow("window set later") << "window later";
        QTest::newRow("headless stream") << "headless";
    }
    void activation()
    {
        QFETCH(QString, running);
        QWidget window;
        window.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
        InstanceActivation activation(running == "window" ? &window : nullptr);
        if (running == "headless")
            activation.setHeadless();
        QSignalSpy opened(&activation, &InstanceActivation::openRequested);
        auto answer = std::async(std::launch::async, [] {
            return InstanceActivation::activateRunningInstance({"/some/file.mp4", true});
        });
        QTRY_VERIFY(answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready);
        const bool handled = running != "headless";
        QCOMPARE(answer.get(), handled ? InstanceActivation::Answer::Activated : InstanceActivation::Answer::Headless);
        if (running == "window later")
            activation.setWindow(&window);
        // Restored, not un-maximised; the file and Play handed on.
        QCOMPARE(window.isVisible(), handled);
        QCOMPARE(window.windowState() & ~Qt::WindowActive,
                 handled ? Qt::WindowMaximized : Qt::WindowMaximized | Qt::WindowMinimized);
        QCOMPARE(opened.size(), int(handled));
        QVERIFY(!handled || opened[0] == QVariantList({QString("/some/file.mp4"), true}));
    }

    // The real program: a second start hands over and leaves, help needs no display or lock,
    // a headless stream gives way, SIGTERM quits like File > Quit, leaving no lock behind.
    void onlyOneInstanceRuns()
    {
        QProcess first, second, help, headless;
        first.start(VIDLOOM_APP);
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), first.processId(), 20000);
        second.start(VIDLOOM_APP, {"/some/file.mp4", "--play"});
        QVERIFY(second.waitForFinished(20000) && second.exitStatus() == QProcess::NormalExit && second.exitCode() == 0);
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(lockOwner(), first.processId());
        QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
        bare.remove("QT_QPA_PLATFORM");
        bare.remove("DISPLAY");
        help.setProcessEnvironment(bare);
        help.start(VIDLOOM_APP, {"--help"});
        QVERIFY(help.waitForFinished(20000) && help.readAllStandardOutput().startsWith("Usage: "));
        QCOMPARE(help.exitCode(), 0);
        headless.start(VIDLOOM_APP, {"--headless", "/some/file.mp4"});
        QVERIFY(headless.waitForFinished(20000) && headless.exitCode() == kExitInstanceBusy);
        first.terminate();
        QVERIFY(first.waitForFinished(20000) && first.exitStatus() == QProcess::NormalExit && first.exitCode() == 0);
        QVERIFY(!QFile::exists(InstanceActivation::lockFilePath()));
    }

    void commandLine()
    {
        using A = LaunchOptions::Action;
        const struct {
            QStringList arguments;
            A action;
            QString outcome; // file|play|WxH|minimized|loop, or the text's start
        } cases[] = {
            {{}, A::Window, "|0|-1x-1|0|1"},
            {{"/a/../b.mp4", "--play"}, A::Window, "/b.mp4|1|-1x-1|0|1"},
            {{"-platform", "offscreen", "-style", "fusion", "/c.png"}, A::Window, "/c.png|0|-1x-1|0|1"}, // Qt's
            {{"--minimized", "--resolution", "800x600"}, A::Window, "|0|800x600|1|1"},
            {{"--headless", "/d.mkv", "--no-loop"}, A::Headless, "/d.mkv|0|-1x-1|0|0"},
            {{"--bogus", "-h"}, A::Help, "Usage: "},
            {{"--version"}, A::Version, "Vidloom 1.0"},
            {{"--bogus"}, A::Error, "Unknown option"},
            {{"a", "b"}, A::Error, "Give at most one"},
            {{"--resolution", "1280x720x2"}, A::Error, "Bad resolution"},
            {{"--headless"}, A::Error, "--headless needs"},
            {{"--no-loop"}, A::Error, "--no-loop works"},
        };
        for (const auto &c : cases) {
            const LaunchOptions o = parseCommandLine(QStringList("vidloom") + c.arguments);
            const QString got = !o.text.isEmpty()
                ? o.text.left(c.outcome.size())
                : QString::asprintf("%s|%d|%dx%d|%d|%d", qPrintable(o.file), o.play, o.resolution.width(),
                                    o.resolution.height(), o.minimized, o.loop);
            QVERIFY2(o.action == c.action && got == c.outcome, qPrintable(c.arguments.join(' ') + ": " + got));
        }
    }

    // Without a private $XDG_RUNTIME_DIR the lock goes to our own folder in $TMPDIR; an open one is refused.
    void runtimeFolder_data()
    {
        QTest::addColumn<int>("xdgMode");    // of $XDG_RUNTIME_DIR; 0: unset
        QTest::addColumn<QString>("lockIn"); // "xdg", "fallback" or "" (no lock)
        QTest::newRow("private") << 0700 << "xdg";
        QTest::newRow("open to others") << 0755 << "fallback";
        QTest::newRow("unset") << 0 << "fallback";
        QTest::newRow("fallback taken open") << 0 << "";
    }
    void runtimeFolder()
    {
        QFETCH(int, xdgMode);
        QFETCH(QString, lockIn);
        const QString xdg = dirs.path() + "/xdg-" + QString::number(xdgMode, 8),
                      fallback = dirs.path() + "/tmp/vidloom-" + QString::number(geteuid());
        QDir().mkpath(xdg);
        ::chmod(QFile::encodeName(xdg).constData(), mode_t(xdgMode));
        QDir(fallback).removeRecursively();
        if (lockIn.isEmpty()) // someone made it before us, open to others
            ::mkdir(QFile::encodeName(fallback).constData(), 0755);
        if (xdgMode)
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(xdg));
        else
            qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(InstanceActivation::lockFilePath(),
                 lockIn.isEmpty() ? QString() : (lockIn == "xdg" ? xdg : fallback) + "/vidloom.lock");
        QVERIFY(lockIn != "xdg"
                || InstanceActivation::activateRunningInstance() == InstanceActivation::Answer::NoAnswer);
    }

private:
    QTemporaryDir dirs;
};

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
