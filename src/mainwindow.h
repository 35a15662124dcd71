#pragma once

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
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Where the settings file lives: per user on Linux, beside the
    // executable on Windows.
    static QString settingsFilePath();

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool nativeEvent(const QByteArray &eventType, void *message, qintptr *result) override;
    void changeEvent(QEvent *event) override;

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
    void setupTrayIcon();
    void updatePlayButton();
    void updateRegisterButtons();
    static bool isSoftcamRegistered();
    void runRegistration(bool unregister);
    void finishRegistration(bool unregister, int exitCode, const QString &reason);
    void loadFile(const QString &path);
    bool isVideoFile(const QString &path);
    void showPreview();
    bool initCamera();
    void getSelectedResolution(int &width, int &height);
    void loadSettings();
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
    QSystemTrayIcon *trayIcon = nullptr;
    QMenu *trayMenu = nullptr;
    QAction *trayPlayAction = nullptr;
    bool quitting = false;
    QSettings *settings = nullptr;
    QAction *minimizeToTrayAction = nullptr;

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
