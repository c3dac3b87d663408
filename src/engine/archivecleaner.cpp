#include "engine/archivecleaner.h"

#include "common/appstate.h"
#include "common/damagedarchiverule.h"
#include "common/desktopservices.h"
#include "components/diskinfo.h"
#include "components/zipcomponent.h"
#include "engine/purgematcher.h"
#include "engine/runfiles.h"
#include "engine/runhost.h"
#include "engine/yielder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace arcsweep {

namespace {

const QString DizName = QStringLiteral("file_id.diz");

// Adds the owner's write bit: the archive is made writable and stays so.
void makeWritable(const QFileInfo &info) {
    const QFile::Permissions permissions = info.permissions();
    if (info.exists() && !(permissions & QFile::WriteOwner))
        QFile::setPermissions(info.filePath(), permissions | QFile::WriteOwner);
}

} // namespace

void ArchiveCleaner::applyDamageRule(const QString &path, bool logIt) {
    DamagedArchiveRule rule;
    if (logIt)
        rule.report = [this](const QString &lowerPath) {
            files_.logError(QStringLiteral("Bad zip ") + lowerPath);
        };
    rule.mayRename = [this](const QString &realPath) {
        DiskInfo &disk = host_.diskInfo();
        disk.setDriveLetter(realPath);
        return disk.DriveCheck() > 2;
    };
    rule.apply(path);
    host_.state().Totals.BadZips += 1;
}

void ArchiveCleaner::CleanFolderArchives() {
    AppState &state = host_.state();
    // An interactive run without a purge list leaves the folder alone.
    if (!state.unattended() && !QFileInfo::exists(state.file(DataFile::PurgeList))) {
        if (state.desktop)
            state.desktop->messageBox(host_.messageParent(), QStringLiteral("No purge list exists"),
                                      QStringLiteral("Arcsweep error"), MsgIcon::Exclamation);
        return;
    }
    // The real folder for file operations; texts show it lower-cased.
    QString folder = host_.dirPath();
    if (folder.endsWith(u'/'))
        folder.chop(1);
    state.CurrentFolder = folder;
    // The archive count is taken once: renamed archives stay in the list.
    const int count = host_.fileCount();
    for (int i = 0; i < count; ++i)
        if (cleanArchive(i, folder) == Next::Stop)
            break;
    host_.clearEntries();
}

ArchiveCleaner::Next ArchiveCleaner::cleanArchive(int i, const QString &folder) {
    AppState &state = host_.state();
    RunTotals &totals = state.Totals;
    const QString name = host_.fileName(i);
    if (name.isEmpty())
        return Next::Archive;
    const QString path = folder + u'/' + name;
    const QString lowerName = name.toLower();

    // Counted and made writable before anything else.
    const QFileInfo info(path);
    const qint64 sizeBefore = info.size();
    totals.Zips += 1;
    totals.BytesTested += double(sizeBefore);
    makeWritable(info);
    host_.selectFile(i, true);
    host_.setStatusCaption(lowerName);
    host_.setWindowCaption(QStringLiteral("Cleaning ") + lowerName);
    // Only an archive whose every entry tested sound is ever rewritten: its kept
    // entries are copied as they are, and a damaged or unreadable one must stay as found.
    const int listed = listArchive(path);
    const bool mayRewrite = listed == ZipOk;

    // The entry walk: each entry present after the listing is visited once.
    int nfoCount = 0;
    bool purged = false;
    bool damaged = false;
    for (int k = 0; k < host_.entryCount(); ++k) {
        const QString entry = host_.entry(k);
        host_.selectEntry(k, true);
        if (entry.endsWith(QLatin1String(".nfo")))
            ++nfoCount;
        const Match match = matchEntry(i, k, entry, path, mayRewrite);
        if (match == Match::Damaged) {
            damaged = true;
            break;
        }
        if (match == Match::Purged) {
            // The entry that moves into position k is visited next.
            --nfoCount;
            purged = true;
            if (k >= host_.entryCount())
                break;
            --k;
        } else {
            host_.selectEntry(k, false);
        }
        // A purged entry is no exception: a stop given meanwhile ends the walk here.
        if (!state.Running)
            return Next::Stop;
        yielder_.maybe();
    }

    // What the purges removed.
    if (!damaged) {
        if (!state.Running)
            return Next::Stop;
        host_.selectFile(i, false);
        if (purged) {
            const qint64 removed = sizeBefore - QFileInfo(path).size();
            totals.PurgedBytes += double(removed);
            if (removed != 0)
                totals.CleanedZips += 1;
        }
    }

    // The archive is done: counted, and queued when it keeps more than one .nfo.
    yielder_.maybe();
    if (!state.Running)
        return Next::Stop;
    totals.Processed += 1;
    host_.setProcessedText(u' ' + QString::number(totals.Processed) + QStringLiteral(" processed"));
    if (nfoCount > 1) {
        totals.ExtraNfos += nfoCount - 1;
        files_.addToVerifyList(path);
    }
    return Next::Archive;
}

