#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace arcsweep {

class PurgeMatcher;

// What the last full test of an archive found, kept in the data folder (verdicts.db) so
// that a run with --skip-unchanged can leave alone an archive that has not changed since a
// run found it sound and changed nothing in it. Only such archives have a row: any other
// outcome removes it. Rows are written in batches (one transaction per folder); a batch
// lost to a kill only means those archives are tested again.
class VerdictStore {
public:
    // The file's identity as lstat gives it: any change of content, name target,
    // permissions or owner changes at least one field.
    struct Identity {
        quint64 dev = 0, ino = 0;
        qint64 size = 0;
        qint64 mtimeSec = 0, mtimeNsec = 0, ctimeSec = 0, ctimeNsec = 0;
        bool operator==(const Identity &) const = default;
    };
    // A regular file's identity; none for a link, a missing file or anything else.
    static std::optional<Identity> identityOf(const QString &path);

    // What a skipped archive contributes to the run.
    struct Skip {
        int nfoCount = 0;
        qint64 tested = 0; // seconds since the epoch
        Identity identity; // the file as decided on
    };

    explicit VerdictStore(const PurgeMatcher &matcher) : matcher_(matcher) {}
    ~VerdictStore();
    VerdictStore(const VerdictStore &) = delete;
    VerdictStore &operator=(const VerdictStore &) = delete;

    // Opens (or creates) the store at `file`. A store that cannot be opened or read, of
    // another version or corrupt is renamed aside and a new one is started (`readOnly`:
    // it is left where it is and none is used). Returns what to tell the user, or nothing.
    QString open(const QString &file, bool readOnly, int retestDays);
    // Commits the open batch and closes; a closed store skips nothing and records nothing.
    void close();
    bool isOpen() const { return db_ != nullptr; }

    // Whether the archive at `path` may be skipped: decided once, before its folder is
    // queued for testing ahead, and kept until takeSkip() takes it.
    bool decide(const QString &path);
    // The decision for `path`, removed from the kept ones; none when the file has changed
    // since it was decided on (it is then tested: no worker has read it ahead).
    std::optional<Skip> takeSkip(const QString &path);

    // After a full test: `sound` (listed sound, nothing matched, nothing repaired, nothing
    // written) records the archive as found at `before`, provided it still is; anything
    // else removes its row.
    void update(const QString &path, const std::optional<Identity> &before,
                const QStringList &names, int nfoCount, bool sound);
    // Ends the current batch (a folder's updates) and starts the next.
    void commit();

    int skipped() const { return skipped_; }
    qint64 oldestSkipped() const { return oldest_; } // seconds since the epoch

    // Called with the store's path and the cause when the store could not be written.
    std::function<void(const QString &, const QString &)> onWriteFailure;

private:
    QString openExisting();
    bool create(QString &why);
    bool exec(const char *sql);
    bool prepare();
    void failed(const char *what);
    void finalize();

    const PurgeMatcher &matcher_;
    sqlite3 *db_ = nullptr;
    sqlite3_stmt *find_ = nullptr, *put_ = nullptr, *drop_ = nullptr;
    QString file_;
    bool readOnly_ = false;
    bool inBatch_ = false;
    int retestDays_ = 30;
    QHash<QString, std::optional<Skip>> decided_; // decisions not yet taken
    int skipped_ = 0;
    qint64 oldest_ = 0;
};

} // namespace arcsweep
