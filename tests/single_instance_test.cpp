// One Vidloom per user: the real executable started twice, and the
// activation request reaching a running instance's window.
#include "instance_activation.h"

#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

// The process id the lock file names; 0 when there is none.
static qint64 lockOwner()
{
    QFile file(InstanceActivation::lockFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readLine().trimmed().toLongLong() : 0;
}

class SingleInstanceTest : public QObject {
    Q_OBJECT

private slots:
    // This test and the programs it starts use these folders only.
    void initTestCase()
    {
        QCoreApplication::setApplicationName("Vidloom");
        QVERIFY(dirs.isValid());
        const QString runtime = dirs.path() + "/runtime";
        QVERIFY(QDir(dirs.path()).mkpath("config") && QDir(dirs.path()).mkpath("runtime"));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dirs.path() + "/config"));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QCOMPARE(InstanceActivation::lockFilePath(), runtime + "/vidloom.lock");
    }

    // This process plays the running instance; the real program is the
    // second start, and waits for our answer while the event loop turns.
    void secondStartBringsTheWindowForward()
    {
        QLockFile lock(InstanceActivation::lockFilePath());
        QVERIFY(lock.tryLock(0));
        QWidget window;
        window.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
        InstanceActivation activation(&window);
        QProcess second;
        second.start(VIDLOOM_APP, {"/some/file.mp4"});
        QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 20000);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(window.isVisible(), 10000);
        QVERIFY(!(window.windowState() & Qt::WindowMinimized));
        QVERIFY(window.windowState() & Qt::WindowMaximized);
    }

    // SIGTERM quits like File > Quit: normal exit, lock gone, and the next
    // start is a first instance again.
    void onlyOneInstanceRuns()
    {
        QProcess first, second, third;
        first.start(VIDLOOM_APP);
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), first.processId(), 20000);
        second.start(VIDLOOM_APP);
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(lockOwner(), first.processId());

        first.terminate();
        QVERIFY(first.waitForFinished(20000));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);
        QVERIFY(!QFile::exists(InstanceActivation::lockFilePath()));
        third.start(VIDLOOM_APP);
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), third.processId(), 20000);
        QCOMPARE(third.state(), QProcess::Running);
        third.kill();
        QVERIFY(third.waitForFinished(20000));
    }

private:
    QTemporaryDir dirs;
};

QTEST_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