int ArchiveCleaner::listArchive(const QString &path) {
    AppState &state = host_.state();
    ZipComponent &zip = host_.zip();
    host_.clearEntries();
    state.ActiveArchive = path.toLower();
    zip.Flag10 = false;
    zip.EntrySpec = QStringLiteral("*.*");
    zip.ArchivePath = path;
    const int result = zip.ListEntries();
    // A failed listing leaves a marker that takes part in the entry walk.
    if (result != ZipOk)
        host_.addEntry(QStringLiteral("Bad zip found"));
    if (isDamageCode(result)) {
        applyDamageRule(path, true);
        return result;
    }
    // Two "file_id.diz" entries: keep one.
    if (result == ZipOk) {
        int dizCount = 0;
        for (int k = 0, n = host_.entryCount(); k < n && dizCount < 2; ++k)
            if (host_.entry(k) == DizName)
                ++dizCount;
        if (dizCount == 2)
            repairDoubleDiz(path);
    }
    return result;
}

void ArchiveCleaner::repairDoubleDiz(const QString &path) {
    AppState &state = host_.state();
    ZipComponent &zip = host_.zip();
    files_.logError(QStringLiteral("Double zip ") + state.ActiveArchive);
    state.Totals.DoubleDiz += 1;
    host_.setProgressStyle(0);
    host_.setProgressCaption(QStringLiteral("Double zip found"));

    const QString temp = state.tempFolder();
    QDir().mkpath(temp);
    const QString copy = temp + u'/' + DizName;
    const QFileInfo older(copy);
    if (older.exists() || older.isSymLink()) {
        makeWritable(older);
        QFile::remove(copy);
    }
    zip.Flag10 = false;
    zip.EntrySpec = DizName;
    zip.ExtractFolder = temp;
    zip.ArchivePath = path;
    // The copies are deleted only once one of them is safely out: a failed extraction
    // leaves the archive as it was (the ErrorLog line above still reports it).
    if (zip.ExtractEntries(0) != ZipOk || !QFileInfo(copy).isFile())
        return;
    zip.EntrySpec = DizName;
    zip.ArchivePath = path;
    if (zip.DeleteEntries() != ZipOk)
        return; // the rewrite did not happen: both copies are still in the archive

    // Putting the copy back must not be lost to an abort given during this very call:
    // the archive now lacks the file, so an aborted or busy add is repeated.
    int added = ZipAborted;
    for (int attempt = 0; attempt < 5 && (added == ZipAborted || added == ZipBusy); ++attempt) {
        zip.Abort = false;
        zip.EntrySpec = copy;
        zip.ArchivePath = path;
        added = zip.AddEntries(0);
    }
    if (added == ZipOk)
        return;
    // Last resort: keep the file beside the archive, where the user finds it (the
    // TempFolder is emptied when the program closes).
    const QString kept = path + u'.' + DizName;
    if (!QFile::copy(copy, kept))
        return files_.logError(QStringLiteral("Double zip not repaired, file_id.diz left in ") +
                               copy.toLower());
    files_.logError(QStringLiteral("Double zip not repaired, file_id.diz saved as ") +
                    kept.toLower());
}

ArchiveCleaner::Match ArchiveCleaner::matchEntry(int i, int k, const QString &entry,
                                                 const QString &path, bool mayRewrite) {
    const qsizetype index = matcher_.firstMatch(entry);
    if (index < 0)
        return Match::None;
    AppState &state = host_.state();
    ZipComponent &zip = host_.zip();
    host_.setProgressPercent(100);
    int result = ZipUnreadable;
    if (mayRewrite) {
        zip.Flag10 = false;
        zip.EntrySpec = matcher_.pattern(index) + u'\r';
        zip.ArchivePath = path;
        result = zip.DeleteEntries();
    }
    if (isDamageCode(result)) {
        state.ActiveArchive = path.toLower();
        applyDamageRule(path, false); // no ErrorLog line for damage met by a purge
        host_.selectFile(i, false);
        return Match::Damaged;
    }
    host_.setProgressPercent(0);
    // A deletion that failed for any other reason removed nothing: not counted, and
    // later patterns are not tried on this entry either.
    if (result != ZipOk)
        return Match::NotPurged;
    host_.removeEntry(k);
    state.Totals.PurgedFiles += 1;
    host_.setPurgedText(u' ' + QString::number(state.Totals.PurgedFiles, 'f', 0) +
                        QStringLiteral(" purged"));
    return Match::Purged;
}

} // namespace arcsweep
