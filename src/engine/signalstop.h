#pragma once

#include <QObject>

class QSocketNotifier;

namespace arcsweep {

// Turns SIGINT, SIGTERM and SIGHUP into a signal on the window thread (through a
// pipe, the one thing a signal handler may safely do), so that the program stops
// at its next check instead of dying in the middle of a rewrite. A second such
// signal ends the program at once, as the default would: each handler puts the
// default back when it runs. SIGXFSZ is ignored: a file size limit fails the write
// that meets it instead of killing the program.
class SignalStop : public QObject {
    Q_OBJECT
public:
    // Installs the handlers for the rest of the process's life. main() calls it
    // before anything else, so that no moment of start-up or shutdown dies of a
    // stop signal; one that comes before a SignalStop exists waits in the pipe.
    static void install();

    // Reports the stop signals, those already caught included. Installs the handlers
    // when install() was not called.
    explicit SignalStop(QObject *parent = nullptr);

signals:
    void stopRequested(int signalNumber);

private:
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace arcsweep
