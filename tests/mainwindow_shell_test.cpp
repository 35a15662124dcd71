// The window as built: identity, controls and their defaults, menus, the
// resolution box's validator, and the registration controls with a fake
// registration helper.
#include "mainwindow_test_support.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QSlider>
#include <QValidator>

class MainWindowShellTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        QVERIFY(env.ok());
    }
    void init()
    {
        env.clearSettings();
        env.setRegistered(true);
        env.setHelper(WindowTestEnvironment::Helper::Succeeds);
    }

    void firstStartShowsDefaults()
    {
        MainWindow window;
        window.show();
        QCOMPARE(window.windowTitle(), QString("Vidloom v1.0"));
        QCOMPARE(window.minimumSize(), QSize(580, 480));
        QCOMPARE(window.size(), QSize(780, 600));
        window.resize(100, 100);
        QCOMPARE(window.size(), QSize(580, 480));

        auto *combo = part<QComboBox>(&window, "resolutionCombo");
        QVERIFY(combo->isEditable());
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        QCOMPARE(items, QStringList({"640x480", "1280x720", "1920x1080", "3840x2160"}));
        QCOMPARE(combo->currentIndex(), 1);
        QVERIFY(combo->isEnabled());

        QVERIFY(part<QCheckBox>(&window, "loopCheck")->isChecked());
        QVERIFY(!part<QCheckBox>(&window, "stretchCheck")->isChecked());
        QVERIFY(part<QAction>(&window, "minimizeToTrayAction")->isChecked());
        QCOMPARE(statusText(window), QString("Ready."));
        QCOMPARE(part<QLabel>(&window, "fileLabel")->text(), QString("No file selected"));
        QCOMPARE(part<QLabel>(&window, "timeLabel")->text(), QString("0:00 / 0:00"));
        QCOMPARE(part<QLabel>(&window, "connectionLabel")->text(), QString());
        QVERIFY(!part<QSlider>(&window, "seekSlider")->isEnabled());
        QCOMPARE(part<QSlider>(&window, "seekSlider")->maximum(), 1000);
        QCOMPARE(part<QPushButton>(&window, "playButton")->text(), QString(" Play"));
        QVERIFY(!part<QPushButton>(&window, "stopButton")->isEnabled());
        QVERIFY(window.acceptDrops());
    }

    void resolutionValidator_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("state");
        const int ok = QValidator::Acceptable, typing = QValidator::Intermediate, refused = QValidator::Invalid;
        QTest::newRow("built-in") << "1280x720" << ok;
        QTest::newRow("two digits") << "12x34" << ok;
        QTest::newRow("five digits") << "99999x99999" << ok;
        QTest::newRow("unfinished") << "80" << typing;
        QTest::newRow("unfinished height") << "1280x" << typing;
        QTest::newRow("upper-case X") << "1280X720" << refused;
        QTest::newRow("sixth digit") << "123456x720" << refused;
        QTest::newRow("trailing text") << "1280x720p" << refused;
        QTest::newRow("third number") << "1280x720x2" << refused;
        QTest::newRow("blank") << "1280 x720" << refused;
        QTest::newRow("letters") << "abc" << refused;
    }
    void resolutionValidator()
    {
        QFETCH(QString, text);
        QFETCH(int, state);
        MainWindow window;
        const QValidator *validator = part<QComboBox>(&window, "resolutionCombo")->validator();
        QVERIFY(validator);
        int pos = 0;
        QCOMPARE(int(validator->validate(text, pos)), state);
    }

    void menusAndShortcuts()
    {
        MainWindow window;
        const QList<QAction *> menus = window.menuBar()->actions();
        QCOMPARE(menus.size(), 3);
        QCOMPARE(menus[0]->text(), QString("&File"));
        QCOMPARE(menus[1]->text(), QString("&Settings"));
        QCOMPARE(menus[2]->text(), QString("&?"));

        const QList<QAction *> file = menus[0]->menu()->actions();
        QCOMPARE(file.size(), 3);
        QCOMPARE(file[0]->text(), QString("&Open media..."));
        QCOMPARE(file[0]->shortcut(), QKeySequence(QKeySequence::Open));
        QVERIFY(file[1]->isSeparator());
        QCOMPARE(file[2]->text(), QString("&Quit"));
        QCOMPARE(file[2]->shortcut(), QKeySequence(QKeySequence::Quit));

        const QList<QAction *> settings = menus[1]->menu()->actions();
        QCOMPARE(settings.size(), 1);
        QCOMPARE(settings[0]->text(), QString("Minimize to tray on close"));
        QVERIFY(settings[0]->isCheckable());
        QVERIFY(settings[0]->shortcut().isEmpty());

        const QList<QAction *> help = menus[2]->menu()->actions();
        QCOMPARE(help.size(), 1);
        QCOMPARE(help[0]->text(), QString("&About Vidloom"));
    }

    void registrationState_data()
    {
        QTest::addColumn<bool>("registered");
        QTest::newRow("not registered") << false;
        QTest::newRow("registered") << true;
    }
    void registrationState()
    {
        QFETCH(bool, registered);
        env.setRegistered(registered);
        MainWindow window;
        QCOMPARE(part<QLabel>(&window, "registerStatusLabel")->text(),
                 registered ? QString::fromUtf8("<span style='color: #2a2;font-weight:bold;'>✓ Registered</span>")
                            : QString::fromUtf8("<span style='color: #888;'>✗ Not registered</span>"));
        QCOMPARE(part<QLabel>(&window, "registerStatusLabel")->textFormat(), Qt::RichText);
        QCOMPARE(part<QPushButton>(&window, "registerButton")->isEnabled(), !registered);
        QCOMPARE(part<QPushButton>(&window, "unregisterButton")->isEnabled(), registered);
        QCOMPARE(part<QPushButton>(&window, "playButton")->isEnabled(), registered);
    }

    // The outcome text comes from the helper's exit code, the buttons from
    // whether the device exists afterwards.
    void registerAndUnregister_data()
    {
        QTest::addColumn<bool>("unregister");
        QTest::addColumn<int>("helper");
        QTest::addColumn<QString>("status");
        QTest::addColumn<bool>("registeredAfter");
        const int succeeds = int(WindowTestEnvironment::Helper::Succeeds);
        const int fails = int(WindowTestEnvironment::Helper::Fails);
        QTest::newRow("register") << false << succeeds << "Camera registered!" << true;
        QTest::newRow("register fails") << false << fails << "Registration failed." << false;
        QTest::newRow("unregister") << true << succeeds << "Camera unregistered." << false;
        QTest::newRow("unregister fails") << true << fails << "Failed." << true;
    }
    void registerAndUnregister()
    {
        QFETCH(bool, unregister);
        QFETCH(int, helper);
        QFETCH(QString, status);
        QFETCH(bool, registeredAfter);
        env.setRegistered(unregister);
        env.setHelper(WindowTestEnvironment::Helper(helper));
        MainWindow window;
        auto *button = part<QPushButton>(&window, unregister ? "unregisterButton" : "registerButton");
        QVERIFY(button->isEnabled());
        button->click();
        QCOMPARE(statusText(window), status);
        QCOMPARE(part<QPushButton>(&window, "playButton")->isEnabled(), registeredAfter);
        QCOMPARE(part<QPushButton>(&window, "registerButton")->isEnabled(), !registeredAfter);
        QCOMPARE(part<QPushButton>(&window, "unregisterButton")->isEnabled(), registeredAfter);
    }

    // Waits out the full time-out: a helper that has not answered by then
    // counts as failed, even though it gets its work done later.
    void helperThatHangsFails()
    {
        env.setRegistered(false);
        env.setHelper(WindowTestEnvironment::Helper::Hangs);
        MainWindow window;
        part<QPushButton>(&window, "registerButton")->click();
        QCOMPARE(statusText(window), QString("Registration failed."));
        QVERIFY(part<QPushButton>(&window, "registerButton")->isEnabled());
        QVERIFY(!part<QPushButton>(&window, "playButton")->isEnabled());
    }

private:
    WindowTestEnvironment env;
};

QTEST_MAIN(MainWindowShellTest)
#include "mainwindow_shell_test.moc"
