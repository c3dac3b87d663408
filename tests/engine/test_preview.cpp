// A dry run says what a run would do and changes nothing; a run that keeps what it
// purges can always be taken back.
#include "mounts.h"
#include "rawzip.h"
#include "unattended.h"

#include "common/textfile.h"

#include <QDirIterator>
#include <QStandardPaths>
#include <QThread>
#include <random>
#include <sys/stat.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

// Every file below a folder with its bytes.
QMap<QString, QByteArray> snapshot(const QString &folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(path.mid(folder.size()), fileBytes(path));
    }
    return files;
}

// A tree with every kind of action: damage, a doubled diz, purges by name and by
// wildcard (several entries at once), archives with nothing to do, in nested folders.
void everyKindOfAction(Unattended &u) {
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n*.url\r\nad#.txt\r\n");
    const auto put = [&](const QString &relative, const RawZip &zip) {
        QDir().mkpath(QFileInfo(u.tree + u'/' + relative).path());
        ASSERT_TRUE(writeRawZip(u.tree + u'/' + relative, zip));
    };
    put("Top.ZIP", rawZip({rawEntry("Junk.TXT", "j"), rawEntry("Keep.TXT", "k", true),
                           rawEntry("Ad1.TXT", "a"), rawEntry("Ad#.TXT", "not matched")}));
    put("Sub/Links.ZIP", rawZip({rawEntry("A.URL", "a"), rawEntry("Keep.TXT", "k"),
                                 rawEntry("B.URL", "b"), rawEntry("C.url", "c")}));
    put("Sub/Deeper/Double.ZIP",
        rawZip({rawEntry("file_id.diz", "first\r\n"), rawEntry("Junk.TXT", "junk junk junk", true),
                rawEntry("file_id.diz", "second\r\n")}));
    put("Sub/Deeper/Clean.ZIP", rawZip({rawEntry("Keep.TXT", "k")}));
    // A doubled diz too large to add back: the repair cannot complete, and the purge of
    // the same archive must still wait for its one rewrite (and be kept, or not happen).
    const RawEntry diz = rawEntry("file_id.diz", QByteArray(65 << 20, 'd'), true);
    put("Sub/Huge Diz.ZIP", rawZip({diz, rawEntry("Junk.TXT", "j"), diz}));
    QByteArray broken = buildZip(rawZip({rawEntry("Data.BIN", randomBytes(3000, 4))}));
    broken[200] = char(broken[200] ^ 8);
    writeFile(u.tree + "/Sub/Broken.ZIP", broken);
    writeFile(u.appFile(DataFile::TotalsFile), " 1000 \r\n 100 \r\n");
}

