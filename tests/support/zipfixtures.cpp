#include "zipfixtures.h"

#include <QFile>
#include <QRandomGenerator>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

namespace arcsweep::test {

bool writeZip(const QString &path, const QList<ZipFixtureEntry> &entries) {
    QFile::remove(path);
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_EXCL, &error);
    if (za == nullptr)
        return false;
    for (const ZipFixtureEntry &entry : entries) {
        // The archive keeps the source and its copy of the data until zip_close.
        zip_source_t *source =
            zip_source_buffer(za, entry.data.constData(), zip_uint64_t(entry.data.size()), 0);
        const zip_int64_t index =
            source ? zip_file_add(za, entry.name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8)
                   : -1;
        if (index < 0 ||
            zip_set_file_compression(za, zip_uint64_t(index),
                                     entry.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0) != 0) {
            zip_source_free(source);
            zip_discard(za);
            return false;
        }
    }
    if (zip_close(za) != 0) {
        zip_discard(za);
        return false;
    }
    return true;
}

QList<ZipFixtureEntry> readZip(const QString &path, bool *ok) {
    QList<ZipFixtureEntry> entries;
    bool good = false;
    int error = 0;
    if (zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error)) {
        good = true;
        const zip_int64_t count = zip_get_num_entries(za, 0);
        for (zip_uint64_t i = 0; good && i < zip_uint64_t(count); ++i) {
            zip_stat_t st;
            zip_file_t *file =
                zip_stat_index(za, i, 0, &st) == 0 ? zip_fopen_index(za, i, 0) : nullptr;
            if (file == nullptr) {
                good = false;
                break;
            }
            ZipFixtureEntry entry{QString::fromUtf8(st.name), {}, st.comp_method == ZIP_CM_STORE};
            char buffer[65536];
            zip_int64_t n;
            while ((n = zip_fread(file, buffer, sizeof buffer)) > 0)
                entry.data.append(buffer, qsizetype(n));
            good = n == 0;
            zip_fclose(file);
            entries.append(entry);
        }
        zip_discard(za);
    }
    if (ok != nullptr)
        *ok = good;
    return entries;
}

QByteArray fileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

bool corruptByte(const QString &path, qint64 offset) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    const qint64 at = offset < 0 ? file.size() + offset : offset;
    char byte = 0;
    if (at < 0 || at >= file.size() || !file.seek(at) || !file.getChar(&byte))
        return false;
    return file.seek(at) && file.putChar(char(~byte));
}

QByteArray randomBytes(qsizetype size, quint32 seed) {
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(generator.generate() & 0xff);
    return bytes;
}

int runInChild(const std::function<int()> &work, bool asNobody) {
    int channel[2];
    if (::pipe(channel) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        int result = -1;
        const passwd *nobody = asNobody ? ::getpwnam("nobody") : nullptr;
        if (!asNobody || (nobody != nullptr && ::setgroups(0, nullptr) == 0 &&
                          ::setgid(nobody->pw_gid) == 0 && ::setuid(nobody->pw_uid) == 0))
            result = work();
        const bool sent = ::write(channel[1], &result, sizeof result) == sizeof result;
        ::_exit(sent ? 0 : 1);
    }
    ::close(channel[1]);
    int result = -1;
    int status = 0;
    const bool got = child > 0 && ::read(channel[0], &result, sizeof result) == sizeof result;
    ::close(channel[0]);
    if (child > 0)
        ::waitpid(child, &status, 0);
    return got && WIFEXITED(status) && WEXITSTATUS(status) == 0 ? result : -1;
}

QString writeDoubleDizArchive(const QString &path) {
    EXPECT_TRUE(writeZip(path, {{"FILE_ID.DIZ", "Nice Release\r\n"},
                                {"FILE_ID.DIX", "Nice Release\r\n"},
                                {"Info.NFO", "info"}}));
    QByteArray bytes = fileBytes(path);
    bytes.replace("FILE_ID.DIX", "FILE_ID.DIZ");
    EXPECT_TRUE(writeFile(path, bytes));
    return path;
}

} // namespace arcsweep::test
