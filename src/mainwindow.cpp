#include "mainwindow.h"

#include "camera_registration.h"
#include "camera_registration_watcher.h"
#include "clickableslider.h"
#include "instance_activation.h"
#include "previewwidget.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <filesystem>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX // keep std::min and std::max usable
#endif
#include <windows.h>

// Registered under the same name by every instance; a later start
// broadcasts it to bring this window forward.
static const UINT WM_VIDLOOM_ACTIVATE = RegisterWindowMessageW(L"Vidloom_Activate");

static const char kMissingLibraryText[] = "softcam.dll not found. Place it next to Vidloom.exe";
static const char kPlatformName[] = "Windows";
static const char kAllFilesFilter[] = "All files (*.*)";
#else
static const char kMissingLibraryText[] = "libvidloomcam.so not found. Place it next to vidloom";
static const char kPlatformName[] = "Linux";
// "*.*" would hide files without an extension outside Windows.
static const char kAllFilesFilter[] = "All files (*)";
#endif

namespace {

constexpr float kCameraFps = 30.0f;
constexpr int kMinSide = 64;
constexpr int kMaxSide = 7680;
constexpr double kSeekArrivalTolerance = 0.5;
const char kDefaultResolution[] = "1280x720";
const char kWebSite[] = "https://github.com/vidloom/vidloom";

std::filesystem::path toNativePath(const QString &path)
{
    return QFileInfo(path).filesystemFilePath();
}

int clampSide(int side)
{
    if (side < kMinSide)
        return kMinSide;
    if (side > kMaxSide)
        return kMaxSide;
    return side / 4 * 4;
}

// Slider units (thousandths) for a position; safe for any double.
int sliderValueFor(double position, double duration)
{
    const double value = position / duration * 1000.0;
    if (!(value > 0.0))
        return 0;
    return static_cast<int>(std::min(value, 1000.0));
}

} // namespace

QString formatTime(double seconds)
{
    // NaN fails both comparisons and so reads as 0.
    const int total = (seconds >= 0.0 && seconds < 2147483648.0) ? static_cast<int>(seconds) : 0;
    return QString("%1:%2").arg(total / 60).arg(total % 60, 2, 10, QChar('0'));
}

