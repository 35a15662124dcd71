#include "mainwindow.h"

#include "camera_registration.h"
#include "camera_registration_watcher.h"
#include "clickableslider.h"
#include "instance_activation.h"
#include "media_types.h"
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
#include <QKeyEvent>
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

static const char kMissingLibraryText[] = "softcam.dll not found. Place it next to Vidloom.exe";
static const char kPlatformName[] = "Windows";
#else
static const char kMissingLibraryText[] = "libvidloomcam.so not found. Place it next to vidloom";
static const char kPlatformName[] = "Linux";
#endif

namespace {

constexpr int kMinSide = 64;
constexpr int kMaxSide = 7680;
constexpr double kSeekArrivalTolerance = 0.5;
constexpr double kKeySeekSeconds = 5.0;
const char kDefaultResolution[] = "1280x720";
const char kWebSite[] = "https://github.com/vidloom/vidloom";

std::filesystem::path toNativePath(const QString &path)
{
    return QFileInfo(path).filesystemFilePath();
}

// Slider units (thousandths) for a position; safe for any double.
int sliderValueFor(double position, double duration)
{
    const double value = position / duration * 1000.0;
    if (!(value > 0.0))
        return 0;
    return static_cast<int>(std::min(value, 1000.0));
}

// Why the stream's frames have not reached the camera for a while, or
// empty while they do.
QString sendProblemText(const FrameSender &sender)
{
    int width = 0, height = 0;
    switch (sender.CurrentSendProblem(width, height)) {
    case FrameSender::SendProblem::None:
        return {};
    case FrameSender::SendProblem::NotRegistered:
        return "Camera not registered";
    case FrameSender::SendProblem::Busy:
        return "Camera busy: another program uses it";
    case FrameSender::SendProblem::OtherSize:
        return QString("Camera busy: another program holds it at %1x%2").arg(width).arg(height);
    case FrameSender::SendProblem::NoPermission:
        return "Camera not accessible: no permission";
    case FrameSender::SendProblem::Refused:
        break;
    }
    return "Camera refused the video";
}

} // namespace

QString formatTime(double seconds)
{
    // NaN fails both comparisons and so reads as 0.
    const int total = (seconds >= 0.0 && seconds < 2147483648.0) ? static_cast<int>(seconds) : 0;
    return QString("%1:%2").arg(total / 60).arg(total % 60, 2, 10, QChar('0'));
}

int MainWindow::clampSide(int side)
{
    if (side < kMinSide)
        return kMinSide;
    if (side > kMaxSide)
        return kMaxSide;
    return side / 4 * 4;
}

QString MainWindow::missingLibraryText()
{
    return kMissingLibraryText;
}

