#pragma once

#include "engine/archivecleaner.h"
#include "engine/folderwalk.h"
#include "engine/purgematcher.h"
#include "engine/runfiles.h"
#include "engine/verdictstore.h"
#include "engine/yielder.h"

#include <QString>

namespace arcsweep {

class RunHost;

// The clean-all run behind the main window's "&Clean all" / "&Abort" button: loads
// the purge list, walks the folder tree cleaning every archive, then records and
// shows what was done. A click while a run is going stops it.
class CleanRun {
public:
    explicit CleanRun(RunHost &host);

    // The button's click handler; also what an unattended start calls.
    void Command2_Click();

    // The one way to stop: the run ends at its next check of Running, and the component's
    // operation in progress ends at its next check of Abort. Esc, "&Abort", every exit and
    // close, and the stop signals of an unattended run all come here; the run's work
    // notices it only at a yield (docs/reentrancy.md).
    void requestStop();

    // 0 when the last run went to its end; 1 when it was refused (read-only volume,
    // a folder that does not exist or cannot be entered); 2 when it was stopped
    // before it recorded its statistics; 4 when it went to its end but one of its
    // files could not be written (ExitStatus).
    int exitStatus() const;

    // True from the start of a run until its handler has returned.
    bool inProgress() const { return inProgress_; }

    // The purge list holds at most this many patterns; further lines are ignored.
    static constexpr int MaxPatterns = 30000;

    // How often and how long the last run yielded to the window system.
    const Yielder &yields() const { return yielder_; }
    // How often the run lets window events in at most (tests make it every time).
    void setYieldInterval(int ms) { yielder_.setInterval(ms); }

private:
    void startRun();
    void stopRun();
    void endOfRun();
    bool refuse(const QString &why);
    void loadPurgeList();

    RunHost &host_;
    RunFiles files_;
    Yielder yielder_;
    PurgeMatcher matcher_;
    VerdictStore store_{matcher_};
    ArchiveCleaner cleaner_;
    FolderWalk walk_;
    QString savedFolder_;
    int exitStatus_ = 0;
    bool inProgress_ = false;
};

} // namespace arcsweep
