#pragma once

#include "common/fileresult.h"
#include "zip/zipresult.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>
#include <zip.h>

namespace arcsweep {

struct ZipOpened;
class ZipEntryTester;
class ZipRewrite;
class ZipTestAhead;

// What a Listing event reports about one entry.
struct ZipEntryInfo {
    QString FileName; // as stored (UTF-8 when flagged or valid, else CP437)
    qint64 Size = 0;
    qint64 PSize = 0;
    bool Encrypted = false;
    int Method = 0;
};

// The archive component: one instance per window (XceedZip1). Callers set the
// properties, call an operation and read its result code. Operations are
// synchronous; Listing and Status are emitted on the caller's thread during the call.
class ZipComponent : public QObject {
    Q_OBJECT
public:
    explicit ZipComponent(QObject *parent = nullptr);
    ~ZipComponent() override;

    // Properties, named as the callers know them.
    bool Abort = false;    // stops the running operation at its next check
    QString ExtractFolder; // where ExtractEntries writes
    QString ArchivePath;   // the archive operated on
    QString EntrySpec;     // exactly "*.*"/"*" for all, else Like patterns separated by CR
    bool Flag10 = false;   // kept for the callers' calling pattern; has no effect
    // Set for a dry run: no operation writes an archive or a kept copy, whatever is
    // asked and whatever failed before (a rewrite returns ZipCannotWrite).
    bool ReadOnly = false;
    // When set, a rewrite first writes the entries it removes, byte for byte, into the
    // archive at this path (added after what it holds, never overwriting it), synced;
    // if that cannot be done the rewrite does not happen (ZipCannotKeep).
    QString KeepRemovedIn;
    // When set, a rewrite goes only to an archive that lies below this folder (links
    // resolved) at the moment it is put in place.
    QString RewriteWithin;

    int ListEntries();
    int DeleteEntries();
    int ExtractEntries(int reserved = 0);
    int AddEntries(int reserved = 0);

    // When set, a ListEntries that returns 0 keeps the archive open for BeginChanges;
    // otherwise no archive stays open once an operation has returned (a volume can be
    // unmounted while the program idles).
    bool KeepForChanges = false;

    // Changes gathered into one rewrite. After a ListEntries that returned 0 with
    // KeepForChanges set, BeginChanges makes DeleteEntries and AddEntries on that archive record
    // what they would do (with the result they would give) instead of rewriting it each time;
    // ApplyChanges then rewrites the archive once with all of them, or not at all
    // (a ZipResult; 0 when there was nothing to change); DiscardChanges forgets them.
    void BeginChanges();
    int ApplyChanges();
    void DiscardChanges();
    bool gathering() const { return gathering_; }
    // Entries the gathered changes remove, and the size the archive would have after them.
    int pendingDrops() const;
    qint64 pendingSize() const;

    bool isBusy() const { return busy_; }

    // Why the last operation failed, where the system said: its error and what was being
    // done. Set for an archive that could not be read (ZipUnreadable), rewritten
    // (ZipCannotWrite), written in place (ZipNotWritable) or whose removed entries could
    // not be kept (ZipCannotKeep), and for an extraction that could not be written;
    // success otherwise, and for failures that are no system error.
    const FileResult &lastFailure() const { return failure_; }

    // Archives about to be listed, in the order they will be (added after those already
    // given): worker threads open and
    // test them ahead, and ListEntries takes their verdict when the file is still the
    // one they read (else it tests anew). Events still come only during ListEntries,
    // on the caller's thread, in the same order as without the workers.
    void TestAhead(const QStringList &paths);
    void StopTestingAhead();
    // How many worker threads test ahead: one per core when negative, none at 0.
    int testAheadWorkers = -1;

    // The program is closing: the operation in progress stops at its next check and
    // returns ZipAborted, and every later call returns it at once, touching nothing.
    void Shutdown();
    bool isShutDown() const { return closed_; }
    // How many operations have started: a Status handler tells a new one by it.
    quint64 operationCount() const { return operations_; }

signals:
    void Listing(const arcsweep::ZipEntryInfo &entry);
    // Completion in percent (0..100); emitted at least every 100 ms of a long operation.
    void Status(int completion);
    // An archive queued by TestAhead has its verdict; emitted on the worker's thread.
    void TestedAhead(const QString &path);

private:
    class Operation;

    // Runs one operation: refuses while busy or shut down, and reports an operation
    // that a shutdown overtook as aborted, whatever it found.
    template <typename Body> int run(Body body);
    int listEntries();
    bool reportEntries(const ZipOpened &archive); // false when Abort stopped it
    int finishListing(std::unique_ptr<ZipOpened> archive, int rc);
    int deleteEntries();
    int extractEntries();
    int addEntries();
    // Marks what EntrySpec selects in the archive's pending changes.
    void markDeletions(ZipOpened &archive);
    int markAddition(ZipOpened &archive);
    int applyChanges(ZipOpened &archive);
    int keepRemoved(const ZipRewrite &rewrite);
    int extractEntry(zip_t *za, quint64 index, const QString &path, double doneBytes,
                     double entryBytes, double totalBytes);
    int aborted();
    // Records `why` as the cause of the failure `code`, and returns `code`.
    int failed(int code, const FileResult &why);
    void reportProgress(double done, double total);

    bool busy_ = false;
    bool closed_ = false;
    quint64 operations_ = 0;
    int lastPercent_ = -1;
    QElapsedTimer statusClock_;
    std::vector<char> buffer_; // the read buffer of extraction
    std::unique_ptr<ZipEntryTester> tester_;
    std::unique_ptr<ZipTestAhead> ahead_;
    bool takingAhead_ = false; // inside ahead_->take()
    bool dropAhead_ = false;   // StopTestingAhead came during that wait
    // The archive that the last successful listing read, while changes may follow.
    std::unique_ptr<ZipOpened> listed_;
    bool gathering_ = false;
    FileResult failure_;
};

} // namespace arcsweep
