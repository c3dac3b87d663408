#include "zip/ziparchivefile.h"

#include "common/fs.h"
#include "zip/zipformat.h"
#include "zip/zipresult.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace arcsweep {

namespace {

constexpr qint64 kWritebackChunk = 8ll << 20;
constexpr quint64 kReadAhead = 64 * 1024;

// A path with nothing to resolve: absolute, no "." or ".." and no doubled or trailing
// separator. Where such a path holds no link, it is its own real path.
bool isPlain(const QByteArray &path) {
    return path.startsWith('/') && !path.contains("//") && !path.contains("/./") &&
           !path.contains("/../") && !path.endsWith("/.") && !path.endsWith("/..") &&
           (path.size() == 1 || !path.endsWith('/'));
}

// Opens a plain path in one look-up that fails where any part of it is a symbolic link
// (the usual case: a realpath() would read each part as a link first). -1 on failure,
// including a kernel without openat2: the caller then takes the long way.
int openWithoutLinks(const QByteArray &path, int flags) {
    if (!isPlain(path))
        return -1;
    open_how how{};
    how.flags = quint64(flags);
    how.resolve = RESOLVE_NO_SYMLINKS;
    return int(::syscall(SYS_openat2, AT_FDCWD, path.constData(), &how, sizeof how));
}

bool identityAt(const QByteArray &path, ZipArchiveFile::Identity &id) {
    struct stat st {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    id = ZipArchiveFile::Identity::of(st);
    return true;
}

} // namespace

ZipArchiveFile::Identity ZipArchiveFile::Identity::of(const struct stat &st) {
    Identity id;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtime = st.st_mtim;
    return id;
}

ZipArchiveFile::~ZipArchiveFile() {
    rollbackRewrite();
    zip_error_fini(&error_);
}

int ZipArchiveFile::fail(int code, const QString &what) {
    failure_ = FileResult::fromErrno(what);
    return code;
}

bool ZipArchiveFile::open(const QString &path) {
    zip_error_init(&error_);
    failure_ = {};
    if (path.isEmpty()) {
        failure_ = FileResult::failure(ENOENT, QStringLiteral("open the archive"));
        return false;
    }
    path_ = Fs::encode(path);
    // Non-blocking so that a FIFO named like an archive cannot hang the open.
    constexpr int flags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    fd_.reset(openWithoutLinks(path_, flags));
    if (fd_) {
        realPath_ = path_;
    } else {
        char resolved[PATH_MAX];
        if (::realpath(path_.constData(), resolved) == nullptr) {
            fail(0, QStringLiteral("open the archive"));
            return false;
        }
        realPath_ = resolved;
        fd_.reset(::open(resolved, flags));
    }
    struct stat st {};
    if (!fd_ || ::fstat(fd_.get(), &st) != 0) {
        fail(0, QStringLiteral("open the archive"));
        fd_.reset();
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        failure_ = FileResult::failure(S_ISDIR(st.st_mode) ? EISDIR : EINVAL,
                                       QStringLiteral("open the archive"));
        fd_.reset();
        return false;
    }
    ::fcntl(fd_.get(), F_SETFL, ::fcntl(fd_.get(), F_GETFL) & ~O_NONBLOCK);
    identity_ = Identity::of(st);
    return true;
}

zip_source_t *ZipArchiveFile::createSource(zip_error_t *error) {
    return zip_source_function_create(&ZipArchiveFile::callback, this, error);
}

zip_int64_t ZipArchiveFile::callback(void *self, void *data, zip_uint64_t len,
                                     zip_source_cmd_t cmd) {
    return static_cast<ZipArchiveFile *>(self)->handle(data, len, cmd);
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
        st->size = zip_uint64_t(identity_.size);
        st->mtime = identity_.mtime.tv_sec;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&error_, data, len);
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t pos = zip_source_seek_compute_offset(
            readPos_, zip_uint64_t(identity_.size), data, len, &error_);
        if (pos < 0)
            return -1;
        readPos_ = zip_uint64_t(pos);
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return zip_int64_t(readPos_);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
                                              ZIP_SOURCE_ACCEPT_EMPTY, -1);
    case ZIP_SOURCE_ACCEPT_EMPTY:
        return 0; // an empty file is not an archive
    default:
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

zip_int64_t ZipArchiveFile::read(void *data, zip_uint64_t len) {
    auto *out = static_cast<char *>(data);
    // libzip asks for many small pieces (a local header, a name) at increasing
    // offsets: those come from one read-ahead window; large reads go straight through.
    if (len < kReadAhead) {
        if (readPos_ < cacheStart_ || readPos_ + len > cacheStart_ + cacheLength_) {
            cache_.resize(kReadAhead);
            cacheStart_ = readPos_;
            cacheLength_ = 0;
            const ssize_t got =
                zipformat::preadAtLeast(fd_.get(), cacheStart_, cache_.data(), kReadAhead, len);
            if (got < 0) {
                zip_error_set(&error_, ZIP_ER_READ, errno);
                return -1;
            }
            cacheLength_ = quint64(got);
        }
        const quint64 n = std::min<quint64>(len, cacheStart_ + cacheLength_ - readPos_);
        std::memcpy(out, cache_.data() + (readPos_ - cacheStart_), n);
        readPos_ += n;
        return zip_int64_t(n);
    }
    const ssize_t got = zipformat::preadAtLeast(fd_.get(), readPos_, out, len, len);
    if (got < 0) {
        zip_error_set(&error_, ZIP_ER_READ, errno);
        return -1;
    }
    readPos_ += zip_uint64_t(got);
    return zip_int64_t(got);
}

