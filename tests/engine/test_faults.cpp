// The unattended program under faults: signals, a file size limit, a full volume for
// its own files, a decimal-comma locale, and file names that are not UTF-8.
#include "mounts.h"
#include "rawzip.h"
#include "unattended.h"

#include "common/numbertext.h"
#include "common/textfile.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

// A large archive whose one small entry is purged: the rewrite copies the large one.
QString largeArchive(Unattended &u, const QString &name) {
    const QString path = u.tree + u'/' + name;
    const QByteArray block = randomBytes(1 << 20, 11);
    EXPECT_TRUE(writeRawZip(
        path, rawZip({rawEntry("Large.BIN", block.repeated(160)), rawEntry("Junk.TXT", "junk")})));
    return path;
}

QStringList temporariesIn(const QString &folder) {
    return QDir(folder).entryList({QStringLiteral(".*arcsweep-*")}, QDir::Files | QDir::Hidden);
}

// The program run with --keep-purged "$KEEP" (the environment gives the folder), after
// any wrapper of its own.
QStringList keeping(const QStringList &wrapper = {}) {
    return wrapper + QStringList{"/bin/sh", "-c", "exec \"$0\" --keep-purged \"$KEEP\" \"$1\""};
}

// Fills the volume holding `path` with that file.
void fillUp(const QString &path) {
    QFile filler(path);
    ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
    const QByteArray block(1 << 16, 'f');
    while (filler.write(block) == block.size() && filler.flush()) {
    }
}

// The program removes its ErrorLog when it closes: a second name made for the file before
// the run keeps what the run wrote there.
QString errorLogKept(const Unattended &u) {
    const QString log = u.appFile(DataFile::ErrorLog), kept = log + ".kept";
    EXPECT_TRUE(writeFile(log, ""));
    EXPECT_EQ(::chmod(QFile::encodeName(log).constData(), 0666), 0); // for any user
    EXPECT_EQ(::link(QFile::encodeName(log).constData(), QFile::encodeName(kept).constData()), 0);
    return kept;
}

ino_t inodeOf(const QString &path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

TEST(Faults, ASignalStopsTheRewriteRecordsTheRunAndExitsTwo) {
    for (const int number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(number);
        Unattended u;
        writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
        const QString archive = largeArchive(u, QStringLiteral("A Large.ZIP"));
        const QString later = u.zip("B Later.ZIP", {"Junk.TXT", "Keep.TXT"});
        const QByteArray before = fileBytes(archive), laterBefore = fileBytes(later);
        QProcess process;
        u.start(process, u.tree);
        // Inside the rewrite: its temporary file is there.
        QElapsedTimer waited;
        waited.start();
        while (temporariesIn(u.tree).isEmpty() && process.state() == QProcess::Running &&
               waited.elapsed() < 60000)
            QThread::usleep(300);
        ASSERT_FALSE(temporariesIn(u.tree).isEmpty()) << "the rewrite was never seen";
        ::kill(pid_t(process.processId()), number);
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 2);
        EXPECT_EQ(fileBytes(archive), before);
        EXPECT_EQ(fileBytes(later), laterBefore); // nothing after the stop
        EXPECT_TRUE(temporariesIn(u.tree).isEmpty());
        const QStringList record = TextFile::readLines(u.appFile(DataFile::StatsLog));
        ASSERT_EQ(record.size(), 14);
        EXPECT_EQ(record[9], QStringLiteral(" 0 - purged files"));
        EXPECT_TRUE(QString::fromLocal8Bit(process.readAllStandardOutput()).contains(" - Zip's"));
    }
}

