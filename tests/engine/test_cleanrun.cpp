#include "rawzip.h"
#include "recordinghost.h"

#include <gtest/gtest.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

// A figure of a StatsLog line or label ("1,234 - bytes tested") as a number.
double figure(const QString &text) {
    QString digits;
    for (const QChar c : text.section(QStringLiteral(" - "), 0, 0))
        if (c.isDigit())
            digits += c;
    return digits.toDouble();
}

qint64 sizeOf(const QString &path) {
    return QFileInfo(path).size();
}

// The data of a named entry, or a null array when the archive lacks it.
QByteArray entryData(const QString &archive, const QString &name) {
    for (const ZipFixtureEntry &entry : readZip(archive))
        if (entry.name == name)
            return entry.data;
    return {};
}

TEST(ArchiveCleaning, OnlyTheFirstMatchingPatternIsUsedAndAnEmptyLineEndsTheList) {
    // A pattern deletes what its Like match selects and nothing else, in whichever
    // order the patterns come: "file[1].nfo" never takes the entry literally named so.
    struct Case {
        QStringList purge;
        QStringList left;
    };
    const QList<Case> cases = {
        {{"file[1].nfo", "file?.nfo"}, {"File[1].nfo", "Keep.TXT", "Other.TXT"}},
        {{"file?.nfo", "file[1].nfo"}, {"File[1].nfo", "Keep.TXT", "Other.TXT"}},
        {{"FILE1.NFO", "file[1].nfo"}, {"File[1].nfo", "Keep.TXT", "Other.TXT"}},
        {{"keep.txt", "", "other.txt", "file1.nfo"}, {"FILE1.NFO", "File[1].nfo", "Other.TXT"}},
    };
    for (const Case &c : cases) {
        HostRun run;
        run.purgeList(c.purge);
        const QString archive =
            run.zip("Patterns.ZIP", {"FILE1.NFO", "File[1].nfo", "Keep.TXT", "Other.TXT"});
        run.clean();
        QStringList left = HostRun::names(archive);
        left.sort();
        EXPECT_EQ(left, c.left) << c.purge.join('|').toStdString();
        EXPECT_EQ(run.totals().PurgedFiles, 1) << c.purge.join('|').toStdString();
        EXPECT_EQ(run.totals().PatternCount, c.purge.size());
    }
}

TEST(ArchiveCleaning, OneWildcardDeletionTakesSeveralEntriesAndEachStillCounts) {
    HostRun run;
    run.purgeList({"read*.txt"});
    const QString archive =
        run.zip("Wild.ZIP", {"READ1.TXT", "Read2.txt", "read3.TXT", "Keep.DAT"});
    // A purge that changes no size: counted as purged files, not as a cleaned archive.
    const QString unchanged = run.zip("Sub/Unchanged.ZIP", {"Keep.DAT"});
    run.clean();
    EXPECT_EQ(HostRun::names(archive), QStringList{"Keep.DAT"});
    EXPECT_EQ(HostRun::names(unchanged), QStringList{"Keep.DAT"});
    EXPECT_EQ(run.totals().PurgedFiles, 3);
    EXPECT_EQ(run.totals().CleanedZips, 1);
    EXPECT_EQ(run.lastRecord().value(9), QStringLiteral(" 3 - purged files"));
}

TEST(ArchiveCleaning, DoubleDizKeepsOneCopyWithItsContent) {
    HostRun run;
    run.purgeList({"nothing.here"});
    const QString archive = writeDoubleDizArchive(run.tree + "/Double.ZIP");
    ASSERT_EQ(HostRun::names(archive).count("FILE_ID.DIZ"), 2);
    run.clean();
    QStringList names = HostRun::names(archive);
    names.sort();
    EXPECT_EQ(names, (QStringList{"Info.NFO", "file_id.diz"}));
    EXPECT_EQ(entryData(archive, "file_id.diz"), QByteArray("Nice Release\r\n"));
    EXPECT_EQ(entryData(archive, "Info.NFO"), QByteArray("info"));
    EXPECT_EQ(run.errorLog(), QStringList{"Double zip " + archive.toLower()});
    EXPECT_EQ(run.totals().DoubleDiz, 1);
    EXPECT_EQ(run.lastRecord().value(11), QStringLiteral(" 1 - double diz's"));
}

