#include "zip/ziplayout.h"

#include "zip/blockreader.h"
#include "zip/zipformat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace arcsweep {

namespace {

using namespace zipformat;

// Where the central directory lies according to one end record.
struct Directory {
    quint64 count = 0;
    quint64 offset = 0;
    quint64 size = 0;
    quint64 end = 0; // where the directory has to end: the (Zip64) end record
    bool zip64 = false;
    quint64 locator = ZipLayout::None;
    bool multiDisk = false; // the record names another disk: a segment of a split set
};

// Reads the directory bounds from the end record at `pos`. False when the record
// cannot describe a directory in this file (another candidate may).
bool readDirectory(int fd, quint64 pos, const uchar *eocd, Directory &dir) {
    dir.count = le16(eocd + kEndEntries);
    dir.size = le32(eocd + kEndDirectorySize);
    dir.offset = le32(eocd + kEndDirectoryOffset);
    dir.end = pos;
    uchar loc[kZip64LocatorSize];
    if (pos >= kZip64LocatorSize && preadExactly(fd, pos - kZip64LocatorSize, loc, sizeof loc) &&
        le32(loc) == kZip64LocatorSig) {
        // A locator is only a locator when it points at a Zip64 end record; names
        // may hold the same signature bytes.
        const quint64 recordPos = le64(loc + kZip64LocatorRecord);
        uchar rec[kZip64EndSize];
        if (pos - kZip64LocatorSize >= sizeof rec &&
            recordPos <= pos - kZip64LocatorSize - sizeof rec &&
            preadExactly(fd, recordPos, rec, sizeof rec) && le32(rec) == kZip64EndSig) {
            dir.count = le64(rec + kZip64EndEntries);
            dir.size = le64(rec + kZip64EndDirectorySize);
            dir.offset = le64(rec + kZip64EndDirectoryOffset);
            dir.end = recordPos;
            dir.locator = pos - kZip64LocatorSize;
            dir.zip64 = le32(rec + kZip64EndDisk) == 0 && le32(rec + kZip64EndDirectoryDisk) == 0;
            if (!dir.zip64) {
                dir.multiDisk = true;
                return false;
            }
        }
    }
    if (!dir.zip64 && (le16(eocd + kEndDisk) != 0 || le16(eocd + kEndDirectoryDisk) != 0)) {
        dir.multiDisk = true;
        return false;
    }
    if (!dir.zip64 &&
        (dir.count == kSaturated16 || dir.size == kSaturated32 || dir.offset == kSaturated32))
        return false; // needs a Zip64 end record that is not there
    if (dir.offset > dir.end || dir.size > dir.end - dir.offset)
        return false;
    uchar sig[4];
    return dir.size == 0 || (preadExactly(fd, dir.offset, sig, 4) && le32(sig) == kCentralSig);
}

// One entry's local record: header start, compressed size, end of its data.
struct Span {
    quint64 start;
    quint64 compressed;
    quint64 end;
};

// Finds the Zip64 extra field (id 1) in an extra field block: its data start and length.
// False when there is none or the block is malformed.
bool findZip64Extra(const std::vector<uchar> &extra, size_t &at, size_t &len) {
    at = 0;
    while (at + kExtraHeaderSize <= extra.size()) {
        const quint16 id = le16(&extra[at]);
        len = le16(&extra[at + kExtraDataLength]);
        at += kExtraHeaderSize;
        if (len > extra.size() - at)
            return false;
        if (id == kZip64ExtraId)
            return true;
        at += len;
    }
    return false;
}

// Where the Zip64 extra field stores the local header offset (a position within the
// extra field block), or -1. Sizes come first when they are saturated.
qint64 zip64OffsetAt(const std::vector<uchar> &extra, bool uncompressedSaturated,
                     bool compressedSaturated) {
    size_t at = 0, len = 0;
    if (!findZip64Extra(extra, at, len))
        return -1;
    const size_t skip = 8 * (size_t(uncompressedSaturated) + size_t(compressedSaturated));
    return skip + 8 <= len ? qint64(at + skip) : -1;
}

// Replaces saturated 32-bit sizes and offset by their Zip64 extra field values.
bool applyZip64Extra(const std::vector<uchar> &extra, quint64 &uncompressed, quint64 &compressed,
                     quint64 &offset) {
    size_t at = 0, left = 0;
    if (!findZip64Extra(extra, at, left))
        return false;
    const uchar *p = &extra[at];
    for (quint64 *field : {&uncompressed, &compressed, &offset}) {
        if (*field != kSaturated32)
            continue;
        if (left < 8)
            return false;
        *field = le64(p);
        p += 8;
        left -= 8;
    }
    return true;
}

ZipLayout::Result damaged(const char *problem) {
    ZipLayout::Result result;
    result.problem = problem;
    return result;
}

} // namespace

