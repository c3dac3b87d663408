#pragma once

#include <QObject>

class QSocketNotifier;

namespace arcsweep {

// Turns SIGINT, SIGTERM and SIGHUP into a signal on the window thread (through a
// pipe, the one thing a signal handler may safely do), so that the program stops
// at its next check instead of dying in the middle of a rewrite. A second such
// signal ends the program at once, as the default would. SIGXFSZ is ignored: a file
// size limit fails the write that meets it instead of killing the program.
class SignalStop : public QObject {
    Q_OBJECT
public:
    explicit SignalStop(QObject *parent = nullptr);
    ~SignalStop() override;

signals:
    void stopRequested(int signalNumber);

private:
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace arcsweep