QStringList linesOf(const QString &out) {
    QStringList lines = out.split(u'\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

TEST(DryRun, ListsExactlyWhatTheRunThenDoesAndChangesNothing) {
    Unattended dry, real;
    everyKindOfAction(dry);
    everyKindOfAction(real);
    // A read-only archive that a run would purge (and make writable) keeps its mode too.
    const QByteArray top = QFile::encodeName(dry.tree + "/Top.ZIP");
    ASSERT_EQ(::chmod(top.constData(), 0444), 0);
    const QMap<QString, QByteArray> treeBefore = snapshot(dry.tree), appBefore = snapshot(dry.app);
    const QStringList args{"--dry-run", dry.tree};
    Finished shown;
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(dry.exe, args);
        ASSERT_TRUE(p.waitForFinished(60000));
        shown.exitCode = p.exitCode();
        shown.out = QString::fromUtf8(p.readAllStandardOutput());
    }
    EXPECT_EQ(shown.exitCode, 0);
    // Nothing changed: not the tree, not one file of the program's.
    EXPECT_TRUE(snapshot(dry.tree) == treeBefore);
    struct stat st {};
    ASSERT_EQ(::stat(top.constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_TRUE(snapshot(dry.app) == appBefore) << snapshot(dry.app).keys().join(' ').toStdString();

    const QStringList lines = linesOf(shown.out);
    ASSERT_GE(lines.size(), 14);
    const QStringList actions = lines.mid(0, lines.size() - 14);
    const QString t = dry.tree;
    EXPECT_EQ(actions, (QStringList{
                           "purge\t" + t + "/Top.ZIP\tad1.txt",
                           "purge\t" + t + "/Top.ZIP\tjunk.txt",
                           "bad\t" + t + "/Sub/Broken.ZIP",
                           "repair\t" + t + "/Sub/Huge Diz.ZIP",
                           "purge\t" + t + "/Sub/Huge Diz.ZIP\tjunk.txt",
                           "purge\t" + t + "/Sub/Links.ZIP\ta.url",
                           "purge\t" + t + "/Sub/Links.ZIP\tb.url",
                           "purge\t" + t + "/Sub/Links.ZIP\tc.url",
                           "repair\t" + t + "/Sub/Deeper/Double.ZIP",
                           "purge\t" + t + "/Sub/Deeper/Double.ZIP\tjunk.txt",
                       }));

    // The real run on the same tree does just that, records the same figures and keeps
    // exactly the entries the dry run named.
    const QString keep = real.root.filePath("Kept");
    const Finished done = real.run(real.tree, {}, {}, {"--keep-purged", keep});
    ASSERT_EQ(done.exitCode, 0);
    QMap<QString, QStringList> named, kept;
    for (const QString &line : actions)
        if (line.startsWith(u"purge\t"))
            named[line.section(u'\t', 1, 1).mid(t.size())].append(line.section(u'\t', 2));
    QDirIterator copies(keep, QDir::Files, QDirIterator::Subdirectories);
    while (copies.hasNext()) {
        const QString copy = copies.next();
        for (const QString &name : Unattended::names(copy))
            kept[copy.mid(keep.size())].append(name.toLower());
    }
    named["/Sub/Deeper/Double.ZIP"] += {"file_id.diz", "file_id.diz"}; // the repair's two copies
    for (QStringList &names : named)
        names.sort();
    for (QStringList &names : kept)
        names.sort();
    EXPECT_EQ(kept, named);
    const QStringList record = linesOf(done.out);
    ASSERT_EQ(record.size(), 14);
    const QStringList dryRecord = lines.mid(lines.size() - 14);
    for (int i = 2; i < 14; ++i)
        EXPECT_EQ(dryRecord[i], record[i]) << i;
    EXPECT_EQ(Unattended::names(real.tree + "/Top.ZIP"), (QStringList{"Keep.TXT", "Ad#.TXT"}));
    EXPECT_EQ(Unattended::names(real.tree + "/Sub/Links.ZIP"), QStringList{"Keep.TXT"});
    EXPECT_EQ(Unattended::names(real.tree + "/Sub/Deeper/Double.ZIP"), QStringList{"file_id.diz"});
    EXPECT_EQ(Unattended::names(real.tree + "/Sub/Huge Diz.ZIP"),
              (QStringList{"file_id.diz", "file_id.diz"}));
    EXPECT_TRUE(QFile::exists(real.tree + "/Sub/Broken.ZIP.bad"));
    EXPECT_EQ(fileBytes(real.tree + "/Sub/Deeper/Clean.ZIP"),
              treeBefore.value("/Sub/Deeper/Clean.ZIP"));
}

TEST(DryRun, ATreeWithNothingToDoGivesOnlyTheRecord) {
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    u.zip("Clean.ZIP", {"Keep.TXT"});
    u.zip("Sub/Also Clean.ZIP", {"Other.TXT"});
    const QMap<QString, QByteArray> before = snapshot(u.root.path());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    p.setProcessEnvironment(env);
    p.start(u.exe, {"--dry-run", u.tree});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0);
    const QStringList lines = linesOf(QString::fromUtf8(p.readAllStandardOutput()));
    ASSERT_EQ(lines.size(), 14);
    EXPECT_EQ(lines[2], QStringLiteral(" 2 - Zip's"));
    EXPECT_EQ(lines[9], QStringLiteral(" 0 - purged files"));
    EXPECT_TRUE(snapshot(u.root.path()) == before);
}

// The removed records, as they stood in the original, in the kept archive.
void expectKept(const QByteArray &original, const QByteArray &kept, const QList<int> &removed,
                qsizetype from = 0) {
    const RawRecords a = rawRecords(original), b = rawRecords(kept);
    ASSERT_TRUE(a.ok && b.ok);
    ASSERT_GE(b.local.size(), from + removed.size());
    for (qsizetype k = 0; k < removed.size(); ++k) {
        EXPECT_EQ(b.local[from + k], a.local[removed[k]]) << k;
        QByteArray c1 = a.central[removed[k]], c2 = b.central[from + k];
        c1.replace(42, 4, "####");
        c2.replace(42, 4, "####");
        EXPECT_EQ(c2, c1) << k;
    }
}

TEST(KeepPurged, RemovedRecordsAreKeptByteForByteAndAddedToAcrossRuns) {
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    const QString relative = "Sub Dir/Mixed.ZIP";
    const QString archive = u.tree + u'/' + relative;
    QDir().mkpath(QFileInfo(archive).path());
    RawEntry described = rawEntry("Junk.TXT", QByteArray("junk ").repeated(200), true);
    described.dataDescriptor = true;
    ASSERT_TRUE(writeRawZip(archive, rawZip({rawEntry("Keep.TXT", "k"), described,
                                             rawEntry("Ad.URL", "[InternetShortcut]"),
                                             rawEntry("More.TXT", "m", true)})));
    const QByteArray original = fileBytes(archive);
    // Kept inside the cleaned tree: the runs never clean the kept copies themselves.
    const QString keep = u.tree + "/Kept Entries";
    ASSERT_EQ(u.run(u.tree, {}, {}).exitCode, 0);     // a plain run first...
    ASSERT_EQ(fileBytes(archive) == original, false); // ...purged Junk.TXT
    ASSERT_TRUE(writeRawZip(archive, rawZip({rawEntry("Keep.TXT", "k"), described,
                                             rawEntry("Ad.URL", "[InternetShortcut]"),
                                             rawEntry("More.TXT", "m", true)})));

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    const auto runKeeping = [&] {
        p.setProcessEnvironment(env);
        p.start(u.exe, {"--keep-purged", keep, u.tree});
        EXPECT_TRUE(p.waitForFinished(60000));
        return p.exitCode();
    };
    ASSERT_EQ(runKeeping(), 0);
    const QString kept = keep + u'/' + relative;
    const QByteArray firstKept = fileBytes(kept);
    expectKept(original, firstKept, {1});
    EXPECT_EQ(Unattended::names(archive), (QStringList{"Keep.TXT", "Ad.URL", "More.TXT"}));

    // A second run with a longer list: the kept archive grows, what it held stays.
    const QByteArray second = fileBytes(archive);
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n*.url\r\nmore.txt\r\n");
    ASSERT_EQ(runKeeping(), 0);
    const QByteArray grown = fileBytes(kept);
    expectKept(firstKept, grown, {0});
    expectKept(second, grown, {1, 2}, 1);
    EXPECT_EQ(Unattended::names(archive), QStringList{"Keep.TXT"});

    // Put back with a standard tool.
    const QString zipmerge = QStandardPaths::findExecutable("zipmerge");
    if (zipmerge.isEmpty())
        GTEST_SKIP() << "zipmerge is not installed: the restore is not tried";
    ASSERT_EQ(QProcess::execute(zipmerge, {archive, kept}), 0);
    QStringList names = Unattended::names(archive);
    names.sort();
    EXPECT_EQ(names, (QStringList{"Ad.URL", "Junk.TXT", "Keep.TXT", "More.TXT"}));
}

TEST(KeepPurged, WhenTheKeepFolderIsFullNothingIsPurged) {
    Unattended u;
    TmpfsMount keep(u.root.filePath("Full Keep"));
    if (!keep.mounted())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    {
        QFile filler(keep.path() + "/filler");
        ASSERT_TRUE(filler.open(QIODevice::WriteOnly));
        const QByteArray block(1 << 16, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
    }
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    const QString archive = u.zip("Sub/Full.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QByteArray before = fileBytes(archive);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    p.setProcessEnvironment(env);
    p.start(u.exe, {"--keep-purged", keep.path(), u.tree});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(fileBytes(archive), before);
    EXPECT_TRUE(p.readAllStandardError().contains("could not be kept"));
    const QStringList record = linesOf(QString::fromUtf8(p.readAllStandardOutput()));
    ASSERT_EQ(record.size(), 14);
    EXPECT_EQ(record[9], QStringLiteral(" 0 - purged files"));
}

TEST(KeepPurged, AKillNeverLosesAnEntryFromBothPlaces) {
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    const QString master = u.root.filePath("Master");
    QList<QPair<QString, QList<QByteArray>>> archives;
    for (int i = 0; i < 12; ++i) {
        const QString relative = QStringLiteral("Folder %1/Archive %2.ZIP").arg(i % 3).arg(i);
        QDir().mkpath(QFileInfo(master + u'/' + relative).path());
        ASSERT_TRUE(writeRawZip(master + u'/' + relative,
                                rawZip({rawEntry("Big.BIN", randomBytes(800 * 1024, quint32(i))),
                                        rawEntry("Junk.TXT", "junk " + QByteArray::number(i)),
                                        rawEntry("Keep.TXT", "keep")})));
        archives.append({relative, {"Big.BIN", "Junk.TXT", "Keep.TXT"}});
    }
    const QString keep = u.root.filePath("Kept");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    std::mt19937 random(12);
    int kills = 0;
    for (int round = 0; round < 20; ++round) {
        QDir(u.tree).removeRecursively();
        QDir(keep).removeRecursively();
        QProcess::execute(QStringLiteral("cp"), {"-a", master, u.tree});
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(u.exe, {"--keep-purged", keep, u.tree});
        p.waitForStarted();
        QThread::msleep(std::uniform_int_distribution<int>(0, 120)(random));
        p.kill();
        p.waitForFinished();
        ++kills;
        for (const auto &[relative, names] : archives) {
            QStringList present;
            for (const ZipFixtureEntry &e : readZip(u.tree + u'/' + relative))
                present.append(e.name);
            if (QFile::exists(keep + u'/' + relative))
                for (const ZipFixtureEntry &e : readZip(keep + u'/' + relative))
                    present.append(e.name);
            for (const QByteArray &name : names)
                EXPECT_TRUE(present.contains(QString::fromLatin1(name)))
                    << relative.toStdString() << " lost " << name.toStdString() << " (kill "
                    << kills << ")";
        }
    }
}

} // namespace
