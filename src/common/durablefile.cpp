#include "common/durablefile.h"

#include "common/fs.h"

#include <QSet>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
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

void markAsOurs(int fd) {
    ::fsetxattr(fd, kMarkAttribute, kContentMark, size_t(kMarkLength), 0);
}

// Leaves errno as it was: the cause of a failure outlives the clean-up after it.
void unmark(int fd) {
    const int cause = errno;
    ::fremovexattr(fd, kMarkAttribute);
    errno = cause;
}

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

// Makes the entries of a folder durable (after a rename or a new entry in it); best
// effort: what is in place stays in place whether or not this succeeds.
void syncFolder(const QByteArray &folder) {
    const UniqueFd fd(::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd)
        ::fsync(fd.get());
}

// Removes the file `name` in the folder open at `dirFd` if it is a dead temporary file
// of ours.
bool removeIfStale(int dirFd, const char *name) {
    const UniqueFd fd(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd)
        return false;
    struct stat st {};
    return ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
           ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0 &&
           (endsWithMark(fd.get()) || hasMarkAttribute(fd.get())) &&
           ::unlinkat(dirFd, name, 0) == 0;
}

int removeStaleIn(UniqueFd folder, bool recursive, int depth) {
    const UniqueDir dir(::fdopendir(folder.get()));
    if (!dir)
        return 0;
    folder.release(); // the listing owns it now
    int removed = 0;
    while (const dirent *e = ::readdir(dir.get())) {
        const QByteArray name(e->d_name);
        if (name == "." || name == "..")
            continue;
        if (DurableFile::isTemporaryName(name)) {
            removed += removeIfStale(::dirfd(dir.get()), e->d_name) ? 1 : 0;
        } else if (recursive && depth < 256 && (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN)) {
            UniqueFd sub(::openat(::dirfd(dir.get()), e->d_name,
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (sub)
                removed += removeStaleIn(std::move(sub), true, depth + 1);
        }
    }
    return removed;
}

} // namespace

namespace {
// The folders whose leftovers this process has removed already: each is looked through
// once, the first time the program writes there (or a run sweeps it), not per file.
std::mutex sweptMutex;
QSet<QByteArray> swept;

bool firstSweepOf(const QByteArray &folder) {
    const std::lock_guard lock(sweptMutex);
    if (swept.contains(folder))
        return false;
    swept.insert(folder);
    return true;
}
} // namespace

FileResult DurableFile::create(const QByteArray &target, qint64 contentSize, mode_t mode) {
    rollback();
    const qsizetype slash = target.lastIndexOf('/');
    // What a killed writer of ours left beside the target goes before anything new is put
    // there.
    const QByteArray folder = slash > 0 ? target.left(slash) : QByteArray("/");
    if (firstSweepOf(folder))
        removeStale(Fs::decode(folder));
    // A hidden name beside the target that says whose it is; short enough for any name.
    path_ = target.left(slash + 1) + '.' + target.mid(slash + 1).left(200) + kNameMark +
            QByteArray(kRandomLength, 'X');
    fd_.reset(::mkostemp(path_.data(), O_CLOEXEC));
    if (!fd_) {
        const FileResult why = FileResult::fromErrno(QStringLiteral("create a temporary file"));
        path_.clear();
        return why;
    }
    target_ = target;
    contentSize_ = contentSize;
    finished_ = false;
    targetChanged_ = false;
    // Held while it is written: a later run that meets it knows it is in use.
    ::flock(fd_.get(), LOCK_EX | LOCK_NB);
    if (!Fs::writeAll(fd_.get(), kContentMark, size_t(kMarkLength), off_t(contentSize)) ||
        ::fchmod(fd_.get(), mode) != 0)
        return failed(QStringLiteral("write a temporary file"));
    markAsOurs(fd_.get());
    return {};
}

FileResult DurableFile::failed(const QString &what) {
    const FileResult why = FileResult::fromErrno(what);
    rollback();
    return why;
}

FileResult DurableFile::finish() {
    if (finished_)
        return {};
    if (!fd_)
        return FileResult::failure(EBADF, QStringLiteral("finish a temporary file"));
    if (::ftruncate(fd_.get(), off_t(contentSize_)) != 0 || ::fsync(fd_.get()) != 0)
        return FileResult::fromErrno(QStringLiteral("sync the new file"));
    finished_ = true;
    return {};
}

void DurableFile::closeInPlace() {
    unmark(fd_.get()); // in place now, or gone
    fd_.reset();
    path_.clear();
    syncFolder(Fs::folderOf(target_));
}

FileResult DurableFile::commit(Commit how) {
    if (const FileResult done = finish(); !done) {
        rollback();
        return done;
    }
    const int replaced = how == Commit::Replace
                             ? ::rename(path_.constData(), target_.constData())
                             : ::renameat2(AT_FDCWD, path_.constData(), AT_FDCWD,
                                           target_.constData(), RENAME_NOREPLACE);
    if (replaced != 0)
        return failed(QStringLiteral("put the new file in place"));
    closeInPlace();
    return {};
}

FileResult DurableFile::exchange(int original,
                                 const std::function<bool(const QByteArray &)> &cameOut) {
    targetChanged_ = false;
    if (const FileResult done = finish(); !done) {
        rollback();
        return done;
    }
    markAsOurs(original);
    if (::renameat2(AT_FDCWD, path_.constData(), AT_FDCWD, target_.constData(), RENAME_EXCHANGE) ==
        0) {
        if (!cameOut(path_)) {
            // Another file stood at the target: it goes back, and ours goes.
            ::renameat2(AT_FDCWD, path_.constData(), AT_FDCWD, target_.constData(),
                        RENAME_EXCHANGE);
            unmark(original);
            targetChanged_ = true;
            rollback();
            return FileResult::failure(EEXIST, QStringLiteral("replace the file read"));
        }
        // The old file, now under the temporary name, goes.
        ::unlink(path_.constData());
        closeInPlace();
        return {};
    }
    const int error = errno;
    unmark(original);
    if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP)
        return commit(Commit::Replace); // a file system without the swap
    errno = error;
    targetChanged_ = error == ENOENT;
    return failed(QStringLiteral("put the new file in place"));
}

void DurableFile::rollback() {
    if (!path_.isEmpty()) {
        const int cause = errno;
        ::unlink(path_.constData());
        errno = cause;
    }
    if (fd_)
        unmark(fd_.get());
    fd_.reset();
    path_.clear();
}

bool DurableFile::isTemporaryName(const QByteArray &name) {
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

int DurableFile::removeStale(const QString &folder, bool recursive) {
    firstSweepOf(Fs::encode(folder));
    UniqueFd dir(::open(Fs::encode(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return dir ? removeStaleIn(std::move(dir), recursive, 0) : 0;
}

FileResult DurableFile::makeFolders(const QByteArray &folder) {
    struct stat st {};
    if (::stat(folder.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) ? FileResult()
                                   : FileResult::failure(ENOTDIR, QStringLiteral("make a folder"));
    const QByteArray parent = Fs::folderOf(folder);
    if (parent == folder)
        return FileResult::fromErrno(QStringLiteral("make a folder"));
    if (const FileResult above = makeFolders(parent); !above)
        return above;
    if (::mkdir(folder.constData(), 0777) != 0 && errno != EEXIST)
        return FileResult::fromErrno(QStringLiteral("make a folder"));
    syncFolder(parent);
    return {};
}

} // namespace arcsweep