QString MainWindow::settingsFilePath()
{
#ifdef _WIN32
    return QCoreApplication::applicationDirPath() + "/vidloom.ini";
#else
    // Per user and where Linux desktops keep configuration: ~/.config/Vidloom
    // (or $XDG_CONFIG_HOME/Vidloom). The executable's folder is usually
    // read-only here and shared by all users.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return dir + "/vidloom.ini";
#endif
}

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
{
    QDir().mkpath(QFileInfo(settingsFilePath()).absolutePath());
    settings = new QSettings(settingsFilePath(), QSettings::IniFormat, this);

    setWindowTitle(QString("Vidloom v%1").arg(QCoreApplication::applicationVersion()));
    setMinimumSize(580, 480);
    setAcceptDrops(true);
    setWindowIcon(QIcon(":/icons/vidloom.svg"));
    setStyleSheet(
        "QPushButton { padding: 6px 14px; icon-size: 16px; }"
        "QGroupBox { font-weight: bold; padding-top: 16px; margin-top: 8px; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 6px; }"
        "QComboBox { padding: 4px 8px; combobox-popup: 0; }"
        "QCheckBox { spacing: 5px; }");

    // Menus
    QMenu *fileMenu = menuBar()->addMenu("&File");
    QAction *openAction = fileMenu->addAction("&Open media...");
    openAction->setShortcut(QKeySequence::Open);
    connect(openAction, &QAction::triggered, this, &MainWindow::onOpenFile);
    fileMenu->addSeparator();
    QAction *quitAction = fileMenu->addAction("&Quit");
    quitAction->setShortcut(QKeySequence::Quit);
    connect(quitAction, &QAction::triggered, this, &MainWindow::onQuit);

    QMenu *settingsMenu = menuBar()->addMenu("&Settings");
    minimizeToTrayAction = settingsMenu->addAction("Minimize to tray on close");
    minimizeToTrayAction->setObjectName("minimizeToTrayAction");
    minimizeToTrayAction->setCheckable(true);
    // Checked before it is connected, so restoring it writes nothing back.
    minimizeToTrayAction->setChecked(settings->value("minimizeToTray", true).toBool());
    connect(minimizeToTrayAction, &QAction::toggled, this, [this](bool checked) {
        settings->setValue("minimizeToTray", checked);
    });

    QMenu *helpMenu = menuBar()->addMenu("&?");
    QAction *aboutAction = helpMenu->addAction("&About Vidloom");
    connect(aboutAction, &QAction::triggered, this, [this] {
        QMessageBox::about(
            this, "About Vidloom",
            QString("<h3>Vidloom v%1</h3><p>Virtual camera application for ")
                + kPlatformName
                + QString(".</p>"
                    "<p>Stream a video or image as a webcam feed in any application "
                    "(Telegram, Zoom, Skype, etc.).</p><p><b>How to use:</b></p><ol>"
                    "<li>Click <b>Register</b> (once, requires admin)</li>"
                    "<li>Open a video or image file</li>"
                    "<li>Press <b>Play</b> to start streaming</li>"
                    "<li>Select <b>Vidloom</b> as your camera in any app</li></ol>")
                    .arg(QCoreApplication::applicationVersion(), qVersion())
                + QString("<p><a href=\"%1\">%1</a></p>").arg(kWebSite) + QString(""));
    });

    // Central area: preview, transport row, then source and camera groups.
    auto *central = new QWidget;
    setCentralWidget(central);
    auto *mainLayout = new QVBoxLayout(central);
    mainLayout->setContentsMargins(10, 6, 10, 6);
    mainLayout->setSpacing(6);

    preview = new PreviewWidget;
    preview->setObjectName("preview");
    mainLayout->addWidget(preview, 1);

    auto *transportRow = new QHBoxLayout;
    transportRow->setSpacing(6);
    playButton = new QPushButton(QIcon(":/icons/play.svg"), " Play");
    playButton->setObjectName("playButton");
    playButton->setMinimumWidth(90);
    QFont playFont = playButton->font();
    playFont.setWeight(QFont::Bold);
    playButton->setFont(playFont);
    stopButton = new QPushButton(QIcon(":/icons/stop.svg"), " Stop");
    stopButton->setObjectName("stopButton");
    seekSlider = new ClickableSlider(Qt::Horizontal);
    seekSlider->setObjectName("seekSlider");
    seekSlider->setRange(0, 1000);
    seekSlider->setEnabled(false);
    seekSlider->setTracking(true);
    timeLabel = new QLabel("0:00 / 0:00");
    timeLabel->setObjectName("timeLabel");
    timeLabel->setFixedWidth(90);
    timeLabel->setAlignment(Qt::AlignCenter);
    transportRow->addWidget(playButton);
    transportRow->addWidget(stopButton);
    transportRow->addWidget(seekSlider, 1);
    transportRow->addWidget(timeLabel);
    mainLayout->addLayout(transportRow);

    auto *lowerRow = new QHBoxLayout;
    lowerRow->setSpacing(10);

    auto *sourceGroup = new QGroupBox("Source");
    auto *sourceLayout = new QVBoxLayout(sourceGroup);
    sourceLayout->setSpacing(8);
    auto *fileRow = new QHBoxLayout;
    openButton = new QPushButton(QIcon(":/icons/open.svg"), " Open media...");
    openButton->setObjectName("openButton");
    fileLabel = new QLabel("No file selected");
    fileLabel->setObjectName("fileLabel");
    fileLabel->setStyleSheet("color: #888;");
    fileRow->addWidget(openButton);
    fileRow->addWidget(fileLabel, 1);
    sourceLayout->addLayout(fileRow);

    auto *optionsRow = new QHBoxLayout;
    optionsRow->setSpacing(10);
    resolutionCombo = new QComboBox;
    resolutionCombo->setObjectName("resolutionCombo");
    resolutionCombo->setEditable(true);
    resolutionCombo->addItems({"640x480", "1280x720", "1920x1080", "3840x2160"});
    resolutionCombo->setCurrentIndex(1);
    resolutionCombo->setValidator(
        new QRegularExpressionValidator(QRegularExpression("\\d{2,5}x\\d{2,5}"), resolutionCombo));
    loopCheck = new QCheckBox("Loop");
    loopCheck->setObjectName("loopCheck");
    loopCheck->setChecked(true);
    stretchCheck = new QCheckBox("Stretch");
    stretchCheck->setObjectName("stretchCheck");
    optionsRow->addWidget(new QLabel("Resolution:"));
    optionsRow->addWidget(resolutionCombo);
    optionsRow->addWidget(loopCheck);
    optionsRow->addWidget(stretchCheck);
    optionsRow->addStretch();
    sourceLayout->addLayout(optionsRow);
    lowerRow->addWidget(sourceGroup, 1);

    auto *cameraGroup = new QGroupBox("Virtual Camera");
    auto *cameraLayout = new QVBoxLayout(cameraGroup);
    cameraLayout->setSpacing(8);
    auto *registerRow = new QHBoxLayout;
    registerButton = new QPushButton(QIcon(":/icons/register.svg"), " Register");
    registerButton->setObjectName("registerButton");
    unregisterButton = new QPushButton(QIcon(":/icons/unregister.svg"), " Unregister");
    unregisterButton->setObjectName("unregisterButton");
    registerRow->addWidget(registerButton);
    registerRow->addWidget(unregisterButton);
    registerRow->addStretch();
    cameraLayout->addLayout(registerRow);
    auto *registerStatusRow = new QHBoxLayout;
    registerStatusLabel = new QLabel;
    registerStatusLabel->setObjectName("registerStatusLabel");
    registerStatusLabel->setTextFormat(Qt::RichText);
    registerStatusRow->addWidget(new QLabel("Status:"));
    registerStatusRow->addWidget(registerStatusLabel);
    registerStatusRow->addStretch();
    cameraLayout->addLayout(registerStatusRow);
    lowerRow->addWidget(cameraGroup);

    mainLayout->addLayout(lowerRow);

    // Status bar
    statusBar()->setStyleSheet("QStatusBar { background: #f0f0f0; border-top: 1px solid #ccc; padding: 4px 8px; }"
                               "QStatusBar::item { border: none; }"
                               "QLabel { padding: 2px 6px; }");
    statusBar()->setFixedHeight(28);
    statusLabel = new QLabel("Ready.");
    statusLabel->setObjectName("statusLabel");
    // It shows the registration helper's words too: never as markup, and
    // cut off at the window's edge rather than widening the window.
    statusLabel->setTextFormat(Qt::PlainText);
    statusLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    connectionLabel = new QLabel;
    connectionLabel->setObjectName("connectionLabel");
    statusBar()->addWidget(statusLabel, 1);
    statusBar()->addPermanentWidget(connectionLabel, 0);

    connect(openButton, &QPushButton::clicked, this, &MainWindow::onOpenFile);
    connect(playButton, &QPushButton::clicked, this, &MainWindow::onPlayPause);
    connect(stopButton, &QPushButton::clicked, this, &MainWindow::onStop);
    connect(registerButton, &QPushButton::clicked, this, &MainWindow::onRegister);
    connect(unregisterButton, &QPushButton::clicked, this, &MainWindow::onUnregister);
    connect(loopCheck, &QCheckBox::toggled, this, [this](bool on) {
        frameSender.loop.store(on);
    });
    connect(stretchCheck, &QCheckBox::toggled, this, [this](bool on) {
        frameSender.stretch.store(on);
        preview->setStretch(on);
    });
    connect(seekSlider, &QSlider::sliderPressed, this, [this] {
        sliderDragging = true;
    });
    connect(seekSlider, &QSlider::sliderReleased, this, [this] {
        sliderDragging = false;
        const double d = knownDuration();
        if (d <= 0.0)
            return;
        seekTarget = seekSlider->value() / 1000.0 * d;
        if (frameSender.running)
            frameSender.SeekTo(seekTarget);
    });
    connect(seekSlider, &QSlider::valueChanged, this, [this](int value) {
        const double d = knownDuration();
        if (d <= 0.0)
            return;
        // While streaming, only the user's own drag or click shows here;
        // the ticker's moves are not echoed.
        if (!sliderDragging && frameSender.running)
            return;
        timeLabel->setText(QString("%1 / %2").arg(formatTime(value / 1000.0 * d), formatTime(d)));
    });

    auto *playShortcut = new QShortcut(QKeySequence(Qt::Key_Space), this);
    playShortcut->setContext(Qt::WindowShortcut);
    connect(playShortcut, SIGNAL(activated()), this, SLOT(onPlayPause()));

    timer = new QTimer(this);
    timer->setObjectName("timer");
    connect(timer, &QTimer::timeout, this, &MainWindow::onTimerTick);
    timer->start(200);

    setupTrayIcon();
    imageLoader.Initialize();
    if (!initCamera())
        statusLabel->setText(kMissingLibraryText);
    updateRegisterButtons();
    connect(new CameraRegistrationWatcher(this), &CameraRegistrationWatcher::changed, this,
            &MainWindow::updateRegisterButtons);
    // Stop starts out disabled, as it is whenever nothing streams.
    updatePlayButton();
    loadSettings();
}