namespace {
ZipLayout::Result walkDirectory(int fd, quint64 size, const Directory &dir, quint64 endPos);
} // namespace

quint64 ZipLayout::Result::firstLocal() const {
    quint64 first = dirOffset;
    for (const Entry &e : map)
        first = std::min(first, e.local);
    return first;
}

ZipLayout::Result ZipLayout::check(int fd, qint64 fileSize) {
    const quint64 size = quint64(std::max<qint64>(fileSize, 0));
    if (size < kEndSize)
        return damaged("too short for an end record");

    // The end record is followed by at most a 65535-byte comment (and perhaps junk).
    // A comment may itself hold end records (an archive kept in the comment, say): of
    // the candidates whose directory is consistent, the first one whose comment runs to
    // the end of the file owns that file; else the last consistent one.
    const quint64 tailLen = std::min<quint64>(size, kEndSize + 0xffff);
    const quint64 tailStart = size - tailLen;
    std::unique_ptr<uchar[]> tail(new uchar[tailLen]); // read over at once: no zeroing
    if (!preadExactly(fd, tailStart, tail.get(), tailLen))
        return damaged("cannot read the end of the file");
    Result last = damaged("no end record describes a central directory");
    bool haveLast = false;
    Result owner;
    bool haveOwner = false;
    bool splitSegment = false;
    for (qint64 i = qint64(tailLen - kEndSize); i >= 0; --i) {
        // Straight to the next "P" further back: most of a comment is never looked at twice.
        const void *p = ::memrchr(tail.get(), 'P', size_t(i) + 1);
        if (p == nullptr)
            break;
        i = static_cast<const uchar *>(p) - tail.get();
        const uchar *eocd = &tail[size_t(i)];
        Directory dir;
        if (le32(eocd) != kEndSig)
            continue;
        const bool endsTheFile = quint64(i) + kEndSize + le16(eocd + kEndCommentLength) == tailLen;
        if (!readDirectory(fd, tailStart + quint64(i), eocd, dir)) {
            splitSegment = splitSegment || (dir.multiDisk && endsTheFile);
            continue;
        }
        Result walked = walkDirectory(fd, size, dir, tailStart + quint64(i));
        if (!walked.consistent) {
            if (!haveLast) {
                last = std::move(walked);
                haveLast = true;
            }
            continue;
        }
        if (endsTheFile) {
            owner = std::move(walked); // an earlier one still may own this one
            haveOwner = true;
        } else if (!haveOwner && (!haveLast || !last.consistent)) {
            last = std::move(walked);
            haveLast = true;
        }
    }
    Result &found = haveOwner ? owner : last;
    // The end record that ends the file belongs to a set spread over several files, and
    // nothing in this one describes an archive of its own.
    found.splitSegment = !found.consistent && splitSegment;
    return std::move(found);
}

