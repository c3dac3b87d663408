#pragma once

#include <QString>
#include <QStringList>

namespace arcsweep {

// The program's command line. Without options the arguments joined with single blanks
// form the folder to clean (empty: the window opens). Options may come anywhere
// before "--", which ends them: every later argument is part of the folder.
struct CommandLine {
    enum class Action { Run, Help, Version, Error };

    Action action = Action::Run;
    QString folder;             // the folder to clean unattended; empty for the window
    bool dryRun = false;        // --dry-run: say what a run would do, change nothing
    QString keepPurged;         // --keep-purged DIR: where removed entries are kept
    bool skipUnchanged = false; // --skip-unchanged: leave alone archives found sound before
    int retestDays = -1;        // --retest-days N; -1 when not given
    QString error;              // what was wrong, for Action::Error

    // `arguments` without the program's name, as the file system spells them (Fs::decode).
    static CommandLine parse(const QStringList &arguments);
    // Why `keep` cannot take the entries a run of `folder` removes: it is that folder
    // or holds it (links resolved). Empty when it can, or when `folder` does not exist.
    static QString keepFolderProblem(const QString &keep, const QString &folder);
    // The usage text; `dataFolder` is the folder the program keeps its files in.
    static QString usage(const QString &dataFolder);
};

// Exit statuses of the program.
namespace ExitStatus {
inline constexpr int Completed = 0;  // the run completed (or --help, --version)
inline constexpr int Refused = 1;    // the folder cannot be cleaned, or no window can open
inline constexpr int Stopped = 2;    // stopped by a signal (or before it recorded the run)
inline constexpr int Running = 3;    // another instance runs from the same data folder
inline constexpr int NotWritten = 4; // a file in the data folder could not be written
inline constexpr int Usage = 64;     // a command-line error
} // namespace ExitStatus

} // namespace arcsweep