MainWindow::~MainWindow()
{
    // A helper still waiting for the password outlives the window rather
    // than making it wait.
    if (registrationProcess) {
        registrationProcess->disconnect();
        registrationProcess->setParent(nullptr);
    }
    frameSender.Stop();
    frameSender.ShutdownCamera();
    videoDecoder.Close();
}

// ---- Media selection and preview ----

void MainWindow::onOpenFile()
{
    const QString startDir = currentFile.isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)
        : QFileInfo(currentFile).absolutePath();
    const QString filter =
        QString("All supported files (*.mp4 *.avi *.wmv *.mkv *.mov *.jpg *.jpeg *.png *.bmp *.gif);;"
                "Videos (*.mp4 *.avi *.wmv *.mkv *.mov);;"
                "Images (*.jpg *.jpeg *.png *.bmp *.gif);;")
        + kAllFilesFilter;
    const QString path = QFileDialog::getOpenFileName(this, "Open File", startDir, filter);
    if (!path.isEmpty())
        loadFile(path);
}

void MainWindow::loadFile(const QString &path)
{
    const bool wasPlaying = frameSender.running && !frameSender.paused;
    onStop();

    currentFile = path;
    isVideo = isVideoFile(path);
    fileLabel->setText(QFileInfo(path).fileName());
    fileLabel->setStyleSheet(QString());
    seekTarget = -1.0;
    showPreview();
    settings->setValue("lastFile", currentFile);

    if (wasPlaying) {
        onPlayPause();
        return;
    }
    statusLabel->setText(isVideo ? "Video loaded. Press Play to stream." : "Image loaded. Press Play to stream.");
}

