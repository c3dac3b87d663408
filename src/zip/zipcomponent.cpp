#include "zip/zipcomponent.h"

#include "common/durablefile.h"
#include "common/entrypath.h"
#include "common/fs.h"
#include "common/like.h"
#include "common/stopsignalled.h"
#include "common/uniquefd.h"
#include "zip/zipformat.h"
#include "zip/ziphandles.h"
#include "zip/zipreading.h"
#include "zip/ziprewrite.h"
#include "zip/ziptestahead.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <zip.h>

namespace arcsweep {

namespace {

constexpr size_t kBufferSize = 256 * 1024;
constexpr qint64 kAddLimit = 64ll << 20; // a file added is read whole; only small ones come
constexpr qint64 kStatusIntervalMs = 50; // half the promised 100 ms

// The entries an operation applies to: an EntrySpec of exactly "*.*" or "*" selects
// all of them (the listing's way of asking for everything); otherwise each CR-separated
// part selects the names matching it as a Like pattern, ignoring case, and nothing
// else. So a purge pattern "*.*" given with its CR selects only names holding a dot,
// as its Like match does, and a pattern never selects a name merely equal to its text.
// A CR alone in brackets ("[\r]", as likeLiteral writes it) is part of the pattern, so
// an entry whose name holds one can be named. An empty EntrySpec selects nothing.
class EntrySelection {
public:
    explicit EntrySelection(const QString &entrySpec) {
        if (entrySpec == u"*.*" || entrySpec == u"*") {
            all_ = true;
            return;
        }
        for (const QString &part : splitParts(entrySpec))
            patterns_.emplace_back(part.toLower());
    }

    bool matches(const QString &name) const {
        if (all_)
            return true;
        const QString lower = name.toLower();
        return std::any_of(patterns_.cbegin(), patterns_.cend(),
                           [&](const LikePattern &pattern) { return pattern.matches(lower); });
    }

private:
    static QStringList splitParts(const QString &spec) {
        QStringList parts;
        qsizetype from = 0;
        for (qsizetype i = 0; i <= spec.size(); ++i) {
            if (i < spec.size() &&
                (spec[i] != u'\r' ||
                 (i > 0 && spec[i - 1] == u'[' && i + 1 < spec.size() && spec[i + 1] == u']')))
                continue;
            if (i > from)
                parts.append(spec.mid(from, i - from));
            from = i + 1;
        }
        return parts;
    }

    bool all_ = false;
    std::vector<LikePattern> patterns_;
};

// A file being extracted below a folder. The folders on the way are created as
// needed and opened without following symbolic links, so an existing link below
// the folder refuses the entry instead of leading outside; the file itself is
// created anew, replacing a regular file of that name.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile() { discard(); }

