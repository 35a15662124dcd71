#pragma once

#include "command_line.h"
#include "frame_sender.h"
#include "image_loader.h"
#include "video_decoder.h"

#include <QMainWindow>
#include <QSystemTrayIcon>

#include <cstdint>
#include <vector>

class ClickableSlider;
class PreviewWidget;
class QAction;
class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QMenu;
class QProcess;
class QPushButton;
class QSettings;
class QTimer;

// Seconds as minutes and two-digit seconds ("2:05"); minutes go on past 59.
QString formatTime(double seconds);

// The one window of Vidloom: picks the media, drives the frame sender and
// the virtual camera, shows live status, and lives on in the tray.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // Without restoreLastFile the last file is not reloaded (the command
    // line names another).
    explicit MainWindow(QWidget *parent = nullptr, bool restoreLastFile = true);
    ~MainWindow() override;

    // Applies the command line and shows the window (or keeps it in the
    // tray for --minimized).
    void start(const LaunchOptions &options);

    // Where the settings file lives: per user on Linux, beside the
    // executable on Windows.
    static QString settingsFilePath();
    static QString aboutText();
    static QString missingLibraryText();
    // A camera side clamped to 64..7680 and rounded down to a multiple of 4.
    static int clampSide(int side);
    static constexpr float kCameraFps = 30.0f;

public slots:
    // A file from the command line or from a later start; false when it
    // cannot be shown (the current file stays).
    bool openRequested(const QString &file, bool play);

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private slots:
    void onOpenFile();
    void onPlayPause();
    void onStop();
    void onRegister();
    void onUnregister();
    void onTimerTick();
    void onPlaybackFinished();
    void onTrayActivated(QSystemTrayIcon::ActivationReason reason);
    void onQuit();

private:
    void createMenus();
    void createCentralArea();
    void createStatusBar();
    void connectControls();
    void applyPalette();
    void setupTrayIcon();
    void updatePlayButton();
    // Starts the library's placeholder while nothing streams and the camera
    // is registered, at the chosen size; stops it otherwise.
    void updateStandby();
    void updateRegisterButtons();
    static bool isSoftcamRegistered();
    void runRegistration(bool unregister);
    void finishRegistration(bool unregister, int exitCode, const QString &reason);
    bool loadFile(const QString &path);
    bool isVideoFile(const QString &path);
    // Decodes the first frame of path into the preview fields; false (and
    // nothing changed) when it cannot.
    bool showPreview(const QString &path, bool video);
    void stopStreaming();
    // Shows the status text, and in a notification when the window is not
    // on screen (a tray action that failed).
    void report(const QString &text);
    void seekBy(double seconds);
    void seekToSeconds(double seconds);
    // Paused: the worker sends the frame at the new position once. Stopped:
    // the preview shows it.
    void showFrameAtTarget();
    bool initCamera();
    void getSelectedResolution(int &width, int &height);
    // "WxH" with both sides clamped; false (width and height untouched) for
    // anything else.
    static bool parseResolution(const QString &text, int &width, int &height);
    void loadSettings(bool restoreLastFile = true);
    void saveSettings();

    double knownDuration() const;
    void showFromTray();

    QPushButton *openButton = nullptr;
    QLabel *fileLabel = nullptr;
    PreviewWidget *preview = nullptr;
    ClickableSlider *seekSlider = nullptr;
    QLabel *timeLabel = nullptr;
    QComboBox *resolutionCombo = nullptr;
    QCheckBox *loopCheck = nullptr;
    QCheckBox *stretchCheck = nullptr;
    QPushButton *playButton = nullptr;
    QPushButton *stopButton = nullptr;
    QPushButton *registerButton = nullptr;
    QPushButton *unregisterButton = nullptr;
    QLabel *registerStatusLabel = nullptr;
    // The registration helper while it runs; null otherwise.
    QProcess *registrationProcess = nullptr;
    QLabel *statusLabel = nullptr;
    QLabel *connectionLabel = nullptr;
    QTimer *timer = nullptr;
    // Gathers the changes that move the standby (typing a size, Stop, the
    // registration) into one restart.
    QTimer *standbyTimer = nullptr;
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *trayPlayAction = nullptr;
    bool quitting = false;
    // Hidden to the tray by the user (or started there): failures of tray
    // actions are then told in a notification.
    bool inTray = false;
    QSettings *settings = nullptr;
    QAction *minimizeToTrayAction = nullptr;
    QAction *mirrorAction = nullptr;
    QAction *ownSpeedAction = nullptr;
    QAction *cropAction = nullptr;
    QLabel *resolutionLabel = nullptr;

    VideoDecoder videoDecoder;
    ImageLoader imageLoader;
    FrameSender frameSender;

    QString currentFile;
    bool isVideo = false;
    std::vector<uint8_t> previewFrame;
    int previewWidth = 0;
    int previewHeight = 0;
    bool sliderDragging = false;
    double seekTarget = -1.0;
    double duration = 0.0;
};