bool MainWindow::isVideoFile(const QString &path)
{
    static const QStringList videoSuffixes = {"mp4", "avi", "wmv", "mkv", "mov"};
    return videoSuffixes.contains(QFileInfo(path).suffix().toLower());
}

void MainWindow::showPreview()
{
    if (currentFile.isEmpty())
        return;
    const std::filesystem::path path = toNativePath(currentFile);

    // Short-lived sources of their own: the window's decoder and loader
    // belong to the stream.
    if (isVideo) {
        VideoDecoder decoder;
        if (!decoder.Open(path))
            return;
        if (decoder.ReadFrame(previewFrame)) {
            previewWidth = static_cast<int>(decoder.width);
            previewHeight = static_cast<int>(decoder.height);
            duration = decoder.duration;
            preview->setFrame(previewFrame.data(), previewWidth, previewHeight);
            seekSlider->setEnabled(true);
            seekSlider->setValue(0);
            timeLabel->setText(QString("0:00 / %1").arg(formatTime(duration)));
        }
        decoder.Close();
        return;
    }

    ImageLoader loader;
    if (!loader.Initialize() || !loader.LoadImageW(path, 0, 0)
        || loader.pixels.size() < size_t(loader.width) * loader.height * 3)
        return;
    previewWidth = static_cast<int>(loader.width);
    previewHeight = static_cast<int>(loader.height);
    previewFrame.assign(loader.pixels.begin(), loader.pixels.begin() + size_t(previewWidth) * previewHeight * 3);
    preview->setFrame(previewFrame.data(), previewWidth, previewHeight);
    duration = 0.0;
    seekSlider->setEnabled(false);
    seekSlider->setValue(0);
    timeLabel->setText("Image");
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty())
        return;
    const QString path = urls.first().toLocalFile();
    if (!path.isEmpty())
        loadFile(path);
}

// ---- Streaming control ----

