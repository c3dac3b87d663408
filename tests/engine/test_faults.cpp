// The unattended program under faults: signals, a file size limit, a full volume for
// its own files, a decimal-comma locale, and file names that are not UTF-8.
#include "mounts.h"
#include "rawzip.h"
#include "unattended.h"

#include "common/numbertext.h"
#include "common/textfile.h"

#include <QElapsedTimer>
#include <QThread>
#include <csignal>

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

TEST(Faults, AFileSizeLimitFailsTheRewriteAndLeavesTheOriginal) {
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    const QString archive = largeArchive(u, QStringLiteral("Too Large.ZIP"));
    const QString small = u.zip("Small.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QByteArray before = fileBytes(archive);
    // Files of at most 4 MB: the rewrite meets the limit, the run's own files do not.
    const Finished done = u.run(u.tree, {"/bin/sh", "-c", "ulimit -f 8192; exec \"$0\" \"$@\""});
    ASSERT_TRUE(done.ended);
    EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_EQ(fileBytes(archive), before);
    EXPECT_TRUE(temporariesIn(u.tree).isEmpty());
    EXPECT_TRUE(done.err.contains("Cannot write zip " + archive.toLower()))
        << done.err.toStdString();
    EXPECT_EQ(Unattended::names(small), QStringList{"Keep.TXT"}); // the run went on
    const QStringList record = TextFile::readLines(u.appFile(DataFile::StatsLog));
    ASSERT_EQ(record.size(), 14);
    EXPECT_EQ(record[9], QStringLiteral(" 1 - purged files"));
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
    {
        QFile filler(app + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(1 << 16, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
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

} // namespace
