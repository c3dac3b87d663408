#pragma once

#include <QByteArray>
#include <QString>
#include <sys/stat.h>
#include <vector>
#include <zip.h>

namespace arcsweep {

// An archive file on disk. libzip reads it through a source of ours; a rewrite goes
// to a temporary file in the folder of the real file (symbolic links resolved, so a
// link stays a link), which takes the original's mode, owner and group and replaces
// the original only once it is complete and synced, and only when the path still
// holds the very file that was read. The original is held under an advisory lock
// while it is rewritten, so two programs that lock never interleave on one archive.
class ZipArchiveFile {
public:
    // What makes the file the one that was read.
    struct Identity {
        dev_t dev = 0;
        ino_t ino = 0;
        off_t size = -1;
        timespec mtime{};
        bool operator==(const Identity &o) const {
            return dev == o.dev && ino == o.ino && size == o.size &&
                   mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec;
        }
        bool operator!=(const Identity &o) const { return !(*this == o); }
        static Identity of(const struct stat &st);
    };

    ZipArchiveFile() = default;
    ~ZipArchiveFile();
    ZipArchiveFile(const ZipArchiveFile &) = delete;
    ZipArchiveFile &operator=(const ZipArchiveFile &) = delete;

    // Opens the archive for reading. False when it is missing, not a regular file
    // or not readable.
    bool open(const QString &path);
    int fd() const { return fd_; }
    qint64 size() const { return identity_.size; }
    const Identity &identity() const { return identity_; }

    // The path still holds the very file that was opened, unchanged.
    bool isStillAtItsPath() const;

    // A new read-only libzip source over this file. This object must outlive it.
    zip_source_t *createSource(zip_error_t *error);

    // The rewrite, in three steps. begin: locks the original and checks that it is
    // still `expected` (when given), then creates the temporary file; a ZipResult.
    int beginRewrite(const Identity *expected);
    int tempFd() const { return tempFd_; }
    // Sends what has been written so far on its way to the disk, so the final sync
    // has little left to wait for.
    void written(qint64 bytes);
    // Syncs the new file and puts it in place of the original if the path still holds
    // the file that was read (else ZipChanged, and both stay as they are).
    int commitRewrite();
    // Removes the temporary file; the original stays as it was.
    void rollbackRewrite();

    // Removes temporary files that a killed rewrite of ours left in `folder`: ours by
    // their name, and dead because no rewrite holds their lock. Returns how many.
    static int removeStaleTemporaries(const QString &folder);
    // Whether a file name is that of one of our temporary files.
    static bool isTemporaryName(const QByteArray &name);

private:
    static zip_int64_t callback(void *self, void *data, zip_uint64_t len, zip_source_cmd_t cmd);
    zip_int64_t handle(void *data, zip_uint64_t len, zip_source_cmd_t cmd);
    zip_int64_t read(void *data, zip_uint64_t len);

    int fd_ = -1;
    Identity identity_;
    mode_t mode_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    QByteArray realPath_; // the file itself, symbolic links resolved
    quint64 readPos_ = 0;
    std::vector<char> cache_; // libzip's small reads come from here
    quint64 cacheStart_ = 0, cacheLength_ = 0;
    zip_error_t error_{};

    int tempFd_ = -1;
    QByteArray tempPath_;
    qint64 writebackFrom_ = 0;
};

} // namespace arcsweep