// A rewrite that meets a file size limit or a full volume fails: the ErrorLog and
// standard error say so with the system's cause, the original stays and the run goes on.
TEST(Faults, ARewriteThatCannotBeWrittenSaysWhyAndLeavesTheOriginal) {
    for (const QByteArray why : {"file size limit", "full volume"}) {
        SCOPED_TRACE(why.constData());
        Unattended u;
        writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
        std::unique_ptr<TmpfsMount> volume;
        QString archive, cause;
        QStringList wrapper;
        if (why == "full volume") {
            volume = std::make_unique<TmpfsMount>(u.tree + "/Full Volume");
            if (!volume->mounted())
                GTEST_SKIP() << "needs root to mount a tmpfs";
            archive = u.zip("Full Volume/Too Large.ZIP", {"Junk.TXT", "Keep.TXT"});
            fillUp(volume->path() + "/filler");
            cause = "No space left on device";
        } else {
            archive = largeArchive(u, QStringLiteral("Too Large.ZIP"));
            // Files of at most 4 MB: the rewrite meets the limit, the run's own files do not.
            wrapper = QStringList{"/bin/sh", "-c", "ulimit -f 8192; exec \"$0\" \"$@\""};
            cause = "File too large";
        }
        const QString small = u.zip("Small.ZIP", {"Junk.TXT", "Keep.TXT"});
        const QByteArray before = fileBytes(archive);
        const QString errorLog = errorLogKept(u);
        const Finished done = u.run(u.tree, wrapper);
        ASSERT_TRUE(done.ended);
        EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
        EXPECT_EQ(fileBytes(archive), before);
        EXPECT_TRUE(temporariesIn(QFileInfo(archive).path()).isEmpty());
        const QString line = "Cannot write zip " + archive.toLower() + ": " + cause;
        EXPECT_TRUE(done.err.contains(line)) << done.err.toStdString();
        EXPECT_TRUE(TextFile::readLines(errorLog).contains(line))
            << fileBytes(errorLog).toStdString();
        EXPECT_EQ(Unattended::names(small), QStringList{"Keep.TXT"}); // the run went on
        const QStringList record = TextFile::readLines(u.appFile(DataFile::StatsLog));
        ASSERT_EQ(record.size(), 14);
        EXPECT_EQ(record[9], QStringLiteral(" 1 - purged files"));
    }
}

TEST(Faults, RunFilesOnAFullVolumeKeepTheirLastContent) {
    Unattended u;
    TmpfsMount volume(u.root.filePath("Full Volume"));
    if (!volume.mounted())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    // The program and its files on a volume that then fills up.
    const QString app = volume.path();
    ASSERT_TRUE(QFile::copy(u.exe, app + "/arcsweep"));
    u.exe = app + "/arcsweep";
    u.app = app;
    const QByteArray totals = " 1000 \r\n 10 \r\n", stats = "an old record\r\n",
                     settings = "/old/folder\r\n";
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    writeFile(u.appFile(DataFile::TotalsFile), totals);
    writeFile(u.appFile(DataFile::StatsLog), stats);
    writeFile(u.appFile(DataFile::Settings), settings);
    QDir().mkpath(app + "/temp");
    fillUp(app + "/filler");
    const QString archive = u.zip("Purged.ZIP", {"Junk.TXT", "Keep.TXT"});
    u.zip("Two Nfos.ZIP", {"A.NFO", "B.NFO"});           // a VerifyList line
    writeFile(u.tree + "/Broken.ZIP", "not an archive"); // an ErrorLog line
    const Finished done = u.run(u.tree);
    ASSERT_TRUE(done.ended);
    // Each file that could not be written is said with its cause, and the status says so.
    EXPECT_EQ(done.exitCode, 4);
    for (const char *name : {DataFile::TotalsFile, DataFile::StatsLog, DataFile::Settings,
                             DataFile::ErrorLog, DataFile::VerifyList})
        EXPECT_TRUE(done.err.contains(
            QStringLiteral("cannot write %1: No space left on device").arg(u.appFile(name))))
            << name << "\n"
            << done.err.toStdString();
    EXPECT_TRUE(done.out.contains(" - Zip's")); // the record still goes to standard output
    EXPECT_EQ(fileBytes(u.appFile(DataFile::TotalsFile)), totals);
    EXPECT_EQ(fileBytes(u.appFile(DataFile::StatsLog)), stats);
    EXPECT_EQ(fileBytes(u.appFile(DataFile::Settings)), settings);
    EXPECT_EQ(Unattended::names(archive), QStringList{"Keep.TXT"}); // the tree is elsewhere
    EXPECT_TRUE(temporariesIn(app).isEmpty()) << temporariesIn(app).join(' ').toStdString();
}

