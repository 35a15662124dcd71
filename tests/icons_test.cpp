// The icon set is compiled in: every icon the window and the tray use draws,
// at button size and at large size, visible and shaped rather than a
// filled square; the tray's connected icon differs from the idle one.
#include <QIcon>
#include <QTest>

class IconsTest : public QObject {
    Q_OBJECT

private slots:
    void everyIconDraws()
    {
        for (const char *name : {"connected", "open", "pause", "play", "register", "stop", "unregister",
                                 "vidloom-connected", "vidloom", "waiting"}) {
            for (int size : {16, 256}) {
                const QImage image = QIcon(QString(":/icons/%1.svg").arg(name)).pixmap(size).toImage();
                int opaque = 0;
                for (int i = 0; i < size * size; ++i)
                    opaque += qAlpha(image.pixel(i % size, i / size)) > 0;
                QVERIFY2(image.size() == QSize(size, size) && opaque > size * size / 10 && opaque < size * size, name);
            }
        }
        QVERIFY(QIcon(":/icons/vidloom.svg").pixmap(64).toImage()
                != QIcon(":/icons/vidloom-connected.svg").pixmap(64).toImage());
    }
};

QTEST_MAIN(IconsTest)
#include "icons_test.moc"
