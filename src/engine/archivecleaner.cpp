#include "engine/archivecleaner.h"

#include "common/appstate.h"
#include "common/damagedarchiverule.h"
#include "common/fs.h"
#include "engine/purgematcher.h"
#include "engine/runfiles.h"
#include "engine/runhost.h"
#include "engine/verdictstore.h"
#include "engine/yielder.h"
#include "zip/archiveactions.h"
#include "zip/ziparchivefile.h"
#include "zip/zipcomponent.h"

#include <QDir>
#include <QFile>

#include <utility>

namespace arcsweep {

namespace {
const QString DizName = QStringLiteral("file_id.diz");
} // namespace

bool ArchiveCleaner::insideTree(const QString &path) const {
    if (!Fs::isSymLink(path) || tree_.isEmpty())
        return true;
    const QString target = Fs::realPath(path);
    return !target.isEmpty() && (tree_ == u"/" || target.startsWith(tree_ + u'/'));
}

DamagedArchiveRule ArchiveCleaner::damageRule(const QString &path, bool logIt, bool mayRename) {
    DamagedArchiveRule rule;
    const bool dry = host_.state().DryRun;
    if (logIt)
        rule.report = [this, dry, path](const QString &lowerPath) {
            if (dry)
                files_.toStdout({QStringLiteral("bad"), path});
            else
                files_.logError(QStringLiteral("Bad zip ") + lowerPath);
        };
    rule.mayRename = [this, mayRename, dry](const QString &realPath) {
        if (!mayRename || dry || host_.state().Closing)
            return false;
        return host_.driveCheck(realPath) > 2;
    };
    return rule;
}

void ArchiveCleaner::CleanFolderArchives() {
    AppState &state = host_.state();
    // An interactive run without a purge list leaves the folder alone.
    if (!state.unattended() && !QFileInfo::exists(state.file(DataFile::PurgeList))) {
        host_.showError(QStringLiteral("No purge list exists"));
        return;
    }
    // The real folder for file operations; texts show it lower-cased.
    QString folder = host_.dirPath();
    if (folder.endsWith(u'/'))
        folder.chop(1);
    state.CurrentFolder = folder;
    // What a rewrite of ours left when it was killed goes first.
    if (!state.DryRun)
        ZipArchiveFile::removeStaleTemporaries(folder.isEmpty() ? QStringLiteral("/") : folder);
    // The archive count is taken once: renamed archives stay in the list.
    const int count = host_.fileCount();
    for (int i = 0; i < count; ++i)
        if (cleanArchive(i, folder) == Next::Stop)
            break;
    host_.clearEntries();
}

ArchiveCleaner::Next ArchiveCleaner::cleanArchive(int i, const QString &folder) {
    const QString name = host_.fileName(i);
    if (name.isEmpty())
        return Next::Archive;
    const QString path = folder + u'/' + name;
    if (const std::optional<VerdictStore::Skip> skip = store_.takeSkip(path))
        return skipArchive(i, path, folder, skip->nfoCount);
    // Nothing is changed through a link that leads out of the tree being cleaned.
    const bool mayChange = insideTree(path);
    const qint64 sizeBefore = beginArchive(i, path, mayChange);
    // The file as tested, for the verdict store (taken after beginArchive's mode change).
    const std::optional<VerdictStore::Identity> identity =
        store_.isOpen() ? VerdictStore::identityOf(path) : std::nullopt;
    // Only an archive whose every entry tested sound is ever rewritten: its kept
    // entries are copied as they are, and a damaged or unreadable one must stay as found.
    repaired_ = false;
    const int listed = listArchive(path, mayChange);
    const Walk walk = walkEntries(i, path, listed == ZipOk && mayChange);
    if (walk.stopped || (!walk.damaged && !host_.state().Running))
        return stopArchive(walk.purged);
    if (walk.damaged)
        takeBackRepair();
    else
        writeChanges(i, path, sizeBefore, walk.purged);
    host_.zip().DiscardChanges();
    repaired_ = false;
    // Only an archive found sound that nothing was (or would have been) done to is
    // recorded; any other outcome removes what was recorded of it.
    const bool sound =
        listed == ZipOk && mayChange && !walk.damaged && walk.matched == 0 && !doubleDiz_;
    store_.update(path, identity, listed_, walk.nfoCount, sound);
    listed_.clear();
    return finishArchive(path, folder, walk.nfoCount, mayChange);
}

ArchiveCleaner::Next ArchiveCleaner::skipArchive(int i, const QString &path, const QString &folder,
                                                 int nfoCount) {
    // Counted as an archive, but not as bytes tested: none were read.
    host_.state().Totals.Zips += 1;
    const QString lowerName = Fs::lower(host_.fileName(i));
    host_.setStatusCaption(lowerName);
    host_.setWindowCaption(QStringLiteral("Cleaning ") + lowerName);
    host_.clearEntries();
    return finishArchive(path, folder, nfoCount, true);
}

qint64 ArchiveCleaner::beginArchive(int i, const QString &path, bool mayChange) {
    AppState &state = host_.state();
    // Counted and made writable (never through a link) before anything else.
    const qint64 sizeBefore = std::max<qint64>(Fs::size(path), 0);
    state.Totals.Zips += 1;
    state.Totals.BytesTested += double(sizeBefore);
    if (!state.DryRun)
        Fs::makeOwnerWritable(path);
    const QString lowerName = Fs::lower(host_.fileName(i));
    host_.selectFile(i, true);
    host_.setStatusCaption(lowerName);
    host_.setWindowCaption(QStringLiteral("Cleaning ") + lowerName);
    if (!mayChange)
        files_.logError(QStringLiteral("Linked zip ") + Fs::lower(path));
    return sizeBefore;
}

ArchiveCleaner::Walk ArchiveCleaner::walkEntries(int i, const QString &path, bool mayRewrite) {
    // Each entry present after the listing is visited once. Its deletions are gathered
    // and written together once the walk is through.
    const AppState &state = host_.state();
    Walk walk;
    for (int k = 0; k < host_.entryCount(); ++k) {
        const QString entry = host_.entry(k);
        host_.selectEntry(k, true);
        if (entry.endsWith(QLatin1String(".nfo")))
            ++walk.nfoCount;
        const Match match = matchEntry(i, k, entry, path, mayRewrite);
        if (match != Match::None)
            ++walk.matched;
        if (match == Match::Damaged) {
            walk.damaged = true;
            break;
        }
        if (match == Match::Purged) {
            if (state.DryRun)
                files_.toStdout({QStringLiteral("purge"), path, entry});
            // The entry that moves into position k is visited next.
            --walk.nfoCount;
            ++walk.purged;
            if (k >= host_.entryCount())
                break;
            --k;
        } else {
            host_.selectEntry(k, false);
        }
        // A purged entry is no exception: a stop given meanwhile ends the walk here.
        if (!state.Running) {
            walk.stopped = true;
            break;
        }
        yielder_.maybe();
    }
    return walk;
}

ArchiveCleaner::Next ArchiveCleaner::stopArchive(int purged) {
    // Stopped: nothing gathered is written, and what was not written is not counted.
    host_.zip().DiscardChanges();
    host_.state().Totals.PurgedFiles -= purged;
    takeBackRepair();
    showPurged();
    return Next::Stop;
}

void ArchiveCleaner::writeChanges(int i, const QString &path, qint64 sizeBefore, int purged) {
    AppState &state = host_.state();
    ZipComponent &zip = host_.zip();
    host_.selectFile(i, false);
    // A dry run reckons what the rewrite would free; a run writes it.
    const qint64 sizeAfter = state.DryRun && zip.gathering() ? zip.pendingSize() : sizeBefore;
    if (!state.DryRun && zip.gathering() && !applyChanges(path, purged))
        purged = 0;
    if (purged > 0) {
        const qint64 removed =
            sizeBefore - (state.DryRun ? sizeAfter : std::max<qint64>(Fs::size(path), 0));
        state.Totals.PurgedBytes += double(removed);
        if (removed != 0)
            state.Totals.CleanedZips += 1;
    }
}

ArchiveCleaner::Next ArchiveCleaner::finishArchive(const QString &path, const QString &folder,
                                                   int nfoCount, bool mayChange) {
    // The archive is done: counted, and queued when it keeps more than one .nfo.
    AppState &state = host_.state();
    RunTotals &totals = state.Totals;
    yielder_.maybe();
    if (!state.Running)
        return Next::Stop;
    totals.Processed += 1;
    host_.setProcessedText(u' ' + QString::number(totals.Processed) + QStringLiteral(" processed"));
    files_.progress().show(double(totals.Processed), totals.BytesTested, folder);
    if (nfoCount > 1 && mayChange) {
        totals.ExtraNfos += nfoCount - 1;
        if (!state.DryRun)
            files_.addToVerifyList(path);
    }
    return Next::Archive;
}

bool ArchiveCleaner::applyChanges(const QString &path, int purgedHere) {
    ZipComponent &zip = host_.zip();
    const QString keep = host_.state().KeepPurged;
    // The kept copy stands at the archive's own path below the keep folder.
    zip.KeepRemovedIn = keep.isEmpty() || !path.startsWith(start_)
                            ? QString()
                            : keep + u'/' + path.mid(start_.size());
    // Only into the tree, whatever a link has come to name since the listing.
    zip.RewriteWithin = tree_;
    const int result = zip.ApplyChanges();
    zip.KeepRemovedIn.clear();
    zip.RewriteWithin.clear();
    if (result == ZipOk)
        return true;
    // Nothing was written: the archive is as it was, and its purges and its repair did
    // not happen.
    host_.state().Totals.PurgedFiles -= purgedHere;
    takeBackRepair();
    showPurged();
    // The lines name the system's cause where there is one, after the path.
    const FileResult &why = zip.lastFailure();
    const QString cause = why ? QString() : QStringLiteral(": ") + why.cause();
    if (result == ZipChanged)
        files_.logError(QStringLiteral("Changed zip ") + Fs::lower(path));
    else if (result == ZipNotWritable)
        files_.logError(QStringLiteral("Not rewritten, the archive may not be written: ") +
                        Fs::lower(path) + cause);
    else if (result == ZipCannotKeep)
        files_.logError(QStringLiteral("Not purged, the entries could not be kept: ") +
                        Fs::lower(path) + cause);
    else if (result != ZipAborted)
        files_.logError(QStringLiteral("Cannot write zip ") + Fs::lower(path) + cause);
    return false;
}

void ArchiveCleaner::takeBackRepair() {
    if (std::exchange(repaired_, false))
        host_.state().Totals.DoubleDiz -= 1;
}

void ArchiveCleaner::showPurged() {
    host_.setPurgedText(u' ' + QString::number(host_.state().Totals.PurgedFiles, 'f', 0) +
                        QStringLiteral(" purged"));
}

int ArchiveCleaner::listArchive(const QString &path, bool mayChange) {
    AppState &state = host_.state();
    ZipComponent &zip = host_.zip();
    host_.clearEntries();
    state.ActiveArchive = Fs::lower(path);
    // Kept open for the changes gathered below; DiscardChanges at the archive's end lets go.
    zip.KeepForChanges = mayChange;
    const DamagedArchiveRule damaged = damageRule(path, true, mayChange);
    doubleDiz_ = false;
    listed_.clear();
    // The names as listed are kept for the verdict store only when it is in use.
    QMetaObject::Connection names;
    if (store_.isOpen())
        names = QObject::connect(&zip, &ZipComponent::Listing, [this](const ZipEntryInfo &entry) {
            listed_.append(entry.FileName);
        });
    const int result = ArchiveActions::listAndTest(zip, path, &damaged, false);
    QObject::disconnect(names);
    zip.KeepForChanges = false;
    // A failed listing leaves a marker that takes part in the entry walk.
    if (result != ZipOk)
        host_.addEntry(QStringLiteral("Bad zip found"));
    if (isDamageCode(result)) {
        state.Totals.BadZips += 1;
        return result;
    }
    // A segment of a split set is left as it is, set and name alike.
    if (result == ZipSplitSegment)
        files_.logError(QStringLiteral("Split zip ") + state.ActiveArchive);
    if (result != ZipOk || !mayChange)
        return result;
    // From here on the archive's changes are gathered for one rewrite.
    zip.BeginChanges();
    // Two "file_id.diz" entries: keep one.
    int dizCount = 0;
    for (int k = 0, n = host_.entryCount(); k < n && dizCount < 2; ++k)
        if (host_.entry(k) == DizName)
            ++dizCount;
    doubleDiz_ = dizCount == 2;
    // Counted only when the repair is gathered; a rewrite that then fails takes it back.
    if (dizCount == 2 && repairDoubleDiz(path)) {
        state.Totals.DoubleDiz += 1;
        repaired_ = true;
    }
    return result;
}

bool ArchiveCleaner::repairDoubleDiz(const QString &path) {
    AppState &state = host_.state();
    ZipComponent &zip = host_.zip();
    if (state.DryRun)
        files_.toStdout({QStringLiteral("repair"), path});
    else
        files_.logError(QStringLiteral("Double zip ") + state.ActiveArchive);
    host_.setProgressStyle(0);
    host_.setProgressCaption(QStringLiteral("Double zip found"));

    // A dry run takes the copy out into a scratch folder of its own, not the TempFolder.
    if (state.DryRun && !dryScratch_)
        dryScratch_ = std::make_unique<QTemporaryDir>();
    const QString temp = state.DryRun ? dryScratch_->path() : state.tempFolder();
    QDir().mkpath(temp);
    const QString copy = temp + u'/' + DizName;
    if (Fs::exists(copy)) {
        Fs::makeOwnerWritable(copy);
        Fs::remove(copy);
    }
    // The copies are deleted only once one of them is safely out: a failed extraction
    // leaves the archive as it was (the ErrorLog line above still reports it).
    if (ArchiveActions::extractEntry(zip, path, DizName, temp, nullptr) != ZipOk ||
        !Fs::isFile(copy))
        return false;
    // Gathered for the archive's one rewrite: adding the copy replaces every entry of
    // its name, both copies included, so the deletion and the addition are one change
    // that is made whole or not at all. An add that cannot be done (a copy too large to
    // add, or gone) gathers nothing: the archive keeps both copies, and every other
    // change of this archive is still gathered, never written at once.
    zip.EntrySpec = copy;
    zip.ArchivePath = path;
    if (zip.AddEntries(0) != ZipOk) {
        files_.logError(QStringLiteral("Double zip not repaired ") + state.ActiveArchive);
        return false;
    }
    return true;
}

ArchiveCleaner::Match ArchiveCleaner::matchEntry(int i, int k, const QString &entry,
                                                 const QString &path, bool mayRewrite) {
    const qsizetype index = matcher_.firstMatch(entry);
    if (index < 0)
        return Match::None;
    AppState &state = host_.state();
    // After a stop nothing more is deleted: the end-of-run steps may already have run
    // inside the last yield (their re-test lists the archive anew and forgets what was
    // gathered), so a deletion now would be written at once, neither kept nor counted.
    if (!state.Running)
        return Match::NotPurged;
    ZipComponent &zip = host_.zip();
    host_.setProgressPercent(100);
    int result = ZipUnreadable;
    if (mayRewrite && zip.gathering()) {
        const DamagedArchiveRule damaged = damageRule(path, false, true); // no ErrorLog line
        result =
            ArchiveActions::deleteMatching(zip, path, matcher_.pattern(index) + u'\r', &damaged);
    }
    if (isDamageCode(result)) {
        state.ActiveArchive = Fs::lower(path);
        state.Totals.BadZips += 1;
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
    showPurged();
    return Match::Purged;
}

} // namespace arcsweep