TEST(Faults, TotalsAboveOneE15ReadBackInADecimalCommaLocale) {
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    writeFile(u.appFile(DataFile::TotalsFile), " 1.5E+15 \r\n 2.25E+15 \r\n");
    const QString archive = u.zip("A.ZIP", {"Junk.TXT", "Keep.TXT"});
    const qint64 size = QFileInfo(archive).size();
    const QStringList german{"LANG=de_DE.UTF-8", "LC_ALL=de_DE.UTF-8"};
    ASSERT_EQ(u.run(u.tree, {}, german).exitCode, 0);
    ASSERT_EQ(u.run(u.tree, {}, german).exitCode, 0);
    const QStringList lines = TextFile::readLines(u.appFile(DataFile::TotalsFile));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_FALSE(lines[0].contains(u',')) << lines[0].toStdString();
    const double tested = NumberText::leadingNumber(lines[0]);
    EXPECT_GE(tested, 1.5e15 + double(size));
    EXPECT_LT(tested, 1.5e15 + 1e6);
    EXPECT_GE(NumberText::leadingNumber(lines[1]), 2.25e15);
}

TEST(Faults, NamesThatAreNotUtf8AreCleanedByTheirBytes) {
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    const QByteArray folder = QFile::encodeName(u.tree) + "/Caf\xe9 Zips";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    const QByteArray archive = folder + "/Caf\xe9.ZIP";
    const QByteArray damaged = folder + "/D\xfcrer.ZIP";
    const auto write = [](const QByteArray &path, const QByteArray &bytes) {
        FILE *out = std::fopen(path.constData(), "wb");
        const bool ok = out && std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out) ==
                                   size_t(bytes.size());
        if (out)
            std::fclose(out);
        return ok;
    };
    ASSERT_TRUE(write(
        archive, buildZip(rawZip({rawEntry("Junk.TXT", "j"), rawEntry("Keep.TXT", "k", true)}))));
    QByteArray broken = buildZip(rawZip({rawEntry("Data.BIN", randomBytes(3000, 2))}));
    broken[100] = char(broken[100] ^ 1);
    ASSERT_TRUE(write(damaged, broken));

    const Finished done = u.run(u.tree);
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    struct stat st {};
    EXPECT_NE(::stat(damaged.constData(), &st), 0);
    EXPECT_EQ(::stat((damaged + ".bad").constData(), &st), 0); // the very bytes, plus ".bad"
    FILE *in = std::fopen(archive.constData(), "rb");
    ASSERT_NE(in, nullptr);
    QByteArray cleaned(4096, '\0');
    cleaned.resize(qsizetype(std::fread(cleaned.data(), 1, size_t(cleaned.size()), in)));
    std::fclose(in);
    const RawRecords records = rawRecords(cleaned);
    ASSERT_TRUE(records.ok);
    EXPECT_EQ(records.names, QList<QByteArray>{"Keep.TXT"});
    // The report names it by its bytes, lower-cased where they are letters.
    const QByteArray expected =
        "Bad zip " + QFile::encodeName(u.tree).toLower() + "/caf\xe9 zips/d\xfcrer.zip\n";
    EXPECT_TRUE(done.errBytes.contains(expected)) << done.errBytes.toHex(' ').toStdString();
    QProcess::execute(QStringLiteral("rm"), {"-rf", u.tree}); // names Qt's own removal cannot spell
}