QString MainWindow::aboutText()
{
    // One arg() call on the whole text, so both numbers land in it.
    return (QString("<h3>Vidloom v%1</h3><p>Virtual camera application for ") + kPlatformName
            + ".</p><p>Stream a video or image as a webcam feed in any application "
              "(Telegram, Zoom, Skype, etc.).</p><p><b>How to use:</b></p><ol>"
              "<li>Click <b>Register</b> (once, requires admin)</li>"
              "<li>Open a video or image file</li>"
              "<li>Press <b>Play</b> to start streaming</li>"
              "<li>Select <b>Vidloom</b> as your camera in any app</li></ol>"
              "<p><a href=\"%3\">%3</a></p><p>Built with Qt %2.</p>")
        .arg(QCoreApplication::applicationVersion(), qVersion(), kWebSite);
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

MainWindow::MainWindow(QWidget *parent, bool restoreLastFile)
    : QMainWindow(parent)
{
    QDir().mkpath(QFileInfo(settingsFilePath()).absolutePath());
    settings = new QSettings(settingsFilePath(), QSettings::IniFormat, this);

    setWindowTitle(QString("Vidloom v%1").arg(QCoreApplication::applicationVersion()));
    setMinimumSize(580, 480);
    setAcceptDrops(true);
    setWindowIcon(QIcon(":/icons/vidloom.svg"));
    setStyleSheet("QPushButton { padding: 6px 14px; icon-size: 16px; }"
                  "QGroupBox { font-weight: bold; padding-top: 16px; margin-top: 8px; }"
                  "QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 6px; }"
                  "QComboBox { padding: 4px 8px; combobox-popup: 0; }"
                  "QCheckBox { spacing: 5px; }");

    createMenus();
    createCentralArea();
    createStatusBar();
    connectControls();
    applyPalette();

    timer = new QTimer(this);
    timer->setObjectName("timer");
    connect(timer, &QTimer::timeout, this, &MainWindow::onTimerTick);
    timer->start(200);
    standbyTimer = new QTimer(this);
    standbyTimer->setSingleShot(true);
    standbyTimer->setInterval(300);
    connect(standbyTimer, &QTimer::timeout, this, &MainWindow::updateStandby);
    connect(resolutionCombo, &QComboBox::currentTextChanged, standbyTimer, qOverload<>(&QTimer::start));

    setupTrayIcon();
    imageLoader.Initialize();
    if (!initCamera())
        statusLabel->setText(kMissingLibraryText);
    updateRegisterButtons();
    connect(new CameraRegistrationWatcher(this), &CameraRegistrationWatcher::changed, this,
            &MainWindow::updateRegisterButtons);
    // Stop starts out disabled, as it is whenever nothing streams.
    updatePlayButton();
    loadSettings(restoreLastFile);
}

// A checkable Settings entry whose state lives in the settings file; it is
// checked before it is connected, so restoring it writes nothing back.
static QAction *addSetting(QMenu *menu, QSettings *settings, const char *text, const char *name, const char *key,
                           bool defaultValue)
{
    QAction *action = menu->addAction(text);
    action->setObjectName(name);
    action->setCheckable(true);
    action->setChecked(settings->value(key, defaultValue).toBool());
    QObject::connect(action, &QAction::toggled, settings,
                     [settings, key](bool checked) { settings->setValue(key, checked); });
    return action;
}

void MainWindow::createMenus()
{
    QMenu *fileMenu = menuBar()->addMenu("&File");
    QAction *openAction = fileMenu->addAction("&Open media...");
    openAction->setShortcut(QKeySequence::Open);
    connect(openAction, &QAction::triggered, this, &MainWindow::onOpenFile);
    fileMenu->addSeparator();
    QAction *quitAction = fileMenu->addAction("&Quit");
    quitAction->setShortcut(QKeySequence::Quit);
    connect(quitAction, &QAction::triggered, this, &MainWindow::onQuit);

    QMenu *settingsMenu = menuBar()->addMenu("&Settings");
    minimizeToTrayAction =
        addSetting(settingsMenu, settings, "Minimize to tray on close", "minimizeToTrayAction", "minimizeToTray", true);
    settingsMenu->addSeparator();
    mirrorAction = addSetting(settingsMenu, settings, "Mirror", "mirrorAction", "mirror", true);
    ownSpeedAction =
        addSetting(settingsMenu, settings, "Play at the file's own speed", "ownSpeedAction", "ownSpeed", false);
    cropAction = addSetting(settingsMenu, settings, "Crop to fill", "cropAction", "crop", false);
    frameSender.mirror = mirrorAction->isChecked();
    frameSender.ownSpeed = ownSpeedAction->isChecked();
    frameSender.crop = cropAction->isChecked();
    connect(mirrorAction, &QAction::toggled, this, [this](bool on) { frameSender.mirror = on; });
    connect(ownSpeedAction, &QAction::toggled, this, [this](bool on) { frameSender.ownSpeed = on; });

    QMenu *helpMenu = menuBar()->addMenu("&?");
    QAction *aboutAction = helpMenu->addAction("&About Vidloom");
    connect(aboutAction, &QAction::triggered, this, [this] { QMessageBox::about(this, "About Vidloom", aboutText()); });
}

void MainWindow::createCentralArea()
{
    // Preview, transport row, then source and camera groups.
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
    playButton = new QPushButton(QIcon(":/icons/play.svg"), " &Play");
    playButton->setObjectName("playButton");
    playButton->setMinimumWidth(90);
    QFont playFont = playButton->font();
    playFont.setWeight(QFont::Bold);
    playButton->setFont(playFont);
    stopButton = new QPushButton(QIcon(":/icons/stop.svg"), " S&top");
    stopButton->setObjectName("stopButton");
    seekSlider = new ClickableSlider(Qt::Horizontal);
    seekSlider->setObjectName("seekSlider");
    seekSlider->setRange(0, 1000);
    seekSlider->setEnabled(false);
    seekSlider->setTracking(true);
    seekSlider->setFocusPolicy(Qt::StrongFocus);
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
    openButton = new QPushButton(QIcon(":/icons/open.svg"), " &Open media...");
    openButton->setObjectName("openButton");
    fileLabel = new QLabel("No file selected");
    fileLabel->setObjectName("fileLabel");
    fileLabel->setTextFormat(Qt::PlainText); // file names may look like markup
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
    loopCheck = new QCheckBox("&Loop");
    loopCheck->setObjectName("loopCheck");
    loopCheck->setChecked(true);
    stretchCheck = new QCheckBox("Str&etch");
    stretchCheck->setObjectName("stretchCheck");
    resolutionLabel = new QLabel("Resolutio&n:");
    resolutionLabel->setBuddy(resolutionCombo);
    optionsRow->addWidget(resolutionLabel);
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
    registerButton = new QPushButton(QIcon(":/icons/register.svg"), " &Register");
    registerButton->setObjectName("registerButton");
    unregisterButton = new QPushButton(QIcon(":/icons/unregister.svg"), " &Unregister");
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
}

void MainWindow::createStatusBar()
{
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
}

// The fixed light colours hold on a light palette; on a dark one the status
// bar and the grey file label take the palette's own colours, so the text
// stays readable.
void MainWindow::applyPalette()
{
    const bool dark = palette().color(QPalette::Window).lightness() < 128;
    statusBar()->setStyleSheet(
        QString(
            dark ? "QStatusBar { background: palette(window); border-top: 1px solid palette(mid); padding: 4px 8px; }"
                 : "QStatusBar { background: #f0f0f0; border-top: 1px solid #ccc; padding: 4px 8px; }")
        + "QStatusBar::item { border: none; }QLabel { padding: 2px 6px; }");
    QColor dim = palette().color(QPalette::WindowText);
    dim.setAlpha(150);
    fileLabel->setStyleSheet(!currentFile.isEmpty() ? QString()
                                 : dark             ? QString("color: %1;").arg(dim.name(QColor::HexArgb))
                                                    : QString("color: #888;"));
}

void MainWindow::connectControls()
{
    connect(openButton, &QPushButton::clicked, this, &MainWindow::onOpenFile);
    connect(playButton, &QPushButton::clicked, this, &MainWindow::onPlayPause);
    connect(stopButton, &QPushButton::clicked, this, &MainWindow::onStop);
    connect(registerButton, &QPushButton::clicked, this, &MainWindow::onRegister);
    connect(unregisterButton, &QPushButton::clicked, this, &MainWindow::onUnregister);
    connect(loopCheck, &QCheckBox::toggled, this, [this](bool on) { frameSender.loop.store(on); });
    connect(stretchCheck, &QCheckBox::toggled, this, [this](bool on) {
        frameSender.stretch.store(on);
        preview->setStretch(on);
    });
    // Crop to fill is the third fitting mode and wins over Stretch, whose
    // box is greyed out meanwhile but keeps its own state.
    auto applyCrop = [this](bool on) {
        frameSender.crop = on;
        stretchCheck->setEnabled(!on);
    };
    applyCrop(cropAction->isChecked());
    connect(cropAction, &QAction::toggled, this, applyCrop);
    connect(seekSlider, &QSlider::sliderPressed, this, [this] { sliderDragging = true; });
    connect(seekSlider, &QSlider::sliderReleased, this, [this] {
        sliderDragging = false;
        seekToSeconds(seekSlider->value() / 1000.0 * knownDuration());
    });
    // The slider's own keys (arrows, page keys, Home, End) seek at once,
    // streaming or not; the ticker's moves trigger no action.
    connect(seekSlider, &QSlider::actionTriggered, this, [this](int action) {
        if (action != QAbstractSlider::SliderMove && !sliderDragging)
            seekToSeconds(seekSlider->sliderPosition() / 1000.0 * knownDuration());
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
}

void MainWindow::start(const LaunchOptions &options)
{
    if (options.resolution.isValid()) {
        const QString text = QString("%1x%2").arg(options.resolution.width()).arg(options.resolution.height());
        if (resolutionCombo->findText(text) < 0)
            resolutionCombo->addItem(text);
        resolutionCombo->setCurrentIndex(resolutionCombo->findText(text));
    }
    if (!options.file.isEmpty())
        openRequested(options.file, options.play);
    else if (options.play && !currentFile.isEmpty())
        onPlayPause();
    if (!options.minimized)
        show();
    else if (!QSystemTrayIcon::isSystemTrayAvailable())
        showMinimized();
    else
        inTray = true;
}

bool MainWindow::openRequested(const QString &file, bool play)
{
    if (!loadFile(file))
        return false;
    if (play && !(frameSender.running && !frameSender.paused))
        onPlayPause();
    return true;
}

MainWindow::~MainWindow()
{
    // A helper still waiting for the password outlives the window rather
    // than making it wait.
    if (registrationProcess) {
        registrationProcess->disconnect();
        registrationProcess->setParent(nullptr);
    }
    stopStreaming();
}

void MainWindow::stopStreaming()
{
    frameSender.Stop();
    frameSender.ShutdownCamera();
    videoDecoder.Close();
}

// ---- Media selection and preview ----

void MainWindow::onOpenFile()
{
    const QString startDir = currentFile.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)
                                                   : QFileInfo(currentFile).absolutePath();
    const QString path = QFileDialog::getOpenFileName(this, "Open File", startDir, media_types::dialogFilter());
    if (!path.isEmpty())
        loadFile(path);
}

bool MainWindow::loadFile(const QString &path)
{
    // The first frame is decoded before anything changes: a file that
    // cannot be shown leaves the current one, its stream and the settings
    // as they were. A FIFO, device, socket or folder would block or make no
    // sense, so its type is read first, without opening it.
    const bool video = isVideoFile(path);
    const QFileInfo info(path);
    if ((info.exists() && !info.isFile()) || !showPreview(path, video)) {
        report(video ? "Failed to open video." : "Failed to load image.");
        return false;
    }
    const bool wasPlaying = frameSender.running && !frameSender.paused;
    onStop();

    currentFile = path;
    isVideo = video;
    fileLabel->setText(QFileInfo(path).fileName());
    fileLabel->setStyleSheet(QString());
    seekTarget = -1.0;
    preview->setFrame(previewFrame.data(), previewWidth, previewHeight);
    seekSlider->setEnabled(isVideo);
    seekSlider->setValue(0);
    timeLabel->setText(isVideo ? QString("0:00 / %1").arg(formatTime(duration)) : QString("Image"));
    settings->setValue("lastFile", currentFile);
    updatePlayButton();

    if (wasPlaying) {
        onPlayPause();
        return true;
    }
    statusLabel->setText(isVideo ? "Video loaded. Press Play to stream." : "Image loaded. Press Play to stream.");
    return true;
}

bool MainWindow::isVideoFile(const QString &path)
{
    return media_types::isVideo(path);
}

bool MainWindow::showPreview(const QString &file, bool video)
{
    if (!QFileInfo(file).isFile())
        return false;
    const std::filesystem::path path = toNativePath(file);

    // Short-lived sources of their own: the window's decoder and loader
    // belong to the stream.
    std::vector<uint8_t> frame;
    if (video) {
        VideoDecoder decoder;
        if (!decoder.Open(path) || !decoder.ReadFrame(frame)
            || frame.size() < size_t(decoder.width) * decoder.height * 3 || decoder.width == 0)
            return false;
        previewWidth = static_cast<int>(decoder.width);
        previewHeight = static_cast<int>(decoder.height);
        duration = decoder.duration;
    } else {
        ImageLoader loader;
        if (!loader.Initialize() || !loader.LoadImageW(path, 0, 0) || loader.width == 0
            || loader.pixels.size() < size_t(loader.width) * loader.height * 3)
            return false;
        previewWidth = static_cast<int>(loader.width);
        previewHeight = static_cast<int>(loader.height);
        frame.assign(loader.pixels.begin(), loader.pixels.begin() + size_t(previewWidth) * previewHeight * 3);
        duration = 0.0;
    }
    previewFrame.swap(frame);
    return true;
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

void MainWindow::report(const QString &text)
{
    statusLabel->setText(text);
    if (trayIcon && inTray && !isVisible()) {
        trayIcon->setProperty("lastMessage", text);
        trayIcon->showMessage("Vidloom", text, QSystemTrayIcon::Warning);
    }
}

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
        report("Open a file first.");
        return;
    }
    if (!isSoftcamRegistered()) {
        report("Register the camera first.");
        return;
    }

    int width, height;
    getSelectedResolution(width, height);
    if (!frameSender.InitCamera(width, height, kCameraFps)) {
        report("Failed to create virtual camera.");
        return;
    }

    // Runs on the worker thread: the preview copies the frame under its
    // own lock and repaints later on this thread.
    frameSender.onFrame = [this](const FrameView &frame) { preview->setFrame(frame); };
    frameSender.onFinished = [this] { QMetaObject::invokeMethod(this, "onPlaybackFinished", Qt::QueuedConnection); };

    const std::filesystem::path path = toNativePath(currentFile);
    if (isVideo) {
        if (!videoDecoder.Open(path)) {
            report("Failed to open video.");
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
            report("Failed to load image.");
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
    stopStreaming();

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
    playButton->setText(playing ? " &Pause" : " &Play");
    if (trayPlayAction)
        trayPlayAction->setText(playing ? "Pause" : "Play");
    stopButton->setEnabled(running);
    resolutionCombo->setEnabled(!running);
    // A disabled Play button says what is missing.
    const bool registered = isSoftcamRegistered();
    playButton->setEnabled(running || (registered && !currentFile.isEmpty()));
    playButton->setToolTip(running                     ? QString()
                               : !registered           ? QString("Register the camera first")
                               : currentFile.isEmpty() ? QString("Open a file first")
                                                       : QString());
    if (standbyTimer)
        standbyTimer->start();
}

void MainWindow::updateStandby()
{
    int width = 0, height = 0;
    // A registration helper may be about to remove the device, which an
    // open standby would keep busy.
    if (quitting || frameSender.running || registrationProcess || !isSoftcamRegistered())
        frameSender.StopStandby();
    else if (parseResolution(resolutionCombo->currentText(), width, height))
        frameSender.StartStandby(width, height, kCameraFps);
}

bool MainWindow::parseResolution(const QString &text, int &width, int &height)
{
    const QStringList parts = text.trimmed().split('x', Qt::SkipEmptyParts, Qt::CaseSensitive);
    if (parts.size() != 2)
        return false;
    bool widthOk = false, heightOk = false;
    const int w = parts[0].trimmed().toInt(&widthOk, 10);
    const int h = parts[1].trimmed().toInt(&heightOk, 10);
    if (!widthOk || !heightOk)
        return false;
    width = clampSide(w);
    height = clampSide(h);
    return true;
}

void MainWindow::getSelectedResolution(int &width, int &height)
{
    if (parseResolution(resolutionCombo->currentText(), width, height))
        return;
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

void MainWindow::seekBy(double seconds)
{
    const double d = knownDuration();
    if (!isVideo || d <= 0.0)
        return;
    const double from = seekTarget >= 0.0 ? seekTarget
        : frameSender.running             ? double(frameSender.position)
                                          : seekSlider->value() / 1000.0 * d;
    seekToSeconds(std::clamp(from + seconds, 0.0, d));
}

void MainWindow::seekToSeconds(double seconds)
{
    const double d = knownDuration();
    if (!isVideo || d <= 0.0)
        return;
    seekTarget = std::clamp(seconds, 0.0, d);
    seekSlider->setValue(sliderValueFor(seekTarget, d));
    timeLabel->setText(QString("%1 / %2").arg(formatTime(seekTarget), formatTime(d)));
    if (frameSender.running)
        frameSender.SeekTo(seekTarget);
    showFrameAtTarget();
}

void MainWindow::showFrameAtTarget()
{
    if (frameSender.running) {
        if (frameSender.paused)
            frameSender.Step();
        return;
    }
    // Stopped: a short-lived decoder shows the frame; the stream starts
    // from the slider's position later.
    VideoDecoder decoder;
    std::vector<uint8_t> frame;
    if (!decoder.Open(toNativePath(currentFile)))
        return;
    decoder.SeekTo(seekTarget);
    if (decoder.ReadFrame(frame) && frame.size() >= size_t(decoder.width) * decoder.height * 3)
        preview->setFrame(frame.data(), int(decoder.width), int(decoder.height));
}

void MainWindow::keyPressEvent(QKeyEvent *event)
{
    // Keys reach the window only when the focused control has no use for
    // them: a focused button or check box takes Space itself, a text field
    // and the slider take the arrows.
    switch (event->key()) {
    case Qt::Key_Space:
        onPlayPause();
        break;
    case Qt::Key_Left:
        seekBy(-kKeySeekSeconds);
        break;
    case Qt::Key_Right:
        seekBy(kKeySeekSeconds);
        break;
    case Qt::Key_Home:
        seekToSeconds(0.0);
        break;
    default:
        QMainWindow::keyPressEvent(event);
        return;
    }
    event->accept();
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
        timeLabel->setText(QString("%1 / %2").arg(formatTime(seekTarget >= 0.0 ? seekTarget : p), formatTime(d)));
    }

    int width, height;
    getSelectedResolution(width, height);
    statusLabel->setText(QString("%1  |  %2 fps  |  %3x%4")
                             .arg(frameSender.paused ? "Paused" : "Playing")
                             .arg(frameSender.currentFps.load(), 0, 'f', 1)
                             .arg(width)
                             .arg(height));

    const bool connected = frameSender.IsConnected();
    const QString problem = connected ? QString() : sendProblemText(frameSender);
    connectionLabel->setStyleSheet(connected               ? "color: #2a2; font-weight: bold;"
                                       : problem.isEmpty() ? "color: #d90; font-weight: bold;"
                                                           : "color: #d22; font-weight: bold;");
    connectionLabel->setText(connected ? "Connected" : problem.isEmpty() ? "Waiting for app..." : problem);
    // Re-setting an unchanged tray icon makes some trays flicker.
    const QString toolTip = connected ? "Vidloom - Connected"
        : problem.isEmpty()           ? "Vidloom - Streaming"
                                      : "Vidloom - " + problem;
    if (trayIcon->toolTip() != toolTip) {
        trayIcon->setIcon(QIcon(connected ? ":/icons/vidloom-connected.svg" : ":/icons/vidloom.svg"));
        trayIcon->setToolTip(toolTip);
    }
}

// ---- Settings ----

void MainWindow::loadSettings(bool restoreLastFile)
{
    // The first-start size applies only without a saved geometry; one that
    // restoreGeometry rejects leaves the window as it is.
    const QByteArray geometry = settings->value("windowGeometry").toByteArray();
    if (geometry.isEmpty())
        resize(780, 600);
    else
        restoreGeometry(geometry);

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
    if (restoreLastFile && !lastFile.isEmpty() && QFileInfo::exists(lastFile))
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
        stopStreaming();
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
    // A single click toggles; a double click (which some trays announce
    // as a click first) always ends with the window shown.
    if (reason == QSystemTrayIcon::Trigger) {
        if (isVisible() && !isMinimized()) {
            hide();
            inTray = true;
        } else
            showFromTray();
    } else if (reason == QSystemTrayIcon::DoubleClick) {
        showFromTray();
    }
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
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            hide();
            inTray = true;
            // Said once: a window that vanished while the camera still runs
            // would otherwise look like a crash or a hang.
            if (!settings->value("trayNoticeShown", false).toBool()) {
                settings->setValue("trayNoticeShown", true);
                const QString text = "Vidloom keeps running in the tray and goes on streaming. "
                                     "Click the icon to show the window; use Quit in its menu to end.";
                trayIcon->setProperty("lastMessage", text);
                trayIcon->showMessage("Vidloom", text, QSystemTrayIcon::Information);
            }
        } else {
            showMinimized();
        }
        event->ignore();
        return;
    }

    saveSettings();
    quitting = true;
    standbyTimer->stop();
    stopStreaming();
    // On Debian 12's module the device keeps showing the placeholder.
    frameSender.StopStandby();
    trayIcon->hide();
    event->accept();
}

void MainWindow::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange)
        applyPalette();
    QMainWindow::changeEvent(event);
}

bool MainWindow::nativeEvent(const QByteArray &eventType, void *message, qintptr *result)
{
#ifdef _WIN32
    InstanceActivation::Request request;
    if (InstanceActivation::handleNativeMessage(this, message, result, request)) {
        if (!request.file.isEmpty())
            QMetaObject::invokeMethod(
                this, [this, request] { openRequested(request.file, request.play); }, Qt::QueuedConnection);
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
    frameSender.StopStandby();
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
    updatePlayButton();
    if (trayPlayAction)
        trayPlayAction->setEnabled(registered);
    registerStatusLabel->setText(
        registered ? QString::fromUtf8("<span style='color: #2a2;font-weight:bold;'>✓ Registered</span>")
                   : QString::fromUtf8("<span style='color: #888;'>✗ Not registered</span>"));
}
