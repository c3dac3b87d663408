#include "engine/signalstop.h"

#include "common/stopsignalled.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace arcsweep {

namespace {

int pipeFds[2] = {-1, -1};
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void onSignal(int number) {
    stopSignalled.store(true);
    const int saved = errno;
    const char byte = char(number);
    (void)!::write(pipeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

void SignalStop::install() {
    if (pipeFds[0] >= 0)
        return;
    ::signal(SIGXFSZ, SIG_IGN);
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // no pipe: the signals keep their default
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // The next one is not caught: a user who asks twice gets the default.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int number : kStopSignals)
        ::sigaction(number, &action, nullptr);
}

SignalStop::SignalStop(QObject *parent) : QObject(parent) {
    install();
    if (pipeFds[0] < 0)
        return;
    notifier_ = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        while (::read(pipeFds[0], &byte, 1) == 1)
            emit stopRequested(int(byte));
    });
}

} // namespace arcsweep
