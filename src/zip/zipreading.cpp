#include "zip/zipreading.h"

#include <malloc.h>

#include <algorithm>
#include <libdeflate.h>
#include <utility>

namespace arcsweep {

namespace {
constexpr size_t kBufferSize = 256 * 1024;
// Entries up to this size (packed and unpacked) are tested whole; larger ones stream.
constexpr zip_uint64_t kWholeEntryLimit = 8 * 1024 * 1024;

ZipEntryInfo entryInfo(const zip_stat_t &st) {
    ZipEntryInfo info;
    info.FileName = QString::fromUtf8(st.name); // libzip converts CP437 names to UTF-8
    info.Size = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : 0;
    info.PSize = (st.valid & ZIP_STAT_COMP_SIZE) ? qint64(st.comp_size) : 0;
    info.Encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
    info.Method = (st.valid & ZIP_STAT_COMP_METHOD) ? int(st.comp_method) : 0;
    return info;
}
} // namespace

bool isSystemError(int zipError) {
    switch (zipError) {
    // Not ZIP_ER_SEEK or ZIP_ER_TELL: our source seeks by arithmetic alone, so those
    // come from offsets in the archive past any possible file size (damage).
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_WRITE:
    case ZIP_ER_CLOSE:
    case ZIP_ER_RENAME:
    case ZIP_ER_REMOVE:
    case ZIP_ER_TMPOPEN:
        return true;
    default:
        return false;
    }
}

int readFailureCode(int zipError) {
    switch (zipError) {
    case ZIP_ER_CRC:
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
        return ZipDataDamaged;
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_OPNOTSUPP:
        return ZipUnsupported;
    case ZIP_ER_CANCELLED:
        return ZipAborted;
    default:
        return isSystemError(zipError) ? ZipUnreadable : ZipStructureDamaged;
    }
}

bool canDecode(const zip_stat_t &st) {
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        return false;
    return (st.valid & ZIP_STAT_COMP_METHOD) && zip_compression_method_supported(st.comp_method, 0);
}

namespace {
// Freed memory of a large directory goes back to the system at once: the worker
// threads that test ahead allocate from arenas of their own, whose free pages would
// otherwise stay resident beside the window thread's.
constexpr size_t kTrimEntries = 10000;
} // namespace

ZipOpened::~ZipOpened() {
    closeReader();
    if (entries.size() < kTrimEntries)
        return;
    rewrite.reset();
    layout = {};
    std::vector<ZipEntryInfo>().swap(entries);
    ::malloc_trim(0);
}

void ZipOpened::closeReader() {
    if (!za)
        return;
    za.reset();
    if (entries.size() >= kTrimEntries)
        ::malloc_trim(0);
}

ZipRewrite &ZipOpened::changes() {
    if (!rewrite)
        rewrite = std::make_unique<ZipRewrite>(file.fd(), layout);
    return *rewrite;
}

int ZipOpened::open(const QString &archivePath) {
    const int rc = readDirectory(archivePath);
    if (rc != ZipOk)
        std::vector<ZipEntryInfo>().swap(entries);
    return rc;
}

int ZipOpened::openAndTest(const QString &archivePath, ZipEntryTester &tester) {
    int rc = open(archivePath);
    if (rc == ZipOk)
        rc = tester.testAll(za.get(), entries.size());
    closeReader();
    return rc;
}

int ZipOpened::readDirectory(const QString &archivePath) {
    ZipOpened &archive = *this;
    archive.path = archivePath;
    if (!archive.file.open(archivePath)) {
        archive.failure = archive.file.failure();
        return ZipUnreadable;
    }
    zip_error_t error;
    zip_error_init(&error);
    ZipSourceHandle source(archive.file.createSource(&error));
    if (!source) {
        zip_error_fini(&error);
        archive.failure = FileResult::failure(ENOMEM, QStringLiteral("read the archive"));
        return ZipUnreadable;
    }
    // Never ZIP_CHECKCONS: it rejects sound archives written with data descriptors.
    archive.za = openFromSource(std::move(source), ZIP_RDONLY, &error);
    const int zipError = zip_error_code_zip(&error);
    const int systemError = zip_error_code_system(&error);
    zip_error_fini(&error);
    if (!archive.za) {
        if (isSystemError(zipError)) {
            archive.failure = FileResult::failure(systemError, QStringLiteral("read the archive"));
            return ZipUnreadable;
        }
        const ZipLayout::Result layout = ZipLayout::check(archive.file.fd(), archive.file.size());
        // One part of a set spread over several files: it cannot be read alone, and it
        // is not damaged either (renaming it would break the set).
        if (layout.splitSegment)
            return ZipSplitSegment;
        if (zipError == ZIP_ER_NOZIP)
            return ZipNotAZip;
        // libzip refuses some intact archives; when our own walk finds the framing
        // sound, we cannot read the archive but have no reason to call it damaged.
        if (zipError == ZIP_ER_INCONS)
            return layout.consistent ? ZipUnsupported : ZipStructureDamaged;
        return ZipStructureDamaged;
    }
    // libzip reads archives whose entries overlap or whose local headers are
    // missing; other readers call them damaged, and so do we.
    archive.layout = ZipLayout::check(archive.file.fd(), archive.file.size());
    const zip_int64_t count = zip_get_num_entries(archive.za.get(), 0);
    if (!archive.layout.consistent || archive.layout.entries != quint64(count))
        return ZipStructureDamaged;
    archive.entries.reserve(size_t(count));
    for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
        // Our map and libzip must be reading the same directory: a rewrite copies the
        // records our map names, for entries libzip named and tested.
        zip_stat_t st;
        if (zip_stat_index(archive.za.get(), i, 0, &st) != 0)
            return ZipStructureDamaged;
        const ZipLayout::Entry &mapped = archive.layout.map[i];
        if (((st.valid & ZIP_STAT_CRC) && st.crc != mapped.crc) ||
            ((st.valid & ZIP_STAT_COMP_SIZE) && st.comp_size != mapped.compressed))
            return ZipUnsupported;
        archive.entries.push_back(entryInfo(st));
    }
    return ZipOk;
}

