#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <sys/types.h>
#include <zip.h>

namespace arcsweep {

// An archive file on disk as a libzip source that libzip reads from and rewrites.
// A rewrite goes to a temporary file in the folder of the real file (symbolic
// links resolved, so a link stays a link), which takes the original's mode, owner
// and group and replaces the original by a rename only once it is complete and
// synced; a failed or cancelled rewrite removes it and leaves the original alone.
// libzip asks to remove the file when no entry is left: an empty archive is
// written in its place instead.
class ZipArchiveFile {
public:
    ZipArchiveFile() = default;
    ~ZipArchiveFile();
    ZipArchiveFile(const ZipArchiveFile &) = delete;
    ZipArchiveFile &operator=(const ZipArchiveFile &) = delete;

    // Opens the archive for reading. False when it is missing, not a regular file
    // or not readable.
    bool open(const QString &path);
    int fd() const { return fd_; }
    qint64 size() const { return size_; }

    // A new libzip source over this file. This object must outlive the source.
    zip_source_t *createSource(zip_error_t *error);

    // Called after each block written with the bytes written so far, and once
    // more before the new file replaces the original; false cancels the rewrite.
    std::function<bool(qint64 written)> onWrite;

    bool writeFailed() const { return writeFailed_; } // the last rewrite failed writing
    bool cancelled() const { return cancelled_; }     // onWrite cancelled the last rewrite

private:
    static zip_int64_t callback(void *self, void *data, zip_uint64_t len, zip_source_cmd_t cmd);
    zip_int64_t handle(void *data, zip_uint64_t len, zip_source_cmd_t cmd);
    zip_int64_t fail(int zipError, int sysError = 0);
    zip_int64_t failWrite(int zipError, int sysError);
    zip_int64_t read(void *data, zip_uint64_t len);
    bool beginWrite();
    bool write(const void *data, zip_uint64_t len);
    void startWriteback();
    bool commitWrite();
    void rollbackWrite();
    bool writeEmptyArchive();

    int fd_ = -1;
    qint64 size_ = 0;
    time_t mtime_ = 0;
    mode_t mode_ = 0;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    QByteArray realPath_; // the file itself, symbolic links resolved
    quint64 readPos_ = 0;

    int tempFd_ = -1;
    QByteArray tempPath_;
    quint64 writePos_ = 0;
    quint64 writeSize_ = 0;
    quint64 writebackFrom_ = 0; // written data not yet sent to disk starts here
    bool writeFailed_ = false;
    bool cancelled_ = false;
    zip_error_t error_{};
};

} // namespace arcsweep
