#pragma once

// Archives written byte by byte, for tests that need what a zip library will not
// write: duplicate names, names with NUL bytes, extra fields of any content, data in
// front of the first entry, comments holding other archives, wrong stated sizes.

#include <QByteArray>
#include <QList>
#include <optional>

namespace arcsweep::test {

struct RawEntry {
    QByteArray name;
    QByteArray data;      // unpacked
    bool deflate = false; // else stored
    QByteArray localExtra, centralExtra, comment;
    quint16 flags = 0;
    bool dataDescriptor = false;       // sizes and CRC after the data (flag bit 3)
    std::optional<quint32> statedSize; // a wrong unpacked size in both headers
    quint32 externalAttributes = 0100644u << 16;
};

struct RawZip {
    QByteArray
        prefix; // bytes in front of the first entry; offsets count them (self-extractor style)
    QList<RawEntry> entries;
    QByteArray comment;
    QByteArray trailing; // bytes after the end record's comment
};

inline RawEntry rawEntry(const QByteArray &name, const QByteArray &data, bool deflate = false) {
    RawEntry e;
    e.name = name;
    e.data = data;
    e.deflate = deflate;
    return e;
}
inline RawZip rawZip(const QList<RawEntry> &entries) {
    RawZip z;
    z.entries = entries;
    return z;
}

QByteArray buildZip(const RawZip &zip);
bool writeRawZip(const QString &path, const RawZip &zip);

// Raw deflate of `data` (libdeflate).
QByteArray deflated(const QByteArray &data);

// The records of an archive as they sit in the file, found by walking its central
// directory: each entry's local record bytes (header to the end of its data and data
// descriptor) and central record bytes, in directory order; plus the archive comment.
struct RawRecords {
    bool ok = false;
    QList<QByteArray> local, central;
    QList<QByteArray> names;
    QByteArray leading; // in front of the first local record
    QByteArray comment;
};
RawRecords rawRecords(const QByteArray &archive);

} // namespace arcsweep::test
