// Taking a media file: preview, slider, time label, loaded texts,
// "lastFile", bad files, extensions, and drag and drop.
#include "mainwindow_test_support.h"

#include <QSlider>

namespace {
const QString kVideoLoaded = "Video loaded. Press Play to stream.";
const QString kImageLoaded = "Image loaded. Press Play to stream.";
} // namespace

class MainWindowMediaTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(env.ok()); }
    void init() { env.reset(); }

    void videoThenImage()
    {
        MainWindow window;
        window.show();
        const QImage blank = previewImage(window);
        load(window, longVideo());
        QVERIFY(part<QSlider>(&window, "seekSlider")->isEnabled());
        QCOMPARE(labelText(window, "timeLabel"), QString("0:00 / 2:05"));
        QCOMPARE(statusText(window), kVideoLoaded);
        QCOMPARE(labelText(window, "fileLabel"), QString("long.mkv"));
        const QImage firstFrame = previewImage(window);
        QVERIFY(firstFrame != blank);

        load(window, testImage());
        QVERIFY(!part<QSlider>(&window, "seekSlider")->isEnabled());
        QCOMPARE(labelText(window, "timeLabel"), QString("Image"));
        QCOMPARE(statusText(window), kImageLoaded);
        QCOMPARE(labelText(window, "fileLabel"), QString("still.png"));
        QVERIFY(previewImage(window) != firstFrame);
        // On disk once the event loop has had a turn, not at exit.
        QTRY_VERIFY_WITH_TIMEOUT(env.settingsOnDisk().contains("lastFile=" + testImage().toUtf8()), 10000);
    }

    // The extension alone picks the loaded text. An unreadable file still
    // becomes the current one; the last good file's preview and times stay.
    void unreadableFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("video");
        QFile mp4(testVideo());
        QVERIFY(mp4.open(QIODevice::ReadOnly));
        const QByteArray video = mp4.readAll();
        QTest::newRow("empty") << writeFile("empty.mp4", "") << true;
        QTest::newRow("truncated") << writeFile("CLIP.MP4", video.left(700)) << true;
        QTest::newRow("text") << writeFile("notes.Mov", QByteArray("not a video\n").repeated(300)) << true;
        QTest::newRow("garbage") << writeFile("clip.AVI", QByteArray(4096, '\x5a')) << true;
        QTest::newRow("wmv") << writeFile("clip.wmv", "x") << true;
        QTest::newRow("webm") << writeFile("clip.webm", "x") << false;
        QTest::newRow("backup") << writeFile("archive.mp4.bak", "x") << false;
        QTest::newRow("video named as image") << writeFile("clip.jpg", video) << false;
        QTest::newRow("missing") << QFileInfo(testImage()).absolutePath() + "/no-such-file.png" << false;
    }
    void unreadableFiles()
    {
        QFETCH(QString, path);
        QFETCH(bool, video);
        MainWindow window;
        window.show();
        load(window, longVideo());
        const QImage before = previewImage(window);
        load(window, path);
        QCOMPARE(statusText(window), video ? kVideoLoaded : kImageLoaded);
        QCOMPARE(labelText(window, "fileLabel"), QFileInfo(path).fileName());
        QCOMPARE(previewImage(window), before);
        QVERIFY(part<QSlider>(&window, "seekSlider")->isEnabled());
        QCOMPARE(labelText(window, "timeLabel"), QString("0:00 / 2:05"));
        QTRY_VERIFY_WITH_TIMEOUT(env.settingsOnDisk().contains("lastFile=" + path.toUtf8()), 10000);
    }

    void drops()
    {
        MainWindow window;
        // Of three files the first is taken.
        QVERIFY(drop(window, {QUrl::fromLocalFile(testVideo()), QUrl::fromLocalFile(testImage()),
                              QUrl::fromLocalFile(longVideo())}));
        QCOMPARE(labelText(window, "fileLabel"), QString("clip.mp4"));
        QCOMPARE(statusText(window), kVideoLoaded);
        // A remote link is accepted as a drag but changes nothing; text is refused.
        QVERIFY(drop(window, {QUrl("https://example.com/still.png")}));
        QVERIFY(!drop(window, {}, testImage()));
        QCOMPARE(labelText(window, "fileLabel"), QString("clip.mp4"));
        QCOMPARE(statusText(window), kVideoLoaded);
    }

private:
    WindowTestEnvironment env;
};

QTEST_MAIN(MainWindowMediaTest)
#include "mainwindow_media_test.moc"
