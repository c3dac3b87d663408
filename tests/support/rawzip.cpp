#include "rawzip.h"

#include "zipfixtures.h"

#include <QFile>
#include <algorithm>
#include <libdeflate.h>
#include <map>

namespace arcsweep::test {

namespace {
void put16(QByteArray &o, quint32 v) {
    o.append(char(v & 0xff));
    o.append(char((v >> 8) & 0xff));
}
void put32(QByteArray &o, quint32 v) {
    put16(o, v & 0xffff);
    put16(o, v >> 16);
}
quint32 get16(const QByteArray &b, qsizetype at) {
    return quint32(uchar(b[at])) | quint32(uchar(b[at + 1])) << 8;
}
quint32 get32(const QByteArray &b, qsizetype at) {
    return get16(b, at) | get16(b, at + 2) << 16;
}
} // namespace

QByteArray deflated(const QByteArray &data) {
    libdeflate_compressor *c = libdeflate_alloc_compressor(6);
    QByteArray out(qsizetype(libdeflate_deflate_compress_bound(c, size_t(data.size()))), '\0');
    out.resize(qsizetype(libdeflate_deflate_compress(c, data.constData(), size_t(data.size()),
                                                     out.data(), size_t(out.size()))));
    libdeflate_free_compressor(c);
    return out;
}

QByteArray buildZip(const RawZip &zip) {
    QByteArray out = zip.prefix;
    QByteArray central;
    for (const RawEntry &e : zip.entries) {
        const QByteArray packed = e.deflate ? deflated(e.data) : e.data;
        const quint32 crc = quint32(libdeflate_crc32(0, e.data.constData(), size_t(e.data.size())));
        const quint32 size = e.statedSize.value_or(quint32(e.data.size()));
        const quint16 flags = quint16(e.flags | (e.dataDescriptor ? 0x0008 : 0));
        const quint32 offset = quint32(out.size());
        QByteArray local;
        put32(local, 0x04034b50);
        put16(local, 20);
        put16(local, flags);
        put16(local, e.deflate ? 8 : 0);
        put16(local, 0x6000); // 12:00
        put16(local, 0x5a21); // 2025-01-01
        put32(local, e.dataDescriptor ? 0 : crc);
        put32(local, e.dataDescriptor ? 0 : quint32(packed.size()));
        put32(local, e.dataDescriptor ? 0 : size);
        put16(local, quint32(e.name.size()));
        put16(local, quint32(e.localExtra.size()));
        out += local + e.name + e.localExtra + packed;
        if (e.dataDescriptor) {
            put32(out, 0x08074b50);
            put32(out, crc);
            put32(out, quint32(packed.size()));
            put32(out, size);
        }
        put32(central, 0x02014b50);
        put16(central, 0x031e);
        put16(central, 20);
        put16(central, flags);
        put16(central, e.deflate ? 8 : 0);
        put16(central, 0x6000);
        put16(central, 0x5a21);
        put32(central, crc);
        put32(central, quint32(packed.size()));
        put32(central, size);
        put16(central, quint32(e.name.size()));
        put16(central, quint32(e.centralExtra.size()));
        put16(central, quint32(e.comment.size()));
        put16(central, 0);
        put16(central, 0);
        put32(central, e.externalAttributes);
        put32(central, offset);
        central += e.name + e.centralExtra + e.comment;
    }
    const quint32 dirOffset = quint32(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, quint32(zip.entries.size()));
    put16(out, quint32(zip.entries.size()));
    put32(out, quint32(central.size()));
    put32(out, dirOffset);
    put16(out, quint32(zip.comment.size()));
    return out + zip.comment + zip.trailing;
}

bool writeRawZip(const QString &path, const RawZip &zip) {
    return writeFile(path, buildZip(zip));
}

RawRecords rawRecords(const QByteArray &b) {
    RawRecords r;
    // The end record whose comment runs to the end of the file (a comment may hold
    // another archive's end record); else the last one.
    const QByteArray sig("PK\x05\x06", 4);
    qsizetype end = b.lastIndexOf(sig);
    for (qsizetype at = b.indexOf(sig, std::max<qsizetype>(0, b.size() - 65557)); at >= 0;
         at = b.indexOf(sig, at + 1))
        if (at + 22 <= b.size() && at + 22 + qsizetype(get16(b, at + 20)) == b.size()) {
            end = at;
            break;
        }
    if (end < 0 || end + 22 > b.size())
        return r;
    const quint32 count = get16(b, end + 10), dirSize = get32(b, end + 12),
                  dirOffset = get32(b, end + 16), commentLen = get16(b, end + 20);
    r.comment = b.mid(end + 22, commentLen);
    std::map<quint32, qsizetype> localStarts; // offset -> entry index
    qsizetype pos = dirOffset;
    for (quint32 i = 0; i < count; ++i) {
        if (pos + 46 > b.size() || get32(b, pos) != 0x02014b50)
            return r;
        const qsizetype len = 46 + get16(b, pos + 28) + get16(b, pos + 30) + get16(b, pos + 32);
        r.central.append(b.mid(pos, len));
        r.names.append(b.mid(pos + 46, get16(b, pos + 28)));
        localStarts[get32(b, pos + 42)] = i;
        pos += len;
    }
    if (pos != qsizetype(dirOffset + dirSize))
        return r;
    // Each local record runs to the next one, or to the directory.
    QList<QByteArray> local;
    local.resize(qsizetype(count));
    for (auto it = localStarts.begin(); it != localStarts.end(); ++it) {
        const auto next = std::next(it);
        const quint32 stop = next == localStarts.end() ? dirOffset : next->first;
        local[it->second] = b.mid(it->first, stop - it->first);
    }
    r.local = local;
    r.leading = b.left(localStarts.empty() ? dirOffset : localStarts.begin()->first);
    r.ok = true;
    return r;
}

} // namespace arcsweep::test
