// Taking a media file: the preview, the slider and time label, the loaded
// texts, "lastFile", bad files, extensions, and drag and drop.
#include "mainwindow_test_support.h"

#include <QLabel>
#include <QSlider>
#include <QSettings>


class MainWindowMediaTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        setApplicationIdentity();
        QVERIFY(env.ok());
        env.setRegistered(true);
    }
    void init() { env.clearSettings(); }

    void videoThenImageThenVideo()
    {
        MainWindow window;
        window.show();
        auto *slider = part<QSlider>(&window, "seekSlider");
        auto *time = part<QLabel>(&window, "timeLabel");
        auto *fileLabel = part<QLabel>(&window, "fileLabel");
        const QImage blank = previewImage(window);

        load(window, longVideo());
        QVERIFY(slider->isEnabled());
        QCOMPARE(slider->value(), 0);
        QCOMPARE(time->text(), QString("0:00 / 2:05"));
        QCOMPARE(statusText(window), QString("Video loaded. Press Play to stream."));
        QCOMPARE(fileLabel->text(), QString("long.mkv"));
        QCOMPARE(fileLabel->styleSheet(), QString());
        const QImage firstFrame = previewImage(window);
        QVERIFY(firstFrame != blank);

        load(window, testImage());
        QVERIFY(!slider->isEnabled());
        QCOMPARE(slider->value(), 0);
        QCOMPARE(time->text(), QString("Image"));
        QCOMPARE(statusText(window), QString("Image loaded. Press Play to stream."));
        QCOMPARE(fileLabel->text(), QString("still.png"));
        QVERIFY(previewImage(window) != firstFrame);

        load(window, testVideo());
        QVERIFY(slider->isEnabled());
        QCOMPARE(time->text(), QString("0:00 / 0:02"));
    }

    void lastFileIsWrittenAtOnce()
    {
        MainWindow window;
        const QString path = testImage();
        load(window, path);
        // On disk as soon as the event loop has had a turn, not at exit.
        QTRY_VERIFY_WITH_TIMEOUT(env.settingsOnDisk().contains("lastFile="), 10000);
        QCOMPARE(QSettings(MainWindow::settingsFilePath(), QSettings::IniFormat).value("lastFile").toString(), path);
    }

    // Whatever the file holds, the window takes it: the name and the loaded
    // text change, "lastFile" follows, and the preview, slider and time
    // label keep the last good file's.
    void unreadableFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("status");
        const QString videoText = "Video loaded. Press Play to stream.";
        const QString imageText = "Image loaded. Press Play to stream.";
        QFile png(testImage());
        QVERIFY(png.open(QIODevice::ReadOnly));
        const QByteArray pngBytes = png.readAll();
        QFile mp4(testVideo());
        QVERIFY(mp4.open(QIODevice::ReadOnly));
        const QByteArray mp4Bytes = mp4.readAll();

        QTest::newRow("empty video") << writeFile("empty.mp4", "") << videoText;
        QTest::newRow("garbage video") << writeFile("garbage.avi", QByteArray(4096, '\x5a')) << videoText;
        QTest::newRow("truncated video") << writeFile("truncated.mp4", mp4Bytes.left(700)) << videoText;
        QTest::newRow("text named as video") << writeFile("notes.mov", QByteArray("not a video\n").repeated(300)) << videoText;
        QTest::newRow("empty image") << writeFile("empty.png", "") << imageText;
        QTest::newRow("truncated image") << writeFile("truncated.png", pngBytes.left(60)) << imageText;
        QTest::newRow("video named as image") << writeFile("clip.jpg", mp4Bytes) << imageText;
        QTest::newRow("missing file") << QString(missingPath()) << imageText;
    }
    void unreadableFiles()
    {
        QFETCH(QString, path);
        QFETCH(QString, status);
        MainWindow window;
        window.show();
        load(window, longVideo());
        const QImage before = previewImage(window);

        load(window, path);
        QCOMPARE(statusText(window), status);
        QCOMPARE(part<QLabel>(&window, "fileLabel")->text(), QFileInfo(path).fileName());
        QCOMPARE(previewImage(window), before);
        QVERIFY(part<QSlider>(&window, "seekSlider")->isEnabled());
        QCOMPARE(part<QLabel>(&window, "timeLabel")->text(), QString("0:00 / 2:05"));
        QCOMPARE(QSettings(MainWindow::settingsFilePath(), QSettings::IniFormat).value("lastFile").toString(), path);
    }

    void extensionsDecideVideoOrImage_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("video");
        QTest::newRow("MP4") << "CLIP.MP4" << true;
        QTest::newRow("Mov") << "clip.Mov" << true;
        QTest::newRow("wmv") << "clip.wmv" << true;
        QTest::newRow("mkv") << "clip.mkv" << true;
        QTest::newRow("AVI") << "clip.AVI" << true;
        QTest::newRow("webm") << "clip.webm" << false;
        QTest::newRow("no extension") << "movie" << false;
        QTest::newRow("backup") << "archive.mp4.bak" << false;
    }
    void extensionsDecideVideoOrImage()
    {
        QFETCH(QString, name);
        QFETCH(bool, video);
        MainWindow window;
        load(window, writeFile(name.toUtf8().constData(), "not really media"));
        QCOMPARE(statusText(window), video ? QString("Video loaded. Press Play to stream.")
                                           : QString("Image loaded. Press Play to stream."));
    }

    void drops()
    {
        MainWindow window;
        const QString first = testImage();
        const QString second = testVideo();

        // Three files: the first is taken, the rest ignored.
        QVERIFY(drop(window, urls({QUrl::fromLocalFile(first), QUrl::fromLocalFile(second),
                                   QUrl::fromLocalFile(longVideo())})));
        QCOMPARE(part<QLabel>(&window, "fileLabel")->text(), QString("still.png"));
        QCOMPARE(statusText(window), QString("Image loaded. Press Play to stream."));

        // A link that is not a local file is accepted as a drag but changes
        // nothing.
        QVERIFY(drop(window, urls({QUrl("https://example.com/clip.mp4")})));
        QCOMPARE(part<QLabel>(&window, "fileLabel")->text(), QString("still.png"));
        QCOMPARE(statusText(window), QString("Image loaded. Press Play to stream."));

        // Plain text is refused at once.
        auto *text = new QMimeData;
        text->setText(second);
        QVERIFY(!drop(window, text));
        QCOMPARE(part<QLabel>(&window, "fileLabel")->text(), QString("still.png"));
    }

    void lastFileComesBackAtStart()
    {
        const QString path = longVideo();
        QSettings(MainWindow::settingsFilePath(), QSettings::IniFormat).setValue("lastFile", path);
        MainWindow window;
        QCOMPARE(part<QLabel>(&window, "fileLabel")->text(), QString("long.mkv"));
        QCOMPARE(part<QLabel>(&window, "timeLabel")->text(), QString("0:00 / 2:05"));
        QCOMPARE(statusText(window), QString("Video loaded. Press Play to stream."));
    }

    void deletedLastFileIsIgnored()
    {
        const QString gone = mediaDir() + "/deleted.mp4";
        QSettings(MainWindow::settingsFilePath(), QSettings::IniFormat).setValue("lastFile", gone);
        MainWindow window;
        QCOMPARE(part<QLabel>(&window, "fileLabel")->text(), QString("No file selected"));
        QCOMPARE(statusText(window), QString("Ready."));
        QCOMPARE(QSettings(MainWindow::settingsFilePath(), QSettings::IniFormat).value("lastFile").toString(), gone);
    }

private:
    static QString mediaDir() { return QFileInfo(testImage()).absolutePath(); }
    static QString missingPath() { return mediaDir() + "/no-such-file.png"; }
    WindowTestEnvironment env;
};

QTEST_MAIN(MainWindowMediaTest)
#include "mainwindow_media_test.moc"
