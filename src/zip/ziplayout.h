#pragma once

#include "zip/zipformat.h"

#include <QByteArray>
#include <QtGlobal>

#include <vector>

namespace arcsweep {

// Our own walk over an archive's framing records (end record, Zip64 end record,
// central directory, local headers), reading no entry data. libzip 1.7.3 skips
// some checks that every other reader makes (local header signatures, entries
// whose data overlap, bytes between the directory and the end record) and
// refuses a few archives that are intact (a stray padding byte in an extra field,
// Zip64 signature bytes inside a name). This walk settles both kinds of case, and
// its map of a consistent archive is what a rewrite copies record by record.
class ZipLayout {
public:
    static constexpr quint64 None = ~quint64(0);

    // One entry: where its records lie.
    struct Entry {
        quint64 local = 0;      // its local header
        quint64 dataEnd = 0;    // the end of its compressed data
        quint64 central = 0;    // its central directory record
        quint32 centralLen = 0; // the record's length, name, extra field and comment included
        // Where in the central record its local header offset is stored: the 32-bit
        // field, or 8 bytes inside the Zip64 extra field when that field holds it.
        quint32 offsetAt = zipformat::kCentralLocalOffset;
        bool zip64Offset = false;
        // Some writers also store an unsaturated offset in the Zip64 extra field, where a
        // saturated one would go; readers differ on which they take, so both are kept
        // right. 0 when there is no such copy.
        quint32 offsetCopyAt = 0;
        quint32 crc = 0; // as the central record states them
        quint64 compressed = 0;
    };

    struct Result {
        bool consistent = false;
        quint64 entries = 0;      // central directory records walked
        const char *problem = ""; // why the archive is not consistent
        // Not an archive of its own but a segment of a split or spanned set: the end
        // record ending the file names another disk.
        bool splitSegment = false;

        // The map of a consistent archive. Entries are in central directory order.
        std::vector<Entry> map;
        quint64 fileSize = 0;
        quint64 dirOffset = 0, dirSize = 0;
        quint64 zip64Record = None;  // the Zip64 end record, when there is one
        quint64 zip64Locator = None; // and its locator
        quint64 endRecord = 0;       // the end record; the comment and any trailing bytes follow
        quint64 firstLocal() const;  // where the entries begin: what lies before is leading data
    };

    // Reads at most the end of the file, the directory and 30 bytes per entry;
    // memory grows with the number of entries, never with the size of the data.
    static Result check(int fd, qint64 fileSize);
};

} // namespace arcsweep