// Records are kept only for a rewrite that then goes ahead: not when the archive
// cannot be written or another program holds it, and never twice when an archive comes
// back with a record already kept (as a kill between keeping and rewriting leaves it).
// A kept copy that does not fit on its volume says why and leaves no temporary file.
TEST(Faults, RecordsAreKeptOnlyForARewriteThatGoesAheadAndNeverTwice) {
    for (const QByteArray why :
         {"read-only volume", "lock held", "put back after a kill", "full keep volume"}) {
        SCOPED_TRACE(why.constData());
        Unattended u;
        writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
        const QString keep = u.root.filePath("Kept Records");
        std::unique_ptr<TmpfsMount> volume;
        const QString relative = why == "read-only volume" ? "Read Only/Stuck.ZIP" : "Sub/Held.ZIP";
        if (why == "read-only volume" || why == "full keep volume") {
            volume = std::make_unique<TmpfsMount>(
                why == "full keep volume" ? keep : u.tree + "/Read Only");
            if (!volume->mounted())
                GTEST_SKIP() << "needs root to mount a tmpfs";
        }
        QString archive;
        if (why == "full keep volume") {
            // One page left: the kept copy's temporary file is made, its content does not fit.
            archive = u.tree + u'/' + relative;
            QDir().mkpath(QFileInfo(archive).path());
            ASSERT_TRUE(writeZip(
                archive, {{"Junk.TXT", randomBytes(1 << 16, 5), true}, {"Keep.TXT", "keep"}}));
            ASSERT_TRUE(writeFile(keep + "/spare", QByteArray(4096, 's')));
            fillUp(keep + "/filler");
            ASSERT_TRUE(QFile::remove(keep + "/spare"));
        } else {
            archive = u.zip(relative, {"Junk.TXT", "Keep.TXT"});
        }
        if (volume && why == "read-only volume") {
            ASSERT_TRUE(volume->makeReadOnly());
        }
        const QByteArray before = fileBytes(archive);
        const int held = why == "lock held" ? ::open(QFile::encodeName(archive), O_RDONLY) : -1;
        if (held >= 0) {
            ASSERT_EQ(::flock(held, LOCK_EX), 0);
        }
        for (int run = 0; run < 2; ++run) {
            const Finished done = u.run(u.tree, keeping(), {"KEEP=" + keep});
            EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
            if (why == "put back after a kill") {
                writeFile(archive, before);
            } else {
                EXPECT_TRUE(done.err.contains(archive.toLower())) << done.err.toStdString();
            }
            if (why == "full keep volume") {
                EXPECT_TRUE(done.err.contains("Not purged, the entries could not be kept: " +
                                              archive.toLower() + ": No space left on device"))
                    << done.err.toStdString();
            }
        }
        if (held >= 0)
            ::close(held);
        const QString kept = keep + u'/' + relative;
        EXPECT_EQ(QFile::exists(kept) ? Unattended::names(kept) : QStringList(),
                  why == "put back after a kill" ? QStringList{"Junk.TXT"} : QStringList());
        EXPECT_EQ(fileBytes(archive), before);
        EXPECT_TRUE(temporariesIn(QFileInfo(kept).path()).isEmpty());
    }
}

