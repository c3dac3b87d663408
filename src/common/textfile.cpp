#include "common/textfile.h"

#include "common/durablefile.h"
#include "common/fs.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arcsweep::TextFile {

namespace {
constexpr qint64 BlockSize = 64 * 1024;
constexpr char Bom[] = "\xEF\xBB\xBF";

// The mode a new file gets: readable and writable as the user's umask allows.
mode_t defaultMode() {
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}
} // namespace

QByteArray withoutBom(const QByteArray &bytes) {
    return bytes.startsWith(Bom) ? bytes.mid(3) : bytes;
}

bool forEachLine(const QString &path, const std::function<bool(const QString &)> &line) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray pending;
    bool lastWasCR = false;
    bool first = true;
    QByteArray block;
    while (!(block = file.read(BlockSize)).isEmpty()) {
        const char *data = block.constData();
        const qsizetype n = block.size();
        qsizetype i = first && block.startsWith(Bom) ? 3 : 0;
        first = false;
        while (i < n) {
            if (lastWasCR && data[i] == '\n') { // second half of CR LF
                lastWasCR = false;
                ++i;
                continue;
            }
            qsizetype end = i;
            while (end < n && data[end] != '\r' && data[end] != '\n')
                ++end;
            pending.append(data + i, std::min(end - i, MaxLineBytes - pending.size()));
            if (end == n)
                break; // the line goes on in the next block
            lastWasCR = data[end] == '\r';
            if (!line(Fs::decode(pending)))
                return true;
            pending.clear();
            i = end + 1;
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

FileResult appendLines(const QString &path, const QStringList &lines) {
    if (lines.isEmpty())
        return {}; // nothing to add: the file stays byte for byte as it was
    QByteArray bytes;
    if (Fs::exists(path)) {
        QFile file(path);
        errno = 0;
        if (!file.open(QIODevice::ReadOnly))
            return FileResult::fromErrno(QStringLiteral("read the file"));
        bytes = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return FileResult::fromErrno(QStringLiteral("read the file"));
    }
    // A last line without its line end (a hand-edited file) must not run into the first new one.
    if (!bytes.isEmpty() && !bytes.endsWith('\n') && !bytes.endsWith('\r'))
        bytes += "\r\n";
    for (const QString &line : lines)
        bytes += Fs::encode(line) + "\r\n";
    return replaceFile(path, bytes);
}

FileResult writeLines(const QString &path, const QStringList &lines) {
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += Fs::encode(line) + "\r\n";
    return replaceFile(path, bytes);
}

FileResult replaceFile(const QString &path, const QByteArray &bytes) {
    // The file itself, when the name is a link to it.
    const QString real = Fs::isSymLink(path) ? Fs::realPath(path) : path;
    if (real.isEmpty())
        return FileResult::failure(ENOENT, QStringLiteral("follow the link"));
    const QByteArray target = Fs::encode(real);
    struct stat st {};
    const mode_t mode = ::stat(target.constData(), &st) == 0 ? (st.st_mode & 07777) : defaultMode();
    DurableFile file;
    if (const FileResult created = file.create(target, bytes.size(), mode); !created)
        return created;
    if (!Fs::writeAll(file.fd(), bytes.constData(), size_t(bytes.size()), 0))
        return FileResult::fromErrno(QStringLiteral("write the new file"));
    return file.commit(DurableFile::Commit::Replace);
}

} // namespace arcsweep::TextFile
