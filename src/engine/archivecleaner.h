#pragma once

#include "common/damagedarchiverule.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace arcsweep {

class PurgeMatcher;
class RunFiles;
class RunHost;
class VerdictStore;
class Yielder;

// Cleans every archive that the main window's file list shows for the folder the
// walk has pointed it at: lists and tests each archive, deals with damaged archives
// and double "file_id.diz" entries, purges the entries matching the purge list,
// and keeps the run's counters. The changes the entry walk decides for one archive
// are gathered and written in one rewrite at its end.
class ArchiveCleaner {
public:
    ArchiveCleaner(RunHost &host, RunFiles &files, const PurgeMatcher &matcher, Yielder &yielder,
                   VerdictStore &store)
        : host_(host), files_(files), matcher_(matcher), yielder_(yielder), store_(store) {}

    // The folder tree of this run, links resolved: an archive reached through a link
    // to a file outside it is tested and reported, and nothing is changed through it.
    // `startFolder` as the walk names it (ending in "/"): kept copies of purged entries go
    // to the same path below the keep folder as the archive has below it.
    void setTree(const QString &realRoot, const QString &startFolder) {
        tree_ = realRoot;
        start_ = startFolder;
    }

    void CleanFolderArchives();

private:
    enum class Next { Archive, Stop };
    enum class Match { None, Purged, NotPurged, Damaged };

    // One archive, in its steps: counted and shown, listed and tested, its entries
    // walked and matched, its gathered changes written, then counted as processed.
    Next cleanArchive(int index, const QString &folder);
    struct Walk {
        int nfoCount = 0; // ".nfo" entries the archive keeps
        int purged = 0;   // entries whose deletion was gathered
        int matched = 0;  // entries a purge pattern matched, purged or not
        bool damaged = false;
        bool stopped = false; // a stop came during the walk
    };
    qint64 beginArchive(int index, const QString &path, bool mayChange);
    // An archive left alone as unchanged: counted as processed, its ".nfo" entries as found.
    Next skipArchive(int index, const QString &path, const QString &folder, int nfoCount);
    Walk walkEntries(int index, const QString &path, bool mayRewrite);
    Next stopArchive(int purged);
    void writeChanges(int index, const QString &path, qint64 sizeBefore, int purged);
    Next finishArchive(const QString &path, const QString &folder, int nfoCount, bool mayChange);
    int listArchive(const QString &path, bool mayChange);
    // True when the repair is gathered for the archive's rewrite.
    bool repairDoubleDiz(const QString &path);
    // A gathered repair that was not written is not counted.
    void takeBackRepair();
    // What is done with the archive at `path` when it is found damaged: logged (with
    // `logIt`), and on a writable volume given its ".bad" name (with `mayRename`).
    DamagedArchiveRule damageRule(const QString &path, bool logIt, bool mayRename);
    Match matchEntry(int i, int k, const QString &entry, const QString &path, bool mayRewrite);
    // Writes the archive's gathered changes; false when they could not be written
    // (logged, and the purges are not counted).
    bool applyChanges(const QString &path, int purgedHere);
    void showPurged();
    bool insideTree(const QString &path) const;

    RunHost &host_;
    RunFiles &files_;
    const PurgeMatcher &matcher_;
    Yielder &yielder_;
    VerdictStore &store_;
    QString tree_;
    QString start_;
    std::unique_ptr<QTemporaryDir> dryScratch_; // a dry run's extractions go here
    bool repaired_ = false;                     // this archive's repair is counted
    bool doubleDiz_ = false;                    // this archive holds two "file_id.diz"
    QStringList listed_; // the archive's entry names as listed (for the verdict store)
};

} // namespace arcsweep
