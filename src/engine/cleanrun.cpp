#include "engine/cleanrun.h"

#include "common/appstate.h"
#include "common/commandline.h"
#include "common/durablefile.h"
#include "common/fs.h"
#include "common/textfile.h"
#include "engine/runhost.h"
#include "zip/zipcomponent.h"

#include <cstdio>

namespace arcsweep {

namespace {

// Marks the handler as running for as long as it is on the stack.
class InProgress {
public:
    explicit InProgress(bool &flag) : flag_(flag) { flag_ = true; }
    ~InProgress() { flag_ = false; }
    InProgress(const InProgress &) = delete;
    InProgress &operator=(const InProgress &) = delete;

private:
    bool &flag_;
};

} // namespace

CleanRun::CleanRun(RunHost &host)
    : host_(host), files_(host.state()), yielder_(host),
      cleaner_(host, files_, matcher_, yielder_, store_),
      walk_(host, cleaner_, files_, yielder_, store_) {
    store_.onWriteFailure = [this](const QString &path, const QString &cause) {
        files_.notWritten(path, cause);
    };
}

int CleanRun::exitStatus() const {
    return exitStatus_ == ExitStatus::Completed && files_.anyNotWritten() ? ExitStatus::NotWritten
                                                                          : exitStatus_;
}

void CleanRun::Command2_Click() {
    if (host_.state().Running) {
        stopRun();
        return;
    }
    // A run that was stopped may still be unwinding through one of its yields; a new
    // run must not start inside it (it would record its statistics twice).
    if (inProgress_)
        return;
    // A program that is closing starts no run.
    if (host_.state().Closing) {
        exitStatus_ = 2;
        return;
    }
    const InProgress guard(inProgress_);
    startRun();
}

void CleanRun::requestStop() {
    AppState &state = host_.state();
    state.Running = false;
    state.AbortRequested = true;
    host_.zip().Abort = true;
}

void CleanRun::stopRun() {
    requestStop();
    endOfRun();
}

bool CleanRun::refuse(const QString &why) {
    AppState &state = host_.state();
    exitStatus_ = 1;
    if (state.unattended()) {
        RunFiles::toStderr(QStringLiteral("Arcsweep: cannot clean \"") + state.CommandLine +
                           QStringLiteral("\": ") + why);
        // Nothing follows an unattended start: leave the window idle.
        state.Running = false;
    }
    return false;
}

void CleanRun::startRun() {
    AppState &state = host_.state();
    ZipComponent &zip = host_.zip();
    state.AbortRequested = false;
    zip.Abort = false;
    zip.ReadOnly = state.DryRun; // a dry run never writes an archive, whatever fails
    state.Running = true;
    exitStatus_ = 2;

    // An unattended run checks the folder it is about to clean: it must exist and
    // be enterable (there is no fallback to another folder), on a writable volume.
    const QString commandFolder = state.unattended() ? Fs::absolute(state.CommandLine) : QString();
    if (state.unattended() && !Fs::canEnter(commandFolder)) {
        refuse(QStringLiteral("the folder does not exist or cannot be entered"));
        return;
    }
    if (host_.driveCheck(state.unattended() ? commandFolder : host_.drive()) <= 2) {
        host_.setProgressStyle(0);
        host_.setProgressCaption(QStringLiteral("Read-only drive"));
        refuse(QStringLiteral("Read-only drive"));
        return;
    }
    if (state.unattended()) {
        host_.setDrive(commandFolder);
        if (!host_.setDirPath(commandFolder)) {
            refuse(QStringLiteral("the folder cannot be entered"));
            return;
        }
    }
    QString startFolder = host_.dirPath();
    if (!startFolder.endsWith(u'/'))
        startFolder += u'/';
    // A keep folder (from the settings) that is this folder or holds it would have the run
    // clean its own kept copies: the run does not start. (The command line refuses it
    // before anything starts.)
    if (!state.KeepPurged.isEmpty() &&
        !CommandLine::keepFolderProblem(state.KeepPurged, startFolder).isEmpty()) {
        const QString why = QStringLiteral("The folder removed entries are kept in (%1) is this "
                                           "folder or holds it: nothing was cleaned")
                                .arg(Fs::display(state.KeepPurged));
        state.Running = false;
        if (state.unattended())
            refuse(why);
        else
            host_.showError(why);
        exitStatus_ = 1;
        return;
    }
    cleaner_.setTree(Fs::realPath(startFolder), startFolder);
    // What a killed run of ours left beside its own files and in the keep folder goes
    // first (the tree's folders are cleared as the walk reaches them).
    if (!state.DryRun) {
        DurableFile::removeStale(state.AppFolder);
        if (!state.KeepPurged.isEmpty())
            DurableFile::removeStale(state.KeepPurged, true);
    }
    yielder_.reset();
    yielder_.clearCounts();
    loadPurgeList();
    // Only a run asked to skip unchanged archives opens the verdict store; a dry run
    // reads it and writes nothing.
    if (state.SkipUnchanged) {
        const QString note =
            store_.open(state.file(DataFile::VerdictStore), state.DryRun, state.retestDays());
        if (!note.isEmpty())
            RunFiles::toStderr(note);
    }
    // The running look.
    host_.setRunLook(true);
    host_.setCleanButtonCaption(QStringLiteral("&Abort"));
    state.Totals.Processed = 0;
    host_.setProcessedText(QString());
    host_.setPurgedText(QString());
    host_.setProgressStyle(0);
    host_.setProgressCaption(QString());
    host_.setProgressStyle(1);
    // Running and AbortRequested were set at the start and are not set again here, so
    // an abort given while the purge list was loading still stops the run.
    savedFolder_ = host_.dirPath();
    state.Totals.startRun();
    state.VerifyMode = false;
    files_.openLists();
    walk_.WalkFolder(startFolder);
    host_.setDirPath(savedFolder_);
    // After a stop the folder change does not refill the archive list: point it at the
    // same folder, so the end-of-run test works on an archive of the folder shown.
    host_.setFilePath(savedFolder_);
    endOfRun();
}

void CleanRun::loadPurgeList() {
    AppState &state = host_.state();
    state.PurgeList.clear();
    bool tooLong = false;
    TextFile::forEachLine(state.file(DataFile::PurgeList), [&](const QString &line) {
        if (state.PurgeList.size() >= MaxPatterns) {
            tooLong = true;
            return false;
        }
        state.PurgeList.append(line);
        yielder_.maybe();
        return true;
    });
    state.Totals.PatternCount = state.PurgeList.size();
    matcher_.load(state.PurgeList);
    if (tooLong && state.unattended())
        RunFiles::toStderr(QStringLiteral("Arcsweep: purge.txt holds more than %1 lines; "
                                          "the lines after line %1 are ignored")
                               .arg(MaxPatterns));
}

void CleanRun::endOfRun() {
    AppState &state = host_.state();
    RunTotals &totals = state.Totals;
    // Back to the idle look.
    host_.focusEntries();
    host_.setRunLook(false);
    host_.setStatusCaption(QString());
    host_.setProgressCaption(QString());
    state.Running = false;
    host_.setWindowCaption(QStringLiteral("Arcsweep"));
    host_.refreshFiles();
    host_.setCleanButtonCaption(QStringLiteral("&Clean all"));
    host_.setProgressPercent(0);
    host_.zip().StopTestingAhead();
    // A run stopped by closing the program tests nothing more.
    if (!state.Closing) {
        host_.archiveTest();
        if (host_.fileCount() >= 2)
            host_.selectFile(0, true);
    }
    yielder_.now();
    // A stop by Esc or by closing records nothing.
    files_.progress().clear();
    files_.closeLists();
    if (store_.isOpen()) {
        store_.close();
        if (state.unattended() && store_.skipped() > 0)
            RunFiles::toStderr(
                QStringLiteral("Arcsweep: %1 archives skipped as unchanged, tested since %2")
                    .arg(store_.skipped())
                    .arg(QDateTime::fromSecsSinceEpoch(store_.oldestSkipped())
                             .toString(QStringLiteral("yyyy-MM-dd"))));
    }
    if (state.AbortRequested) {
        state.AbortRequested = false;
        return;
    }
    // A dry run reckons the totals as the run would, and writes neither file.
    const QString totalsFile = state.file(DataFile::TotalsFile);
    files_.check(totalsFile, RunFiles::updateTotals(totalsFile, totals, !state.DryRun));
    const QStringList record =
        RunFiles::statsRecord(totals, savedFolder_, QDateTime::currentDateTime());
    if (!state.DryRun) {
        const QString statsLog = state.file(DataFile::StatsLog);
        files_.check(statsLog, RunFiles::appendStatsRecord(statsLog, record));
    }
    exitStatus_ = 0;
    if (totals.BadZips != 0)
        host_.playSound(state.file(DataFile::ErrorWave));
    // An unattended run prints its record instead of showing it.
    if (state.unattended()) {
        for (const QString &line : record)
            files_.toStdout({line});
    } else {
        // A close of the program while the statistics are up ends the wait too.
        host_.showStatistics(savedFolder_);
        while (state.StatsWaiting && !state.AbortRequested)
            host_.waitForEvents();
        host_.afterStatistics();
        state.VerifyMode = false;
    }
    state.AbortRequested = false;
}

} // namespace arcsweep