void MainWindow::onPlayPause()
{
    if (frameSender.running && !frameSender.paused) {
        frameSender.Pause();
        updatePlayButton();
        statusLabel->setText("Paused.");
        return;
    }
    if (frameSender.running) {
        frameSender.Resume();
        updatePlayButton();
        statusLabel->setText("Resuming...");
        return;
    }
    if (currentFile.isEmpty()) {
        statusLabel->setText("Open a file first.");
        return;
    }
    if (!isSoftcamRegistered()) {
        statusLabel->setText("Register the camera first.");
        return;
    }

    int width, height;
    getSelectedResolution(width, height);
    if (!frameSender.InitCamera(width, height, kCameraFps)) {
        statusLabel->setText("Failed to create virtual camera.");
        return;
    }

    // Runs on the worker thread: the preview copies the frame under its
    // own lock and repaints later on this thread.
    frameSender.onFrame = [this](const unsigned char *pixels, int width, int height) {
        preview->setFrame(pixels, width, height);
    };
    frameSender.onFinished = [this] {
        QMetaObject::invokeMethod(this, "onPlaybackFinished", Qt::QueuedConnection);
    };

    const std::filesystem::path path = toNativePath(currentFile);
    if (isVideo) {
        if (!videoDecoder.Open(path)) {
            statusLabel->setText("Failed to open video.");
            seekTarget = -1.0;
            return;
        }
        frameSender.StartVideo(&videoDecoder, loopCheck->isChecked());
        if (seekSlider->value() > 0 && videoDecoder.duration > 0.0) {
            seekTarget = seekSlider->value() / 1000.0 * videoDecoder.duration;
            frameSender.SeekTo(seekTarget);
        }
    } else {
        if (!imageLoader.LoadImageW(path, 0, 0)) {
            statusLabel->setText("Failed to load image.");
            return;
        }
        frameSender.StartImage(imageLoader.pixels.data(), static_cast<int>(imageLoader.width),
                               static_cast<int>(imageLoader.height));
    }

    updatePlayButton();
    statusLabel->setText("Streaming...");
}

void MainWindow::onStop()
{
    frameSender.Stop();
    frameSender.ShutdownCamera();
    videoDecoder.Close();

    if (!previewFrame.empty())
        preview->setFrame(previewFrame.data(), previewWidth, previewHeight);
    else
        preview->clear();
    seekSlider->setValue(0);
    seekTarget = -1.0;
    connectionLabel->setText(QString());
    trayIcon->setIcon(QIcon(":/icons/vidloom.svg"));
    trayIcon->setToolTip("Vidloom");
    updatePlayButton();
    statusLabel->setText(currentFile.isEmpty() ? "Ready." : "Stopped.");
}

void MainWindow::onPlaybackFinished()
{
    // Posted by a stream that ended by itself. If the user has started a
    // new one since, that stream is not the one that finished.
    if (frameSender.running)
        return;
    onStop();
    statusLabel->setText("Playback finished.");
}

void MainWindow::updatePlayButton()
{
    const bool running = frameSender.running;
    const bool playing = running && !frameSender.paused;
    playButton->setIcon(QIcon(playing ? ":/icons/pause.svg" : ":/icons/play.svg"));
    playButton->setText(playing ? " Pause" : " Play");
    if (trayPlayAction)
        trayPlayAction->setText(playing ? "Pause" : "Play");
    stopButton->setEnabled(running);
    resolutionCombo->setEnabled(!running);
}

void MainWindow::getSelectedResolution(int &width, int &height)
{
    const QStringList parts =
        resolutionCombo->currentText().trimmed().split('x', Qt::SkipEmptyParts, Qt::CaseSensitive);
    if (parts.size() == 2) {
        bool widthOk = false, heightOk = false;
        const int w = parts[0].trimmed().toInt(&widthOk, 10);
        const int h = parts[1].trimmed().toInt(&heightOk, 10);
        if (widthOk && heightOk) {
            width = clampSide(w);
            height = clampSide(h);
            return;
        }
    }
    width = 1280;
    height = 720;
    resolutionCombo->setCurrentText(kDefaultResolution);
}

bool MainWindow::initCamera()
{
    int width, height;
    getSelectedResolution(width, height);
    if (!frameSender.InitCamera(width, height, kCameraFps))
        return false;
    frameSender.ShutdownCamera();
    statusLabel->setText("Ready.");
    return true;
}

// ---- Status ticker and seeking ----

double MainWindow::knownDuration() const
{
    if (duration > 0.0)
        return duration;
    const double streamed = frameSender.duration;
    return streamed > 0.0 ? streamed : 0.0;
}

