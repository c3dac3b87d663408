#include "common/tempfile.h"

#include "common/fs.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace arcsweep {

namespace {

constexpr char kNameMark[] = ".arcsweep-"; // followed by mkostemp's six characters
constexpr qsizetype kRandomLength = 6;
// The content mark: 32 bytes no text file and no archive ends with by chance.
constexpr char kContentMark[] = "\0\x7f\x1b"
                                "arcsweep temporary file\x1b\x7f\0\xff\xfe\xfd";
constexpr qsizetype kMarkLength = sizeof kContentMark - 1;
static_assert(kMarkLength == 32);
// The same mark as an extended attribute, where the file system keeps them: it outlasts
// the cut of the content mark, so a kill between that cut and the rename leaves a file
// still proved ours.
constexpr char kMarkAttribute[] = "user.arcsweep.temporary";

bool hasMarkAttribute(int fd) {
    char value[kMarkLength];
    return ::fgetxattr(fd, kMarkAttribute, value, sizeof value) == kMarkLength &&
           std::memcmp(value, kContentMark, kMarkLength) == 0;
}

bool endsWithMark(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < kMarkLength)
        return false;
    char tail[kMarkLength];
    return ::pread(fd, tail, kMarkLength, st.st_size - kMarkLength) == kMarkLength &&
           std::memcmp(tail, kContentMark, kMarkLength) == 0;
}

// Removes the file `name` in the folder open at `dirFd` if it is a dead temporary file
// of ours.
bool removeIfStale(int dirFd, const char *name) {
    const int fd = ::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool removed = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                         ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                         (endsWithMark(fd) || hasMarkAttribute(fd)) &&
                         ::unlinkat(dirFd, name, 0) == 0;
    ::close(fd);
    return removed;
}

int removeStaleIn(int dirFd, bool recursive, int depth) {
    DIR *dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return 0;
    }
    int removed = 0;
    while (const dirent *e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        if (TempFile::isTemporaryName(name)) {
            removed += removeIfStale(::dirfd(dir), e->d_name) ? 1 : 0;
        } else if (recursive && depth < 256 && (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN)) {
            const int sub =
                ::openat(::dirfd(dir), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0)
                removed += removeStaleIn(sub, true, depth + 1);
        }
    }
    ::closedir(dir);
    return removed;
}

} // namespace

TempFile::~TempFile() {
    discard();
}

bool TempFile::create(const QByteArray &target, qint64 contentSize, mode_t mode) {
    discard();
    const qsizetype slash = target.lastIndexOf('/');
    // A hidden name beside the target that says whose it is; short enough for any name.
    path_ = target.left(slash + 1) + '.' + target.mid(slash + 1).left(200) + kNameMark +
            QByteArray(kRandomLength, 'X');
    fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        path_.clear();
        return false;
    }
    contentSize_ = contentSize;
    finished_ = false;
    // Held while it is written: a later run that meets it knows it is in use.
    ::flock(fd_, LOCK_EX | LOCK_NB);
    if (!Fs::writeAll(fd_, kContentMark, size_t(kMarkLength), off_t(contentSize)) ||
        ::fchmod(fd_, mode) != 0) {
        discard();
        return false;
    }
    markAsOurs(fd_);
    return true;
}

void TempFile::markAsOurs(int fd) {
    ::fsetxattr(fd, kMarkAttribute, kContentMark, size_t(kMarkLength), 0);
}

void TempFile::unmark(int fd) {
    ::fremovexattr(fd, kMarkAttribute);
}

bool TempFile::finish() {
    if (!finished_)
        finished_ = fd_ >= 0 && ::ftruncate(fd_, off_t(contentSize_)) == 0 && ::fsync(fd_) == 0;
    return finished_;
}

// Clean-up leaves errno as the failure that led to it set it: the cause is reported.
void TempFile::release() {
    const int cause = errno;
    if (fd_ >= 0) {
        unmark(fd_); // in place now, or gone
        ::close(fd_);
    }
    fd_ = -1;
    path_.clear();
    errno = cause;
}

void TempFile::discard() {
    const int cause = errno;
    if (!path_.isEmpty())
        ::unlink(path_.constData());
    errno = cause;
    release();
}

bool TempFile::isTemporaryName(const QByteArray &name) {
    constexpr qsizetype markLength = sizeof kNameMark - 1;
    const qsizetype at = name.size() - kRandomLength - markLength;
    if (!name.startsWith('.') || at < 2 || name.mid(at, markLength) != kNameMark)
        return false;
    for (qsizetype i = name.size() - kRandomLength; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    }
    return true;
}

int TempFile::removeStale(const QString &folder, bool recursive) {
    const int dirFd = ::open(Fs::encode(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return dirFd < 0 ? 0 : removeStaleIn(dirFd, recursive, 0);
}

} // namespace arcsweep
