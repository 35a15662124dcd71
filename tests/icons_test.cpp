// The icon set is compiled in: every icon the window and the tray use draws,
// at button size and at large size, in its own colours.
#include <QDir>
#include <QIcon>
#include <QTest>

static QImage render(const QString &name, int size)
{
    return QIcon(":/icons/" + name).pixmap(size, size).toImage().convertToFormat(QImage::Format_ARGB32);
}

class IconsTest : public QObject {
    Q_OBJECT

private slots:
    void everyIconDraws()
    {
        const QStringList icons = QDir(":/icons").entryList(QDir::Files, QDir::Name);
        QCOMPARE(icons,
                 (QStringList{"connected.svg", "open.svg", "pause.svg", "play.svg", "register.svg", "stop.svg",
                              "unregister.svg", "vidloom-connected.svg", "vidloom.svg", "waiting.svg"}));
        for (const QString &name : icons) {
            for (int size : {16, 256}) {
                const QImage image = render(name, size);
                // Visible, and shaped rather than a filled square.
                int opaque = 0;
                for (int i = 0; i < size * size; ++i)
                    opaque += qAlpha(image.pixel(i % size, i / size)) > 0;
                QVERIFY2(image.size() == QSize(size, size) && opaque > size * size / 10 && opaque < size * size,
                         qPrintable(name));
            }
        }
    }

    // At 64 pixels, pixels match the drawings' 64-unit view box one to one.
    void colours_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QRgb>("colour"); // 0: transparent
        QTest::newRow("play") << "play.svg" << QPoint(30, 32) << qRgb(0x3b, 0x82, 0xf6);
        QTest::newRow("pause bar") << "pause.svg" << QPoint(20, 32) << qRgb(0x3b, 0x82, 0xf6);
        QTest::newRow("pause gap") << "pause.svg" << QPoint(32, 32) << QRgb(0);
        QTest::newRow("stop") << "stop.svg" << QPoint(32, 32) << qRgb(0xe5, 0x39, 0x35);
        QTest::newRow("register") << "register.svg" << QPoint(8, 32) << qRgb(0x00, 0xba, 0x00);
        QTest::newRow("register check cut out") << "register.svg" << QPoint(32, 33) << QRgb(0);
        QTest::newRow("unregister") << "unregister.svg" << QPoint(10, 32) << qRgb(0xe2, 0x1b, 0x1b);
        QTest::newRow("unregister cross") << "unregister.svg" << QPoint(32, 32) << qRgb(0xff, 0xff, 0xff);
        QTest::newRow("logo") << "vidloom.svg" << QPoint(6, 32) << qRgb(0x75, 0x84, 0xf2);
        // The tray swaps these two while streaming: webcam white when idle,
        // green with a client connected, the same lens.
        QTest::newRow("idle webcam") << "vidloom.svg" << QPoint(32, 16) << qRgb(0xff, 0xff, 0xff);
        QTest::newRow("connected webcam") << "vidloom-connected.svg" << QPoint(32, 16) << qRgb(0x00, 0xff, 0x00);
        QTest::newRow("idle lens") << "vidloom.svg" << QPoint(32, 27)
                                   << render("vidloom-connected.svg", 64).pixel(32, 27);
    }

    void colours()
    {
        QFETCH(QString, name);
        QFETCH(QPoint, at);
        QFETCH(QRgb, colour);
        const QRgb pixel = render(name, 64).pixel(at);
        if (colour == 0)
            QCOMPARE(qAlpha(pixel), 0);
        else
            QCOMPARE(pixel, colour);
    }
};

QTEST_MAIN(IconsTest)
#include "icons_test.moc"
