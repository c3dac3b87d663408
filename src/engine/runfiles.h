#pragma once

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include "common/fileresult.h"
#include "engine/terminalprogress.h"

namespace arcsweep {

struct AppState;
struct RunTotals;

// The files a clean-all run writes in the AppFolder: the ErrorLog and the VerifyList
// (open from the start of the walk to the end of the run), the StatsLog record and
// the TotalsFile. Every failure is skipped: the run never stops over its own files.
class RunFiles {
public:
    explicit RunFiles(const AppState &state) : state_(state) {}

    // Empties (creates) the ErrorLog and the VerifyList and keeps them open.
    void openLists();
    void closeLists();

    // One ErrorLog line; an unattended run also writes it to standard error.
    void logError(const QString &line);
    // One VerifyList line: the archive's real path, which the verification window opens.
    void addToVerifyList(const QString &archivePath);

    // Reads the TotalsFile into the cumulative totals when it exists, adds this run's
    // bytes and (with `write`) writes the file anew.
    static FileResult updateTotals(const QString &totalsFile, RunTotals &totals,
                                    bool write = true);
    // The StatsLog record of a run (14 lines, the last empty).
    static QStringList statsRecord(const RunTotals &totals, const QString &savedFolder,
                                   const QDateTime &end);
    // Appends the record to the StatsLog, creating it when missing.
    static FileResult appendStatsRecord(const QString &statsLog, const QStringList &record);

    // Says on standard error that `path` could not be written and why (once per file
    // and run), and marks the run: its exit status says so.
    void notWritten(const QString &path, const QString &cause);
    // Passes a failed result on to notWritten(); returns the result.
    FileResult check(const QString &path, FileResult result);
    // Some file of this run could not be written.
    bool anyNotWritten() const { return !notWritten_.isEmpty(); }

    // Writes a line to standard error at once (unattended runs).
    static void toStderr(const QString &text);
    // One line on standard output at once: the record, or a dry run's action
    // (its fields separated by tabs).
    void toStdout(const QStringList &fields);

    // The progress line of an unattended run on a terminal.
    TerminalProgress &progress() { return progress_; }

private:
    void writeFlushed(QFile &file, const QString &line);

    const AppState &state_;
    QStringList notWritten_; // the files that failed, each said once
    QFile errorLog_;
    QFile verifyList_;
    TerminalProgress progress_;
};

} // namespace arcsweep
