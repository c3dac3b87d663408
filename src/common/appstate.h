#pragma once

#include "common/datafiles.h"
#include "common/runtotals.h"

#include <QString>
#include <QStringList>

namespace arcsweep {

class DesktopServices;

// The values the windows and the engine share, owned by the application and handed
// to each window, so every test can build a fresh set.
struct AppState {
    QString AppFolder;          // folder of the executable, no trailing separator
    QString CommandLine;        // the folder of an unattended run; empty when interactive
    bool DryRun = false;        // say what the run would do; change nothing
    QString KeepPurged;         // the folder removed entries are kept in; empty: not kept
    bool SkipUnchanged = false; // leave alone archives unchanged since a sound test
    int RetestDays = -1;        // a sound verdict is trusted this many days; -1: not set
    DesktopServices *desktop = nullptr;

    QString CurrentFolder; // the main window's folder, no trailing separator
    QString ActiveArchive; // archive in work; lower-cased once damage was reported
    QString ViewedEntry;   // entry shown in the text viewer, lower case

    bool Running = false;        // a clean-all run is active
    bool AbortRequested = false; // a stop of the run has been requested
    bool StatsWaiting = false;   // the finished run waits for the statistics window
    bool VerifyMode = false;     // the statistics/verification windows are in charge
    bool Closing = false;        // the program is closing: no new work starts

    RunTotals Totals;
    QStringList PurgeList; // this run's patterns, in file order

    QString file(const char *name) const { return appFile(AppFolder, name); }
    QString tempFolder() const { return file(DataFile::TempFolder); }
    bool unattended() const { return !CommandLine.isEmpty(); }
    int retestDays() const { return RetestDays < 0 ? 30 : RetestDays; }
};

} // namespace arcsweep
