#pragma once

#include "common/fileresult.h"

#include <QByteArray>
#include <QString>

namespace arcsweep {

// The settings file (arcsweep.ini). Its first line holds the folder the main window
// showed when the program closed; the lines after it hold choices such as
// "KeepPurged=FOLDER" and whatever else the user put there. The program changes only
// the first line: every byte after it is written back as it was read.
class SettingsFile {
public:
    // Reads the file; one that is missing or cannot be read reads as empty.
    static SettingsFile read(const QString &path);

    // The saved folder: the first field of the first line (leading blanks skipped; an
    // unquoted value ends at the first comma).
    QString folder() const;
    // The folder of the last "KeepPurged=" line, cleaned; a relative one is taken
    // from `dataFolder`, not from the current folder. Empty when there is none.
    QString keepPurged(const QString &dataFolder) const;
    // True when the last "SkipUnchanged=" line says 1.
    bool skipUnchanged() const;
    // The days of the last "RetestDays=" line that holds a number (0 or more); -1: none.
    int retestDays() const;

    // Replaces the file with `folder` as its first line and the rest as read.
    FileResult write(const QString &path, const QString &folder) const;

private:
    // The value of the last line that starts with `key`, as bytes; empty when none.
    QByteArray lastValue(const char *key) const;

    QString firstLine_;
    QByteArray rest_; // everything after the first line's end, byte for byte
};

} // namespace arcsweep
