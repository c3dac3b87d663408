#include "common/fs.h"

#include "common/uniquefd.h"

#include <QCollator>
#include <QDir>

#include <algorithm>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arcsweep::Fs {

namespace {

constexpr char16_t kEscapeBase = 0xDC00; // + the byte (0x80..0xFF)

// Length of the valid UTF-8 sequence starting at p[0], or 0 when it is not one
// (overlong forms, surrogates and code points above U+10FFFF are not valid).
int sequenceLength(const uchar *p, qsizetype left, char32_t *cp) {
    const uchar b = p[0];
    if (b < 0x80) {
        *cp = b;
        return 1;
    }
    int len;
    char32_t min;
    if ((b & 0xE0) == 0xC0) {
        len = 2, min = 0x80, *cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        len = 3, min = 0x800, *cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        len = 4, min = 0x10000, *cp = b & 0x07;
    } else {
        return 0;
    }
    if (left < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        *cp = (*cp << 6) | (p[i] & 0x3F);
    }
    if (*cp < min || *cp > 0x10FFFF || (*cp >= 0xD800 && *cp <= 0xDFFF))
        return 0;
    return len;
}

bool isEscape(char16_t c) {
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

bool statOf(const QString &path, struct stat &st, bool follow) {
    const QByteArray name = encode(path);
    return (follow ? ::stat(name.constData(), &st) : ::lstat(name.constData(), &st)) == 0;
}

template <typename Keep> QStringList listFolder(const QString &folder, Keep keep) {
    QStringList names;
    const UniqueDir dir(::opendir(encode(folder).constData()));
    if (!dir)
        return names;
    while (const dirent *e = ::readdir(dir.get())) {
        const char *n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        const QString name = decode(QByteArray(n));
        if (keep(name, e->d_type))
            names.append(name);
    }
    return names;
}

QString joined(const QString &folder, const QString &name) {
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

} // namespace

QString decode(const QByteArray &bytes) {
    QString out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n;) {
        char32_t cp = 0;
        const int len = sequenceLength(p + i, n - i, &cp);
        if (len == 0) {
            out.append(QChar(char16_t(kEscapeBase + p[i])));
            ++i;
            continue;
        }
        if (cp < 0x10000) {
            out.append(QChar(char16_t(cp)));
        } else {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        }
        i += len;
    }
    return out;
}

QByteArray encode(const QString &path) {
    QByteArray out;
    out.reserve(path.size());
    const qsizetype n = path.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = path.at(i).unicode();
        if (c < 0x80) {
            out.append(char(c));
        } else if (isEscape(c) && !(i > 0 && QChar::isHighSurrogate(path.at(i - 1).unicode()))) {
            out.append(char(c - kEscapeBase));
        } else if (QChar::isHighSurrogate(c) && i + 1 < n &&
                   QChar::isLowSurrogate(path.at(i + 1).unicode())) {
            out.append(QStringView(path).sliced(i, 2).toUtf8());
            ++i;
        } else {
            out.append(QStringView(path).sliced(i, 1).toUtf8());
        }
    }
    return out;
}

QString display(const QString &path) {
    QString out = path;
    for (qsizetype i = 0; i < out.size(); ++i)
        if (isEscape(out.at(i).unicode()) &&
            !(i > 0 && QChar::isHighSurrogate(out.at(i - 1).unicode())))
            out[i] = QChar::ReplacementCharacter;
    return out;
}

QString lower(const QString &path) {
    QString out;
    out.reserve(path.size());
    qsizetype run = 0; // start of the text not yet lowered
    for (qsizetype i = 0; i <= path.size(); ++i) {
        const bool escape = i < path.size() && isEscape(path.at(i).unicode()) &&
                            !(i > 0 && QChar::isHighSurrogate(path.at(i - 1).unicode()));
        if (i < path.size() && !escape)
            continue;
        out += QStringView(path).sliced(run, i - run).toString().toLower();
        if (escape)
            out += path.at(i);
        run = i + 1;
    }
    return out;
}

bool exists(const QString &path) {
    struct stat st {};
    return !path.isEmpty() && statOf(path, st, false);
}

bool isFile(const QString &path) {
    struct stat st {};
    return !path.isEmpty() && statOf(path, st, true) && S_ISREG(st.st_mode);
}

bool isDir(const QString &path) {
    struct stat st {};
    return !path.isEmpty() && statOf(path, st, true) && S_ISDIR(st.st_mode);
}

bool isSymLink(const QString &path) {
    struct stat st {};
    return !path.isEmpty() && statOf(path, st, false) && S_ISLNK(st.st_mode);
}

qint64 size(const QString &path) {
    struct stat st {};
    return !path.isEmpty() && statOf(path, st, true) ? qint64(st.st_size) : -1;
}

bool canEnter(const QString &folder) {
    return isDir(folder) && ::access(encode(folder).constData(), R_OK | X_OK) == 0;
}

QString realPath(const QString &path) {
    char resolved[PATH_MAX];
    if (path.isEmpty() || ::realpath(encode(path).constData(), resolved) == nullptr)
        return QString();
    return decode(QByteArray(resolved));
}

QString currentPath() {
    char buf[PATH_MAX];
    return ::getcwd(buf, sizeof buf) ? decode(QByteArray(buf)) : QDir::currentPath();
}

QString absolute(const QString &path) {
    if (path.isEmpty())
        return path;
    return QDir::cleanPath(path.startsWith(u'/') ? path : currentPath() + u'/' + path);
}

QStringList files(const QString &folder, const QString &suffix) {
    return listFolder(folder, [&](const QString &name, unsigned char type) {
        if (!suffix.isEmpty() && !name.endsWith(suffix, Qt::CaseInsensitive))
            return false;
        if (type == DT_REG)
            return true;
        if (type != DT_LNK && type != DT_UNKNOWN)
            return false;
        return isFile(joined(folder, name));
    });
}

QStringList folders(const QString &folder, bool followLinks) {
    return listFolder(folder, [&](const QString &name, unsigned char type) {
        if (type == DT_DIR)
            return true;
        if (type == DT_LNK)
            return followLinks && isDir(joined(folder, name));
        if (type != DT_UNKNOWN)
            return false;
        const QString path = joined(folder, name);
        return isDir(path) && (followLinks || !isSymLink(path));
    });
}

void sortNames(QStringList &names) {
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    collator.setNumericMode(false);
    std::sort(names.begin(), names.end(), [&](const QString &a, const QString &b) {
        const int c = collator.compare(a, b);
        return c != 0 ? c < 0 : a < b;
    });
}

bool makeOwnerWritable(const QString &path) {
    const QByteArray name = encode(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (st.st_mode & S_IWUSR)
        return true;
    // Never through a link, even one put there since the lstat.
    return ::fchmodat(AT_FDCWD, name.constData(), (st.st_mode & 07777) | S_IWUSR,
                      AT_SYMLINK_NOFOLLOW) == 0;
}

bool rename(const QString &from, const QString &to) {
    return std::rename(encode(from).constData(), encode(to).constData()) == 0;
}

QByteArray folderOf(const QByteArray &path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

bool writeAll(int fd, const char *data, size_t length, off_t at) {
    while (length > 0) {
        const ssize_t n = ::pwrite(fd, data, length, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        data += n;
        length -= size_t(n);
        at += n;
    }
    return true;
}

bool remove(const QString &path) {
    return ::unlink(encode(path).constData()) == 0;
}

} // namespace arcsweep::Fs
