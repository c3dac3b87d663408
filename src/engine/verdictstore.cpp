#include "engine/verdictstore.h"

#include "common/fs.h"
#include "engine/purgematcher.h"

#include <QDateTime>

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdio>

namespace arcsweep {

namespace {

// The layout this program reads and writes; a store of any other is set aside.
constexpr int StoreVersion = 1;

// Entry names are kept as UTF-8, separated by NUL (which no entry name holds).
QByteArray joinNames(const QStringList &names) {
    QByteArray bytes;
    for (const QString &name : names) {
        bytes += name.toUtf8();
        bytes += '\0';
    }
    return bytes;
}

QStringList splitNames(const QByteArray &bytes) {
    QStringList names;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\0') {
            names.append(QString::fromUtf8(bytes.constData() + start, i - start));
            start = i + 1;
        }
    return names;
}

} // namespace

std::optional<VerdictStore::Identity> VerdictStore::identityOf(const QString &path) {
    struct stat st {};
    if (::lstat(Fs::encode(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    Identity id;
    id.dev = st.st_dev;
    id.ino = st.st_ino;
    id.size = st.st_size;
    id.mtimeSec = st.st_mtim.tv_sec;
    id.mtimeNsec = st.st_mtim.tv_nsec;
    id.ctimeSec = st.st_ctim.tv_sec;
    id.ctimeNsec = st.st_ctim.tv_nsec;
    return id;
}

VerdictStore::~VerdictStore() {
    close();
}

QString VerdictStore::open(const QString &file, bool readOnly, int retestDays) {
    close();
    file_ = file;
    readOnly_ = readOnly;
    retestDays_ = retestDays;
    decided_.clear();
    skipped_ = 0;
    oldest_ = 0;
    const QString shown = Fs::display(file);
    if (!Fs::exists(file)) {
        if (readOnly)
            return QStringLiteral("Arcsweep: no verdict store %1 yet: every archive is tested")
                .arg(shown);
        QString why;
        if (!create(why))
            return QStringLiteral("Arcsweep: cannot start the verdict store %1 (%2): every "
                                  "archive is tested")
                .arg(shown, why);
        return QStringLiteral("Arcsweep: no verdict store %1 yet: every archive is tested")
            .arg(shown);
    }
    const QString why = openExisting();
    if (why.isEmpty())
        return QString();
    close();
    if (readOnly)
        return QStringLiteral("Arcsweep: verdict store %1 not used (%2): every archive is tested")
            .arg(shown, why);
    // Set aside with whatever journal it has, so that nothing of it is read again.
    // A name no earlier store set aside has taken.
    const QString stamp = file + QStringLiteral(".aside-") +
                          QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = stamp;
    for (int n = 2; Fs::exists(aside); ++n)
        aside = stamp + u'-' + QString::number(n);
    for (const char *suffix : {"", "-wal", "-shm"}) {
        const QString from = file + QLatin1String(suffix);
        if (Fs::exists(from))
            ::rename(Fs::encode(from).constData(),
                     Fs::encode(aside + QLatin1String(suffix)).constData());
    }
    QString note = QStringLiteral("Arcsweep: verdict store %1 set aside as %2 (%3): every archive "
                                  "is tested")
                       .arg(shown, Fs::display(aside), why);
    QString createWhy;
    if (Fs::exists(file) || !create(createWhy))
        note += QStringLiteral("; no new store could be started") +
                (createWhy.isEmpty() ? QString() : QStringLiteral(" (") + createWhy + u')');
    return note;
}

QString VerdictStore::openExisting() {
    int flags = readOnly_ ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
    QByteArray name = Fs::encode(file_);
    // A dry run leaves no trace: without a journal to read, the store is opened as a file
    // that cannot change, so not even the WAL's companion files are made.
    if (readOnly_ && !Fs::exists(file_ + QStringLiteral("-wal"))) {
        name = "file:" + name.toPercentEncoding("/") + "?immutable=1";
        flags |= SQLITE_OPEN_URI;
    }
    if (sqlite3_open_v2(name.constData(), &db_, flags, nullptr) != SQLITE_OK)
        return QString::fromUtf8(db_ ? sqlite3_errmsg(db_) : "cannot open");
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_stmt *st = nullptr;
    int version = -1;
    if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &st, nullptr) == SQLITE_OK &&
        sqlite3_step(st) == SQLITE_ROW)
        version = sqlite3_column_int(st, 0);
    sqlite3_finalize(st);
    if (version < 0)
        return QString::fromUtf8(sqlite3_errmsg(db_));
    if (version != StoreVersion)
        return QStringLiteral("version %1, not %2").arg(version).arg(StoreVersion);
    // quick_check reads every page: a damaged store is found here, not half-way.
    QString check;
    if (sqlite3_prepare_v2(db_, "PRAGMA quick_check", -1, &st, nullptr) == SQLITE_OK) {
        while (sqlite3_step(st) == SQLITE_ROW)
            check += QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(st, 0)));
    } else {
        check = QString::fromUtf8(sqlite3_errmsg(db_));
    }
    sqlite3_finalize(st);
    if (check != u"ok")
        return QStringLiteral("damaged: ") + check.left(200);
    if (!readOnly_ && (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL")))
        return QString::fromUtf8(sqlite3_errmsg(db_));
    if (!prepare())
        return QString::fromUtf8(sqlite3_errmsg(db_));
    return QString();
}

bool VerdictStore::create(QString &why) {
    if (sqlite3_open_v2(Fs::encode(file_).constData(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        why = QString::fromUtf8(db_ ? sqlite3_errmsg(db_) : "cannot open");
        close();
        return false;
    }
    // The table and the version come in one transaction: a store is whole or empty.
    const bool made = exec("PRAGMA journal_mode=WAL") && exec("PRAGMA synchronous=NORMAL") &&
                      exec("BEGIN") &&
                      exec("CREATE TABLE verdict(path BLOB PRIMARY KEY, dev INTEGER NOT NULL, "
                           "ino INTEGER NOT NULL, size INTEGER NOT NULL, mtime_s INTEGER NOT "
                           "NULL, mtime_ns INTEGER NOT NULL, ctime_s INTEGER NOT NULL, ctime_ns "
                           "INTEGER NOT NULL, names BLOB NOT NULL, nfo INTEGER NOT NULL, tested "
                           "INTEGER NOT NULL) WITHOUT ROWID") &&
                      exec("PRAGMA user_version=1") && exec("COMMIT") && prepare();
    if (!made) {
        why = QString::fromUtf8(sqlite3_errmsg(db_));
        close();
    }
    return made;
}

bool VerdictStore::exec(const char *sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool VerdictStore::prepare() {
    return sqlite3_prepare_v2(db_,
                              "SELECT dev, ino, size, mtime_s, mtime_ns, ctime_s, ctime_ns, "
                              "names, nfo, tested FROM verdict WHERE path = ?",
                              -1, &find_, nullptr) == SQLITE_OK &&
           (readOnly_ ||
            (sqlite3_prepare_v2(db_,
                                "INSERT OR REPLACE INTO verdict VALUES (?, ?, ?, ?, ?, ?, ?, ?, "
                                "?, ?, ?)",
                                -1, &put_, nullptr) == SQLITE_OK &&
             sqlite3_prepare_v2(db_, "DELETE FROM verdict WHERE path = ?", -1, &drop_, nullptr) ==
                 SQLITE_OK));
}

void VerdictStore::finalize() {
    for (sqlite3_stmt **st : {&find_, &put_, &drop_}) {
        sqlite3_finalize(*st);
        *st = nullptr;
    }
}

void VerdictStore::close() {
    decided_.clear();
    if (!db_)
        return;
    commit();
    finalize();
    sqlite3_close(db_);
    db_ = nullptr;
    inBatch_ = false;
}

void VerdictStore::failed(const char *what) {
    const QString cause =
        QString::fromUtf8(what) + QStringLiteral(": ") + QString::fromUtf8(sqlite3_errmsg(db_));
    // Nothing more is recorded this run; what was committed stays valid.
    if (inBatch_)
        exec("ROLLBACK");
    inBatch_ = false;
    readOnly_ = true;
    if (onWriteFailure)
        onWriteFailure(file_, cause);
}

void VerdictStore::commit() {
    if (!db_ || !inBatch_)
        return;
    inBatch_ = false;
    if (!exec("COMMIT"))
        failed("commit");
}

bool VerdictStore::decide(const QString &path) {
    if (!db_)
        return false;
    if (const auto it = decided_.constFind(path); it != decided_.constEnd())
        return it->has_value();
    std::optional<Skip> skip;
    const std::optional<Identity> now = identityOf(path);
    const QByteArray key = Fs::encode(path);
    if (now && retestDays_ > 0) {
        sqlite3_bind_blob(find_, 1, key.constData(), int(key.size()), SQLITE_STATIC);
        if (sqlite3_step(find_) == SQLITE_ROW) {
            Identity was;
            was.dev = quint64(sqlite3_column_int64(find_, 0));
            was.ino = quint64(sqlite3_column_int64(find_, 1));
            was.size = sqlite3_column_int64(find_, 2);
            was.mtimeSec = sqlite3_column_int64(find_, 3);
            was.mtimeNsec = sqlite3_column_int64(find_, 4);
            was.ctimeSec = sqlite3_column_int64(find_, 5);
            was.ctimeNsec = sqlite3_column_int64(find_, 6);
            const QByteArray names(static_cast<const char *>(sqlite3_column_blob(find_, 7)),
                                   sqlite3_column_bytes(find_, 7));
            const int nfo = sqlite3_column_int(find_, 8);
            const qint64 tested = sqlite3_column_int64(find_, 9);
            const qint64 age = QDateTime::currentSecsSinceEpoch() - tested;
            bool matched = false;
            // The names as the run sees them: lower-cased as listed.
            for (const QString &name : splitNames(names))
                if (matcher_.firstMatch(name.toLower()) >= 0) {
                    matched = true;
                    break;
                }
            if (was == *now && age >= 0 && age < qint64(retestDays_) * 86400 && !matched)
                skip = Skip{nfo, tested, was};
        }
        sqlite3_reset(find_);
        sqlite3_clear_bindings(find_);
    }
    decided_.insert(path, skip);
    return skip.has_value();
}

std::optional<VerdictStore::Skip> VerdictStore::takeSkip(const QString &path) {
    const auto it = decided_.find(path);
    if (it == decided_.end())
        return std::nullopt;
    const std::optional<Skip> skip = *it;
    decided_.erase(it);
    if (skip && identityOf(path) != skip->identity)
        return std::nullopt;
    if (skip) {
        if (skipped_ == 0 || skip->tested < oldest_)
            oldest_ = skip->tested;
        ++skipped_;
    }
    return skip;
}

void VerdictStore::update(const QString &path, const std::optional<Identity> &before,
                          const QStringList &names, int nfoCount, bool sound) {
    if (!db_ || readOnly_)
        return;
    if (!inBatch_) {
        if (!exec("BEGIN")) {
            failed("begin");
            return;
        }
        inBatch_ = true;
    }
    const QByteArray key = Fs::encode(path);
    // Recorded only as the file that was tested: changed meanwhile, it is tested again.
    if (sound && before && identityOf(path) == before) {
        const QByteArray joined = joinNames(names);
        sqlite3_bind_blob(put_, 1, key.constData(), int(key.size()), SQLITE_STATIC);
        sqlite3_bind_int64(put_, 2, sqlite3_int64(before->dev));
        sqlite3_bind_int64(put_, 3, sqlite3_int64(before->ino));
        sqlite3_bind_int64(put_, 4, before->size);
        sqlite3_bind_int64(put_, 5, before->mtimeSec);
        sqlite3_bind_int64(put_, 6, before->mtimeNsec);
        sqlite3_bind_int64(put_, 7, before->ctimeSec);
        sqlite3_bind_int64(put_, 8, before->ctimeNsec);
        sqlite3_bind_blob(put_, 9, joined.constData(), int(joined.size()), SQLITE_STATIC);
        sqlite3_bind_int(put_, 10, nfoCount);
        sqlite3_bind_int64(put_, 11, QDateTime::currentSecsSinceEpoch());
        const int rc = sqlite3_step(put_);
        sqlite3_reset(put_);
        sqlite3_clear_bindings(put_);
        if (rc != SQLITE_DONE)
            failed("record");
        return;
    }
    sqlite3_bind_blob(drop_, 1, key.constData(), int(key.size()), SQLITE_STATIC);
    const int rc = sqlite3_step(drop_);
    sqlite3_reset(drop_);
    sqlite3_clear_bindings(drop_);
    if (rc != SQLITE_DONE)
        failed("remove");
}

} // namespace arcsweep
