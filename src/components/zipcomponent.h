#pragma once

#include "components/zipresult.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>
#include <zip.h>

struct libdeflate_decompressor;

namespace arcsweep {

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
    QString EntrySpec;     // "*.*"/"*" for all, else names/patterns separated by CR
    bool Flag10 = false;   // kept for the callers' calling pattern; has no effect

    int ListEntries();
    int DeleteEntries();
    int ExtractEntries(int reserved = 0);
    int AddEntries(int reserved = 0);

    // Changes gathered into one rewrite. After a ListEntries that returned 0,
    // BeginChanges makes DeleteEntries and AddEntries on that archive record what they
    // would do (with the result they would give) instead of rewriting it each time;
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

    // The program is closing: the operation in progress stops at its next check and
    // returns ZipAborted, and every later call returns it at once, touching nothing.
    void Shutdown() {
        closed_ = true;
        Abort = true;
    }
    bool isShutDown() const { return closed_; }
    // How many operations have started: a Status handler tells a new one by it.
    quint64 operationCount() const { return operations_; }

signals:
    void Listing(const arcsweep::ZipEntryInfo &entry);
    // Completion in percent (0..100); emitted at least every 100 ms of a long operation.
    void Status(int completion);

private:
    struct Loaded;
    class Operation;

    // Runs one operation: refuses while busy or shut down, and reports an operation
    // that a shutdown overtook as aborted, whatever it found.
    template <typename Body> int run(Body body);
    int listEntries();
    int deleteEntries();
    int extractEntries();
    int addEntries();
    // Opens ArchivePath and reads its directory through libzip and our own walk.
    int load(Loaded &archive);
    int testEntries(Loaded &archive);
    // Tests one small entry whole: raw bytes in, one inflate, one CRC. -1 when the
    // entry is not for this path (the streaming read then tests it).
    int testSmallEntry(zip_t *za, const zip_stat_t &st);
    int testStreaming(zip_t *za, const zip_stat_t &st, double doneBytes, double totalBytes);
    // Marks what EntrySpec selects in the archive's pending changes.
    void markDeletions(Loaded &archive);
    int markAddition(Loaded &archive);
    int applyChanges(Loaded &archive);
    int extractEntry(zip_t *za, quint64 index, const QString &path, double doneBytes,
                     double entryBytes, double totalBytes);
    int aborted();
    void reportProgress(double done, double total);

    bool busy_ = false;
    bool closed_ = false;
    quint64 operations_ = 0;
    int lastPercent_ = -1;
    QElapsedTimer statusClock_;
    std::vector<char> buffer_; // the one read buffer of every operation
    // Reused buffers of the whole-entry test, bounded by its size limit.
    std::vector<unsigned char> packed_, unpacked_;
    ::libdeflate_decompressor *inflater_ = nullptr;
    // The archive that the last successful listing read, while changes may follow.
    std::unique_ptr<Loaded> listed_;
    bool gathering_ = false;
};

} // namespace arcsweep
