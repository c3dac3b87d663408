#include "common/textfile.h"

#include "common/fs.h"

#include <QSaveFile>

namespace arcsweep::TextFile {

namespace {
constexpr qint64 BlockSize = 64 * 1024;
// A "line" longer than this (binary junk) is cut into pieces of this size.
constexpr qsizetype MaxLineBytes = 1024 * 1024;
} // namespace

bool forEachLine(const QString &path, const std::function<bool(const QString &)> &line) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray pending;
    bool lastWasCR = false;
    QByteArray block;
    while (!(block = file.read(BlockSize)).isEmpty()) {
        for (const char c : std::as_const(block)) {
            if (c == '\n' && lastWasCR) {
                lastWasCR = false; // second half of CR LF
                continue;
            }
            lastWasCR = c == '\r';
            if (c == '\r' || c == '\n') {
                if (!line(Fs::decode(pending)))
                    return true;
                pending.clear();
            } else {
                pending.append(c);
                if (pending.size() >= MaxLineBytes) {
                    if (!line(Fs::decode(pending)))
                        return true;
                    pending.clear();
                }
            }
        }
    }
    if (!pending.isEmpty())
        line(Fs::decode(pending));
    return true;
}

QStringList readLines(const QString &path, qsizetype maxLines) {
    QStringList lines;
    forEachLine(path, [&](const QString &text) {
        if (maxLines >= 0 && lines.size() >= maxLines)
            return false;
        lines.append(text);
        return true;
    });
    return lines;
}

bool containsLine(const QString &path, const QString &text) {
    bool found = false;
    forEachLine(path, [&](const QString &line) {
        found = line == text;
        return !found;
    });
    return found;
}

bool writeLine(QFileDevice &file, const QString &text) {
    const QByteArray bytes = Fs::encode(text) + "\r\n";
    return file.write(bytes) == bytes.size();
}

bool appendLines(const QString &path, const QStringList &lines) {
    if (lines.isEmpty())
        return true; // nothing to add: the file stays byte for byte as it was
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
        return false;
    // A last line without its line end (a hand-edited file) must not run into the first new one.
    if (file.size() > 0) {
        char last = 0;
        if (!file.seek(file.size() - 1) || !file.getChar(&last))
            return false;
        if (last != '\n' && last != '\r' && file.write("\r\n") != 2)
            return false;
    }
    for (const QString &line : lines)
        if (!writeLine(file, line))
            return false;
    return file.flush();
}

bool writeLines(const QString &path, const QStringList &lines) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QString &line : lines)
        if (!writeLine(file, line))
            return false;
    return file.commit();
}

} // namespace arcsweep::TextFile
