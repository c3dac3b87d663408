#pragma once

#include "common/durablefile.h"
#include "common/fileresult.h"
#include "common/uniquefd.h"

#include <QByteArray>
#include <QString>
#include <sys/stat.h>
#include <vector>
#include <zip.h>

namespace arcsweep {

// An archive file on disk. libzip reads it through a source of ours; a rewrite goes
// to a temporary file in the folder of the real file (symbolic links resolved, so a
// link stays a link), which takes the original's owner, group and mode (made writable
// by its owner) and replaces the original only once it is complete and synced, and
// only when the path, resolved at that moment, still names the very file that was
// read. The original is held under advisory locks (flock and an fcntl lock) while it
// is rewritten, so programs that lock never interleave with us on one archive, and a
// program found waiting for one of them makes the rewrite give way.
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
    // or not readable (failure() says why).
    bool open(const QString &path);
    int fd() const { return fd_.get(); }
    qint64 size() const { return identity_.size; }
    const Identity &identity() const { return identity_; }

    // The path it was opened by, resolved now, still names the very file that was
    // opened, unchanged.
    bool isStillAtItsPath() const;

    // A new read-only libzip source over this file. This object must outlive it.
    zip_source_t *createSource(zip_error_t *error);

    // The rewrite, in three steps. begin: checks that this user may write the original
    // in place (else ZipNotWritable), locks it,
    // checks that it is still `expected` (when given) and, when `within` is given, that
    // it lies below that folder; then creates the temporary file for `size` bytes.
    // A ZipResult; failure() says why a failure happened, where the system said.
    int beginRewrite(const Identity *expected, qint64 size, const QByteArray &within = {});
    int tempFd() const { return temp_.fd(); }
    // Sends what has been written so far on its way to the disk, so the final sync
    // has little left to wait for.
    void written(qint64 bytes);
    // The new file is complete: synced, exactly its content. False on failure.
    bool finishWriting();
    // Syncs the new file and puts it in place of the original if the path still names
    // the file that was read, below `within`, and no program waits for its lock (else
    // ZipChanged, and both stay as they are).
    int commitRewrite();
    // Removes the temporary file; the original stays as it was.
    void rollbackRewrite();

    // Why the last open or rewrite step failed: the system's error and what was being
    // done (success when the failure was no system error, such as a changed file).
    const FileResult &failure() const { return failure_; }

    // Removes temporary files that a killed rewrite of ours left in `folder` (see
    // DurableFile for how they are told from a user's files). Returns how many.
    static int removeStaleTemporaries(const QString &folder) {
        return DurableFile::removeStale(folder);
    }

private:
    bool insideWithin() const;
    bool hasLockWaiters() const;
    static zip_int64_t callback(void *self, void *data, zip_uint64_t len, zip_source_cmd_t cmd);
    zip_int64_t handle(void *data, zip_uint64_t len, zip_source_cmd_t cmd);
    zip_int64_t read(void *data, zip_uint64_t len);

    // Records why a step failed (errno as the failing call left it) and returns `code`.
    int fail(int code, const QString &what);

    UniqueFd fd_;
    Identity identity_;
    QByteArray path_;     // as it was opened
    QByteArray realPath_; // the file itself, symbolic links resolved
    quint64 readPos_ = 0;
    std::vector<char> cache_; // libzip's small reads come from here
    quint64 cacheStart_ = 0, cacheLength_ = 0;
    zip_error_t error_{};

    DurableFile temp_;
    FileResult failure_;
    QByteArray within_;
    qint64 writebackFrom_ = 0;
};

} // namespace arcsweep
