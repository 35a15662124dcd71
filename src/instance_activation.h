#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QWidget;

// One Vidloom per user: the first start holds a lock file, a later start
// hands its request (bring the window forward, and maybe open a file and
// play it) to the running instance and exits.
//
// On Linux the request travels over a local socket in a folder only the
// user can reach. On Windows it is a broadcast, registered window message
// for activation and WM_COPYDATA to the running window for a file; both
// arrive in the window's nativeEvent, which hands them to
// handleNativeMessage, so this object only listens on Linux.
class InstanceActivation : public QObject {
    Q_OBJECT

public:
    // What a later start asked for.
    struct Request {
        QString file; // empty: only bring the window forward
        bool play = false;
    };
    enum class Answer { Activated, Headless, NoAnswer };

    // Starts listening at once, even before the window exists: requests
    // that come in meanwhile are handled once it is set, so a second start
    // is never lost while the first one still loads its last file.
    explicit InstanceActivation(QWidget *window, QObject *parent = nullptr);
    ~InstanceActivation() override;
    void setWindow(QWidget *window);
    // A headless stream has no window: every request is turned away with an
    // answer that says so.
    void setHeadless() { headless = true; }

    // The per-user lock file; empty when no private folder can be had.
    static QString lockFilePath();
    // Called by a later start. The message carries the request on Linux
    // and, for a file, on Windows (WM_COPYDATA with kCopyDataTag).
    static constexpr unsigned long kCopyDataTag = 0x564C4D31; // "VLM1"
    static Answer activateRunningInstance(const Request &request);
    static Answer activateRunningInstance() { return activateRunningInstance(Request()); }
    // Shown if hidden, restored if minimised (other state kept), raised,
    // activated.
    static void bringToFront(QWidget *window);

#ifdef _WIN32
    // For the window's nativeEvent: true if `message` was a later start's
    // activation (the window is brought forward); `request` then holds the
    // file it handed over, if any, to be opened after the call returns.
    static bool handleNativeMessage(QWidget *window, void *message, qintptr *result, Request &request);
#endif

    static QByteArray encode(const Request &request);
    static bool decode(const QByteArray &message, Request &request);

signals:
    void openRequested(const QString &file, bool play);

private:
    void handle(const Request &request);

    QWidget *window = nullptr;
    QLocalServer *server = nullptr;
    bool headless = false;
    QList<Request> pending;
};
