#include "zip/ziprewrite.h"

#include "zip/blockreader.h"
#include "zip/zipformat.h"
#include "zip/ziphandles.h"

#include <QMultiHash>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <libdeflate.h>
#include <memory>
#include <unistd.h>

namespace arcsweep {

namespace {

using namespace zipformat;

constexpr quint64 kCopyChunk = 8ull << 20;
// What a split or spanned set's first segment may start with: "PK\7\8", or "PK00" for a
// set that turned out to need one segment only.
constexpr quint32 kSplitMarker = 0x08074b50;
constexpr quint32 kSplitMarker00 = 0x30304b50;
// The Zip64 extra field of an added entry's central record: the local header offset only.
constexpr quint64 kOffsetExtraSize = kExtraHeaderSize + 8;

void put16(QByteArray &out, quint16 v) {
    out.append(char(v & 0xff));
    out.append(char(v >> 8));
}
void put32(QByteArray &out, quint32 v) {
    put16(out, quint16(v));
    put16(out, quint16(v >> 16));
}
void put64(QByteArray &out, quint64 v) {
    put32(out, quint32(v));
    put32(out, quint32(v >> 32));
}
void set16(QByteArray &out, qsizetype at, quint16 v) {
    out[at] = char(v & 0xff);
    out[at + 1] = char(v >> 8);
}
void set32(QByteArray &out, qsizetype at, quint32 v) {
    set16(out, at, quint16(v));
    set16(out, at + 2, quint16(v >> 16));
}
void set64(QByteArray &out, qsizetype at, quint64 v) {
    set32(out, at, quint32(v));
    set32(out, at + 4, quint32(v >> 32));
}
quint16 get16(const QByteArray &in, qsizetype at) {
    return quint16(uchar(in[at]) | uchar(in[at + 1]) << 8);
}
quint32 get32(const QByteArray &in, qsizetype at) {
    return quint32(get16(in, at)) | quint32(get16(in, at + 2)) << 16;
}

bool isAscii(const QByteArray &name) {
    return std::all_of(name.cbegin(), name.cend(), [](char c) { return uchar(c) < 0x80; });
}

bool readAt(int fd, quint64 offset, char *buf, size_t n, int *error) {
    if (preadExactly(fd, offset, buf, n))
        return true;
    *error = errno;
    return false;
}

// The fields a local header and a central record share, flags to name length.
void putEntryFields(QByteArray &h, const ZipNewEntry &e) {
    put16(h, isAscii(e.name) ? 0 : kFlagUtf8);
    put16(h, e.method);
    put16(h, e.dosTime);
    put16(h, e.dosDate);
    put32(h, e.crc);
    put32(h, quint32(e.packed.size()));
    put32(h, quint32(e.size));
    put16(h, quint16(e.name.size()));
}

QByteArray localHeader(const ZipNewEntry &e) {
    QByteArray h;
    put32(h, kLocalSig);
    put16(h, kVersionPlain);
    putEntryFields(h, e);
    put16(h, 0); // extra field
    h.append(e.name);
    return h;
}

QByteArray centralRecord(const ZipNewEntry &e, quint64 offset) {
    const bool zip64 = offset >= kSaturated32;
    const quint16 version = zip64 ? kVersionZip64 : kVersionPlain;
    QByteArray h;
    put32(h, kCentralSig);
    put16(h, quint16(kMadeOnUnix | version));
    put16(h, version);
    putEntryFields(h, e);
    put16(h, zip64 ? quint16(kOffsetExtraSize) : 0);
    put16(h, 0); // comment
    put16(h, 0); // disk
    put16(h, 0); // internal attributes
    put32(h, e.unixMode << 16);
    put32(h, zip64 ? kSaturated32 : quint32(offset));
    h.append(e.name);
    if (zip64) {
        put16(h, kZip64ExtraId);
        put16(h, quint16(kOffsetExtraSize - kExtraHeaderSize));
        put64(h, offset);
    }
    return h;
}

} // namespace

ZipNewEntry ZipNewEntry::fromData(const QByteArray &name, const QByteArray &data,
                                  const QDateTime &modified) {
    ZipNewEntry e;
    e.name = name;
    e.size = quint64(data.size());
    e.crc = quint32(libdeflate_crc32(0, data.constData(), size_t(data.size())));
    const DeflaterHandle packer(libdeflate_alloc_compressor(6));
    QByteArray packed;
    if (packer && !data.isEmpty()) {
        packed.resize(
            qsizetype(libdeflate_deflate_compress_bound(packer.get(), size_t(data.size()))));
        const size_t n =
            libdeflate_deflate_compress(packer.get(), data.constData(), size_t(data.size()),
                                        packed.data(), size_t(packed.size()));
        packed.resize(qsizetype(n));
    }
    if (!packed.isEmpty() && packed.size() < data.size()) {
        e.packed = packed;
        e.method = 8;
    } else {
        e.packed = data;
        e.method = 0;
    }
    const QDateTime local =
        modified.isValid() ? modified.toLocalTime() : QDateTime::currentDateTime();
    const QDate d = local.date();
    const QTime t = local.time();
    e.dosDate = quint16(std::clamp(d.year() - 1980, 0, 127) << 9 | d.month() << 5 | d.day());
    e.dosTime = quint16(t.hour() << 11 | t.minute() << 5 | t.second() / 2);
    return e;
}

struct ZipRewrite::Plan {
    quint64 leadingFrom = 0; // where the bytes kept in front of the first entry begin
    quint64 leading = 0;     // and how many there are
    struct Span {
        int fd;
        quint64 from, length;
    };
    std::vector<Span> spans;                     // kept local records
    std::vector<std::vector<quint64>> newOffset; // per part and entry
    std::vector<quint64> addedOffset;            // per added entry
    quint64 dirStart = 0, dirSize = 0, count = 0;
    bool zip64 = false;
    bool had64 = false;   // the frame's Zip64 end records are kept
    bool emptied = false; // no entry left: the plain empty archive
    quint64 zip64RecordLen = 0;
    quint64 tailLength = 0; // the end record and what follows it
    quint64 size = 0;       // of the whole new archive
};

ZipRewrite::Part ZipRewrite::partOf(int fd, const ZipLayout::Result &layout) {
    Part part{fd, &layout, std::vector<bool>(layout.map.size(), false), {}};
    part.physical.resize(layout.map.size());
    for (size_t i = 0; i < part.physical.size(); ++i)
        part.physical[i] = i;
    std::sort(part.physical.begin(), part.physical.end(),
              [&](size_t a, size_t b) { return layout.map[a].local < layout.map[b].local; });
    return part;
}

ZipRewrite::ZipRewrite(int sourceFd, const ZipLayout::Result &layout) {
    parts_.push_back(partOf(sourceFd, layout));
}

void ZipRewrite::drop(size_t index) {
    parts_[0].dropped.at(index) = true;
}

size_t ZipRewrite::droppedCount() const {
    return size_t(std::count(parts_[0].dropped.cbegin(), parts_[0].dropped.cend(), true));
}

size_t ZipRewrite::outputEntries() const {
    size_t kept = added_.size();
    for (const Part &part : parts_)
        kept += size_t(std::count(part.dropped.cbegin(), part.dropped.cend(), false));
    return kept;
}

void ZipRewrite::add(ZipNewEntry entry) {
    added_.push_back(std::move(entry));
}

void ZipRewrite::dropAdded(size_t index) {
    added_.erase(added_.begin() + qsizetype(index));
}

bool ZipRewrite::changes() const {
    return !added_.empty() || droppedCount() > 0;
}

std::vector<quint64> ZipRewrite::spanLengths(const Part &part) {
    const std::vector<ZipLayout::Entry> &map = part.layout->map;
    std::vector<quint64> lengths(map.size(), 0);
    for (size_t k = 0; k < part.physical.size(); ++k) {
        const size_t i = part.physical[k];
        const quint64 end =
            k + 1 < part.physical.size() ? map[part.physical[k + 1]].local : part.layout->dirOffset;
        lengths[i] = end - map[i].local;
    }
    return lengths;
}

namespace {

// A central record without what depends on where its entry lies: the local header
// offset is blanked wherever it is stored. Empty when it cannot be read.
QByteArray placelessCentral(int fd, const ZipLayout::Entry &e) {
    QByteArray record(qsizetype(e.centralLen), Qt::Uninitialized);
    if (!preadExactly(fd, e.central, record.data(), size_t(record.size())))
        return {};
    record.replace(kCentralLocalOffset, 4, QByteArray(4, '\0'));
    if (e.zip64Offset)
        record.replace(e.offsetAt, 8, QByteArray(8, '\0'));
    if (e.offsetCopyAt != 0)
        record.replace(e.offsetCopyAt, 8, QByteArray(8, '\0'));
    return record;
}

// Whether two files hold the same bytes over `length` bytes from the given offsets.
bool sameBytes(int fdA, quint64 a, int fdB, quint64 b, quint64 length) {
    constexpr quint64 kBlock = 1 << 20;
    QByteArray x(qsizetype(std::min(length, kBlock)), Qt::Uninitialized), y = x;
    for (quint64 done = 0; done < length;) {
        const size_t n = size_t(std::min(length - done, kBlock));
        if (!preadExactly(fdA, a + done, x.data(), n) ||
            !preadExactly(fdB, b + done, y.data(), n) ||
            std::memcmp(x.constData(), y.constData(), n) != 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

ZipRewrite ZipRewrite::droppedInto(int existingFd, const ZipLayout::Result *existing) const {
    ZipRewrite kept;
    if (existing != nullptr)
        kept.parts_.push_back(partOf(existingFd, *existing)); // every entry, and its frame
    else
        kept.frameless_ = true;
    Part removed = parts_[0];
    for (size_t i = 0; i < removed.dropped.size(); ++i)
        removed.dropped[i] = !parts_[0].dropped[i];
    // A record the earlier copy already holds, byte for byte, is not kept twice (a kill
    // between keeping and rewriting leaves it in both places, and the next run removes
    // it again).
    if (existing != nullptr) {
        const Part &earlier = kept.parts_[0];
        const std::vector<quint64> earlierSpans = spanLengths(earlier),
                                   removedSpans = spanLengths(removed);
        QMultiHash<QByteArray, size_t> held;
        for (size_t j = 0; j < existing->map.size(); ++j)
            held.insert(placelessCentral(existingFd, existing->map[j]), j);
        const std::vector<ZipLayout::Entry> &map = removed.layout->map;
        for (size_t i = 0; i < map.size(); ++i) {
            if (removed.dropped[i])
                continue;
            const QByteArray central = placelessCentral(removed.fd, map[i]);
            for (auto it = held.constFind(central);
                 !central.isEmpty() && it != held.cend() && it.key() == central; ++it) {
                const ZipLayout::Entry &e = existing->map[it.value()];
                if (earlierSpans[it.value()] == removedSpans[i] &&
                    sameBytes(existingFd, e.local, removed.fd, map[i].local, removedSpans[i])) {
                    removed.dropped[i] = true;
                    break;
                }
            }
        }
    }
    kept.parts_.push_back(std::move(removed));
    return kept;
}

size_t ZipRewrite::keptCount() const {
    size_t n = 0;
    for (size_t p = frameless_ ? 0 : 1; p < parts_.size(); ++p)
        n += size_t(std::count(parts_[p].dropped.cbegin(), parts_[p].dropped.cend(), false));
    return n;
}

ZipRewrite::Plan ZipRewrite::plan() const {
    Plan p;
    const Part &frame = parts_[0];
    p.leading = frameless_ ? 0 : frame.layout->firstLocal();
    p.emptied = !frameless_ && outputEntries() == 0;
    // A split archive's marker in front of the first entry belongs to entries: an empty
    // archive that starts with one is taken for a broken split set.
    char marker[4];
    if (p.emptied && p.leading >= 4 && preadExactly(frame.fd, 0, marker, 4) &&
        (le32(reinterpret_cast<const uchar *>(marker)) == kSplitMarker ||
         le32(reinterpret_cast<const uchar *>(marker)) == kSplitMarker00)) {
        p.leadingFrom = 4;
        p.leading -= 4;
    }
    quint64 pos = p.leading;
    for (const Part &part : parts_) {
        const std::vector<ZipLayout::Entry> &map = part.layout->map;
        std::vector<quint64> &offsets = p.newOffset.emplace_back(map.size(), 0);
        const size_t spansBefore = p.spans.size();
        for (size_t k = 0; k < part.physical.size(); ++k) {
            const size_t i = part.physical[k];
            const quint64 end = k + 1 < part.physical.size() ? map[part.physical[k + 1]].local
                                                             : part.layout->dirOffset;
            if (part.dropped[i])
                continue;
            offsets[i] = pos;
            // Entries kept side by side are one copy.
            if (p.spans.size() > spansBefore &&
                p.spans.back().from + p.spans.back().length == map[i].local)
                p.spans.back().length += end - map[i].local;
            else
                p.spans.push_back({part.fd, map[i].local, end - map[i].local});
            pos += end - map[i].local;
        }
    }
    for (const ZipNewEntry &e : added_) {
        p.addedOffset.push_back(pos);
        pos += kLocalSize + quint64(e.name.size() + e.packed.size());
    }
    p.dirStart = pos;
    for (const Part &part : parts_)
        for (size_t i = 0; i < part.layout->map.size(); ++i)
            if (!part.dropped[i]) {
                pos += part.layout->map[i].centralLen;
                ++p.count;
            }
    for (size_t k = 0; k < added_.size(); ++k)
        pos += kCentralSize + quint64(added_[k].name.size()) +
               (p.addedOffset[k] >= kSaturated32 ? kOffsetExtraSize : 0);
    p.count += added_.size();
    p.dirSize = pos - p.dirStart;
    // An emptied archive is the plain one: its Zip64 end records go (other readers refuse
    // an archive that holds nothing but a Zip64 end).
    p.had64 = !frameless_ && !p.emptied && frame.layout->zip64Record != ZipLayout::None;
    p.zip64 = p.had64 || p.count >= kSaturated16 || p.dirSize >= kSaturated32 ||
              p.dirStart >= kSaturated32;
    if (p.zip64) {
        p.zip64RecordLen =
            p.had64 ? frame.layout->zip64Locator - frame.layout->zip64Record : kZip64EndSize;
        pos += p.zip64RecordLen + kZip64LocatorSize;
    }
    p.tailLength = frameless_ ? kEndSize : frame.layout->fileSize - frame.layout->endRecord;
    p.size = pos + p.tailLength;
    return p;
}

qint64 ZipRewrite::outputSize() const {
    return qint64(plan().size);
}

// The new archive as it is written: the position reached, the progress callback that
// may cancel, and where the errno of a failing call goes.
class ZipRewrite::Output {
public:
    Output(int fd, const std::function<bool(qint64)> &progress, int *error)
        : fd_(fd), progress_(progress), error_(error) {}

    quint64 position() const { return quint64(out_); }
    int *error() const { return error_; }
    Outcome failure() const { return cancelled_ ? Outcome::Cancelled : Outcome::Failed; }

    // Keeps `error` as the cause of the failure; false, to be returned.
    bool fail(int error) {
        *error_ = error;
        return false;
    }

    // Writes whole buffers at the current position.
    bool put(const QByteArray &bytes) {
        const char *data = bytes.constData();
        size_t left = size_t(bytes.size());
        while (left > 0) {
            const ssize_t n = ::pwrite(fd_, data, left, out_);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return fail(n < 0 ? errno : ENOSPC);
            data += n;
            left -= size_t(n);
            out_ += n;
        }
        return true;
    }

    // Copies source bytes as they are, block by block, by the kernel where it can,
    // reporting progress after each block.
    bool copy(int fd, quint64 from, quint64 len) {
        loff_t in = loff_t(from);
        QByteArray buffer;
        while (len > 0) {
            const size_t chunk = size_t(std::min(len, kCopyChunk));
            ssize_t n = ::copy_file_range(fd, &in, fd_, &out_, chunk, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                          errno == EOPNOTSUPP || errno == EBADF)) {
                buffer.resize(qsizetype(chunk));
                if (!readAt(fd, quint64(in), buffer.data(), chunk, error_) || !put(buffer))
                    return false;
                in += loff_t(chunk);
                n = ssize_t(chunk);
            } else if (n < 0) {
                return fail(errno);
            } else if (n == 0) {
                return fail(EIO); // the source ended early: it changed under us
            }
            len -= quint64(n);
            if (!progressed())
                return false;
        }
        return true;
    }

    // Tells the progress callback the bytes written so far; false when it cancels.
    bool progressed() {
        if (progress_ && !progress_(qint64(out_))) {
            cancelled_ = true;
            return false;
        }
        return true;
    }

private:
    const int fd_;
    const std::function<bool(qint64)> &progress_;
    int *const error_;
    loff_t out_ = 0;
    bool cancelled_ = false;
};

namespace {

// Stores a kept entry's new local header offset in its central record, wherever the
// record holds it. False when the record has no room for an offset this far out.
bool placeLocalOffset(QByteArray &record, const ZipLayout::Entry &e, quint64 offset) {
    if (e.zip64Offset) {
        set64(record, e.offsetAt, offset);
        return true;
    }
    if (offset >= kSaturated32)
        return false;
    set32(record, kCentralLocalOffset, quint32(offset));
    if (e.offsetCopyAt != 0)
        set64(record, e.offsetCopyAt, offset);
    return true;
}

// A Zip64 end record for an archive that had none; its counts and directory are set later.
QByteArray newZip64EndRecord() {
    QByteArray record(qsizetype(kZip64EndSize), '\0');
    set32(record, kSignatureAt, kZip64EndSig);
    set64(record, kZip64EndRecordSize, kZip64EndCounted);
    set16(record, kZip64EndMadeBy, quint16(kMadeOnUnix | kVersionZip64));
    set16(record, kZip64EndVersionNeeded, kVersionZip64);
    return record;
}

// The locator of the Zip64 end record at `recordPos`.
QByteArray zip64Locator(quint64 recordPos) {
    QByteArray locator(qsizetype(kZip64LocatorSize), '\0');
    set32(locator, kSignatureAt, kZip64LocatorSig);
    set32(locator, kZip64LocatorDisk, 0); // the Zip64 end record is on this disk
    set64(locator, kZip64LocatorRecord, recordPos);
    set32(locator, kZip64LocatorDisks, 1);
    return locator;
}

} // namespace

ZipRewrite::Outcome ZipRewrite::write(int outFd, const std::function<bool(qint64)> &progress,
                                      int *error) const {
    const Plan p = plan();
    Output out(outFd, progress, error);
    if (copyLeadingData(out, p) && copyKeptRecords(out, p) && writeAddedEntries(out) &&
        writeCentralDirectory(out, p) && writeEndRecords(out, p) && out.progressed())
        return Outcome::Written;
    return out.failure();
}

bool ZipRewrite::copyLeadingData(Output &out, const Plan &p) const {
    return out.copy(parts_[0].fd, p.leadingFrom, p.leading);
}

bool ZipRewrite::copyKeptRecords(Output &out, const Plan &p) const {
    for (const Plan::Span &span : p.spans)
        if (!out.copy(span.fd, span.from, span.length))
            return false;
    return true;
}

bool ZipRewrite::writeAddedEntries(Output &out) const {
    for (const ZipNewEntry &e : added_)
        if (!out.put(localHeader(e) + e.packed))
            return false;
    return true;
}

bool ZipRewrite::writeCentralDirectory(Output &out, const Plan &p) const {
    constexpr qsizetype kBlockSize = 1 << 20; // records are written in blocks of about this
    QByteArray block;
    for (size_t n = 0; n < parts_.size(); ++n) {
        const Part &part = parts_[n];
        const std::vector<ZipLayout::Entry> &map = part.layout->map;
        BlockReader directory(part.fd, 1 << 20);
        for (size_t i = 0; i < map.size(); ++i) {
            if (part.dropped[i])
                continue;
            QByteArray record(qsizetype(map[i].centralLen), Qt::Uninitialized);
            if (!directory.read(map[i].central, record.data(), size_t(record.size())))
                return out.fail(EIO);
            if (!placeLocalOffset(record, map[i], p.newOffset[n][i]))
                return out.fail(EFBIG);
            block.append(record);
            if (block.size() >= kBlockSize) {
                if (!out.put(block))
                    return false;
                block.clear();
            }
        }
    }
    for (size_t k = 0; k < added_.size(); ++k)
        block.append(centralRecord(added_[k], p.addedOffset[k]));
    return out.put(block);
}

bool ZipRewrite::writeEndRecords(Output &out, const Plan &p) const {
    QByteArray tail;
    if (!readTail(out, p, tail))
        return false;
    if (p.zip64 && !writeZip64EndRecords(out, p))
        return false;
    if (!updateEndRecord(tail, p))
        return out.fail(EIO);
    return out.put(tail);
}

bool ZipRewrite::readTail(Output &out, const Plan &p, QByteArray &tail) const {
    if (frameless_) {
        tail = QByteArray(qsizetype(kEndSize), '\0');
        set32(tail, kSignatureAt, kEndSig);
        return true;
    }
    const Part &frame = parts_[0];
    tail.resize(qsizetype(p.tailLength));
    return readAt(frame.fd, frame.layout->endRecord, tail.data(), size_t(tail.size()), out.error());
}

bool ZipRewrite::writeZip64EndRecords(Output &out, const Plan &p) const {
    const Part &frame = parts_[0];
    const quint64 recordPos = out.position();
    QByteArray record;
    if (p.had64) {
        record.resize(qsizetype(p.zip64RecordLen));
        if (!readAt(frame.fd, frame.layout->zip64Record, record.data(), size_t(record.size()),
                    out.error()))
            return false;
    } else {
        record = newZip64EndRecord();
    }
    set64(record, kZip64EndDiskEntries, p.count);
    set64(record, kZip64EndEntries, p.count);
    set64(record, kZip64EndDirectorySize, p.dirSize);
    set64(record, kZip64EndDirectoryOffset, p.dirStart);
    return out.put(record + zip64Locator(recordPos));
}

bool ZipRewrite::updateEndRecord(QByteArray &tail, const Plan &p) {
    if (get32(tail, kSignatureAt) != kEndSig)
        return false;
    // Fields that the original saturated stay saturated (the Zip64 record holds them).
    const auto field16 = [&](qsizetype at, quint64 v) {
        set16(tail, at,
              (v >= kSaturated16 || (p.had64 && get16(tail, at) == kSaturated16)) ? kSaturated16
                                                                                  : quint16(v));
    };
    const auto field32 = [&](qsizetype at, quint64 v) {
        set32(tail, at,
              (v >= kSaturated32 || (p.had64 && get32(tail, at) == kSaturated32)) ? kSaturated32
                                                                                  : quint32(v));
    };
    if (p.emptied) {
        set16(tail, kEndDisk, 0);
        set16(tail, kEndDirectoryDisk, 0);
    }
    field16(kEndDiskEntries, p.count);
    field16(kEndEntries, p.count);
    field32(kEndDirectorySize, p.dirSize);
    field32(kEndDirectoryOffset, p.dirStart);
    return true;
}

} // namespace arcsweep
