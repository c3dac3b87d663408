#include "components/zipcomponent.h"

#include "common/entrypath.h"
#include "common/fs.h"
#include "common/like.h"
#include "components/ziparchivefile.h"
#include "components/ziplayout.h"
#include "components/ziprewrite.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <zip.h>

namespace arcsweep {

namespace {

constexpr size_t kBufferSize = 256 * 1024;
constexpr qint64 kAddLimit = 64ll << 20; // a file added is read whole; only small ones come
constexpr qint64 kStatusIntervalMs = 50; // half the promised 100 ms

// The entries an operation applies to: "*.*" or "*" select all of them; otherwise
// each CR-separated part selects the names equal to it or matching it as a Like
// pattern, ignoring case. An empty EntrySpec selects nothing.
class EntrySelection {
public:
    explicit EntrySelection(const QString &entrySpec) {
        for (const QString &part : entrySpec.split(u'\r', Qt::SkipEmptyParts)) {
            if (part == u"*.*" || part == u"*")
                all_ = true;
            else
                patterns_.append(part.toLower());
        }
    }

    bool matches(const QString &name) const {
        if (all_)
            return true;
        const QString lower = name.toLower();
        return std::any_of(patterns_.cbegin(), patterns_.cend(), [&](const QString &pattern) {
            return lower == pattern || likeMatch(lower, pattern);
        });
    }

private:
    bool all_ = false;
    QStringList patterns_;
};

// Failures of the file system rather than of the archive's content.
bool isSystemError(int zipError) {
    switch (zipError) {
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
    case ZIP_ER_WRITE:
    case ZIP_ER_CLOSE:
    case ZIP_ER_RENAME:
    case ZIP_ER_REMOVE:
    case ZIP_ER_TMPOPEN:
        return true;
    default:
        return false;
    }
}

// Result code for a libzip error met while reading an entry.
int readFailureCode(int zipError) {
    switch (zipError) {
    case ZIP_ER_CRC:
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
        return ZipDataDamaged;
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_OPNOTSUPP:
        return ZipUnsupported;
    case ZIP_ER_CANCELLED:
        return ZipAborted;
    default:
        return isSystemError(zipError) ? ZipUnreadable : ZipStructureDamaged;
    }
}

// Whether this build of libzip can read the entry's data: not encrypted (we have
// no password) and compressed with a method it decodes.
bool canDecode(const zip_stat_t &st) {
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        return false;
    return (st.valid & ZIP_STAT_COMP_METHOD) && zip_compression_method_supported(st.comp_method, 0);
}

ZipEntryInfo entryInfo(const zip_stat_t &st) {
    ZipEntryInfo info;
    info.FileName = QString::fromUtf8(st.name); // libzip converts CP437 names to UTF-8
    info.Size = (st.valid & ZIP_STAT_SIZE) ? qint64(st.size) : 0;
    info.PSize = (st.valid & ZIP_STAT_COMP_SIZE) ? qint64(st.comp_size) : 0;
    info.Encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
    info.Method = (st.valid & ZIP_STAT_COMP_METHOD) ? int(st.comp_method) : 0;
    return info;
}

struct EntryFile {
    zip_file_t *file;
    ~EntryFile() {
        if (file != nullptr)
            zip_fclose(file);
    }
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
        dirFd_ = ::open(Fs::encode(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd_ < 0 || parts.isEmpty())
            return false;
        for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
            const QByteArray part = Fs::encode(parts[i]);
            if (::mkdirat(dirFd_, part.constData(), 0755) != 0 && errno != EEXIST)
                return false;
            const int next =
                ::openat(dirFd_, part.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ::close(dirFd_);
            dirFd_ = next;
            if (dirFd_ < 0)
                return false;
        }
        name_ = Fs::encode(parts.last());
        struct stat st {};
        if (::fstatat(dirFd_, name_.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            if (!S_ISREG(st.st_mode) || ::unlinkat(dirFd_, name_.constData(), 0) != 0)
                return false;
        }
        fd_ = ::openat(dirFd_, name_.constData(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        return fd_ >= 0;
    }

    bool write(const char *data, size_t len) {
        while (len > 0) {
            const ssize_t put = ::write(fd_, data, len);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return false;
            data += put;
            len -= size_t(put);
        }
        return true;
    }

    bool finish() {
        const bool ok = ::close(std::exchange(fd_, -1)) == 0;
        if (!ok)
            ::unlinkat(dirFd_, name_.constData(), 0);
        return ok;
    }

    // Removes a file that was not finished.
    void discard() {
        if (fd_ >= 0) {
            ::close(std::exchange(fd_, -1));
            ::unlinkat(dirFd_, name_.constData(), 0);
        }
        if (dirFd_ >= 0)
            ::close(std::exchange(dirFd_, -1));
    }

private:
    int dirFd_ = -1;
    int fd_ = -1;
    QByteArray name_;
};

} // namespace

// An archive opened for an operation: the file, libzip's reading of it, our own map
// of its records, and the changes gathered for it.
struct ZipComponent::Loaded {
    QString path;
    ZipArchiveFile file;
    zip_t *za = nullptr;
    ZipLayout::Result layout;
    std::vector<QString> names; // per entry, as Listing reports them
    std::unique_ptr<ZipRewrite> rewrite;

    Loaded() = default;
    Loaded(const Loaded &) = delete;
    Loaded &operator=(const Loaded &) = delete;
    ~Loaded() { closeReader(); }
    void closeReader() {
        if (za != nullptr)
            zip_discard(std::exchange(za, nullptr));
    }
    ZipRewrite &changes() {
        if (!rewrite)
            rewrite = std::make_unique<ZipRewrite>(file.fd(), layout);
        return *rewrite;
    }
};

// Marks the component busy for one operation. An Abort left over from before the
// operation does not stop it.
class ZipComponent::Operation {
public:
    explicit Operation(ZipComponent &component) : component_(component) {
        component_.busy_ = true;
        ++component_.operations_;
        component_.Abort = component_.closed_;
        component_.lastPercent_ = -1;
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

ZipComponent::ZipComponent(QObject *parent) : QObject(parent) {}

ZipComponent::~ZipComponent() {
    if (inflater_ != nullptr)
        libdeflate_free_decompressor(inflater_);
}

namespace {
// Entries up to this size (packed and unpacked) are tested whole; larger ones stream.
constexpr zip_uint64_t kWholeEntryLimit = 8 * 1024 * 1024;
} // namespace

int ZipComponent::testSmallEntry(zip_t *za, const zip_stat_t &st) {
    const zip_flags_t needed =
        ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD;
    if ((st.valid & needed) != needed || st.size > kWholeEntryLimit ||
        st.comp_size > kWholeEntryLimit ||
        (st.comp_method != ZIP_CM_STORE && st.comp_method != ZIP_CM_DEFLATE))
        return -1;
    if (inflater_ == nullptr && (inflater_ = libdeflate_alloc_decompressor()) == nullptr)
        return -1;
    // The entry's bytes as stored: libzip still checks the local header and framing.
    const EntryFile reader{zip_fopen_index(za, st.index, ZIP_FL_COMPRESSED)};
    if (reader.file == nullptr)
        return -1; // let the streaming read find and name the failure
    if (packed_.size() < st.comp_size)
        packed_.resize(st.comp_size);
    zip_uint64_t got = 0;
    while (got < st.comp_size) {
        if (Abort)
            return aborted();
        const zip_int64_t n = zip_fread(reader.file, packed_.data() + got, st.comp_size - got);
        if (n < 0)
            return readFailureCode(zip_error_code_zip(zip_file_get_error(reader.file)));
        if (n == 0)
            return ZipStructureDamaged; // the data ends before its stated size
        got += zip_uint64_t(n);
    }
    const unsigned char *data = packed_.data();
    if (st.comp_method == ZIP_CM_DEFLATE) {
        if (unpacked_.size() < st.size)
            unpacked_.resize(st.size);
        size_t used = 0;
        // The stream must inflate to exactly the stated size; bytes after its end are ignored.
        if (libdeflate_deflate_decompress_ex(inflater_, packed_.data(), got, unpacked_.data(),
                                             st.size, &used, nullptr) != LIBDEFLATE_SUCCESS)
            return ZipDataDamaged;
        data = unpacked_.data();
    } else if (st.size != st.comp_size) {
        return ZipDataDamaged;
    }
    return libdeflate_crc32(0, data, st.size) == st.crc ? ZipOk : ZipDataDamaged;
}

int ZipComponent::testStreaming(zip_t *za, const zip_stat_t &st, double doneBytes,
                                double totalBytes) {
    // Stored data is its own size: the same verdict as the whole-entry test gives.
    const zip_flags_t sizes = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD;
    if ((st.valid & sizes) == sizes && st.comp_method == ZIP_CM_STORE && st.size != st.comp_size)
        return ZipDataDamaged;
    const EntryFile reader{zip_fopen_index(za, st.index, 0)};
    if (reader.file == nullptr) {
        const int rc = readFailureCode(zip_error_code_zip(zip_get_error(za)));
        return rc == ZipUnsupported ? ZipOk : rc; // cannot be verified, which is not damage
    }
    const double compressed = (st.valid & ZIP_STAT_COMP_SIZE) ? double(st.comp_size) : 0;
    const double size = (st.valid & ZIP_STAT_SIZE) ? double(st.size) : 0;
    zip_uint64_t read = 0;
    for (;;) {
        if (Abort)
            return aborted();
        const zip_int64_t n = zip_fread(reader.file, buffer_.data(), buffer_.size());
        if (n < 0) {
            const int rc = readFailureCode(zip_error_code_zip(zip_file_get_error(reader.file)));
            return rc == ZipUnsupported ? ZipOk : rc;
        }
        if (n == 0)
            break;
        read += zip_uint64_t(n);
        const double fraction = size > 0 ? std::min(1.0, double(read) / size) : 1.0;
        reportProgress(doneBytes + fraction * compressed, totalBytes);
    }
    // The data must come out at its stated size, as it must when tested whole.
    if ((st.valid & ZIP_STAT_SIZE) && read != st.size)
        return ZipDataDamaged;
    return ZipOk;
}

int ZipComponent::aborted() {
    Abort = false;
    return ZipAborted;
}

void ZipComponent::reportProgress(double done, double total) {
    const int percent = total > 0 ? int(std::clamp(done * 100.0 / total, 0.0, 100.0)) : 0;
    if (percent == lastPercent_ && statusClock_.elapsed() < kStatusIntervalMs)
        return;
    lastPercent_ = percent;
    statusClock_.restart();
    emit Status(percent);
}

int ZipComponent::load(Loaded &archive) {
    archive.path = ArchivePath;
    if (!archive.file.open(ArchivePath))
        return ZipUnreadable;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = archive.file.createSource(&error);
    if (source == nullptr) {
        zip_error_fini(&error);
        return ZipUnreadable;
    }
    // Never ZIP_CHECKCONS: it rejects sound archives written with data descriptors.
    archive.za = zip_open_from_source(source, ZIP_RDONLY, &error);
    const int zipError = zip_error_code_zip(&error);
    zip_error_fini(&error);
    if (archive.za == nullptr) {
        zip_source_free(source);
        if (zipError == ZIP_ER_NOZIP)
            return ZipNotAZip;
        if (zipError == ZIP_ER_INCONS) {
            // libzip refuses some intact archives; when our own walk finds the framing
            // sound, we cannot read the archive but have no reason to call it damaged.
            return ZipLayout::check(archive.file.fd(), archive.file.size()).consistent
                       ? ZipUnsupported
                       : ZipStructureDamaged;
        }
        return isSystemError(zipError) ? ZipUnreadable : ZipStructureDamaged;
    }
    // libzip reads archives whose entries overlap or whose local headers are
    // missing; other readers call them damaged, and so do we.
    archive.layout = ZipLayout::check(archive.file.fd(), archive.file.size());
    const zip_int64_t count = zip_get_num_entries(archive.za, 0);
    if (!archive.layout.consistent || archive.layout.entries != quint64(count))
        return ZipStructureDamaged;
    archive.names.reserve(size_t(count));
    for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
        // Our map and libzip must be reading the same directory: a rewrite copies the
        // records our map names, for entries libzip named and tested.
        zip_stat_t st;
        if (zip_stat_index(archive.za, i, 0, &st) != 0)
            return ZipStructureDamaged;
        const ZipLayout::Entry &mapped = archive.layout.map[i];
        if (((st.valid & ZIP_STAT_CRC) && st.crc != mapped.crc) ||
            ((st.valid & ZIP_STAT_COMP_SIZE) && st.comp_size != mapped.compressed))
            return ZipUnsupported;
        const char *name = zip_get_name(archive.za, i, ZIP_FL_ENC_GUESS);
        archive.names.push_back(name ? QString::fromUtf8(name) : QString());
    }
    return ZipOk;
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

int ZipComponent::listEntries() {
    DiscardChanges();
    auto archive = std::make_unique<Loaded>();
    if (const int rc = load(*archive))
        return rc;
    const EntrySelection selection(EntrySpec);
    for (zip_uint64_t i = 0; i < archive->names.size(); ++i) {
        if (Abort)
            return aborted();
        zip_stat_t st;
        if (zip_stat_index(archive->za, i, 0, &st) != 0)
            return ZipStructureDamaged;
        if (selection.matches(archive->names[i]))
            emit Listing(entryInfo(st));
        reportProgress(0, 1);
    }
    if (const int rc = testEntries(*archive))
        return rc;
    reportProgress(1, 1);
    // Sound: what a following change needs of it is at hand.
    archive->closeReader();
    listed_ = std::move(archive);
    return ZipOk;
}

int ZipComponent::testEntries(Loaded &archive) {
    // Read every entry to its end: libzip checks the CRC only there.
    std::vector<zip_stat_t> toTest;
    double totalBytes = 0;
    for (zip_uint64_t i = 0; i < archive.names.size(); ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive.za, i, 0, &st) != 0)
            return ZipStructureDamaged;
        if (canDecode(st)) {
            toTest.push_back(st);
            totalBytes += (st.valid & ZIP_STAT_COMP_SIZE) ? double(st.comp_size) : 0;
        }
    }
    double doneBytes = 0;
    for (const zip_stat_t &st : toTest) {
        if (Abort)
            return aborted();
        int rc = testSmallEntry(archive.za, st);
        if (rc < 0)
            rc = testStreaming(archive.za, st, doneBytes, totalBytes);
        if (rc != ZipOk)
            return rc;
        doneBytes += (st.valid & ZIP_STAT_COMP_SIZE) ? double(st.comp_size) : 0;
        reportProgress(doneBytes, totalBytes);
    }
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
        const std::unique_ptr<Loaded> archive = std::move(listed_);
        return applyChanges(*archive);
    });
}

void ZipComponent::markDeletions(Loaded &archive) {
    const EntrySelection selection(EntrySpec);
    // By index: with duplicate names a look-up by name finds only the first copy.
    for (size_t i = 0; i < archive.names.size(); ++i)
        if (selection.matches(archive.names[i]) &&
            !(archive.rewrite && archive.rewrite->isDropped(i)))
            archive.changes().drop(i);
    if (!archive.rewrite)
        return;
    const std::vector<ZipNewEntry> &added = archive.rewrite->added();
    for (size_t k = added.size(); k-- > 0;)
        if (selection.matches(QString::fromUtf8(added[k].name)))
            archive.rewrite->dropAdded(k);
}

int ZipComponent::markAddition(Loaded &archive) {
    const QString source = Fs::absolute(EntrySpec);
    const int fd =
        EntrySpec.isEmpty() ? -1 : ::open(Fs::encode(source).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ZipNothingToDo;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kAddLimit) {
        ::close(fd);
        return st.st_size > kAddLimit ? ZipUnsupported : ZipNothingToDo;
    }
    QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    ::close(fd);
    if (got != data.size())
        return ZipNothingToDo;
    // The new entry replaces every entry of the same name, duplicates included.
    const QString name = source.mid(source.lastIndexOf(u'/') + 1);
    const QString saved = EntrySpec;
    EntrySpec = likeLiteral(name);
    markDeletions(archive);
    EntrySpec = saved;
    archive.changes().add(ZipNewEntry::fromData(name.toUtf8(), data,
                                                QDateTime::fromSecsSinceEpoch(st.st_mtim.tv_sec)));
    return ZipOk;
}

int ZipComponent::applyChanges(Loaded &archive) {
    if (!archive.rewrite || !archive.rewrite->changes())
        return ZipOk; // nothing to remove or add: the file is not touched
    if (Abort)
        return aborted();
    const ZipArchiveFile::Identity read = archive.file.identity();
    if (const int rc = archive.file.beginRewrite(&read))
        return rc;
    const ZipRewrite &rewrite = *archive.rewrite;
    const double total = double(std::max<qint64>(rewrite.outputSize(), 1));
    int error = 0;
    const ZipRewrite::Outcome outcome = rewrite.write(
        archive.file.tempFd(),
        [&](qint64 written) {
            archive.file.written(written);
            reportProgress(std::min(double(written), 0.99 * total), total);
            return !Abort;
        },
        &error);
    if (outcome != ZipRewrite::Outcome::Written || Abort) {
        archive.file.rollbackRewrite();
        return outcome == ZipRewrite::Outcome::Failed ? int(ZipCannotWrite) : aborted();
    }
    const int rc = archive.file.commitRewrite();
    if (rc == ZipOk)
        reportProgress(1, 1);
    return rc;
}

int ZipComponent::deleteEntries() {
    if (gathering_ && listed_ && listed_->path == ArchivePath) {
        markDeletions(*listed_);
        return ZipOk;
    }
    Loaded archive;
    if (const int rc = load(archive))
        return rc;
    archive.closeReader();
    markDeletions(archive);
    return applyChanges(archive);
}

int ZipComponent::addEntries() {
    if (gathering_ && listed_ && listed_->path == ArchivePath)
        return markAddition(*listed_);
    Loaded archive;
    const int probe = Fs::isFile(Fs::absolute(EntrySpec)) ? 0 : ZipNothingToDo;
    if (probe)
        return probe;
    if (const int rc = load(archive))
        return rc;
    archive.closeReader();
    if (const int rc = markAddition(archive))
        return rc;
    return applyChanges(archive);
}

int ZipComponent::extractEntries() {
    if (ExtractFolder.isEmpty() || !QDir().mkpath(ExtractFolder))
        return ZipCannotWrite;
    Loaded archive;
    if (const int rc = load(archive))
        return rc;

    struct Job {
        zip_uint64_t index;
        QString path;
        double size;
    };
    std::vector<Job> jobs;
    double totalBytes = 0;
    const EntrySelection selection(EntrySpec);
    for (zip_uint64_t i = 0; i < archive.names.size(); ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive.za, i, 0, &st) != 0)
            return ZipStructureDamaged;
        const QString &name = archive.names[i];
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
        if (const int rc = extractEntry(archive.za, job.index, job.path, doneBytes, job.size,
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
    OutputFile out;
    if (!out.create(folder, path.mid(prefix.size()).split(u'/')))
        return ZipCannotWrite;
    const EntryFile reader{zip_fopen_index(za, index, 0)};
    if (reader.file == nullptr)
        return readFailureCode(zip_error_code_zip(zip_get_error(za)));
    double written = 0;
    for (;;) {
        if (Abort)
            return aborted();
        const zip_int64_t n = zip_fread(reader.file, buffer_.data(), buffer_.size());
        if (n < 0)
            return readFailureCode(zip_error_code_zip(zip_file_get_error(reader.file)));
        if (n == 0)
            break;
        if (!out.write(buffer_.data(), size_t(n)))
            return ZipCannotWrite;
        written += double(n);
        reportProgress(doneBytes + std::min(written, entryBytes), totalBytes);
    }
    return out.finish() ? ZipOk : ZipCannotWrite;
}

} // namespace arcsweep
