#pragma once

#include "zip/ziplayout.h"

#include <QByteArray>
#include <QDateTime>

#include <functional>
#include <vector>

namespace arcsweep {

// An entry to add, its data already packed.
struct ZipNewEntry {
    QByteArray name;   // as stored: UTF-8
    QByteArray packed; // the data as stored (deflated, or as it is)
    quint64 size = 0;  // unpacked size
    quint32 crc = 0;
    quint16 method = 0; // 0 stored, 8 deflated
    quint16 dosTime = 0, dosDate = 0;
    quint32 unixMode = 0100644;

    // The entry for a file's bytes: deflated when that makes it smaller.
    static ZipNewEntry fromData(const QByteArray &name, const QByteArray &data,
                                const QDateTime &modified);
};

// Writes a new archive from one whose framing ZipLayout found consistent, without
// decoding anything: the bytes in front of the first entry; each kept entry's local
// record (header, name, extra field, data, data descriptor and any bytes up to the
// next record) and central record byte for byte, only the local header offsets
// changed; new entries after the kept ones; the Zip64 end records where the archive
// had them or now needs them; and the end record with the archive comment and
// whatever followed it, as they were. Kept data moves with copy_file_range.
//
// The same machinery writes the archive of what a rewrite removes (droppedInto):
// the removed records, byte for byte as well, after every entry of an archive kept
// before, whose frame (leading data, comment) that archive keeps.
class ZipRewrite {
public:
    ZipRewrite(int sourceFd, const ZipLayout::Result &layout);

    // Entries by their index in the central directory.
    void drop(size_t index);
    bool isDropped(size_t index) const { return parts_[0].dropped.at(index); }
    size_t droppedCount() const;
    size_t outputEntries() const; // entries of the new archive
    void add(ZipNewEntry entry);
    const std::vector<ZipNewEntry> &added() const { return added_; }
    void dropAdded(size_t index); // an added entry deleted again before the write
    bool changes() const;         // anything dropped or added

    // The archive of the records this rewrite drops: after the entries of `existing`
    // (open at `existingFd`), or alone with a bare end record when `existing` is null.
    // A dropped record that `existing` already holds byte for byte is not added again.
    ZipRewrite droppedInto(int existingFd, const ZipLayout::Result *existing) const;
    // For such an archive: how many records it adds to `existing`.
    size_t keptCount() const;

    // The size of the new archive, computed without writing it.
    qint64 outputSize() const;

    enum class Outcome { Written, Cancelled, Failed };
    // Writes the new archive into `outFd` from offset 0. `progress` gets the bytes
    // written so far after each block and returns false to cancel. On Failed, `error`
    // holds the errno of the failing call.
    Outcome write(int outFd, const std::function<bool(qint64)> &progress, int *error) const;

private:
    // One archive records are taken from; the first one gives the frame unless the
    // new archive has none of its own (`frameless_`).
    struct Part {
        int fd;
        const ZipLayout::Result *layout;
        std::vector<bool> dropped;
        std::vector<size_t> physical; // entry indexes by local header position
    };
    struct Plan;
    ZipRewrite() = default;
    static Part partOf(int fd, const ZipLayout::Result &layout);
    // Each entry's local record length, up to the next record or the directory.
    static std::vector<quint64> spanLengths(const Part &part);
    Plan plan() const;

    class Output; // the new archive as write() puts it out

    // The steps of write(), in order; each returns false when the write fails or is
    // cancelled.
    // The bytes in front of the first entry.
    bool copyLeadingData(Output &out, const Plan &p) const;
    // The kept local records, neighbours in one copy.
    bool copyKeptRecords(Output &out, const Plan &p) const;
    // The added entries' local headers and data.
    bool writeAddedEntries(Output &out) const;
    // The kept central records with their new offsets, then the added ones.
    bool writeCentralDirectory(Output &out, const Plan &p) const;
    // The Zip64 end records when the new archive has them, then the end record with the
    // comment and whatever followed it.
    bool writeEndRecords(Output &out, const Plan &p) const;
    // The frame's end record and what follows it, or a bare end record without a frame.
    bool readTail(Output &out, const Plan &p, QByteArray &tail) const;
    // The frame's Zip64 end record (or a new one) and its locator, with the new counts
    // and directory place.
    bool writeZip64EndRecords(Output &out, const Plan &p) const;
    // Puts the new counts and directory place into the end record; false when `tail`
    // does not start with one.
    static bool updateEndRecord(QByteArray &tail, const Plan &p);

    std::vector<Part> parts_;
    bool frameless_ = false;
    std::vector<ZipNewEntry> added_;
};

} // namespace arcsweep
