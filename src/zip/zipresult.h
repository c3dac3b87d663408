#pragma once

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
    ZipChanged = 507,          // the archive changed since it was read, or another program is
                               // rewriting it: left as it is
    ZipCannotKeep = 508,       // the removed entries could not be kept first: nothing changed
    ZipNotWritable = 509,      // this user may not write the archive in place (permissions,
                               // read-only volume, immutable file): not rewritten
    ZipSplitSegment = 510,     // a segment of a split or spanned set: neither tested nor damaged
};

inline bool isDamageCode(int code) {
    return code == ZipNotAZip || code == ZipStructureDamaged || code == ZipDataDamaged;
}

} // namespace arcsweep
