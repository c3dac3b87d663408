#pragma once

#include <QElapsedTimer>
#include <QString>

namespace arcsweep {

// One self-updating line on a terminal for an unattended run: archives done, bytes
// tested per second, and the folder in work. It is cleared before anything else is
// written, so reports and the record stand on lines of their own. When standard error
// is not a terminal it writes nothing at all.
class TerminalProgress {
public:
    TerminalProgress();
    bool active() const { return active_; }
    void setActive(bool on) { active_ = on && isTerminal_; }

    // Shows the run's state; at most ten times a second, the first time at once.
    void show(double archivesDone, double bytesTested, const QString &folder);
    // Takes the line away (before a report or the record is written).
    void clear();

private:
    bool isTerminal_ = false;
    bool active_ = false;
    bool shown_ = false;
    QElapsedTimer started_, lastShown_;
};

} // namespace arcsweep
