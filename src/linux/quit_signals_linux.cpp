#include "quit_signals.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler may only do async-signal-safe work: it writes one byte
// into a socket that the event loop watches.
int signalSocket[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalSocket[0], &byte, 1);
}

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

} // namespace

QuitSignals::QuitSignals(QObject *r, const char *s, QObject *parent)
    : QObject(parent)
    , receiver(r)
    , slot(s)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalSocket) != 0)
        return;
    auto *notifier = new QSocketNotifier(signalSocket[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char buffer[16];
        while (::read(signalSocket[1], buffer, sizeof buffer) > 0) {
        }
        QMetaObject::invokeMethod(receiver, slot, Qt::QueuedConnection);
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : kQuitSignals)
        sigaction(sig, &action, nullptr);
}

QuitSignals::~QuitSignals()
{
    for (int sig : kQuitSignals)
        std::signal(sig, SIG_DFL);
    for (int &fd : signalSocket) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}
