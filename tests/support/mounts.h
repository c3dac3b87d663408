#pragma once

// A small tmpfs mounted for one test: a volume of its own, which can be made
// read-only. Mounting needs root; a test skips when it cannot mount.

#include <QByteArray>
#include <QDir>
#include <QString>

#include <sys/mount.h>

namespace arcsweep::test {

class TmpfsMount {
public:
    explicit TmpfsMount(const QString &at) : path_(at) {
        QDir().mkpath(at);
        mounted_ = ::mount("tmpfs", QFile::encodeName(at).constData(), "tmpfs", 0,
                           "size=64m,mode=0755") == 0;
    }
    ~TmpfsMount() {
        if (mounted_)
            ::umount2(QFile::encodeName(path_).constData(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount &) = delete;
    TmpfsMount &operator=(const TmpfsMount &) = delete;

    bool mounted() const { return mounted_; }
    const QString &path() const { return path_; }
    bool makeReadOnly() {
        return ::mount(nullptr, QFile::encodeName(path_).constData(), nullptr,
                       MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QString path_;
    bool mounted_ = false;
};

} // namespace arcsweep::test
