#include "checks.h"

#include "common/fs.h"
#include "common/like.h"
#include "zip/zipcomponent.h"
#include "zip/ziphandles.h"

#include <QCryptographicHash>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <ftw.h>
#include <optional>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>
#include <zip.h>

namespace arcsweep::fuzz {

namespace {

// The codes each operation can give for a regular, readable file in a writable folder.
const QList<int> kListCodes = {ZipOk,          ZipNotAZip,     ZipStructureDamaged,
                               ZipDataDamaged, ZipUnsupported, ZipSplitSegment};
const QList<int> kExtractCodes = {ZipOk,          ZipNotAZip,     ZipStructureDamaged,
                                  ZipDataDamaged, ZipCannotWrite, ZipNothingToDo,
                                  ZipUnsupported, ZipSplitSegment};

// A name as a report shows it: control characters and anything beyond ASCII escaped.
QString shown(const QString &name) {
    QString out = QStringLiteral("\"");
    for (const QChar c : name) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f && c != u'"' && c != u'\\')
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
    }
    return out + u'"';
}

QString shown(const QStringList &names) {
    QStringList parts;
    for (const QString &name : names.first(std::min<qsizetype>(names.size(), 20)))
        parts.append(shown(name));
    return u'[' + parts.join(QStringLiteral(", ")) + (names.size() > 20 ? ", ...]" : "]");
}

int removeOne(const char *path, const struct stat *, int, FTW *) {
    return ::remove(path) == 0 || errno == ENOENT ? 0 : -1;
}

// Removes a tree without following links; names need not be UTF-8.
bool removeTree(const QString &path) {
    const QByteArray name = Fs::encode(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return errno == ENOENT;
    return ::nftw(name.constData(), removeOne, 16, FTW_DEPTH | FTW_PHYS) == 0;
}

// An empty folder at `path`, whatever stood there before.
bool freshFolder(const QString &path) {
    return removeTree(path) && ::mkdir(Fs::encode(path).constData(), 0755) == 0;
}

QStringList namesIn(const QString &folder) {
    QStringList names;
    if (DIR *dir = ::opendir(Fs::encode(folder).constData())) {
        while (const dirent *e = ::readdir(dir)) {
            const QByteArray name(e->d_name);
            if (name != "." && name != "..")
                names.append(Fs::decode(name));
        }
        ::closedir(dir);
    }
    names.sort();
    return names;
}

bool writeBytes(const QString &path, const QByteArray &bytes) {
    FILE *f = std::fopen(Fs::encode(path).constData(), "wb");
    if (f == nullptr)
        return false;
    const bool ok =
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), f) == size_t(bytes.size());
    return std::fclose(f) == 0 && ok;
}

QByteArray readBytes(const QString &path) {
    QByteArray bytes;
    if (FILE *f = std::fopen(Fs::encode(path).constData(), "rb")) {
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.append(buffer, qsizetype(n));
        std::fclose(f);
    }
    return bytes;
}

// One entry as libzip reads it: name, then size and a digest of the data.
struct EntryData {
    QString name;
    zip_uint64_t size = 0;
    QByteArray digest;
    bool operator==(const EntryData &) const = default;
    bool operator<(const EntryData &o) const {
        return std::tie(name, size, digest) < std::tie(o.name, o.size, o.digest);
    }
};

