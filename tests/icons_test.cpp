// The icon set is compiled in: every path the window and the tray use must
// draw, at button size and at large size, with no file on disk.
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QSystemTrayIcon>
#include <QTest>

namespace {

const QStringList kIcons = {
    "vidloom.svg", "vidloom-connected.svg", "play.svg", "pause.svg", "stop.svg",
    "open.svg", "register.svg", "unregister.svg", "connected.svg", "waiting.svg",
};

QImage render(const QString &name, int size)
{
    return QIcon(":/icons/" + name).pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
}

int opaquePixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0;
    return count;
}

// Colour at (x, y) of the 64-pixel rendering, whose pixels match the
// drawings' 64-unit view box one to one.
QRgb at(const QString &name, int x, int y)
{
    return render(name, 64).pixel(x, y);
}

} // namespace

class IconsTest : public QObject {
    Q_OBJECT

private slots:
    void collectionHoldsExactlyTheIcons()
    {
        QStringList listed = QDir(":/icons").entryList(QDir::Files);
        QStringList expected = kIcons;
        listed.sort();
        expected.sort();
        QCOMPARE(listed, expected);
    }

    void everyIconDraws_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString &name : kIcons)
            QTest::newRow(qPrintable(name)) << name;
    }

    void everyIconDraws()
    {
        QFETCH(QString, name);
        const QIcon icon(":/icons/" + name);
        QVERIFY(!icon.isNull());
        for (int size : {16, 256}) {
            const QImage image = render(name, size);
            QCOMPARE(image.size(), QSize(size, size));
            // Something visible, and not a filled square: the drawings have
            // shape (square view box, transparent surroundings).
            const int opaque = opaquePixels(image);
            QVERIFY2(opaque > size * size / 10, qPrintable(QString::number(opaque)));
            QVERIFY2(opaque < size * size, qPrintable(QString::number(opaque)));
        }
    }

    void colours()
    {
        QCOMPARE(at("play.svg", 30, 32), qRgb(0x3b, 0x82, 0xf6));
        QCOMPARE(at("pause.svg", 20, 32), qRgb(0x3b, 0x82, 0xf6));
        QCOMPARE(qAlpha(at("pause.svg", 32, 32)), 0); // the gap between the bars
        QCOMPARE(at("stop.svg", 32, 32), qRgb(0xe5, 0x39, 0x35));
        QCOMPARE(at("register.svg", 8, 32), qRgb(0x00, 0xba, 0x00));
        QCOMPARE(qAlpha(at("register.svg", 32, 33)), 0); // the check mark is cut out
        QCOMPARE(at("unregister.svg", 10, 32), qRgb(0xe2, 0x1b, 0x1b));
        QCOMPARE(at("unregister.svg", 32, 32), qRgb(0xff, 0xff, 0xff));
        QCOMPARE(at("vidloom.svg", 6, 32), qRgb(0x75, 0x84, 0xf2));
    }

    // The tray swaps these two by path while streaming: same logo, the
    // webcam white when idle and green when a client is connected.
    void trayIconsSwitchFromResources()
    {
        QVERIFY(!QFile::exists(QDir::current().filePath("icons/vidloom.svg")));
        QCOMPARE(at("vidloom.svg", 32, 16), qRgb(0xff, 0xff, 0xff));
        QCOMPARE(at("vidloom-connected.svg", 32, 16), qRgb(0x00, 0xff, 0x00));
        QCOMPARE(at("vidloom.svg", 32, 27), at("vidloom-connected.svg", 32, 27)); // the lens

        QSystemTrayIcon tray;
        const QImage idle = render("vidloom.svg", 32);
        const QImage connected = render("vidloom-connected.svg", 32);
        QVERIFY(idle != connected);
        tray.setIcon(QIcon(":/icons/vidloom-connected.svg"));
        QCOMPARE(tray.icon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32), connected);
        tray.setIcon(QIcon(":/icons/vidloom.svg"));
        QCOMPARE(tray.icon().pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32), idle);
    }
};

QTEST_MAIN(IconsTest)
#include "icons_test.moc"
