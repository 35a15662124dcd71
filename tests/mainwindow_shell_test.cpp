// The window as built, and the registration controls with a fake helper.
#include "mainwindow_test_support.h"

#include <QAction>
#include <QMenuBar>
#include <QPushButton>

class MainWindowShellTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(env.ok()); }
    void init() { env.reset(); }

    void firstStart()
    {
        MainWindow window;
        window.show();
        QCOMPARE(window.windowTitle(), QString("Vidloom v1.0"));
        QCOMPARE(window.size(), QSize(780, 600));
        window.resize(100, 100);
        QCOMPARE(window.size(), QSize(580, 480));
        QCOMPARE(statusText(window), QString("Ready."));
        QString menus; // "title[entry(shortcut)...]", separators as "-"
        for (QAction *menu : window.menuBar()->actions()) {
            menus += menu->text() + "[";
            for (QAction *entry : menu->menu()->actions())
                menus += entry->isSeparator() ? QString("-|") : entry->text() + "(" + entry->shortcut().toString() + ")|";
            menus += "] ";
        }
        QCOMPARE(menus, QString("&File[&Open media...(%1)|-|&Quit(%2)|] &Settings[Minimize to tray on close()|] "
                                "&?[&About Vidloom()|] ")
                            .arg(QKeySequence(QKeySequence::Open).toString(), QKeySequence(QKeySequence::Quit).toString()));
        QVERIFY(part<QAction>(&window, "minimizeToTrayAction")->isChecked());
    }

    // The outcome text comes from the helper's exit code, the buttons and
    // the label from whether the device exists afterwards.
    void registration_data()
    {
        QTest::addColumn<bool>("registered");
        QTest::addColumn<QString>("button");
        QTest::addColumn<WindowTestEnvironment::Helper>("helper");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("registeredAfter");
        using H = WindowTestEnvironment::Helper;
        QTest::newRow("not registered") << false << "" << H::Succeeds << "Ready." << false;
        QTest::newRow("registered") << true << "" << H::Succeeds << "Ready." << true;
        QTest::newRow("register") << false << "registerButton" << H::Succeeds << "Camera registered!" << true;
        QTest::newRow("register fails") << false << "registerButton" << H::Fails << "Registration failed." << false;
        QTest::newRow("unregister") << true << "unregisterButton" << H::Succeeds << "Camera unregistered." << false;
        QTest::newRow("unregister fails") << true << "unregisterButton" << H::Fails << "Failed." << true;
        // Waits out the time-out; last, as the helper finishes after the test.
        QTest::newRow("register hangs") << false << "registerButton" << H::Hangs << "Registration failed." << false;
    }
    void registration()
    {
        QFETCH(bool, registered);
        QFETCH(QString, button);
        QFETCH(WindowTestEnvironment::Helper, helper);
        QFETCH(QString, status);
        QFETCH(bool, registeredAfter);
        env.setRegistered(registered);
        env.setHelper(helper);
        MainWindow window;
        if (!button.isEmpty())
            part<QPushButton>(&window, qPrintable(button))->click();
        QCOMPARE(statusText(window), status);
        QCOMPARE(labelText(window, "registerStatusLabel"),
                 registeredAfter ? QString::fromUtf8("<span style='color: #2a2;font-weight:bold;'>✓ Registered</span>")
                                 : QString::fromUtf8("<span style='color: #888;'>✗ Not registered</span>"));
        QCOMPARE(part<QPushButton>(&window, "playButton")->isEnabled(), registeredAfter);
        QCOMPARE(part<QPushButton>(&window, "registerButton")->isEnabled(), !registeredAfter);
        QCOMPARE(part<QPushButton>(&window, "unregisterButton")->isEnabled(), registeredAfter);
    }

private:
    WindowTestEnvironment env;
};

QTEST_MAIN(MainWindowShellTest)
#include "mainwindow_shell_test.moc"