// Every entry of the archive read through libzip, or nothing when one cannot be read
// (an encrypted entry or a method this libzip does not decode included).
std::optional<std::vector<EntryData>> readEntries(const QString &path) {
    int error = 0;
    const ZipHandle owner(zip_open(Fs::encode(path).constData(), ZIP_RDONLY, &error));
    zip_t *za = owner.get();
    if (za == nullptr)
        return std::nullopt;
    std::vector<EntryData> entries;
    std::vector<char> buffer(256 * 1024);
    bool good = true;
    const zip_int64_t count = zip_get_num_entries(za, 0);
    for (zip_uint64_t i = 0; good && i < zip_uint64_t(count); ++i) {
        zip_stat_t st;
        const ZipFileHandle reader(zip_stat_index(za, i, 0, &st) == 0 ? zip_fopen_index(za, i, 0)
                                                                      : nullptr);
        zip_file_t *file = reader.get();
        if (file == nullptr) {
            good = false;
            break;
        }
        QCryptographicHash hash(QCryptographicHash::Sha1);
        EntryData entry{QString::fromUtf8(st.name), 0, {}};
        zip_int64_t n;
        while ((n = zip_fread(file, buffer.data(), buffer.size())) > 0) {
            hash.addData(QByteArrayView(buffer.data(), qsizetype(n)));
            entry.size += zip_uint64_t(n);
        }
        good = n == 0;
        entry.digest = hash.result();
        entries.push_back(entry);
    }
    if (!good)
        return std::nullopt;
    return entries;
}

struct Listed {
    int code = -1;
    QStringList names;
};

Listed listAll(ZipComponent &zip) {
    Listed listed;
    const QMetaObject::Connection connection =
        QObject::connect(&zip, &ZipComponent::Listing, [&listed](const ZipEntryInfo &entry) {
            listed.names.append(entry.FileName);
        });
    zip.EntrySpec = QStringLiteral("*.*");
    listed.code = zip.ListEntries();
    QObject::disconnect(connection);
    return listed;
}

Verdict broken(const char *invariant, const QString &detail) {
    return {QString::fromLatin1(invariant), detail};
}

// The first symbolic link the walk below met (nftw passes no context to its callback).
QByteArray linkFound;

int noteLink(const char *path, const struct stat *, int type, FTW *) {
    if (type != FTW_SL && type != FTW_SLN)
        return 0;
    linkFound = path;
    return 1; // stops the walk
}

// Bracket expression at pattern[at] == '[': one past its ']' (-1 when malformed) and
// whether it takes the character c.
struct Bracket {
    qsizetype end = -1;
    bool takes = false;
};

Bracket readBracket(QStringView p, qsizetype at, char16_t c) {
    qsizetype from = at + 1;
    const bool negated = from < p.size() && p[from] == u'!';
    if (negated)
        ++from;
    const qsizetype close = p.indexOf(u']', from);
    if (close <= from)
        return {}; // no ']', or nothing before it
    const QStringView list = p.sliced(from, close - from);
    bool in = false;
    for (qsizetype k = 0; k < list.size();) {
        // "x-y" inside the list is a range, unless x is the list's leading hyphen.
        const bool leadingHyphen = k == 0 && list[k] == u'-';
        if (k + 2 < list.size() && list[k + 1] == u'-' && !leadingHyphen) {
            if (list[k + 2] < list[k])
                return {};
            in = in || (c >= list[k].unicode() && c <= list[k + 2].unicode());
            k += 3;
        } else {
            in = in || c == list[k].unicode();
            ++k;
        }
    }
    return {close + 1, in != negated};
}

bool wellFormed(QStringView p) {
    for (qsizetype i = 0; i < p.size();) {
        if (p[i] != u'[') {
            ++i;
            continue;
        }
        const Bracket b = readBracket(p, i, 0);
        if (b.end < 0)
            return false;
        i = b.end;
    }
    return true;
}

class ReferenceMatch {
public:
    ReferenceMatch(QStringView name, QStringView pattern)
        : name_(name), pattern_(pattern),
          memo_(size_t((name.size() + 1) * (pattern.size() + 1)), -1) {}

