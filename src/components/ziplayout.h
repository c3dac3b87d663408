#pragma once

#include <QtGlobal>

namespace arcsweep {

// Our own walk over an archive's framing records (end record, Zip64 end record,
// central directory, local headers), reading no entry data. libzip 1.7.3 skips
// some checks that every other reader makes (local header signatures, entries
// whose data overlap, bytes between the directory and the end record) and
// refuses a few archives that are intact (a stray padding byte in an extra field,
// Zip64 signature bytes inside a name). This walk settles both kinds of case.
class ZipLayout {
public:
    struct Result {
        bool consistent = false;
        quint64 entries = 0;      // central directory records walked
        const char *problem = ""; // why the archive is not consistent
    };

    // Reads at most the end of the file, the directory and 30 bytes per entry;
    // memory grows with the number of entries, never with the size of the data.
    static Result check(int fd, qint64 fileSize);
};

} // namespace arcsweep
