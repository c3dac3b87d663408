#pragma once

// What the zip component's operations and its workers share: an archive opened for
// reading through libzip and mapped by our own walk, and the test of its entries'
// data. Internal to the component.

#include "zip/ziparchivefile.h"
#include "zip/zipcomponent.h"
#include "zip/ziphandles.h"
#include "zip/ziplayout.h"
#include "zip/ziprewrite.h"

#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <vector>
#include <zip.h>

namespace arcsweep {

class ZipEntryTester;

// An archive opened for an operation: the file, libzip's reading of it, our own map
// of its records, what a listing reports of each entry, and the changes gathered for it.
struct ZipOpened {
    QString path;
    ZipArchiveFile file;
    ZipHandle za;
    ZipLayout::Result layout;
    std::vector<ZipEntryInfo> entries; // per entry, as Listing reports them
    std::unique_ptr<ZipRewrite> rewrite;
    QSet<QString> marked; // the entry selections already applied to `rewrite`
    // Why an open that gave ZipUnreadable failed, where the system said.
    FileResult failure;

    ZipOpened() = default;
    ZipOpened(const ZipOpened &) = delete;
    ZipOpened &operator=(const ZipOpened &) = delete;
    ~ZipOpened();
    void closeReader();
    ZipRewrite &changes();

    // Opens `path` and reads its directory through libzip and our own walk; a ZipResult.
    // An open that fails lists no entries, however many it had read.
    int open(const QString &path);
    // The listing's verdict: opens `path` and tests every entry's data with `tester`,
    // then lets libzip's reader go. The one way to a verdict, on a worker or not.
    int openAndTest(const QString &path, ZipEntryTester &tester);

private:
    int readDirectory(const QString &path);
};

// Tests entries' data: every entry that can be decoded is read to its end and checked
// against its CRC and its stated size. Small entries are tested whole with libdeflate;
// larger ones stream through libzip with one reused buffer.
class ZipEntryTester {
public:
    ZipEntryTester();
    ~ZipEntryTester();
    ZipEntryTester(const ZipEntryTester &) = delete;
    ZipEntryTester &operator=(const ZipEntryTester &) = delete;

    std::function<bool()> stop;                   // true ends the test with ZipAborted
    std::function<void(double, double)> progress; // bytes done of the total, as it goes

    // A ZipResult for the whole archive.
    int testAll(zip_t *za, quint64 count);

private:
    int testSmall(zip_t *za, const zip_stat_t &st);
    int testStreaming(zip_t *za, const zip_stat_t &st, double doneBytes, double totalBytes);

    std::vector<char> buffer_;
    std::vector<unsigned char> packed_, unpacked_; // bounded by the whole-entry limit
    InflaterHandle inflater_;
};

// Failures of the file system rather than of the archive's content.
bool isSystemError(int zipError);
// Result code for a libzip error met while reading an entry.
int readFailureCode(int zipError);
// Whether this build of libzip can read the entry's data: not encrypted (we have no
// password) and compressed with a method it decodes.
bool canDecode(const zip_stat_t &st);

} // namespace arcsweep
