#pragma once

// Small helpers for tests that need zip archives: write one through libzip, read
// one back through libzip, damage bytes on purpose, run code in a child process.

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

namespace arcsweep::test {

struct ZipFixtureEntry {
    QString name; // stored as UTF-8
    QByteArray data;
    bool stored = false; // true: method store, false: deflate
};

// Writes a new archive at `path` (replacing any file there) holding the entries
// in the given order. Returns false when libzip fails.
bool writeZip(const QString &path, const QList<ZipFixtureEntry> &entries);

// Reads every entry (index order) with its full data through libzip. `ok` is set
// false when the archive cannot be opened or an entry cannot be read (CRC included).
QList<ZipFixtureEntry> readZip(const QString &path, bool *ok = nullptr);

QByteArray fileBytes(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);

// An archive holding "FILE_ID.DIZ" twice, then "Info.NFO" (libzip writes no duplicate
// names, so the second name is patched in place). Returns `path`.
QString writeDoubleDizArchive(const QString &path);

// Flips the bits of the byte at `offset` (negative: counted from the end).
bool corruptByte(const QString &path, qint64 offset);

// Bytes that do not compress, the same for the same seed.
QByteArray randomBytes(qsizetype size, quint32 seed);

// Runs `work` in a forked child and returns its result, or -1 when the child did
// not finish normally (killed, crashed). With `asNobody` the child first drops to
// the user and group "nobody", so that permissions apply to it although the tests
// run as root.
int runInChild(const std::function<int()> &work, bool asNobody = false);

} // namespace arcsweep::test

// Readable failure messages for Qt strings.
#include <QStringList>
#include <ostream>
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString &text, std::ostream *os) {
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList &list, std::ostream *os) {
    *os << '{';
    for (qsizetype i = 0; i < list.size(); ++i)
        *os << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
    *os << '}';
}
inline void PrintTo(const QByteArray &bytes, std::ostream *os) {
    *os << '"' << bytes.left(200).toStdString() << (bytes.size() > 200 ? "...\"" : "\"");
}
QT_END_NAMESPACE
