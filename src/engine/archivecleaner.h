#pragma once

#include <QString>

namespace arcsweep {

class PurgeMatcher;
class RunFiles;
class RunHost;
class Yielder;

// Cleans every archive that the main window's file list shows for the folder the
// walk has pointed it at: lists and tests each archive, deals with damaged archives
// and double "file_id.diz" entries, purges the entries matching the purge list,
// and keeps the run's counters.
class ArchiveCleaner {
public:
    ArchiveCleaner(RunHost &host, RunFiles &files, const PurgeMatcher &matcher, Yielder &yielder)
        : host_(host), files_(files), matcher_(matcher), yielder_(yielder) {}

    void CleanFolderArchives();

private:
    enum class Next { Archive, Stop };
    enum class Match { None, Purged, NotPurged, Damaged };

    Next cleanArchive(int index, const QString &folder);
    int listArchive(const QString &path);
    void repairDoubleDiz(const QString &path);
    // Counts a damaged archive and, on a writable volume, gives it its ".bad" name.
    void applyDamageRule(const QString &path, bool logIt);
    Match matchEntry(int i, int k, const QString &entry, const QString &path, bool mayRewrite);

    RunHost &host_;
    RunFiles &files_;
    const PurgeMatcher &matcher_;
    Yielder &yielder_;
};

} // namespace arcsweep
