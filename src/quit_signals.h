#pragma once

#include <QObject>

// Turns the signals that ask a desktop program to end (SIGTERM at logout or
// from a service manager, SIGINT from a terminal, SIGHUP when the terminal
// goes) into a call of the given slot on the user-interface thread, so the
// app saves its settings and releases the camera exactly as File > Quit does.
// Linux only: on Windows those requests arrive as window messages, which Qt
// already turns into a close.
class QuitSignals : public QObject {
    Q_OBJECT

public:
    QuitSignals(QObject *receiver, const char *slot, QObject *parent = nullptr);
    ~QuitSignals() override;

private:
    QObject *receiver;
    const char *slot;
};
