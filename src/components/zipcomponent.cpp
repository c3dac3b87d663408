#include "components/zipcomponent.h"

#include "common/entrypath.h"
#include "common/like.h"
#include "components/ziparchivefile.h"
#include "components/ziplayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <zip.h>

namespace arcsweep {

namespace {

constexpr size_t kBufferSize = 256 * 1024;
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
        dirFd_ = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirFd_ < 0 || parts.isEmpty())
            return false;
        for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
            const QByteArray part = QFile::encodeName(parts[i]);
            if (::mkdirat(dirFd_, part.constData(), 0755) != 0 && errno != EEXIST)
                return false;
            const int next =
                ::openat(dirFd_, part.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            ::close(dirFd_);
            dirFd_ = next;
            if (dirFd_ < 0)
                return false;
        }
        name_ = QFile::encodeName(parts.last());
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

struct ZipComponent::OpenedArchive {
    ZipArchiveFile file;
    zip_t *za = nullptr;

    OpenedArchive() = default;
    OpenedArchive(const OpenedArchive &) = delete;
    OpenedArchive &operator=(const OpenedArchive &) = delete;
    ~OpenedArchive() {
        if (za != nullptr)
            zip_discard(za);
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

int ZipComponent::openArchive(OpenedArchive &archive, bool writable) {
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
    archive.za = zip_open_from_source(source, writable ? 0 : ZIP_RDONLY, &error);
    const int zipError = zip_error_code_zip(&error);
    zip_error_fini(&error);
    if (archive.za != nullptr)
        return ZipOk;
    zip_source_free(source);
    if (zipError == ZIP_ER_NOZIP)
        return ZipNotAZip;
    if (zipError == ZIP_ER_INCONS) {
        // libzip refuses some intact archives; when our own walk finds the framing
        // sound, we cannot read the archive but have no reason to call it damaged.
        const ZipLayout::Result layout = ZipLayout::check(archive.file.fd(), archive.file.size());
        return layout.consistent ? ZipUnsupported : ZipStructureDamaged;
    }
    return isSystemError(zipError) ? ZipUnreadable : ZipStructureDamaged;
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
    OpenedArchive archive;
    if (const int rc = openArchive(archive, false))
        return rc;

    // libzip reads archives whose entries overlap or whose local headers are
    // missing; other readers call them damaged, and so do we.
    const ZipLayout::Result layout = ZipLayout::check(archive.file.fd(), archive.file.size());
    const zip_int64_t count = zip_get_num_entries(archive.za, 0);
    if (!layout.consistent || layout.entries != quint64(count))
        return ZipStructureDamaged;

    struct Pending {
        zip_stat_t st;
        double compressed;
        double size;
    };
    std::vector<Pending> toTest;
    double totalBytes = 0;
    const EntrySelection selection(EntrySpec);
    for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
        if (Abort)
            return aborted();
        zip_stat_t st;
        if (zip_stat_index(archive.za, i, 0, &st) != 0)
            return ZipStructureDamaged;
        const ZipEntryInfo info = entryInfo(st);
        if (selection.matches(info.FileName))
            emit Listing(info);
        if (canDecode(st)) {
            toTest.push_back({st, double(info.PSize), double(info.Size)});
            totalBytes += double(info.PSize);
        }
        reportProgress(0, 1);
    }

    // Read every entry to its end: libzip checks the CRC only there.
    double doneBytes = 0;
    for (const Pending &entry : toTest) {
        if (Abort)
            return aborted();
        const int whole = testSmallEntry(archive.za, entry.st);
        if (whole >= 0) {
            if (whole != ZipOk)
                return whole;
            doneBytes += entry.compressed;
            reportProgress(doneBytes, totalBytes);
            continue;
        }
        const EntryFile reader{zip_fopen_index(archive.za, entry.st.index, 0)};
        if (reader.file == nullptr) {
            const int rc = readFailureCode(zip_error_code_zip(zip_get_error(archive.za)));
            if (rc == ZipUnsupported)
                continue; // cannot be verified, which is not damage
            return rc;
        }
        double read = 0;
        for (;;) {
            if (Abort)
                return aborted();
            const zip_int64_t n = zip_fread(reader.file, buffer_.data(), buffer_.size());
            if (n < 0) {
                const int rc = readFailureCode(zip_error_code_zip(zip_file_get_error(reader.file)));
                if (rc == ZipUnsupported)
                    break;
                return rc;
            }
            if (n == 0)
                break;
            read += double(n);
            const double fraction = entry.size > 0 ? std::min(1.0, read / entry.size) : 1.0;
            reportProgress(doneBytes + fraction * entry.compressed, totalBytes);
        }
        doneBytes += entry.compressed;
    }
    reportProgress(1, 1);
    return ZipOk;
}

int ZipComponent::rewrite(OpenedArchive &archive, qint64 expectedSize) {
    archive.file.onWrite = [this, expectedSize](qint64 written) {
        const double total = double(std::max<qint64>(expectedSize, 1));
        reportProgress(std::min(double(written), 0.99 * total), total);
        return !Abort;
    };
    zip_t *za = std::exchange(archive.za, nullptr);
    if (zip_close(za) == 0) {
        reportProgress(1, 1);
        return ZipOk;
    }
    const int zipError = zip_error_code_zip(zip_get_error(za));
    zip_discard(za); // libzip has rolled the temporary file back already
    if (archive.file.cancelled())
        return aborted();
    if (archive.file.writeFailed())
        return ZipCannotWrite;
    switch (zipError) {
    case ZIP_ER_CRC:
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
        return ZipDataDamaged;
    case ZIP_ER_INCONS:
    case ZIP_ER_EOF:
    case ZIP_ER_NOZIP:
    case ZIP_ER_INVAL:
        return ZipStructureDamaged; // a kept entry could not be copied
    default:
        return ZipCannotWrite;
    }
}

int ZipComponent::deleteEntries() {
    OpenedArchive archive;
    if (const int rc = openArchive(archive, true))
        return rc;
    const EntrySelection selection(EntrySpec);
    const zip_int64_t count = zip_get_num_entries(archive.za, 0);
    zip_int64_t deleted = 0;
    // By index: with duplicate names a look-up by name finds only the first copy.
    for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
        const char *name = zip_get_name(archive.za, i, ZIP_FL_ENC_GUESS);
        if (name == nullptr || !selection.matches(QString::fromUtf8(name)))
            continue;
        if (zip_delete(archive.za, i) != 0)
            return ZipCannotWrite;
        ++deleted;
    }
    if (deleted == 0)
        return ZipOk; // nothing to remove: the file is not touched
    return rewrite(archive, archive.file.size());
}

int ZipComponent::addEntries() {
    const QFileInfo source(EntrySpec);
    const QByteArray sourcePath = QFile::encodeName(source.absoluteFilePath());
    const int probe =
        EntrySpec.isEmpty() ? -1 : ::open(sourcePath.constData(), O_RDONLY | O_CLOEXEC);
    if (probe < 0)
        return ZipNothingToDo;
    ::close(probe);
    if (!source.isFile())
        return ZipNothingToDo;

    OpenedArchive archive;
    if (const int rc = openArchive(archive, true))
        return rc;
    // The new entry replaces every entry of the same name, duplicates included.
    const QString name = source.fileName();
    const zip_int64_t count = zip_get_num_entries(archive.za, 0);
    for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
        const char *existing = zip_get_name(archive.za, i, ZIP_FL_ENC_GUESS);
        if (existing != nullptr && QString::fromUtf8(existing) == name &&
            zip_delete(archive.za, i) != 0)
            return ZipCannotWrite;
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *data = zip_source_file_create(sourcePath.constData(), 0, -1, &error);
    zip_error_fini(&error);
    if (data == nullptr)
        return ZipNothingToDo;
    if (zip_file_add(archive.za, name.toUtf8().constData(), data,
                     ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) < 0) {
        zip_source_free(data);
        return ZipCannotWrite;
    }
    return rewrite(archive, archive.file.size() + source.size());
}

int ZipComponent::extractEntries() {
    if (ExtractFolder.isEmpty() || !QDir().mkpath(ExtractFolder))
        return ZipCannotWrite;
    OpenedArchive archive;
    if (const int rc = openArchive(archive, false))
        return rc;

    struct Job {
        zip_uint64_t index;
        QString path;
        double size;
    };
    std::vector<Job> jobs;
    double totalBytes = 0;
    const EntrySelection selection(EntrySpec);
    const zip_int64_t count = zip_get_num_entries(archive.za, 0);
    for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive.za, i, 0, &st) != 0)
            return ZipStructureDamaged;
        const QString name = QString::fromUtf8(st.name);
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
        if (const int rc = extractEntry(archive, job.index, job.path, doneBytes, job.size,
                                        std::max(totalBytes, 1.0)))
            return rc;
        doneBytes += job.size;
    }
    reportProgress(1, 1);
    return ZipOk;
}

int ZipComponent::extractEntry(OpenedArchive &archive, quint64 index, const QString &path,
                               double doneBytes, double entryBytes, double totalBytes) {
    QString folder = ExtractFolder;
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    const QString prefix = folder == u"/" ? folder : folder + u'/';
    if (!path.startsWith(prefix))
        return ZipCannotWrite;
    OutputFile out;
    if (!out.create(folder, path.mid(prefix.size()).split(u'/')))
        return ZipCannotWrite;
    const EntryFile reader{zip_fopen_index(archive.za, index, 0)};
    if (reader.file == nullptr)
        return readFailureCode(zip_error_code_zip(zip_get_error(archive.za)));
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
