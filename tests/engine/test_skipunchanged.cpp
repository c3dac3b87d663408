// Runs that leave alone the archives a run found sound and that have not changed since.

#include "recordinghost.h"
#include "unattended.h"

#include "common/datafiles.h"

#include <QDirIterator>
#include <QMap>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <mutex>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

void damagedArchive(const QString &path) {
    EXPECT_TRUE(writeZip(path, {{"Keep.TXT", QByteArray(2000, 'k'), true}}));
    EXPECT_TRUE(corruptByte(path, 100));
}

// What a tree holds, by path below it: an archive's entries (name and data: a rewrite's
// own timestamps may differ between runs), any other file's bytes.
QMap<QString, QByteArray> snapshot(const QString &tree) {
    QMap<QString, QByteArray> files;
    QDirIterator it(tree, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QByteArray content;
        if (path.endsWith(".ZIP", Qt::CaseInsensitive))
            for (const ZipFixtureEntry &entry : readZip(path))
                content += entry.name.toUtf8() + '\0' + entry.data + '\0';
        else
            content = fileBytes(path);
        files.insert(path.mid(tree.size()), content);
    }
    return files;
}

// A run's files with the tree's own path taken out, and the record without its time,
// folder and tested bytes.
QStringList outcome(const HostRun &run) {
    QStringList lines;
    const QString lowerTree = run.tree.toLower();
    for (const QString &line : run.verifyList() + run.errorLog())
        lines.append(QString(line).replace(run.tree, "TREE").replace(lowerTree, "TREE"));
    QStringList record = run.lastRecord();
    EXPECT_EQ(record.size(), 14);
    for (int i : {0, 1, 3, 4})
        if (i < record.size())
            record[i].clear();
    return lines + record;
}

qint64 sizeOf(const QString &path) {
    return QFileInfo(path).size();
}

