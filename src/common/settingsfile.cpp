#include "common/settingsfile.h"

#include "common/fs.h"
#include "common/numbertext.h"
#include "common/textfile.h"
#include "common/uniquefd.h"

#include <QDir>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace arcsweep {

namespace {
constexpr char KeepPurgedKey[] = "KeepPurged=";
constexpr char SkipUnchangedKey[] = "SkipUnchanged=";
constexpr char RetestDaysKey[] = "RetestDays=";

// The whole file, or nothing when it cannot be read.
QByteArray readAll(const QString &path) {
    QByteArray bytes;
    const UniqueFd fd(::open(Fs::encode(path).constData(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return bytes;
    char block[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd.get(), block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        bytes.append(block, n);
    }
    return bytes;
}
} // namespace

SettingsFile SettingsFile::read(const QString &path) {
    SettingsFile settings;
    const QByteArray bytes = TextFile::withoutBom(readAll(path));
    qsizetype end = 0;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
        ++end;
    settings.firstLine_ = Fs::decode(bytes.left(end));
    qsizetype rest = end; // past the line end: CR LF, CR or LF
    if (rest < bytes.size())
        rest += bytes[rest] == '\r' && rest + 1 < bytes.size() && bytes[rest + 1] == '\n' ? 2 : 1;
    settings.rest_ = bytes.mid(rest);
    return settings;
}

QString SettingsFile::folder() const {
    return NumberText::delimitedFields(firstLine_, 1).value(0);
}

QByteArray SettingsFile::lastValue(const char *key) const {
    QByteArray value;
    const qsizetype keyLength = qsizetype(qstrlen(key));
    QByteArray lines = rest_;
    lines.replace("\r\n", "\n").replace('\r', '\n');
    for (const QByteArray &line : lines.split('\n'))
        if (line.startsWith(key) && line.size() > keyLength)
            value = line.mid(keyLength);
    return value;
}

bool SettingsFile::skipUnchanged() const {
    return lastValue(SkipUnchangedKey).trimmed() == "1";
}

int SettingsFile::retestDays() const {
    bool ok = false;
    const int days = lastValue(RetestDaysKey).trimmed().toInt(&ok);
    return ok && days >= 0 ? days : -1;
}

QString SettingsFile::keepPurged(const QString &dataFolder) const {
    const QString keep = Fs::decode(lastValue(KeepPurgedKey));
    if (keep.isEmpty())
        return keep;
    return QDir::cleanPath(keep.startsWith(u'/') ? keep : dataFolder + u'/' + keep);
}

FileResult SettingsFile::write(const QString &path, const QString &folder) const {
    return TextFile::replaceFile(path, Fs::encode(folder) + "\r\n" + rest_);
}

} // namespace arcsweep