TEST(ArchiveCleaning, ASingleDizIsLeftAloneAndTheLogsStartEmptyEachRun) {
    HostRun run;
    run.purgeList({"nothing.here"});
    const QString archive = run.tree + "/Single.ZIP";
    ASSERT_TRUE(writeZip(archive, {{"FILE_ID.DIZ", "one copy"}, {"Other.TXT", "x"}}));
    const QByteArray before = fileBytes(archive);
    // What an earlier run left in the logs.
    writeFile(run.appFile(DataFile::ErrorLog), "Bad zip /earlier/run.zip\r\n");
    writeFile(run.appFile(DataFile::VerifyList), "/earlier/run.zip\r\n");
    run.clean();
    EXPECT_EQ(fileBytes(archive), before);
    EXPECT_EQ(run.totals().DoubleDiz, 0);
    EXPECT_TRUE(run.errorLog().isEmpty());
    EXPECT_TRUE(run.verifyList().isEmpty());
}

TEST(ArchiveCleaning, DoubleDizRepairChangesNothingWhenTheCopyCannotBeTakenOut) {
    // The copy cannot be extracted (the TempFolder is a file), or it is out but too large
    // to be added back: either way the archive keeps both copies, byte for byte.
    for (const bool tooLarge : {false, true}) {
        SCOPED_TRACE(tooLarge ? "too large to add back" : "cannot be extracted");
        HostRun run;
        run.purgeList({"nothing.here"});
        const QString archive = run.tree + "/Double.ZIP";
        if (tooLarge) {
            const RawEntry diz = rawEntry("file_id.diz", QByteArray(65 << 20, 'd'), true);
            ASSERT_TRUE(writeRawZip(archive, rawZip({diz, rawEntry("Info.NFO", "info"), diz})));
        } else {
            writeDoubleDizArchive(archive);
            QDir(run.state.tempFolder()).removeRecursively();
            writeFile(run.state.tempFolder(), "in the way");
        }
        const QByteArray before = fileBytes(archive);
        run.clean();
        EXPECT_EQ(fileBytes(archive), before);
        QStringList log{"Double zip " + archive.toLower()};
        if (tooLarge)
            log.append("Double zip not repaired " + archive.toLower());
        EXPECT_EQ(run.errorLog(), log);
        EXPECT_EQ(run.totals().DoubleDiz, 0); // reported, but no repair happened
    }
}

