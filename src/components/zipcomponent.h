#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <vector>
#include <zip.h>

struct libdeflate_decompressor;

namespace arcsweep {

// Result codes of the zip component. 110, 200 and 410 mean a damaged archive;
// every other non-zero code is a failure that says nothing about the archive.
enum ZipResult : int {
    ZipOk = 0,
    ZipNotAZip = 110,          // not a zip archive at all
    ZipStructureDamaged = 200, // truncated, inconsistent directory
    ZipDataDamaged = 410,      // CRC mismatch or broken compressed data
    ZipAborted = 501,          // Abort was set while the operation ran; nothing changed
    ZipUnreadable = 502,       // archive missing, a folder, or not readable
    ZipCannotWrite = 503,      // the rewrite could not be completed; original unchanged
    ZipNothingToDo = 504,      // nothing selected to extract, or the file to add is missing
    ZipUnsupported = 505,      // encrypted entry or a compression method we cannot decode
    ZipBusy = 506,             // called while one of this instance's own operations runs
};

inline bool isDamageCode(int code) {
    return code == ZipNotAZip || code == ZipStructureDamaged || code == ZipDataDamaged;
}

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
    struct OpenedArchive;
    class Operation;

    // Runs one operation: refuses while busy or shut down, and reports an operation
    // that a shutdown overtook as aborted, whatever it found.
    template <typename Body> int run(Body body);
    int listEntries();
    int deleteEntries();
    int extractEntries();
    int addEntries();
    int openArchive(OpenedArchive &archive, bool writable);
    int rewrite(OpenedArchive &archive, qint64 expectedSize);
    int extractEntry(OpenedArchive &archive, quint64 index, const QString &path, double doneBytes,
                     double entryBytes, double totalBytes);
    int aborted();
    // Tests one small entry whole: raw bytes in, one inflate, one CRC. -1 when the
    // entry is not for this path (the streaming read then tests it).
    int testSmallEntry(zip_t *za, const zip_stat_t &st);
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
};

} // namespace arcsweep