namespace {
ZipLayout::Result walkDirectory(int fd, quint64 size, const Directory &dir, quint64 endPos) {
    if (dir.size != 0 && dir.offset + dir.size != dir.end)
        return damaged("bytes between the central directory and the end record");

    BlockReader reader(fd);
    std::vector<Span> spans;
    std::vector<ZipLayout::Entry> map;
    // Room for the stated count at once (no doubling on a large directory), but never
    // more records than the directory's size can hold.
    const size_t expected = size_t(std::min<quint64>(dir.count, dir.size / kCentralSize));
    spans.reserve(expected);
    map.reserve(expected);
    std::vector<uchar> extra;
    const quint64 dirEnd = dir.offset + dir.size;
    for (quint64 pos = dir.offset; pos < dirEnd;) {
        uchar h[kCentralSize];
        if (dirEnd - pos < kCentralSize || !reader.read(pos, h, sizeof h) || le32(h) != kCentralSig)
            return damaged("broken central directory record");
        const quint64 nameLen = le16(h + kCentralNameLength),
                      extraLen = le16(h + kCentralExtraLength),
                      commentLen = le16(h + kCentralCommentLength);
        const quint64 recordLen = kCentralSize + nameLen + extraLen + commentLen;
        if (recordLen > dirEnd - pos)
            return damaged("central directory record runs past the directory");
        quint64 compressed = le32(h + kCentralCompressed),
                uncompressed = le32(h + kCentralUncompressed),
                offset = le32(h + kCentralLocalOffset);
        ZipLayout::Entry entry;
        entry.central = pos;
        entry.centralLen = quint32(recordLen);
        if (compressed == kSaturated32 || uncompressed == kSaturated32 || offset == kSaturated32) {
            const bool offsetSaturated = offset == kSaturated32;
            const bool usat = uncompressed == kSaturated32, csat = compressed == kSaturated32;
            const quint64 offset32 = offset;
            extra.resize(extraLen);
            if (!reader.read(pos + kCentralSize + nameLen, extra.data(), extra.size()) ||
                !applyZip64Extra(extra, uncompressed, compressed, offset))
                return damaged("missing Zip64 sizes");
            const qint64 at = zip64OffsetAt(extra, usat, csat);
            if (offsetSaturated) {
                if (at < 0)
                    return damaged("missing Zip64 offset");
                entry.offsetAt = quint32(kCentralSize + nameLen + quint64(at));
                entry.zip64Offset = true;
            } else if (at >= 0 && le64(&extra[size_t(at)]) == offset32) {
                entry.offsetCopyAt = quint32(kCentralSize + nameLen + quint64(at));
            }
        }
        entry.local = offset;
        entry.crc = le32(h + kCentralCrc);
        entry.compressed = compressed;
        spans.push_back({offset, compressed, 0});
        map.push_back(entry);
        pos += recordLen;
    }
    // A 16-bit count wraps in archives of 65536 entries or more without Zip64.
    if (dir.zip64 ? spans.size() != dir.count : (spans.size() & 0xffff) != dir.count)
        return damaged("entry count differs from the central directory");

    for (size_t i = 0; i < spans.size(); ++i) {
        Span &span = spans[i];
        uchar h[kLocalSize];
        if (span.start > dir.offset || dir.offset - span.start < kLocalSize ||
            !reader.read(span.start, h, sizeof h) || le32(h) != kLocalSig)
            return damaged("no local header where the directory points");
        const quint64 dataStart =
            span.start + kLocalSize + le16(h + kLocalNameLength) + le16(h + kLocalExtraLength);
        if (dataStart > dir.offset || span.compressed > dir.offset - dataStart)
            return damaged("entry data runs into the central directory");
        span.end = dataStart + span.compressed;
        map[i].dataEnd = span.end;
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span &a, const Span &b) { return a.start < b.start; });
    for (size_t i = 1; i < spans.size(); ++i) {
        if (spans[i].start < spans[i - 1].end || spans[i].start == spans[i - 1].start)
            return damaged("entries share or overlap their data");
    }
    ZipLayout::Result result;
    result.consistent = true;
    result.entries = spans.size();
    result.map = std::move(map);
    result.fileSize = size;
    result.dirOffset = dir.offset;
    result.dirSize = dir.size;
    result.endRecord = endPos;
    if (dir.locator != ZipLayout::None && dir.zip64) {
        result.zip64Record = dir.end;
        result.zip64Locator = dir.locator;
    }
    return result;
}

} // namespace

} // namespace arcsweep