TEST(FolderWalk, SkipsDotFoldersAndFolderLinksAndChangesNothingOutsideTheTree) {
    HostRun run;
    run.purgeList({"junk.txt"});
    const QString top = run.zip("Top.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QString hidden = run.zip(".Hidden/Hidden.ZIP", {"Junk.TXT"});
    const QString hidden2 = run.zip("Sub/.Deeper/Inner/Hidden2.ZIP", {"Junk.TXT"});
    const QString outside = run.root.filePath("Outside Tree");
    QDir().mkpath(outside);
    const QString outsideZip = outside + "/Outside.ZIP";
    ASSERT_TRUE(writeZip(outsideZip, {{"Junk.TXT", "x"}, {"Keep.TXT", "y"}}));
    // A read-only archive out of the tree, reached through a link in it.
    const QString target = outside + "/Target.ZIP";
    ASSERT_TRUE(writeZip(target, {{"Junk.TXT", "x"}, {"Keep.TXT", "y"}}));
    ASSERT_TRUE(QFile::setPermissions(target, QFile::ReadOwner | QFile::ReadGroup));
    const QByteArray targetBefore = fileBytes(target);
    // A damaged one out of the tree, linked too: reported, never renamed.
    const QString damagedOut = outside + "/Damaged.ZIP";
    ASSERT_TRUE(writeZip(damagedOut, {{"Keep.TXT", QByteArray(2000, 'k'), true}}));
    ASSERT_TRUE(corruptByte(damagedOut, 100));
    // And a link to an archive in the tree: that one is cleaned in place of its target.
    const QString inner = run.zip("Sub/Inner Target.ZIP", {"Junk.TXT", "Keep.TXT"});
    ASSERT_TRUE(QFile::link(run.tree, run.tree + "/Sub/Loop Back"));
    ASSERT_TRUE(QFile::link(outside, run.tree + "/Sub/Out Link"));
    const QString link = run.tree + "/Sub/Link.ZIP";
    ASSERT_TRUE(QFile::link(target, link));
    const QString badLink = run.tree + "/Sub/Bad Link.ZIP";
    ASSERT_TRUE(QFile::link(damagedOut, badLink));
    const QString innerLink = run.tree + "/Another Link.ZIP";
    ASSERT_TRUE(QFile::link(inner, innerLink));

    run.clean();

    EXPECT_EQ(HostRun::names(top), QStringList{"Keep.TXT"});
    EXPECT_EQ(HostRun::names(hidden), QStringList{"Junk.TXT"});
    EXPECT_EQ(HostRun::names(hidden2), QStringList{"Junk.TXT"});
    EXPECT_EQ(HostRun::names(outsideZip), (QStringList{"Junk.TXT", "Keep.TXT"}));
    // Out of the tree: tested and reported; not rewritten, renamed or made writable.
    EXPECT_EQ(fileBytes(target), targetBefore);
    EXPECT_FALSE(QFileInfo(target).permissions() & QFile::WriteOwner);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_TRUE(QFileInfo::exists(damagedOut));
    EXPECT_TRUE(QFileInfo(badLink).isSymLink());
    const QStringList log = run.errorLog();
    EXPECT_TRUE(log.contains("Linked zip " + link.toLower()));
    EXPECT_TRUE(log.contains("Linked zip " + badLink.toLower()));
    EXPECT_TRUE(log.contains("Bad zip " + badLink.toLower()));
    // In the tree: cleaned through its link, which is still a link to it.
    EXPECT_TRUE(QFileInfo(innerLink).isSymLink());
    EXPECT_EQ(QFileInfo(innerLink).symLinkTarget(), inner);
    EXPECT_EQ(HostRun::names(inner), QStringList{"Keep.TXT"});
    // Top, the three links and the inner target; the folder links never entered.
    EXPECT_EQ(run.totals().Zips, 5);
}

TEST(FolderWalk, ADeepTreeIsWalkedToItsBottom) {
    HostRun run;
    run.purgeList({"junk.txt"});
    QString relative;
    for (int level = 0; level < 400; ++level)
        relative += QStringLiteral("Lv%1/").arg(level % 10);
    const QString bottom = run.zip(relative + "Bottom.ZIP", {"Junk.TXT", "Keep.TXT"});
    run.clean();
    EXPECT_EQ(HostRun::names(bottom), QStringList{"Keep.TXT"});
    EXPECT_EQ(run.totals().Zips, 1);
}

TEST(CleanRun, WithoutTheSettingNothingIsKept) {
    HostRun run;
    run.purgeList({"junk.txt"});
    const QString archive = run.zip("Plain.ZIP", {"Junk.TXT", "Keep.TXT"});
    run.clean();
    EXPECT_EQ(HostRun::names(archive), QStringList{"Keep.TXT"});
    EXPECT_TRUE(run.state.KeepPurged.isEmpty());
    EXPECT_EQ(QDir(run.root.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2);
}

TEST(CleanRun, TotalsAddUpOverRunsAndAnUnreadableTotalsFileCountsAsZero) {
    HostRun run;
    run.purgeList({"junk.txt"});
    const QString archive = run.zip("Some.ZIP", {"Junk.TXT", "Keep.TXT"});
    writeFile(run.appFile(DataFile::TotalsFile), "not a number\r\n 1000 \r\n");
    const qint64 size = sizeOf(archive);

    run.clean();
    const QStringList first = run.lastRecord();
    ASSERT_EQ(first.size(), 14);
    const double purged = double(size - sizeOf(archive));
    EXPECT_EQ(figure(first[3]), size);
    EXPECT_EQ(figure(first[4]), size); // the unreadable line counted as 0
    EXPECT_EQ(figure(first[5]), purged);
    EXPECT_EQ(figure(first[6]), 1000 + purged);
    EXPECT_EQ(first[1], u' ' + run.tree.toLower());
    EXPECT_TRUE(QDateTime::fromString(first[0], "MM-dd-yyyy HH:mm:ss").isValid());
    EXPECT_TRUE(first[13].isEmpty());

    run.zip("Sub/More.ZIP", {"Keep.TXT"});
    run.clean();
    const QStringList all = TextFile::readLines(run.appFile(DataFile::StatsLog));
    ASSERT_EQ(all.size(), 28);
    const QStringList second = all.mid(14);
    EXPECT_EQ(figure(second[4]), figure(first[4]) + figure(second[3]));
    EXPECT_EQ(figure(second[6]), figure(first[6]) + figure(second[5]));
    // The TotalsFile holds the same sums in the plain number form, one per line.
    const QStringList totals = TextFile::readLines(run.appFile(DataFile::TotalsFile));
    ASSERT_EQ(totals.size(), 2);
    EXPECT_EQ(totals[0], QStringLiteral(" %1 ").arg(figure(second[4]), 0, 'f', 0));
    EXPECT_EQ(totals[1], QStringLiteral(" %1 ").arg(figure(second[6]), 0, 'f', 0));
}

TEST(CleanRun, PurgeListLength) {
    {
        HostRun run;
        QStringList lines;
        for (int i = 1; i <= 12; ++i)
            lines << QStringLiteral("Name%1.TXT").arg(i);
        run.purgeList(lines);
        run.clean();
        EXPECT_EQ(run.lastRecord().value(7), QStringLiteral(" 12 - in purge.txt"));
    }
    {
        // Lines after the 30000th are ignored.
        HostRun run;
        QStringList lines;
        for (int i = 1; i <= 40000; ++i)
            lines << QStringLiteral("Name%1.TXT").arg(i);
        run.purgeList(lines);
        const QString archive = run.zip("Long.ZIP", {"Name1.TXT", "Name29999.TXT", "Name30000.TXT",
                                                     "Name30001.TXT", "Name40000.TXT", "Keep.TXT"});
        run.clean();
        EXPECT_EQ(run.totals().PatternCount, CleanRun::MaxPatterns);
        QStringList left = HostRun::names(archive);
        left.sort();
        EXPECT_EQ(left, (QStringList{"Keep.TXT", "Name30001.TXT", "Name40000.TXT"}));
    }
}

TEST(CleanRun, WithoutAPurgeListEveryFolderIsSkippedWithAMessage) {
    HostRun run;
    const QString a = run.zip("A.ZIP", {"Junk.TXT"});
    run.zip("Sub/B.ZIP", {"Junk.TXT"});
    run.clean();
    EXPECT_EQ(run.host.said.filter(QStringLiteral("box")),
              QStringList(2, QStringLiteral("box No purge list exists")));
    EXPECT_EQ(run.totals().Zips, 0);
    EXPECT_EQ(run.totals().PatternCount, 0);
    EXPECT_EQ(run.host.said.filter(QStringLiteral("statistics")).size(), 1);
    EXPECT_EQ(HostRun::names(a), QStringList{"Junk.TXT"});
}

} // namespace
