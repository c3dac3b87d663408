#pragma once

#include <QString>

namespace arcsweep {

// Where the program keeps its data files (settings, purge list, logs, temp/).
//
// The executable's own folder serves when the user may write it and it is not a system
// binary folder (/usr/bin, /bin, /usr/local/bin, /usr/sbin, /sbin, /usr/games; root could
// write there but must not litter it). Otherwise the data live in the per-user folder
// $XDG_DATA_HOME/arcsweep (~/.local/share/arcsweep when XDG_DATA_HOME is unset, empty or
// relative), which is seeded with the help page, the sounds and purge.example.txt from the
// shared data folder <executable folder>/../share/arcsweep.
struct AppFolderChoice {
    QString path;         // the AppFolder, no trailing separator
    bool perUser = false; // true: the per-user folder, not the executable's folder
    QString reason;       // one line saying why this folder, for --help and --version
    QString error;        // set by setUpAppFolder when creating or seeding failed
};

// Decides the AppFolder for an executable in `exeFolder`. Touches nothing on disk.
AppFolderChoice chooseAppFolder(const QString &exeFolder);

// chooseAppFolder, then, for the per-user folder: creates it (mode 0700) and copies in
// each shared file it lacks. Files already there are never replaced, and purge.txt is
// never created. A failure is reported in `error`; `path` is still the chosen folder.
AppFolderChoice setUpAppFolder(const QString &exeFolder);

// True for the folders that hold system binaries, also when reached through a link.
bool isSystemBinaryFolder(const QString &folder);

// $XDG_DATA_HOME/arcsweep, or ~/.local/share/arcsweep; not created.
QString perUserDataFolder();

// <exeFolder>/../share/arcsweep, cleaned.
QString sharedDataFolder(const QString &exeFolder);

} // namespace arcsweep