    // Whether name from n on matches pattern from p on.
    bool at(qsizetype n, qsizetype p) {
        if (p == pattern_.size())
            return n == name_.size();
        signed char &known = memo_[size_t(n * (pattern_.size() + 1) + p)];
        if (known < 0)
            known = decide(n, p) ? 1 : 0;
        return known == 1;
    }

private:
    bool decide(qsizetype n, qsizetype p) {
        const QChar token = pattern_[p];
        if (token == u'*')
            return at(n, p + 1) || (n < name_.size() && at(n + 1, p));
        if (n == name_.size())
            return false;
        const QChar c = name_[n];
        if (token == u'?')
            return at(n + 1, p + 1);
        if (token == u'#')
            return c >= u'0' && c <= u'9' && at(n + 1, p + 1);
        if (token == u'[') {
            const Bracket b = readBracket(pattern_, p, c.unicode());
            return b.takes && at(n + 1, b.end);
        }
        return c == token && at(n + 1, p + 1);
    }

    QStringView name_, pattern_;
    std::vector<signed char> memo_;
};

} // namespace

bool likeReference(QStringView name, QStringView pattern, bool *valid) {
    const bool formed = wellFormed(pattern);
    if (valid != nullptr)
        *valid = formed;
    return formed && ReferenceMatch(name, pattern).at(0, 0);
}

Verdict checkLike(const QByteArray &input) {
    const qsizetype cut = input.indexOf('\n');
    const QString name = QString::fromUtf8(cut < 0 ? input : input.left(cut)).left(kLikeNameMax);
    const QString pattern =
        cut < 0 ? QString() : QString::fromUtf8(input.mid(cut + 1)).left(kLikePatternMax);
    bool valid = false;
    const bool expected = likeReference(name, pattern, &valid);
    const QString pair = shown(name) + QStringLiteral(" against ") + shown(pattern);
    if (likeIsValid(pattern) != valid)
        return broken("like-valid", shown(pattern) + (valid ? " is well formed" : " is malformed"));
    if (likeMatch(name, pattern) != expected)
        return broken("like-match", pair + (expected ? " should match" : " should not match"));
    for (const QString &text : {name, pattern})
        if (!likeMatch(text, likeLiteral(text)))
            return broken("like-literal", shown(text) + " against " + shown(likeLiteral(text)));
    return {};
}