void MainWindow::onTimerTick()
{
    if (!frameSender.running)
        return;
    const double p = frameSender.position;
    const double d = frameSender.duration;

    if (isVideo && d > 0.0) {
        if (!sliderDragging) {
            if (seekTarget >= 0.0 && p >= seekTarget - kSeekArrivalTolerance)
                seekTarget = -1.0;
            // Until a seek arrives the slider stays where the user put it.
            seekSlider->setValue(sliderValueFor(seekTarget >= 0.0 ? seekTarget : p, d));
        }
        timeLabel->setText(
            QString("%1 / %2").arg(formatTime(seekTarget >= 0.0 ? seekTarget : p), formatTime(d)));
    }

    int width, height;
    getSelectedResolution(width, height);
    statusLabel->setText(QString("%1  |  %2 fps  |  %3x%4")
                             .arg(frameSender.paused ? "Paused" : "Playing")
                             .arg(frameSender.currentFps.load(), 0, 'f', 1)
                             .arg(width)
                             .arg(height));

    const bool connected = frameSender.IsConnected();
    connectionLabel->setStyleSheet(connected ? "color: #2a2; font-weight: bold;" : "color: #d90; font-weight: bold;");
    connectionLabel->setText(connected ? "Connected" : "Waiting for app...");
    // Re-setting an unchanged tray icon makes some trays flicker.
    const QString toolTip = connected ? "Vidloom - Connected" : "Vidloom - Streaming";
    if (trayIcon->toolTip() != toolTip) {
        trayIcon->setIcon(QIcon(connected ? ":/icons/vidloom-connected.svg" : ":/icons/vidloom.svg"));
        trayIcon->setToolTip(toolTip);
    }
}

// ---- Settings ----

void MainWindow::loadSettings()
{
    // A damaged geometry gets the first-start size rather than whatever
    // the window happened to have.
    const QByteArray geometry = settings->value("windowGeometry").toByteArray();
    if (geometry.isEmpty() || !restoreGeometry(geometry))
        resize(780, 600);

    const QString resolution = settings->value("resolution", kDefaultResolution).toString();
    const int index = resolutionCombo->findText(resolution);
    if (index >= 0) {
        resolutionCombo->setCurrentIndex(index);
    } else if (QRegularExpression("^\\d{2,5}x\\d{2,5}$").match(resolution).hasMatch()) {
        resolutionCombo->addItem(resolution);
        resolutionCombo->setCurrentIndex(resolutionCombo->count() - 1);
    }

    loopCheck->setChecked(settings->value("loop", true).toBool());
    stretchCheck->setChecked(settings->value("stretch", false).toBool());

    const QString lastFile = settings->value("lastFile").toString();
    if (!lastFile.isEmpty() && QFileInfo::exists(lastFile))
        loadFile(lastFile);
}

void MainWindow::saveSettings()
{
    settings->setValue("windowGeometry", saveGeometry());
    settings->setValue("resolution", resolutionCombo->currentText());
    settings->setValue("loop", loopCheck->isChecked());
    settings->setValue("stretch", stretchCheck->isChecked());
    settings->setValue("lastFile", currentFile);
}

// ---- Tray icon and window lifecycle ----

void MainWindow::setupTrayIcon()
{
    trayIcon = new QSystemTrayIcon(QIcon(":/icons/vidloom.svg"), this);
    trayIcon->setObjectName("trayIcon");
    trayMenu = new QMenu(this);
    trayMenu->setObjectName("trayMenu");

    connect(trayMenu->addAction("Show Vidloom"), &QAction::triggered, this, &MainWindow::showFromTray);
    trayMenu->addSeparator();
    connect(trayMenu->addAction("Open media..."), &QAction::triggered, this, &MainWindow::onOpenFile);
    trayPlayAction = trayMenu->addAction("Play");
    connect(trayPlayAction, &QAction::triggered, this, &MainWindow::onPlayPause);
    connect(trayMenu->addAction("Stop"), &QAction::triggered, this, &MainWindow::onStop);
    trayMenu->addSeparator();
    connect(trayMenu->addAction("Quit"), &QAction::triggered, this, [this] {
        quitting = true;
        frameSender.Stop();
        frameSender.ShutdownCamera();
        videoDecoder.Close();
        trayIcon->hide();
        QCoreApplication::quit();
    });

    trayIcon->setContextMenu(trayMenu);
    trayIcon->setToolTip("Vidloom");
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::onTrayActivated);
    trayIcon->show();
}

void MainWindow::showFromTray()
{
    showNormal();
    activateWindow();
    raise();
}

