#pragma once

// Record signatures, sizes and field offsets of the zip format, little-endian field
// access and a pread loop, shared by the layout reader, the rewriter and the archive
// file source.

#include <QtGlobal>

#include <cerrno>
#include <sys/types.h>
#include <unistd.h>

namespace arcsweep::zipformat {

constexpr quint32 kLocalSig = 0x04034b50;
constexpr quint32 kCentralSig = 0x02014b50;
constexpr quint32 kEndSig = 0x06054b50;
constexpr quint32 kZip64EndSig = 0x06064b50;
constexpr quint32 kZip64LocatorSig = 0x07064b50;
constexpr qsizetype kSignatureAt = 0; // every record starts with its signature

// A 16- or 32-bit field holding this says the value is in a Zip64 field instead.
constexpr quint16 kSaturated16 = 0xffff;
constexpr quint32 kSaturated32 = 0xffffffff;

// Versions written into the records of new entries and the Zip64 end record: 2.0 for
// plain records, 4.5 for those that need Zip64; "made by" carries the host (Unix) above.
constexpr quint16 kVersionPlain = 20;
constexpr quint16 kVersionZip64 = 45;
constexpr quint16 kMadeOnUnix = 3 << 8;
constexpr quint16 kFlagUtf8 = 0x0800; // general purpose flag: the name is UTF-8

// Field offsets below count from the start of their record.

// Local header: fixed part, then the name and the extra field.
constexpr quint64 kLocalSize = 30;
constexpr qsizetype kLocalNameLength = 26;
constexpr qsizetype kLocalExtraLength = 28;

// Central directory record: fixed part, then the name, the extra field and the comment.
constexpr quint64 kCentralSize = 46;
constexpr qsizetype kCentralCrc = 16;
constexpr qsizetype kCentralCompressed = 20;
constexpr qsizetype kCentralUncompressed = 24;
constexpr qsizetype kCentralNameLength = 28;
constexpr qsizetype kCentralExtraLength = 30;
constexpr qsizetype kCentralCommentLength = 32;
constexpr qsizetype kCentralLocalOffset = 42; // 32 bits

// Zip64 extended information extra field: id and data length, then the 64-bit values
// whose 32-bit fields are saturated, in the order uncompressed size, compressed size,
// local header offset.
constexpr quint16 kZip64ExtraId = 0x0001;
constexpr quint64 kExtraHeaderSize = 4;
constexpr qsizetype kExtraDataLength = 2;

// End of central directory record: fixed part, then the archive comment.
constexpr quint64 kEndSize = 22;
constexpr qsizetype kEndDisk = 4;
constexpr qsizetype kEndDirectoryDisk = 6;
constexpr qsizetype kEndDiskEntries = 8;
constexpr qsizetype kEndEntries = 10;
constexpr qsizetype kEndDirectorySize = 12;
constexpr qsizetype kEndDirectoryOffset = 16;
constexpr qsizetype kEndCommentLength = 20;

// Zip64 end of central directory record (fixed part; an extensible data sector may
// follow). Its size field counts the bytes after itself.
constexpr quint64 kZip64EndSize = 56;
constexpr qsizetype kZip64EndRecordSize = 4;
constexpr qsizetype kZip64EndMadeBy = 12;
constexpr qsizetype kZip64EndVersionNeeded = 14;
constexpr qsizetype kZip64EndDisk = 16;
constexpr qsizetype kZip64EndDirectoryDisk = 20;
constexpr qsizetype kZip64EndDiskEntries = 24;
constexpr qsizetype kZip64EndEntries = 32;
constexpr qsizetype kZip64EndDirectorySize = 40;
constexpr qsizetype kZip64EndDirectoryOffset = 48;
constexpr quint64 kZip64EndCounted = kZip64EndSize - kZip64EndMadeBy; // what the size field counts

// Zip64 end of central directory locator.
constexpr quint64 kZip64LocatorSize = 20;
constexpr qsizetype kZip64LocatorDisk = 4;
constexpr qsizetype kZip64LocatorRecord = 8;
constexpr qsizetype kZip64LocatorDisks = 16;

inline quint16 le16(const uchar *p) {
    return quint16(p[0] | p[1] << 8);
}
inline quint32 le32(const uchar *p) {
    return quint32(le16(p)) | quint32(le16(p + 2)) << 16;
}
inline quint64 le64(const uchar *p) {
    return quint64(le32(p)) | quint64(le32(p + 4)) << 32;
}

// Reads from `offset` into `buf` (room for `room` bytes) until at least `least` bytes
// are in or the file ends, retrying interrupted reads. Returns the bytes read, or -1
// with errno set.
inline ssize_t preadAtLeast(int fd, quint64 offset, void *buf, size_t room, size_t least) {
    auto *out = static_cast<char *>(buf);
    size_t done = 0;
    while (done < least) {
        const ssize_t got = ::pread(fd, out + done, room - done, off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += size_t(got);
    }
    return ssize_t(done);
}

// Exactly `n` bytes at `offset`; false when the file ends before them (errno EIO)
// or cannot be read.
inline bool preadExactly(int fd, quint64 offset, void *buf, size_t n) {
    const ssize_t got = preadAtLeast(fd, offset, buf, n, n);
    if (got < 0)
        return false;
    if (size_t(got) < n) {
        errno = EIO;
        return false;
    }
    return true;
}

} // namespace arcsweep::zipformat