ZipEntryTester::ZipEntryTester() : buffer_(kBufferSize) {}

ZipEntryTester::~ZipEntryTester() = default;

int ZipEntryTester::testAll(zip_t *za, quint64 count) {
    // Read every entry to its end: libzip checks the CRC only there. The entries to
    // test are kept by index (a stat is cheap to take again, and large: on an archive of
    // 100,000 entries the stats would hold several megabytes).
    std::vector<zip_uint64_t> toTest;
    toTest.reserve(size_t(count));
    double totalBytes = 0;
    for (zip_uint64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(za, i, 0, &st) != 0)
            return ZipStructureDamaged;
        if (canDecode(st)) {
            toTest.push_back(i);
            totalBytes += (st.valid & ZIP_STAT_COMP_SIZE) ? double(st.comp_size) : 0;
        }
    }
    double doneBytes = 0;
    for (const zip_uint64_t index : toTest) {
        if (stop && stop())
            return ZipAborted;
        zip_stat_t st;
        if (zip_stat_index(za, index, 0, &st) != 0)
            return ZipStructureDamaged;
        int rc = testSmall(za, st);
        if (rc < 0)
            rc = testStreaming(za, st, doneBytes, totalBytes);
        if (rc != ZipOk)
            return rc;
        doneBytes += (st.valid & ZIP_STAT_COMP_SIZE) ? double(st.comp_size) : 0;
        if (progress)
            progress(doneBytes, totalBytes);
    }
    return ZipOk;
}

int ZipEntryTester::testSmall(zip_t *za, const zip_stat_t &st) {
    const zip_flags_t needed =
        ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
    if ((st.valid & needed) != needed || st.size > kWholeEntryLimit ||
        st.comp_size > kWholeEntryLimit ||
        (st.comp_method != ZIP_CM_STORE && st.comp_method != ZIP_CM_DEFLATE))
        return -1;
    if (!inflater_)
        inflater_.reset(libdeflate_alloc_decompressor());
    if (!inflater_)
        return -1;
    // The entry's bytes as stored: libzip still checks the local header and framing.
    const ZipFileHandle reader(zip_fopen_index(za, st.index, ZIP_FL_COMPRESSED));
    if (!reader)
        return -1; // let the streaming read find and name the failure
    if (packed_.size() < st.comp_size)
        packed_.resize(st.comp_size);
    zip_uint64_t got = 0;
    while (got < st.comp_size) {
        if (stop && stop())
            return ZipAborted;
        const zip_int64_t n = zip_fread(reader.get(), packed_.data() + got, st.comp_size - got);
        if (n < 0)
            return readFailureCode(zip_error_code_zip(zip_file_get_error(reader.get())));
        if (n == 0)
            return ZipStructureDamaged; // the data ends before its stated size
        got += zip_uint64_t(n);
    }
    const unsigned char *data = packed_.data();
    if (st.comp_method == ZIP_CM_DEFLATE) {
        if (unpacked_.size() < st.size)
            unpacked_.resize(st.size);
        size_t used = 0;
        // The stream must inflate to exactly the stated size; bytes after its end are ignored.
        if (libdeflate_deflate_decompress_ex(inflater_.get(), packed_.data(), got, unpacked_.data(),
                                             st.size, &used, nullptr) != LIBDEFLATE_SUCCESS)
            return ZipDataDamaged;
        data = unpacked_.data();
    } else if (st.size != st.comp_size) {
        return ZipDataDamaged;
    }
    return libdeflate_crc32(0, data, st.size) == st.crc ? ZipOk : ZipDataDamaged;
}

int ZipEntryTester::testStreaming(zip_t *za, const zip_stat_t &st, double doneBytes,
                                  double totalBytes) {
    // Stored data is its own size: the same verdict as the whole-entry test gives.
    const zip_flags_t sizes = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD;
    if ((st.valid & sizes) == sizes && st.comp_method == ZIP_CM_STORE && st.size != st.comp_size)
        return ZipDataDamaged;
    const ZipFileHandle reader(zip_fopen_index(za, st.index, 0));
    if (!reader) {
        const int rc = readFailureCode(zip_error_code_zip(zip_get_error(za)));
        return rc == ZipUnsupported ? ZipOk : rc; // cannot be verified, which is not damage
    }
    const double compressed = (st.valid & ZIP_STAT_COMP_SIZE) ? double(st.comp_size) : 0;
    const double size = (st.valid & ZIP_STAT_SIZE) ? double(st.size) : 0;
    zip_uint64_t read = 0;
    for (;;) {
        if (stop && stop())
            return ZipAborted;
        const zip_int64_t n = zip_fread(reader.get(), buffer_.data(), buffer_.size());
        if (n < 0) {
            const int rc = readFailureCode(zip_error_code_zip(zip_file_get_error(reader.get())));
            return rc == ZipUnsupported ? ZipOk : rc;
        }
        if (n == 0)
            break;
        read += zip_uint64_t(n);
        const double fraction = size > 0 ? std::min(1.0, double(read) / size) : 1.0;
        if (progress)
            progress(doneBytes + fraction * compressed, totalBytes);
    }
    // The data must come out at its stated size, as it must when tested whole.
    if ((st.valid & ZIP_STAT_SIZE) && read != st.size)
        return ZipDataDamaged;
    return ZipOk;
}

} // namespace arcsweep