void MainWindow::onTrayActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::DoubleClick)
        showFromTray();
}

void MainWindow::onQuit()
{
    quitting = true;
    close();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!quitting && minimizeToTrayAction->isChecked()) {
        // The stream goes on without the window. Where no tray exists a
        // hidden window could not be found again, so it goes to the task
        // bar instead.
        if (QSystemTrayIcon::isSystemTrayAvailable())
            hide();
        else
            showMinimized();
        event->ignore();
        return;
    }

    saveSettings();
    frameSender.Stop();
    frameSender.ShutdownCamera();
    videoDecoder.Close();
    trayIcon->hide();
    event->accept();
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
}

bool MainWindow::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
#ifdef _WIN32
    if (static_cast<MSG *>(message)->message == WM_VIDLOOM_ACTIVATE) {
        InstanceActivation::bringToFront(this);
        return true;
    }
#endif
    return QMainWindow::nativeEvent(eventType, message, result);
}

// ---- Camera registration ----

bool MainWindow::isSoftcamRegistered()
{
    return camera_registration::IsRegistered();
}

void MainWindow::onRegister()
{
    runRegistration(false);
}

void MainWindow::onUnregister()
{
    // The worker must be gone and the camera released before the device
    // goes away.
    onStop();
    runRegistration(true);
}

// Linux runs the helper without waiting for it: the polkit dialog may stay
// open for as long as the user likes, and the window keeps working. Windows
// keeps waiting for regsvr32.
void MainWindow::runRegistration(bool unregister)
{
    statusLabel->setText(unregister ? "Unregistering..." : "Registering...");
#ifdef _WIN32
    QCoreApplication::processEvents();
    finishRegistration(unregister, camera_registration::RunTool(unregister) ? 0 : 1, QString());
#else
    std::string reason;
    const std::optional<camera_registration::Command> command = camera_registration::ToolCommand(unregister, reason);
    if (!command) {
        finishRegistration(unregister, -1, QString::fromStdString(reason));
        return;
    }
    registrationProcess = new QProcess(this);
    QProcess *process = registrationProcess;
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->setStandardOutputFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this, [this, process, unregister](int code, QProcess::ExitStatus status) {
        const std::string err = process->readAllStandardError().toStdString();
        registrationProcess = nullptr;
        process->deleteLater();
        finishRegistration(unregister, status == QProcess::NormalExit ? code : -1,
                           QString::fromStdString(camera_registration::FailureReason(err)));
    });
    connect(process, &QProcess::errorOccurred, this, [this, process, unregister](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        registrationProcess = nullptr;
        process->deleteLater();
        finishRegistration(unregister, -1, "The camera helper could not be started.");
    });
    QStringList arguments;
    for (const std::string &argument : command->arguments)
        arguments << QString::fromStdString(argument);
    process->start(QString::fromStdString(command->program), arguments);
    updateRegisterButtons();
#endif
}

void MainWindow::finishRegistration(bool unregister, int exitCode, const QString &reason)
{
    using camera_registration::Outcome;
    switch (camera_registration::OutcomeOf(exitCode)) {
    case Outcome::Succeeded:
        statusLabel->setText(unregister ? "Camera unregistered." : "Camera registered!");
        break;
    case Outcome::Cancelled:
        statusLabel->setText(unregister ? "Unregistration cancelled." : "Registration cancelled.");
        break;
    case Outcome::Failed: {
        const QString failed = unregister ? "Failed." : "Registration failed.";
        statusLabel->setText(reason.isEmpty() ? failed : failed + " " + reason);
        break;
    }
    }
    updateRegisterButtons();
}

// The state always comes from the system, never from the tool's exit code;
// while a tool runs, neither button starts another.
void MainWindow::updateRegisterButtons()
{
    const bool registered = isSoftcamRegistered();
    const bool busy = registrationProcess != nullptr;
    registerButton->setEnabled(!registered && !busy);
    unregisterButton->setEnabled(registered && !busy);
    playButton->setEnabled(registered);
    if (trayPlayAction)
        trayPlayAction->setEnabled(registered);
    registerStatusLabel->setText(registered
                                     ? QString::fromUtf8("<span style='color: #2a2;font-weight:bold;'>✓ Registered</span>")
                                     : QString::fromUtf8("<span style='color: #888;'>✗ Not registered</span>"));
}