Verdict checkZipList(const QByteArray &bytes, const QString &scratch) {
    const QString folder = scratch + QStringLiteral("/list");
    const QString path = folder + QStringLiteral("/archive.zip");
    if (!freshFolder(folder) || !writeBytes(path, bytes))
        return broken("scratch", QStringLiteral("cannot write ") + path);

    ZipComponent zip;
    zip.ArchivePath = path;
    const Listed before = listAll(zip);
    if (!kListCodes.contains(before.code))
        return broken("list-code", QStringLiteral("ListEntries gave %1").arg(before.code));
    {
        // Tested ahead on a worker: the same verdict and the same names.
        ZipComponent ahead;
        ahead.testAheadWorkers = 1;
        ahead.ArchivePath = path;
        ahead.TestAhead({path});
        const Listed worker = listAll(ahead);
        if (worker.code != before.code || worker.names != before.names)
            return broken("ahead-differs",
                          QStringLiteral("directly %1 ").arg(before.code) + shown(before.names) +
                              QStringLiteral(", tested ahead %1 ").arg(worker.code) +
                              shown(worker.names));
    }
    // An entry without a name cannot be named in EntrySpec.
    if (before.code != ZipOk || before.names.isEmpty() || before.names.first().isEmpty())
        return {};

    const QString purged = before.names.first();
    const std::optional<std::vector<EntryData>> dataBefore = readEntries(path);
    zip.EntrySpec = likeLiteral(purged);
    const int code = zip.DeleteEntries();
    const QString what = QStringLiteral("deleting ") + shown(purged) + QStringLiteral(" gave %1");
    if (isDamageCode(code))
        return broken("purge-damage", what.arg(code));
    if (code != ZipOk && code != ZipUnsupported)
        return broken("purge-code", what.arg(code));
    if (const QStringList left = namesIn(folder); left != QStringList{"archive.zip"})
        return broken("purge-leftover", QStringLiteral("the folder holds ") + shown(left));
    // A rewrite that would not read back is not put in place: the archive stays as it was.
    if (code == ZipUnsupported)
        return readBytes(path) == bytes ? Verdict{}
                                        : broken("purge-refused-changed", what.arg(code));

    // Selection ignores case: every name equal to the purged one ignoring case goes.
    const auto gone = [&](const QString &name) { return name.toLower() == purged.toLower(); };
    QStringList expected = before.names;
    expected.removeIf(gone);
    expected.sort();
    Listed after = listAll(zip);
    if (after.code != ZipOk)
        return broken("relist-code", QStringLiteral("after deleting ") + shown(purged) +
                                         QStringLiteral(" ListEntries gave %1").arg(after.code));
    after.names.sort();
    if (after.names != expected)
        return broken("relist-names", QStringLiteral("after deleting ") + shown(purged) +
                                          QStringLiteral(" from ") + shown(before.names) +
                                          QStringLiteral(" the listing is ") + shown(after.names));

    if (!dataBefore)
        return {}; // an entry could not be read before: nothing to compare with
    std::vector<EntryData> keptBefore = *dataBefore;
    std::erase_if(keptBefore, [&](const EntryData &e) { return gone(e.name); });
    std::sort(keptBefore.begin(), keptBefore.end());
    std::optional<std::vector<EntryData>> dataAfter = readEntries(path);
    if (!dataAfter)
        return broken("kept-data", QStringLiteral("after deleting ") + shown(purged) +
                                       QStringLiteral(" an entry cannot be read"));
    std::sort(dataAfter->begin(), dataAfter->end());
    if (*dataAfter != keptBefore)
        return broken("kept-data", QStringLiteral("after deleting ") + shown(purged) +
                                       QStringLiteral(" the entries kept hold other data"));
    return {};
}

Verdict strayOutput(const QString &parent, const QString &folder) {
    if (const QStringList names = namesIn(parent); names != QStringList{folder})
        return broken("extract-outside", shown(parent) + QStringLiteral(" holds ") + shown(names));
    linkFound.clear();
    ::nftw(Fs::encode(parent + u'/' + folder).constData(), noteLink, 16, FTW_PHYS);
    if (!linkFound.isEmpty())
        return broken("extract-symlink", shown(Fs::decode(linkFound)));
    return {};
}

Verdict checkZipExtract(const QByteArray &bytes, const QString &scratch) {
    const QString folder = scratch + QStringLiteral("/extract");
    const QString path = folder + QStringLiteral("/archive.zip");
    const QString parent = folder + QStringLiteral("/parent");
    if (!freshFolder(folder) || !freshFolder(parent) || !writeBytes(path, bytes))
        return broken("scratch", QStringLiteral("cannot write ") + path);

    ZipComponent zip;
    zip.ArchivePath = path;
    const int listed = listAll(zip).code;
    zip.ExtractFolder = parent + QStringLiteral("/extract");
    const int code = zip.ExtractEntries(0);
    if (!kExtractCodes.contains(code))
        return broken("extract-code", QStringLiteral("ExtractEntries gave %1").arg(code));
    if (listed == ZipOk && isDamageCode(code))
        return broken("extract-damage",
                      QStringLiteral("lists with 0, ExtractEntries gave %1").arg(code));
    if (const Verdict stray = strayOutput(parent, QStringLiteral("extract")); !stray.ok())
        return stray;
    if (const QStringList names = namesIn(folder);
        names != QStringList{QStringLiteral("archive.zip"), QStringLiteral("parent")})
        return broken("extract-outside", shown(folder) + QStringLiteral(" holds ") + shown(names));
    if (readBytes(path) != bytes)
        return broken("extract-archive-changed", QStringLiteral("the archive changed"));
    return {};
}

} // namespace arcsweep::fuzz