struct timespec mtimeOf(const QString &path) {
    struct stat st {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
    return st.st_mtim;
}

void setMtime(const QString &path, const struct timespec &mtime) {
    const struct timespec times[2] = {{0, UTIME_OMIT}, mtime};
    EXPECT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

// Runs SQL on the store of a data folder.
void storeSql(const QString &appFolder, const QString &sql) {
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(
                  QFile::encodeName(appFile(appFolder, DataFile::VerdictStore)).constData(), &db),
              SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    sqlite3_close(db);
}

// The same tree cleaned three times, with archives and a purge-list line added before
// the second run, by runs that skip unchanged archives and by runs that test all: the
// trees, the VerifyList, the ErrorLog and the records come out the same, but for the
// bytes tested.
TEST(SkipUnchanged, RunsThatSkipLeaveWhatFullRunsLeave) {
    HostRun skipping, full;
    skipping.state.SkipUnchanged = true;
    for (HostRun *run : {&skipping, &full}) {
        run->purgeList({"junk.txt"});
        run->zip("Plain.ZIP", {"Keep.TXT", "Readme.TXT"});
        run->zip("Purge.ZIP", {"Junk.TXT", "Keep.TXT"});
        run->zip("Sub/Nfos.ZIP", {"A.NFO", "B.nfo", "Keep.TXT"});
        run->zip("Sub/Later.ZIP", {"Keep.TXT", "Extra.DAT"});
        run->zip("Sub/Deeper/Plain2.ZIP", {"Keep.TXT"});
        writeDoubleDizArchive(run->tree + "/Sub/Double.ZIP");
        damagedArchive(run->tree + "/Sub/Deeper/Damaged.ZIP");
    }
    // What the workers tested ahead (on their threads) in the last pass.
    std::mutex aheadLock;
    QStringList testedAhead;
    QObject::connect(&skipping.host.zip(), &ZipComponent::TestedAhead, [&](const QString &path) {
        const std::lock_guard lock(aheadLock);
        testedAhead.append(path);
    });
    for (int pass = 1; pass <= 3; ++pass) {
        SCOPED_TRACE(pass);
        testedAhead.clear();
        for (HostRun *run : {&skipping, &full}) {
            if (pass == 2) {
                run->purgeList({"junk.txt", "extra.dat"});
                run->zip("Sub/New.ZIP", {"Junk.TXT", "C.NFO", "D.NFO"});
                damagedArchive(run->tree + "/Damaged2.ZIP");
            }
            run->clean();
        }
        EXPECT_EQ(snapshot(skipping.tree), snapshot(full.tree));
        EXPECT_EQ(outcome(skipping), outcome(full));
        EXPECT_EQ(skipping.totals().Zips, full.totals().Zips);
        EXPECT_EQ(skipping.totals().Processed, full.totals().Processed);
    }
    // The third run tested only what the second one purged (its row was removed).
    EXPECT_EQ(skipping.totals().BytesTested, double(sizeOf(skipping.tree + "/Sub/Later.ZIP") +
                                                    sizeOf(skipping.tree + "/Sub/New.ZIP")));
    EXPECT_GT(full.totals().BytesTested, skipping.totals().BytesTested);
    // No worker read a skipped archive.
    const std::lock_guard lock(aheadLock);
    for (const QString &path : testedAhead)
        EXPECT_TRUE(path.endsWith("/Sub/Later.ZIP") || path.endsWith("/Sub/New.ZIP"))
            << path.toStdString();
    EXPECT_FALSE(testedAhead.isEmpty());
    EXPECT_EQ(skipping.totals().ExtraNfos, 2);
    EXPECT_EQ(skipping.verifyList().size(), 2);
}

// After a run that recorded every archive, only an archive whose file or row differs,
// one a new purge-list line matches, or any with --retest-days 0, is opened again.
TEST(SkipUnchanged, WhatMakesAnArchiveBeTestedAgain) {
    struct Case {
        const char *what;
        std::function<void(HostRun &, const QString &plain)> change;
        QStringList tested; // archives expected to be tested, below the tree
        int purged = 0;
    };
    const QList<Case> cases = {
        {"nothing", [](HostRun &, const QString &) {}, {}},
        {"size, modification time put back",
         [](HostRun &, const QString &plain) {
             // Written in place: the inode stays.
             const struct timespec was = mtimeOf(plain);
             ASSERT_TRUE(writeZip(plain + ".new", {{"Keep.TXT", "kept"}, {"More.TXT", "more"}}));
             ASSERT_TRUE(writeFile(plain, fileBytes(plain + ".new")));
             QFile::remove(plain + ".new");
             setMtime(plain, was);
         },
         {"Plain.ZIP"}},
        {"modification time",
         [](HostRun &, const QString &plain) {
             struct timespec was = mtimeOf(plain);
             was.tv_sec -= 1;
             setMtime(plain, was);
         },
         {"Plain.ZIP"}},
        {"inode: copied with its times and renamed over",
         [](HostRun &, const QString &plain) {
             const QString copy = plain + ".tmp";
             ASSERT_TRUE(writeFile(copy, fileBytes(plain)));
             setMtime(copy, mtimeOf(plain));
             ASSERT_EQ(::rename(QFile::encodeName(copy).constData(),
                                QFile::encodeName(plain).constData()),
                       0);
         },
         {"Plain.ZIP"}},
        {"change time only: same bytes written back, modification time put back",
         [](HostRun &, const QString &plain) {
             const struct timespec was = mtimeOf(plain);
             ASSERT_TRUE(writeFile(plain, fileBytes(plain)));
             setMtime(plain, was);
         },
         {"Plain.ZIP"}},
        {"a purge line matching stored names (listed in upper case)",
         [](HostRun &run, const QString &) {
             run.purgeList({"junk.txt", "*.tmp"});
         },
         {"Lower.ZIP", "Sub/Upper.ZIP"},
         2},
        {"tested 30 days ago",
         [](HostRun &run, const QString &) {
             storeSql(run.appFolder, "UPDATE verdict SET tested = tested - 30 * 86400 WHERE "
                                     "CAST(path AS TEXT) LIKE '%/Plain.ZIP'");
         },
         {"Plain.ZIP"}},
        {"--retest-days 0",
         [](HostRun &run, const QString &) { run.state.RetestDays = 0; },
         {"Lower.ZIP", "Sub/Nfos.ZIP", "Plain.ZIP", "Sub/Upper.ZIP"}},
    };
    // Each stored identity field on its own.
    QList<Case> all = cases;
    for (const char *field : {"dev", "ino", "size", "mtime_s", "mtime_ns", "ctime_s", "ctime_ns"})
        all.append({field,
                    [field](HostRun &run, const QString &) {
                        storeSql(run.appFolder, QStringLiteral("UPDATE verdict SET %1 = %1 + 1 "
                                                               "WHERE CAST(path AS TEXT) LIKE "
                                                               "'%/Plain.ZIP'")
                                                    .arg(QLatin1String(field)));
                    },
                    {"Plain.ZIP"}});
    for (const Case &c : all) {
        SCOPED_TRACE(c.what);
        HostRun run;
        run.state.SkipUnchanged = true;
        run.purgeList({"junk.txt"});
        const QString plain = run.zip("Plain.ZIP", {"Keep.TXT"});
        run.zip("Lower.ZIP", {"a.tmp", "Keep.TXT"});
        run.zip("Sub/Upper.ZIP", {"B.TMP", "Keep.TXT"});
        run.zip("Sub/Nfos.ZIP", {"A.NFO", "B.NFO"});
        run.clean();
        ASSERT_GT(run.totals().BytesTested, 0);
        c.change(run, plain);
        double expected = 0;
        for (const QString &name : c.tested)
            expected += double(sizeOf(run.tree + u'/' + name));
        run.clean();
        EXPECT_EQ(run.totals().BytesTested, expected);
        EXPECT_EQ(run.totals().Zips, 4);
        EXPECT_EQ(run.totals().Processed, 4);
        EXPECT_EQ(run.totals().ExtraNfos, 1);
        EXPECT_EQ(run.verifyList(), QStringList{run.tree + "/Sub/Nfos.ZIP"});
        EXPECT_EQ(run.totals().PurgedFiles, c.purged);
        if (c.purged > 0) {
            EXPECT_EQ(HostRun::names(run.tree + "/Lower.ZIP"), QStringList{"Keep.TXT"});
            EXPECT_EQ(HostRun::names(run.tree + "/Sub/Upper.ZIP"), QStringList{"Keep.TXT"});
        }
    }
}

// A store that is damaged or of another version is set aside, said on standard error,
// and the run tests and cleans everything; the next run skips what that one recorded.
TEST(SkipUnchanged, AStoreThatCannotBeUsedIsSetAsideAndEverythingIsTested) {
    struct Case {
        const char *what;
        std::function<void(const QString &store)> spoil;
        const char *said;
    };
    const QList<Case> cases = {
        {"not a database", [](const QString &store) { writeFile(store, QByteArray(8192, 'x')); },
         "file is not a database"},
        {"another version",
         [](const QString &store) {
             sqlite3 *db = nullptr;
             ASSERT_EQ(sqlite3_open(QFile::encodeName(store).constData(), &db), SQLITE_OK);
             sqlite3_exec(db, "PRAGMA user_version = 7", nullptr, nullptr, nullptr);
             sqlite3_close(db);
         },
         "version 7"},
        {"a damaged page",
         [](const QString &store) {
             // The table's root page, past its header, overwritten.
             QByteArray bytes = fileBytes(store);
             ASSERT_GE(bytes.size(), 2 * 4096);
             for (qsizetype i = 4096 + 8; i < 2 * 4096; ++i)
                 bytes[i] = char(0xA5);
             writeFile(store, bytes);
         },
         "damaged"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Unattended u;
        writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
        u.zip("Plain.ZIP", {"Keep.TXT"});
        u.zip("Sub/Nfos.ZIP", {"A.NFO", "B.NFO"});
        const Finished first = u.run(u.tree, {}, {}, {"--skip-unchanged"});
        ASSERT_EQ(first.exitCode, 0) << first.err.toStdString();
        const QString store = u.appFile(DataFile::VerdictStore);
        ASSERT_TRUE(QFileInfo(store).isFile());
        c.spoil(store);
        const QString purge = u.zip("Sub/Purge.ZIP", {"Junk.TXT", "Keep.TXT"});

        const Finished spoilt = u.run(u.tree, {}, {}, {"--skip-unchanged"});
        EXPECT_EQ(spoilt.exitCode, 0) << spoilt.err.toStdString();
        EXPECT_TRUE(spoilt.err.contains("set aside")) << spoilt.err.toStdString();
        EXPECT_TRUE(spoilt.err.contains(c.said)) << spoilt.err.toStdString();
        EXPECT_FALSE(spoilt.err.contains("skipped as unchanged")) << spoilt.err.toStdString();
        EXPECT_EQ(QDir(u.app).entryList({"verdicts.db.aside-*"}, QDir::Files).size(), 1);
        EXPECT_EQ(Unattended::names(purge), QStringList{"Keep.TXT"});
        const QStringList record = spoilt.out.split('\n');
        ASSERT_GE(record.size(), 14);
        EXPECT_EQ(record[2], QStringLiteral(" 3 - Zip's"));
        EXPECT_NE(record[3], QStringLiteral(" 0 - bytes tested"));
        EXPECT_EQ(record[9], QStringLiteral(" 1 - purged files"));
        EXPECT_EQ(record[10], QStringLiteral(" 1 - Extra nfos"));

        const Finished next = u.run(u.tree, {}, {}, {"--skip-unchanged"});
        EXPECT_EQ(next.exitCode, 0) << next.err.toStdString();
        // Only the archive that run purged is tested again (a few hundred bytes).
        EXPECT_TRUE(next.err.contains("Arcsweep: 2 archives skipped as unchanged, tested since " +
                                      QDate::currentDate().toString("yyyy-MM-dd")))
            << next.err.toStdString();
        EXPECT_EQ(next.out.split('\n').value(3),
                  QStringLiteral(" %1 - bytes tested").arg(QFileInfo(purge).size()));
        EXPECT_EQ(next.out.split('\n').value(10), QStringLiteral(" 1 - Extra nfos"));

        // A dry run skips as well, and leaves the store as it was, companions and all,
        // though it tests a new archive a run would record.
        const QByteArray kept = fileBytes(store);
        u.zip("New.ZIP", {"Keep.TXT"});
        const Finished dry = u.run(u.tree, {}, {}, {"--dry-run", "--skip-unchanged"});
        EXPECT_EQ(dry.exitCode, 0) << dry.err.toStdString();
        EXPECT_TRUE(dry.err.contains("3 archives skipped as unchanged")) << dry.err.toStdString();
        EXPECT_EQ(fileBytes(store), kept);
        EXPECT_FALSE(QFile::exists(store + "-wal"));
        EXPECT_FALSE(QFile::exists(store + "-shm"));
    }
}

} // namespace