bool ZipArchiveFile::isStillAtItsPath() const {
    // Resolved again: a link removed or pointed elsewhere since the open no longer
    // leads to the file that was read.
    if (realPath_ == path_) {
        const UniqueFd fd(openWithoutLinks(path_, O_PATH | O_CLOEXEC));
        if (fd) {
            struct stat st {};
            return ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
                   Identity::of(st) == identity_;
        }
    }
    char resolved[PATH_MAX];
    Identity now;
    return ::realpath(path_.constData(), resolved) != nullptr && realPath_ == resolved &&
           identityAt(realPath_, now) && now == identity_;
}

bool ZipArchiveFile::insideWithin() const {
    return within_.isEmpty() || within_ == "/" || realPath_.startsWith(within_ + '/');
}

bool ZipArchiveFile::hasLockWaiters() const {
    // A process blocked on a lock of the file shows in /proc/locks as a line "->"
    // naming the file as major:minor:inode.
    QFile locks(QStringLiteral("/proc/locks"));
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    char id[64];
    std::snprintf(id, sizeof id, " %02x:%02x:%llu ", unsigned(major(identity_.dev)),
                  unsigned(minor(identity_.dev)), static_cast<unsigned long long>(identity_.ino));
    const QByteArrayView file(id);
    const QList<QByteArray> lines = locks.readAll().split('\n');
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QByteArray &line) {
        return line.contains(" -> ") && line.contains(file);
    });
}

int ZipArchiveFile::beginRewrite(const Identity *expected, qint64 size, const QByteArray &within) {
    rollbackRewrite();
    failure_ = {};
    if (!fd_)
        return ZipUnreadable;
    within_ = within;
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0)
        return fail(ZipCannotWrite, QStringLiteral("read the archive's state"));
    // Only what this user could write in place is rewritten: a writable folder alone
    // would let the new file take over another user's read-only archive. The check is
    // made on the open file itself (permissions, a read-only volume, an immutable file).
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd_.get());
    const bool viaProc = ::access("/proc/self/fd", X_OK) == 0;
    if (::faccessat(AT_FDCWD, viaProc ? self.constData() : realPath_.constData(), W_OK,
                    AT_EACCESS) != 0)
        return fail(ZipNotWritable, QStringLiteral("check that the archive may be written"));
    // Another program that locks is rewriting it: leave it to that one. The fcntl lock
    // is a shared one, so that it needs no write access and blocks only writers.
    if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? ZipChanged
                                    : fail(ZipCannotWrite, QStringLiteral("lock the archive"));
    struct flock range {};
    range.l_type = F_RDLCK;
    range.l_whence = SEEK_SET;
    if (::fcntl(fd_.get(), F_OFD_SETLK, &range) != 0 && (errno == EAGAIN || errno == EACCES))
        return ZipChanged;
    if (Identity::of(st) != identity_ || (expected && *expected != identity_) ||
        !isStillAtItsPath() || !insideWithin())
        return ZipChanged;

    // The original's mode, as it is now (not as the open saw it), writable by its owner.
    if (const FileResult created = temp_.create(realPath_, size, (st.st_mode & 07777) | S_IWUSR);
        !created) {
        failure_ = created;
        return ZipCannotWrite;
    }
    // Owner first: changing it may clear set-id bits that the mode then restores.
    // Only root may give a file away; anyone else keeps their own ownership.
    if ((::fchown(temp_.fd(), st.st_uid, st.st_gid) != 0 && errno != EPERM) ||
        ::fchmod(temp_.fd(), (st.st_mode & 07777) | S_IWUSR) != 0) {
        fail(0, QStringLiteral("give the new archive the original's owner and mode"));
        rollbackRewrite();
        return ZipCannotWrite;
    }
    writebackFrom_ = 0;
    return ZipOk;
}

void ZipArchiveFile::written(qint64 bytes) {
    if (temp_.fd() < 0 || bytes - writebackFrom_ < kWritebackChunk)
        return;
    // Errors show up at the final fsync.
    ::sync_file_range(temp_.fd(), writebackFrom_, bytes - writebackFrom_, SYNC_FILE_RANGE_WRITE);
    writebackFrom_ = bytes;
}

bool ZipArchiveFile::finishWriting() {
    failure_ = temp_.finish();
    return bool(failure_);
}

int ZipArchiveFile::commitRewrite() {
    if (temp_.fd() < 0)
        return ZipCannotWrite;
    if (!finishWriting()) {
        rollbackRewrite();
        return ZipCannotWrite;
    }
    // A program waiting for the archive's lock would get it on the replaced file and
    // write there: it goes first, and the archive is left to it.
    if (!isStillAtItsPath() || !insideWithin() || hasLockWaiters()) {
        rollbackRewrite();
        return ZipChanged;
    }
    // What comes out under the temporary name must be the file that was read: a program
    // may have put another file at the path since the check.
    failure_ = temp_.exchange(fd_.get(), [this](const QByteArray &cameOut) {
        Identity out;
        return identityAt(cameOut, out) && out == identity_;
    });
    if (failure_)
        return ZipOk;
    if (temp_.targetChanged()) {
        failure_ = {};
        return ZipChanged;
    }
    return ZipCannotWrite;
}

void ZipArchiveFile::rollbackRewrite() {
    temp_.rollback();
}

} // namespace arcsweep
