#include "components/ziparchivefile.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arcsweep {

namespace {

constexpr quint64 kWritebackChunk = 8ull << 20;

bool closeFd(int &fd) {
    const bool ok = fd < 0 || ::close(fd) == 0;
    fd = -1;
    return ok;
}

QByteArray folderOf(const QByteArray &path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : path.left(slash);
}

// Makes the folder entry of a rename durable; the new file is in place either way.
void syncFolder(const QByteArray &folder) {
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace

ZipArchiveFile::~ZipArchiveFile() {
    rollbackWrite();
    closeFd(fd_);
    zip_error_fini(&error_);
}

bool ZipArchiveFile::open(const QString &path) {
    zip_error_init(&error_);
    char resolved[PATH_MAX];
    if (path.isEmpty() || ::realpath(QFile::encodeName(path).constData(), resolved) == nullptr)
        return false;
    realPath_ = resolved;
    // Non-blocking so that a FIFO named like an archive cannot hang the open.
    fd_ = ::open(resolved, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        closeFd(fd_);
        return false;
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    size_ = st.st_size;
    mtime_ = st.st_mtime;
    mode_ = st.st_mode & 07777;
    uid_ = st.st_uid;
    gid_ = st.st_gid;
    return true;
}

zip_source_t *ZipArchiveFile::createSource(zip_error_t *error) {
    return zip_source_function_create(&ZipArchiveFile::callback, this, error);
}

zip_int64_t ZipArchiveFile::callback(void *self, void *data, zip_uint64_t len,
                                     zip_source_cmd_t cmd) {
    return static_cast<ZipArchiveFile *>(self)->handle(data, len, cmd);
}

zip_int64_t ZipArchiveFile::fail(int zipError, int sysError) {
    zip_error_set(&error_, zipError, sysError);
    return -1;
}

zip_int64_t ZipArchiveFile::failWrite(int zipError, int sysError) {
    writeFailed_ = true;
    return fail(zipError, sysError);
}

zip_int64_t ZipArchiveFile::handle(void *data, zip_uint64_t len, zip_source_cmd_t cmd) {
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
        readPos_ = 0;
        return 0;
    case ZIP_SOURCE_READ:
        return read(data, len);
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE: // this object is owned by its caller, not by libzip
        return 0;
    case ZIP_SOURCE_STAT: {
        auto *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, &error_);
        if (st == nullptr)
            return -1;
        zip_stat_init(st);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_MTIME;
        st->size = zip_uint64_t(size_);
        st->mtime = mtime_;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, len);
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t pos =
            zip_source_seek_compute_offset(readPos_, zip_uint64_t(size_), data, len, &error_);
        if (pos < 0)
            return -1;
        readPos_ = zip_uint64_t(pos);
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return zip_int64_t(readPos_);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(
            ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR,
            ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
            ZIP_SOURCE_BEGIN_WRITE, ZIP_SOURCE_WRITE, ZIP_SOURCE_COMMIT_WRITE,
            ZIP_SOURCE_ROLLBACK_WRITE, ZIP_SOURCE_SEEK_WRITE, ZIP_SOURCE_TELL_WRITE,
            ZIP_SOURCE_REMOVE, ZIP_SOURCE_ACCEPT_EMPTY, -1);
    case ZIP_SOURCE_ACCEPT_EMPTY:
        return 0; // an empty file is not an archive
    case ZIP_SOURCE_BEGIN_WRITE:
        writeFailed_ = cancelled_ = false;
        return beginWrite() ? 0 : -1;
    case ZIP_SOURCE_WRITE:
        return write(data, len) ? zip_int64_t(len) : -1;
    case ZIP_SOURCE_SEEK_WRITE: {
        const zip_int64_t pos =
            zip_source_seek_compute_offset(writePos_, writeSize_, data, len, &error_);
        if (pos < 0)
            return -1;
        writePos_ = zip_uint64_t(pos);
        return 0;
    }
    case ZIP_SOURCE_TELL_WRITE:
        return zip_int64_t(writePos_);
    case ZIP_SOURCE_COMMIT_WRITE:
        return commitWrite() ? 0 : -1;
    case ZIP_SOURCE_ROLLBACK_WRITE:
        rollbackWrite();
        return 0;
    case ZIP_SOURCE_REMOVE:
        writeFailed_ = cancelled_ = false;
        return writeEmptyArchive() ? 0 : -1;
    default:
        return fail(ZIP_ER_OPNOTSUPP);
    }
}

zip_int64_t ZipArchiveFile::read(void *data, zip_uint64_t len) {
    auto *out = static_cast<char *>(data);
    zip_uint64_t done = 0;
    while (done < len) {
        const ssize_t got = ::pread(fd_, out + done, len - done, off_t(readPos_));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return fail(ZIP_ER_READ, errno);
        if (got == 0)
            break;
        done += zip_uint64_t(got);
        readPos_ += zip_uint64_t(got);
    }
    return zip_int64_t(done);
}

bool ZipArchiveFile::beginWrite() {
    rollbackWrite();
    const qsizetype slash = realPath_.lastIndexOf('/');
    // A hidden name beside the original; kept short enough for any file name.
    tempPath_ = realPath_.left(slash + 1) + '.' + realPath_.mid(slash + 1).left(200) + ".XXXXXX";
    tempFd_ = ::mkostemp(tempPath_.data(), O_CLOEXEC);
    if (tempFd_ < 0) {
        tempPath_.clear();
        failWrite(ZIP_ER_TMPOPEN, errno);
        return false;
    }
    // Owner first: changing it may clear set-id bits that the mode then restores.
    // Only root may give a file away; anyone else keeps their own ownership.
    if (::fchown(tempFd_, uid_, gid_) != 0 && errno != EPERM) {
        failWrite(ZIP_ER_TMPOPEN, errno);
        rollbackWrite();
        return false;
    }
    if (::fchmod(tempFd_, mode_) != 0) {
        failWrite(ZIP_ER_TMPOPEN, errno);
        rollbackWrite();
        return false;
    }
    writePos_ = writeSize_ = writebackFrom_ = 0;
    return true;
}

bool ZipArchiveFile::write(const void *data, zip_uint64_t len) {
    if (tempFd_ < 0) {
        fail(ZIP_ER_INTERNAL);
        return false;
    }
    const auto *in = static_cast<const char *>(data);
    zip_uint64_t done = 0;
    while (done < len) {
        const ssize_t put = ::pwrite(tempFd_, in + done, len - done, off_t(writePos_ + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            failWrite(ZIP_ER_WRITE, put < 0 ? errno : ENOSPC);
            return false;
        }
        done += zip_uint64_t(put);
    }
    writePos_ += len;
    writeSize_ = std::max(writeSize_, writePos_);
    if (writeSize_ - writebackFrom_ >= kWritebackChunk)
        startWriteback();
    if (onWrite && !onWrite(qint64(writeSize_))) {
        cancelled_ = true;
        fail(ZIP_ER_CANCELLED);
        return false;
    }
    return true;
}

void ZipArchiveFile::startWriteback() {
    // Send each written chunk on its way to the disk at once: the final fsync then
    // has little left to wait for, so it cannot hold up progress reports for long
    // on a slow disk. Errors show up at that fsync.
    ::sync_file_range(tempFd_, off_t(writebackFrom_), off_t(writeSize_ - writebackFrom_),
                      SYNC_FILE_RANGE_WRITE);
    writebackFrom_ = writeSize_;
}

bool ZipArchiveFile::commitWrite() {
    if (tempFd_ < 0) {
        fail(ZIP_ER_INTERNAL);
        return false;
    }
    if (onWrite && !onWrite(qint64(writeSize_))) {
        cancelled_ = true;
        fail(ZIP_ER_CANCELLED);
        return false;
    }
    if (::fsync(tempFd_) != 0 || !closeFd(tempFd_)) {
        failWrite(ZIP_ER_WRITE, errno);
        return false;
    }
    if (::rename(tempPath_.constData(), realPath_.constData()) != 0) {
        failWrite(ZIP_ER_RENAME, errno);
        return false;
    }
    tempPath_.clear();
    syncFolder(folderOf(realPath_));
    return true;
}

void ZipArchiveFile::rollbackWrite() {
    closeFd(tempFd_);
    if (!tempPath_.isEmpty())
        ::unlink(tempPath_.constData());
    tempPath_.clear();
}

bool ZipArchiveFile::writeEmptyArchive() {
    // End of central directory record: no entries, no comment.
    static const char empty[22] = {'P', 'K', 5, 6};
    if (!beginWrite())
        return false;
    if (!write(empty, sizeof empty) || !commitWrite()) {
        rollbackWrite();
        return false;
    }
    return true;
}

} // namespace arcsweep