// Files whose names merely look like our temporary files are the user's: they stay in
// the tree, in the keep folder and in the data folder.
TEST(Faults, AUsersFilesNamedLikeOurTemporaryFilesStay) {
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    const QString archive = u.zip("Sub/Mixed.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QString keep = u.root.filePath("Kept Records");
    QDir().mkpath(keep + "/Sub");
    const QStringList lookalikes{u.tree + "/Sub/.thesis.arcsweep-backup",
                                 keep + "/Sub/.thesis.arcsweep-backup",
                                 u.app + "/.thesis.arcsweep-backup"};
    for (const QString &path : lookalikes)
        ASSERT_TRUE(writeFile(path, "the user's own thesis"));
    const Finished done = u.run(u.tree, keeping(), {"KEEP=" + keep});
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_EQ(Unattended::names(archive), QStringList{"Keep.TXT"});
    for (const QString &path : lookalikes)
        EXPECT_EQ(fileBytes(path), "the user's own thesis") << path.toStdString();
}

// Run by a user who may write the shared folder but not an archive in it: that archive
// is reported and left, and the user's own read-only archive comes out purged and
// writable by its owner.
TEST(Faults, AnArchiveThisUserMayNotWriteIsReportedAndLeftAsItWas) {
    const QString setpriv = Unattended::setprivAsRoot();
    if (setpriv.isEmpty())
        GTEST_SKIP() << "needs root and setpriv to run the program as an unprivileged user";
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    const QString theirs = u.zip("Shared/A Theirs.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QString mine = u.zip("Shared/B Mine.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QByteArray theirsBefore = fileBytes(theirs);
    for (const QString &folder : {u.app, u.tree, u.tree + "/Shared"})
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
    ASSERT_EQ(::chown(QFile::encodeName(mine).constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(mine).constData(), 0444), 0);

    const QString errorLog = errorLogKept(u);
    const Finished done =
        u.run(u.tree, {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    struct stat st {};
    EXPECT_EQ(fileBytes(theirs), theirsBefore);
    ASSERT_EQ(::stat(QFile::encodeName(theirs).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    const QString line = "Not rewritten, the archive may not be written: " + theirs.toLower() +
                         ": Permission denied";
    EXPECT_TRUE(done.err.contains(line)) << done.err.toStdString();
    EXPECT_TRUE(TextFile::readLines(errorLog).contains(line)) << fileBytes(errorLog).toStdString();
    EXPECT_EQ(Unattended::names(mine), QStringList{"Keep.TXT"});
    ASSERT_EQ(::stat(QFile::encodeName(mine).constData(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// The archive behind a link was tested ahead through the link; the link is removed
// before the archive's turn comes: nothing outside the tree is rewritten.
TEST(Faults, ALinkRemovedAfterItsTargetWasTestedAheadLeadsNoRewriteOutOfTheTree) {
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    const QString large = u.tree + "/A Large.ZIP";
    ASSERT_TRUE(
        writeRawZip(large, rawZip({rawEntry("Large.BIN", randomBytes(1 << 20, 3).repeated(48)),
                                   rawEntry("Junk.TXT", "junk")})));
    const ino_t largeBefore = inodeOf(large);
    QDir().mkpath(u.root.filePath("Outside"));
    const QString target = u.root.filePath("Outside/Target.ZIP");
    ASSERT_TRUE(writeZip(target, {{"Junk.TXT", "junk"}, {"Keep.TXT", "keep"}}));
    const QByteArray targetBefore = fileBytes(target);
    const QString link = u.tree + "/B Link.ZIP";
    ASSERT_TRUE(QFile::link(target, link));

    QProcess process;
    u.start(process, u.tree);
    const QString fds = QStringLiteral("/proc/%1/fd").arg(process.processId());
    const auto opened = [&] {
        for (const QString &fd :
             QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            if (QFile::symLinkTarget(fds + u'/' + fd) == target)
                return true;
        return false;
    };
    QDeadlineTimer patience(60000);
    bool seen = false;
    while (!(seen = opened()) && !process.waitForFinished(1) && !patience.hasExpired()) {
    }
    ASSERT_TRUE(seen) << "the target was never opened";
    ::kill(pid_t(process.processId()), SIGSTOP);
    // Still at the first archive, which is rewritten before the link's turn.
    const bool inTime = inodeOf(large) == largeBefore;
    if (inTime)
        QFile::remove(link);
    ::kill(pid_t(process.processId()), SIGCONT);
    ASSERT_TRUE(process.waitForFinished(120000));
    if (!inTime)
        GTEST_SKIP() << "the run passed the first archive before the link could be removed";
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(fileBytes(target), targetBefore);
    EXPECT_EQ(Unattended::names(large), QStringList{"Large.BIN"});
}

// At the system calls: the rewritten archive and a kept copy are synced before they are
// renamed into place and their folders after it, and every folder made for the kept
// copy is synced in its parent, all before the archive's rewrite is put in place.
TEST(Faults, RewritesAndKeptCopiesAreSyncedAroundTheirRenamesAndNewKeepFoldersInTheirParents) {
    const QString strace = QStandardPaths::findExecutable("strace");
    if (strace.isEmpty())
        GTEST_SKIP() << "strace is not installed";
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    u.zip("Sub Dir/Mixed.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QString keep = u.root.filePath("Kept Records");
    const QString trace = u.root.filePath("trace.txt");
    const Finished done =
        u.run(u.tree,
              keeping({strace, "-f", "-y", "-qq", "-s", "4096", "-o", trace, "-e",
                       "trace=fsync,fdatasync,rename,renameat,renameat2,mkdir,mkdirat"}),
              {"KEEP=" + keep});
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    QList<QByteArray> calls = fileBytes(trace).split('\n');
    const auto find = [&](const std::function<bool(const QByteArray &)> &is, qsizetype from = 0) {
        for (qsizetype i = from; i < calls.size(); ++i)
            if (is(calls[i]) && !calls[i].contains("= -1"))
                return i;
        return qsizetype(-1);
    };
    const auto syncOf = [](const QString &path) {
        const QByteArray fd = '<' + QFile::encodeName(path) + ">)";
        return
            [fd](const QByteArray &call) { return call.contains("fsync(") && call.contains(fd); };
    };
    const auto renameTo = [](const QString &path) {
        const QByteArray name = '"' + QFile::encodeName(path) + '"';
        return [name](const QByteArray &call) {
            return call.contains("rename") && call.contains(name) && call.contains(".arcsweep-");
        };
    };
    const auto syncOfTemporary = [](const QString &folder) {
        const QByteArray fd = '<' + QFile::encodeName(folder) + "/.Mixed.ZIP.arcsweep-";
        return
            [fd](const QByteArray &call) { return call.contains("fsync(") && call.contains(fd); };
    };
    const qsizetype archivePut = find(renameTo(u.tree + "/Sub Dir/Mixed.ZIP"));
    const qsizetype keptPut = find(renameTo(keep + "/Sub Dir/Mixed.ZIP"));
    ASSERT_GE(archivePut, 0);
    ASSERT_GE(keptPut, 0);
    EXPECT_LT(keptPut, archivePut);
    for (const auto &[put, folder] :
         {std::pair{archivePut, u.tree + "/Sub Dir"}, std::pair{keptPut, keep + "/Sub Dir"}}) {
        SCOPED_TRACE(folder.toStdString());
        const qsizetype synced = find(syncOfTemporary(folder));
        EXPECT_GE(synced, 0);
        EXPECT_LT(synced, put);
        EXPECT_GT(find(syncOf(folder), put), put);
    }
    EXPECT_LT(find(syncOf(keep + "/Sub Dir"), keptPut), archivePut);
    for (const auto &[made, parent] :
         {std::pair{keep, u.root.path()}, std::pair{keep + "/Sub Dir", keep}}) {
        SCOPED_TRACE(made.toStdString());
        const QByteArray name = '"' + QFile::encodeName(made) + '"';
        const qsizetype mkdir =
            find([&](const QByteArray &c) { return c.contains("mkdir") && c.contains(name); });
        ASSERT_GE(mkdir, 0);
        const qsizetype synced = find(syncOf(parent), mkdir);
        EXPECT_GT(synced, mkdir);
        EXPECT_LT(synced, archivePut);
    }
}

// Another program moves a file to the archive's path in the last instant before the
// rewrite exchanges the names: that file stays, and the archive is reported as changed.
TEST(Faults, AFileMovedToThePathJustBeforeTheExchangeStays) {
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    const QString archive = u.zip("Swapped.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QString theirs = u.root.filePath("Theirs.ZIP");
    ASSERT_TRUE(writeZip(theirs, {{"Theirs.TXT", "theirs"}, {"Junk.TXT", "junk"}}));
    const QByteArray theirBytes = fileBytes(theirs);
    const Finished done = u.run(u.tree, {},
                                {"LD_PRELOAD=" ARCSWEEP_RENAMESHIM, "ARCSWEEP_SWAP_IN=" + theirs,
                                 "ARCSWEEP_SWAP_AT=" + QFileInfo(archive).canonicalFilePath()});
    ASSERT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_FALSE(QFile::exists(theirs)); // it was moved
    EXPECT_EQ(fileBytes(archive), theirBytes);
    EXPECT_TRUE(done.err.contains("Changed zip " + archive.toLower())) << done.err.toStdString();
    EXPECT_TRUE(temporariesIn(u.tree).isEmpty()) << temporariesIn(u.tree).join(' ').toStdString();
}

} // namespace