    bool create(const QString &folder, const QStringList &parts) {
        dirFd_.reset(::open(Fs::encode(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!dirFd_ || parts.isEmpty())
            return false;
        for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
            const QByteArray part = Fs::encode(parts[i]);
            if (::mkdirat(dirFd_.get(), part.constData(), 0755) != 0 && errno != EEXIST)
                return false;
            dirFd_ = UniqueFd(::openat(dirFd_.get(), part.constData(),
                                       O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            if (!dirFd_)
                return false;
        }
        name_ = Fs::encode(parts.last());
        struct stat st {};
        if (::fstatat(dirFd_.get(), name_.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (!S_ISREG(st.st_mode)) {
                errno = EEXIST;
                return false;
            }
            if (::unlinkat(dirFd_.get(), name_.constData(), 0) != 0)
                return false;
        }
        fd_.reset(::openat(dirFd_.get(), name_.constData(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        return fd_.valid();
    }

    bool write(const char *data, size_t len) {
        if (!Fs::writeAll(fd_.get(), data, len, written_))
            return false;
        written_ += off_t(len);
        return true;
    }

    // Closes the file, dated `modified` when that is known (as unzip does): an entry
    // taken out and put back in keeps its date.
    bool finish(time_t modified = -1) {
        if (modified >= 0) {
            const timespec times[2] = {{0, UTIME_OMIT}, {modified, 0}};
            ::futimens(fd_.get(), times);
        }
        if (fd_.close())
            return true;
        const int cause = errno;
        ::unlinkat(dirFd_.get(), name_.constData(), 0);
        errno = cause;
        return false;
    }

    // Removes a file that was not finished.
    void discard() {
        if (fd_) {
            fd_.reset();
            const int cause = errno;
            ::unlinkat(dirFd_.get(), name_.constData(), 0);
            errno = cause;
        }
        dirFd_.reset();
    }

private:
    UniqueFd dirFd_;
    UniqueFd fd_;
    off_t written_ = 0;
    QByteArray name_;
};

} // namespace

// Marks the component busy for one operation. An Abort left over from before the
// operation does not stop it.
class ZipComponent::Operation {
public:
    explicit Operation(ZipComponent &component) : component_(component) {
        component_.busy_ = true;
        ++component_.operations_;
        component_.Abort = component_.closed_;
        component_.lastPercent_ = -1;
        component_.failure_ = {};
        component_.statusClock_.start();
        if (component_.buffer_.empty())
            component_.buffer_.resize(kBufferSize);
    }
    Operation(const Operation &) = delete;
    Operation &operator=(const Operation &) = delete;
    ~Operation() { component_.busy_ = false; }

private:
    ZipComponent &component_;
};

ZipComponent::ZipComponent(QObject *parent)
    : QObject(parent), tester_(std::make_unique<ZipEntryTester>()) {
    tester_->stop = [this] { return Abort; };
    tester_->progress = [this](double done, double total) { reportProgress(done, total); };
}

ZipComponent::~ZipComponent() = default;

int ZipComponent::aborted() {
    Abort = false;
    return ZipAborted;
}

int ZipComponent::failed(int code, const FileResult &why) {
    failure_ = why;
    return code;
}

void ZipComponent::reportProgress(double done, double total) {
    const int percent = total > 0 ? int(std::clamp(done * 100.0 / total, 0.0, 100.0)) : 0;
    if (percent == lastPercent_ && statusClock_.elapsed() < kStatusIntervalMs)
        return;
    lastPercent_ = percent;
    statusClock_.restart();
    emit Status(percent);
}

template <typename Body> int ZipComponent::run(Body body) {
    if (busy_)
        return ZipBusy;
    if (closed_)
        return ZipAborted;
    const Operation operation(*this);
    const int result = body();
    return closed_ ? ZipAborted : result;
}

int ZipComponent::ListEntries() {
    return run([this] { return listEntries(); });
}
int ZipComponent::DeleteEntries() {
    return run([this] { return deleteEntries(); });
}
int ZipComponent::ExtractEntries(int) {
    return run([this] { return extractEntries(); });
}
int ZipComponent::AddEntries(int) {
    return run([this] { return addEntries(); });
}

void ZipComponent::TestAhead(const QStringList &paths) {
    if (closed_ || testAheadWorkers == 0)
        return;
    if (!ahead_)
        ahead_ = std::make_unique<ZipTestAhead>(
            std::max(testAheadWorkers, 0), [this](const QString &path) { emit TestedAhead(path); });
    ahead_->enqueue(paths);
}

void ZipComponent::StopTestingAhead() {
    // From inside the wait for a verdict (a Status event) the tests stop at once, and
    // the workers are let go when that wait has returned.
    if (takingAhead_ && ahead_) {
        ahead_->cancel();
        dropAhead_ = true;
        return;
    }
    ahead_.reset();
}

void ZipComponent::Shutdown() {
    closed_ = true;
    Abort = true;
    if (ahead_)
        ahead_->cancel();
}

int ZipComponent::listEntries() {
    DiscardChanges();
    // Tested ahead on a worker: the verdict stands while the file is the one it read.
    if (ahead_) {
        takingAhead_ = true;
        ZipTestAhead::Result ready = ahead_->take(ArchivePath, [this](double done) {
            reportProgress(done, 1);
            return !Abort;
        });
        takingAhead_ = false;
        if (dropAhead_) { // stopped from inside the wait: dropped now that it has returned
            dropAhead_ = false;
            ahead_.reset();
        }
        if (Abort)
            return aborted();
        if (ready.archive && ready.archive->file.isStillAtItsPath()) {
            if (!reportEntries(*ready.archive))
                return aborted();
            return finishListing(std::move(ready.archive), ready.code);
        }
    }
    // Tested first and reported after, exactly as a verdict found ahead is: libzip's
    // hold on a large directory is let go before the names are handed out.
    auto archive = std::make_unique<ZipOpened>();
    const int rc = archive->openAndTest(ArchivePath, *tester_);
    if (rc == ZipAborted)
        return aborted();
    if (!reportEntries(*archive))
        return aborted();
    return finishListing(std::move(archive), rc);
}

bool ZipComponent::reportEntries(const ZipOpened &archive) {
    const EntrySelection selection(EntrySpec);
    size_t n = 0;
    for (const ZipEntryInfo &entry : archive.entries) {
        if (Abort)
            return false;
        if (selection.matches(entry.FileName))
            emit Listing(entry);
        if (++n % 256 == 1)
            reportProgress(0, 1);
    }
    return true;
}

int ZipComponent::finishListing(std::unique_ptr<ZipOpened> archive, int rc) {
    if (rc == ZipUnreadable)
        return failed(rc, archive->failure);
    if (rc != ZipOk)
        return rc;
    reportProgress(1, 1);
    // Sound: what a following change needs of it is at hand, when one may follow.
    if (KeepForChanges)
        listed_ = std::move(archive);
    return ZipOk;
}

void ZipComponent::BeginChanges() {
    gathering_ = listed_ != nullptr;
}

void ZipComponent::DiscardChanges() {
    gathering_ = false;
    listed_.reset();
}

int ZipComponent::pendingDrops() const {
    return listed_ && listed_->rewrite ? int(listed_->rewrite->droppedCount()) : 0;
}

qint64 ZipComponent::pendingSize() const {
    if (!listed_)
        return -1;
    if (!listed_->rewrite || !listed_->rewrite->changes())
        return listed_->file.size();
    return listed_->rewrite->outputSize();
}

int ZipComponent::ApplyChanges() {
    return run([this] {
        gathering_ = false;
        if (!listed_)
            return int(ZipOk);
        const std::unique_ptr<ZipOpened> archive = std::move(listed_);
        return applyChanges(*archive);
    });
}

void ZipComponent::markDeletions(ZipOpened &archive) {
    // What a selection removes it removes once: the same one again finds nothing new
    // (until an entry is added), and costs nothing.
    if (archive.marked.contains(EntrySpec))
        return;
    archive.marked.insert(EntrySpec);
    const EntrySelection selection(EntrySpec);
    // By index: with duplicate names a look-up by name finds only the first copy.
    for (size_t i = 0; i < archive.entries.size(); ++i)
        if (selection.matches(archive.entries[i].FileName) &&
            !(archive.rewrite && archive.rewrite->isDropped(i)))
            archive.changes().drop(i);
    if (!archive.rewrite)
        return;
    const std::vector<ZipNewEntry> &added = archive.rewrite->added();
    for (size_t k = added.size(); k-- > 0;)
        if (selection.matches(QString::fromUtf8(added[k].name)))
            archive.rewrite->dropAdded(k);
}

int ZipComponent::markAddition(ZipOpened &archive) {
    const QString source = Fs::absolute(EntrySpec);
    const UniqueFd fd(
        EntrySpec.isEmpty() ? -1 : ::open(Fs::encode(source).constData(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return ZipNothingToDo;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kAddLimit)
        return st.st_size > kAddLimit ? ZipUnsupported : ZipNothingToDo;
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd.get(), data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    if (got != data.size())
        return ZipNothingToDo;
    // The new entry replaces every entry of the same name, duplicates included.
    const QString name = source.mid(source.lastIndexOf(u'/') + 1);
    const QString saved = EntrySpec;
    EntrySpec = likeLiteral(name);
    markDeletions(archive);
    EntrySpec = saved;
    archive.marked.clear(); // a selection applied before may select the new entry
    archive.changes().add(ZipNewEntry::fromData(name.toUtf8(), data,
                                                QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec)));
    return ZipOk;
}

namespace {

// Whether a written archive reads back with `entries` entries, through our own walk
// and through libzip alike. Archives whose framing is ambiguous (end records in the
// comment or in trailing bytes, say) can list soundly and yet come out of a rewrite as
// something a reader frames differently: such a result is never put in place.
bool readsBack(int fd, size_t entries) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return false;
    const ZipLayout::Result layout = ZipLayout::check(fd, st.st_size);
    if (!layout.consistent || layout.entries != entries)
        return false;
    // libzip weighs every end record it finds in the last 64 KiB; with only the one just
    // written there it reads what our walk read, and opening it again (a large
    // directory costs libzip some 300 bytes an entry) can be spared.
    const qint64 tailLen = std::min<qint64>(st.st_size, 22 + 0xffff);
    QByteArray tail(tailLen, Qt::Uninitialized);
    // An emptied archive is always read again: it is only its end record and comment.
    if (entries > 0 &&
        zipformat::preadExactly(fd, quint64(st.st_size - tailLen), tail.data(), size_t(tailLen)) &&
        tail.count(QByteArrayView("PK\x05\x06", 4)) == 1)
        return true;
    // Read the way a listing reads it: through our own source over the file.
    ZipArchiveFile written;
    if (!written.open(QStringLiteral("/proc/self/fd/%1").arg(fd)))
        return false;
    zip_error_t error;
    zip_error_init(&error);
    ZipSourceHandle source(written.createSource(&error));
    const ZipHandle za = source ? openFromSource(std::move(source), ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    return za && zip_get_num_entries(za.get(), 0) == zip_int64_t(entries);
}

} // namespace

int ZipComponent::keepRemoved(const ZipRewrite &rewrite) {
    if (KeepRemovedIn.isEmpty() || rewrite.droppedCount() == 0)
        return ZipOk;
    const QByteArray target = Fs::encode(KeepRemovedIn);
    if (const FileResult made = DurableFile::makeFolders(Fs::folderOf(target)); !made)
        return failed(ZipCannotKeep, made);
    const auto progress = [this](qint64) { return !Abort; };
    int error = 0;
    // A write that failed says why; an Abort is no failure.
    const auto writeFailed = [&] {
        return Abort ? aborted()
                     : failed(ZipCannotKeep,
                              FileResult::failure(error, QStringLiteral("write the kept records")));
    };
    if (Fs::exists(KeepRemovedIn)) {
        // Added to, never overwritten: every record it holds goes into the new copy.
        ZipArchiveFile kept;
        if (!kept.open(KeepRemovedIn))
            return failed(ZipCannotKeep, kept.failure());
        const ZipLayout::Result layout = ZipLayout::check(kept.fd(), kept.size());
        if (!layout.consistent)
            return ZipCannotKeep;
        const ZipRewrite added = rewrite.droppedInto(kept.fd(), &layout);
        if (added.keptCount() == 0)
            return ZipOk; // it holds every one of them already
        const qint64 size = added.outputSize();
        const ZipArchiveFile::Identity read = kept.identity();
        if (kept.beginRewrite(&read, size) != ZipOk)
            return failed(ZipCannotKeep, kept.failure());
        if (added.write(kept.tempFd(), progress, &error) != ZipRewrite::Outcome::Written)
            return writeFailed(); // `kept` removes its temporary file
        if (!kept.finishWriting())
            return Abort ? aborted() : failed(ZipCannotKeep, kept.failure());
        if (!readsBack(kept.tempFd(), added.outputEntries()))
            return Abort ? aborted() : int(ZipCannotKeep);
        return kept.commitRewrite() == ZipOk ? int(ZipOk) : failed(ZipCannotKeep, kept.failure());
    }
    // A new archive, put in place only where nothing stands yet.
    const ZipRewrite alone = rewrite.droppedInto(-1, nullptr);
    DurableFile file;
    if (const FileResult created = file.create(target, alone.outputSize(), 0644); !created)
        return failed(ZipCannotKeep, created);
    if (alone.write(file.fd(), progress, &error) != ZipRewrite::Outcome::Written)
        return writeFailed(); // `file` removes itself
    if (const FileResult put = file.commit(DurableFile::Commit::NoReplace); !put)
        return Abort ? aborted() : failed(ZipCannotKeep, put);
    return ZipOk;
}

int ZipComponent::applyChanges(ZipOpened &archive) {
    if (!archive.rewrite || !archive.rewrite->changes())
        return ZipOk; // nothing to remove or add: the file is not touched
    if (ReadOnly)
        return ZipCannotWrite;
    if (Abort)
        return aborted();
    const ZipRewrite &rewrite = *archive.rewrite;
    const qint64 size = rewrite.outputSize();
    // Locked and checked first: records are kept only for a rewrite that can go ahead.
    const ZipArchiveFile::Identity read = archive.file.identity();
    const QString within = RewriteWithin.isEmpty() ? QString() : Fs::realPath(RewriteWithin);
    if (!RewriteWithin.isEmpty() && within.isEmpty())
        return ZipChanged;
    if (const int rc = archive.file.beginRewrite(&read, size, Fs::encode(within)))
        return failed(rc, archive.file.failure());
    const double total = double(std::max<qint64>(size, 1));
    int error = 0;
    const ZipRewrite::Outcome outcome = rewrite.write(
        archive.file.tempFd(),
        [&](qint64 written) {
            archive.file.written(written);
            reportProgress(std::min(double(written), 0.99 * total), total);
            return !Abort && !stopSignalled;
        },
        &error);
    if (outcome != ZipRewrite::Outcome::Written || Abort || stopSignalled) {
        archive.file.rollbackRewrite();
        return outcome == ZipRewrite::Outcome::Failed
                   ? failed(ZipCannotWrite,
                            FileResult::failure(error, QStringLiteral("write the new archive")))
                   : aborted();
    }
    if (!archive.file.finishWriting()) {
        archive.file.rollbackRewrite();
        return failed(ZipCannotWrite, archive.file.failure());
    }
    if (!readsBack(archive.file.tempFd(), rewrite.outputEntries())) {
        archive.file.rollbackRewrite();
        return ZipUnsupported;
    }
    // What goes is kept before the archive changes: a kill after this leaves the
    // entries in both places, never in neither.
    if (const int rc = keepRemoved(rewrite)) {
        archive.file.rollbackRewrite();
        return rc;
    }
    // A stop that came during the syncs still abandons the rewrite, a stop signal even
    // before the event loop has heard of it.
    if (Abort || stopSignalled) {
        archive.file.rollbackRewrite();
        return aborted();
    }
    const int rc = archive.file.commitRewrite();
    if (rc == ZipOk)
        reportProgress(1, 1);
    return failed(rc, archive.file.failure());
}

int ZipComponent::deleteEntries() {
    if (gathering_ && listed_ && listed_->path == ArchivePath) {
        markDeletions(*listed_);
        return ZipOk;
    }
    ZipOpened archive;
    if (const int rc = archive.open(ArchivePath))
        return failed(rc, archive.failure);
    archive.closeReader();
    markDeletions(archive);
    return applyChanges(archive);
}

int ZipComponent::addEntries() {
    if (gathering_ && listed_ && listed_->path == ArchivePath)
        return markAddition(*listed_);
    ZipOpened archive;
    const int probe = Fs::isFile(Fs::absolute(EntrySpec)) ? 0 : ZipNothingToDo;
    if (probe)
        return probe;
    if (const int rc = archive.open(ArchivePath))
        return failed(rc, archive.failure);
    archive.closeReader();
    if (const int rc = markAddition(archive))
        return rc;
    return applyChanges(archive);
}

int ZipComponent::extractEntries() {
    if (ExtractFolder.isEmpty() || !QDir().mkpath(ExtractFolder))
        return ZipCannotWrite;
    ZipOpened archive;
    if (const int rc = archive.open(ArchivePath))
        return failed(rc, archive.failure);

    struct Job {
        zip_uint64_t index;
        QString path;
        double size;
    };
    std::vector<Job> jobs;
    double totalBytes = 0;
    const EntrySelection selection(EntrySpec);
    for (zip_uint64_t i = 0; i < archive.entries.size(); ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive.za.get(), i, 0, &st) != 0)
            return ZipStructureDamaged;
        const QString &name = archive.entries[i].FileName;
        if (!selection.matches(name))
            continue;
        // Folders and names that would leave the folder have no path: skipped.
        const QString path = entryPathBelow(ExtractFolder, name.toLower());
        if (path.isEmpty())
            continue;
        if (!canDecode(st))
            return ZipUnsupported;
        const double size = (st.valid & ZIP_STAT_SIZE) ? double(st.size) : 0;
        jobs.push_back({i, path, size});
        totalBytes += size;
    }
    if (jobs.empty())
        return ZipNothingToDo;

    double doneBytes = 0;
    for (const Job &job : jobs) {
        if (const int rc = extractEntry(archive.za.get(), job.index, job.path, doneBytes, job.size,
                                        std::max(totalBytes, 1.0)))
            return rc;
        doneBytes += job.size;
    }
    reportProgress(1, 1);
    return ZipOk;
}

int ZipComponent::extractEntry(zip_t *za, quint64 index, const QString &path, double doneBytes,
                               double entryBytes, double totalBytes) {
    QString folder = ExtractFolder;
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    const QString prefix = folder == u"/" ? folder : folder + u'/';
    if (!path.startsWith(prefix))
        return ZipCannotWrite;
    const auto writeFailed = [this] {
        return failed(ZipCannotWrite, FileResult::fromErrno(QStringLiteral("extract an entry")));
    };
    OutputFile out;
    if (!out.create(folder, path.mid(prefix.size()).split(u'/')))
        return writeFailed();
    const ZipFileHandle reader(zip_fopen_index(za, index, 0));
    if (!reader)
        return readFailureCode(zip_error_code_zip(zip_get_error(za)));
    double written = 0;
    for (;;) {
        if (Abort)
            return aborted();
        const zip_int64_t n = zip_fread(reader.get(), buffer_.data(), buffer_.size());
        if (n < 0)
            return readFailureCode(zip_error_code_zip(zip_file_get_error(reader.get())));
        if (n == 0)
            break;
        if (!out.write(buffer_.data(), size_t(n)))
            return writeFailed();
        written += double(n);
        reportProgress(doneBytes + std::min(written, entryBytes), totalBytes);
    }
    zip_stat_t st;
    const bool dated = zip_stat_index(za, index, 0, &st) == 0 && (st.valid & ZIP_STAT_MTIME);
    return out.finish(dated ? st.mtime : -1) ? int(ZipOk) : writeFailed();
}

} // namespace arcsweep
