#pragma once

#include <QSize>
#include <QString>
#include <QStringList>

// What the command line asks for. Parsed before any application object
// exists, so that --help, --version and --headless never need a display.
struct LaunchOptions {
    enum class Action { Window, Headless, Help, Version, Error };
    Action action = Action::Window;
    QString file;      // absolute path, or empty
    bool play = false; // start streaming once the file is loaded
    QSize resolution;  // invalid: the saved choice
    bool minimized = false;
    bool loop = true; // headless only: --no-loop ends at the end of a video
    QString text;     // help or version text, or the error for Action::Error
};

// Exit codes of the program, for scripts.
enum ExitCode {
    kExitOk = 0,
    kExitFileFailed = 1,   // the file cannot be opened or loaded
    kExitUsage = 2,        // bad command line
    kExitCameraFailed = 3, // no camera library, not registered, or creation failed
    kExitInstanceBusy = 4, // another Vidloom drives the camera
};

// Parses the arguments (the program name first). Qt's own options such as
// -platform are the application object's and are ignored here.
LaunchOptions parseCommandLine(const QStringList &arguments);

// "WxH" with both sides 2 to 5 digits; invalid size otherwise.
QSize parseResolution(const QString &text);
