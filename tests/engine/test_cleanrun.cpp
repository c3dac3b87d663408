#include "rawzip.h"
#include "runfixture.h"

#include "verify/form6.h"

#include <QApplication>

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
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

TEST(ArchiveCleaning, NfoCountAfterPurgesDecidesTheVerificationQueue) {
    RunFixture run;
    run.purgeList({QStringLiteral("C.TXT")}); // capitals match any case
    const QString purged = run.zip("Sub/Nfos Purged.ZIP", {"A.NFO", "B.nfo", "C.txt"});
    const QString two = run.zip("Sub/Two Nfos.ZIP", {"A.NFO", "B.NFO", "Keep.TXT"});
    const QString three = run.zip("Three Nfos.zip", {"X.nfo", "Y.nfo", "Z.NFO"});
    const qint64 purgedSize = sizeOf(purged);

    run.clean();

    EXPECT_EQ(RunFixture::names(purged), (QStringList{"A.NFO", "B.nfo"}));
    // Two .nfo less one purged entry leaves one: not queued. The folder's own archives
    // come before those of its subfolders, in real case.
    EXPECT_EQ(run.verifyList(), (QStringList{three, two}));
    EXPECT_EQ(run.totals().ExtraNfos, 3);
    EXPECT_EQ(run.totals().Zips, 3);
    EXPECT_EQ(run.totals().PurgedFiles, 1);
    EXPECT_EQ(run.totals().CleanedZips, 1);
    EXPECT_EQ(run.totals().PurgedBytes, double(purgedSize - sizeOf(purged)));
    EXPECT_GT(run.totals().PurgedBytes, 0);
    EXPECT_EQ(run.form->Label2->text(), QStringLiteral(" 3 processed"));
    EXPECT_EQ(run.form->Label3->text(), QStringLiteral(" 1 purged"));

    ASSERT_TRUE(run.stats.shown);
    EXPECT_TRUE(run.stats.mainMinimized);
    EXPECT_FALSE(run.stats.mainEnabled);
    EXPECT_EQ(run.stats.labels["Label11"], QStringLiteral("3\nExtra nfos"));
    EXPECT_EQ(run.stats.labels["Label1"], QStringLiteral("3 - total zip's"));
    EXPECT_EQ(run.stats.labels["Label7"], run.tree.toLower());
    EXPECT_TRUE(run.stats.verifyEnabled);
    EXPECT_FALSE(run.stats.errorLogEnabled); // no damaged archive
    EXPECT_FALSE(run.form->errors->isEnabled());
    // The main window is back: normal, enabled, idle.
    EXPECT_FALSE(run.form->isMinimized());
    EXPECT_TRUE(run.form->isEnabled());
    EXPECT_FALSE(run.state.Running || run.state.StatsWaiting || run.state.VerifyMode);
    EXPECT_EQ(run.form->Command2->text(), QStringLiteral("&Clean all"));
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
        RunFixture run;
        run.purgeList(c.purge);
        const QString archive =
            run.zip("Patterns.ZIP", {"FILE1.NFO", "File[1].nfo", "Keep.TXT", "Other.TXT"});
        run.clean();
        QStringList left = RunFixture::names(archive);
        left.sort();
        EXPECT_EQ(left, c.left) << c.purge.join('|').toStdString();
        EXPECT_EQ(run.totals().PurgedFiles, 1) << c.purge.join('|').toStdString();
        EXPECT_EQ(run.totals().PatternCount, c.purge.size());
    }
}

TEST(ArchiveCleaning, OneWildcardDeletionTakesSeveralEntriesAndEachStillCounts) {
    RunFixture run;
    run.purgeList({"read*.txt"});
    const QString archive =
        run.zip("Wild.ZIP", {"READ1.TXT", "Read2.txt", "read3.TXT", "Keep.DAT"});
    // A purge that changes no size: counted as purged files, not as a cleaned archive.
    const QString unchanged = run.zip("Sub/Unchanged.ZIP", {"Keep.DAT"});
    run.clean();
    EXPECT_EQ(RunFixture::names(archive), QStringList{"Keep.DAT"});
    EXPECT_EQ(RunFixture::names(unchanged), QStringList{"Keep.DAT"});
    EXPECT_EQ(run.totals().PurgedFiles, 3);
    EXPECT_EQ(run.totals().CleanedZips, 1);
    EXPECT_EQ(run.stats.labels["Label3"], QStringLiteral("3 - purged files"));
    EXPECT_EQ(run.lastRecord().value(9), QStringLiteral(" 3 - purged files"));
}

// An archive whose second entry fails its CRC check; its first entry, "Ad.TXT", is
// one the tests put on the purge list.
QString crcDamagedArchive(const QString &path) {
    const QByteArray random = randomBytes(40000, 7);
    EXPECT_TRUE(writeZip(path, {{"Ad.TXT", "advert", true}, {"Data.BIN", random, true}}));
    const qint64 at = fileBytes(path).indexOf(random.mid(20000, 64));
    EXPECT_GT(at, 0);
    EXPECT_TRUE(corruptByte(path, at));
    return path;
}

TEST(ArchiveCleaning, DamagedArchivesAreLoggedAndSetAsideUnchanged) {
    RunFixture run;
    run.purgeList({"ad.txt"});
    const QString crc = crcDamagedArchive(run.tree + "/Damaged CRC.ZIP");
    const QByteArray damagedBytes = fileBytes(crc);
    // An older quarantined copy, read-only, is replaced.
    writeFile(crc + ".bad", "older");
    QFile::setPermissions(crc + ".bad", QFile::ReadOwner);
    const QString notZip = run.tree + "/Not A Zip.ZIP";
    writeFile(notZip, "Just text, no archive at all.");
    const QString sound = run.zip("Sound.ZIP", {"Ad.TXT", "Keep.TXT"});
    // The last file of a split set: its end record names another disk. Not damaged.
    QByteArray segment = buildZip(rawZip({rawEntry("Ad.TXT", "part of a set")}));
    segment[segment.size() - 18] = 1; // this disk
    segment[segment.size() - 16] = 1; // the disk where the directory starts
    const QString split = run.tree + "/Last Segment.ZIP";
    writeFile(split, segment);

    run.clean();

    EXPECT_EQ(fileBytes(split), segment);
    EXPECT_FALSE(QFile::exists(split + ".bad"));
    EXPECT_FALSE(QFile::exists(crc));
    // Never purged: the entry walk still sees "ad.txt", but the archive stays as found.
    EXPECT_EQ(fileBytes(crc + ".bad"), damagedBytes);
    EXPECT_FALSE(QFile::exists(notZip));
    EXPECT_TRUE(QFile::exists(notZip + ".bad"));
    EXPECT_EQ(RunFixture::names(sound), QStringList{"Keep.TXT"});
    EXPECT_EQ(run.errorLog(),
              (QStringList{"Bad zip " + crc.toLower(), "Split zip " + split.toLower(),
                           "Bad zip " + notZip.toLower()}));
    EXPECT_EQ(run.totals().BadZips, 2);
    EXPECT_EQ(run.totals().PurgedFiles, 1);
    ASSERT_EQ(run.desktop.sounds.size(), 1);
    EXPECT_EQ(run.desktop.sounds[0].path, run.appFile(DataFile::ErrorWave));
    EXPECT_FALSE(run.desktop.sounds[0].wait);
    EXPECT_TRUE(run.stats.errorLogEnabled);
    EXPECT_EQ(run.stats.labels["Label5"], QStringLiteral("2 - bad zip's"));
    EXPECT_TRUE(run.form->errors->isEnabled());
    EXPECT_FALSE(run.stats.verifyEnabled);
    EXPECT_TRUE(run.desktop.boxes.isEmpty()); // the run shows no damage messages
}

TEST(ArchiveCleaning, DamagedArchiveOnAReadOnlyVolumeKeepsItsName) {
    RunFixture run;
    run.purgeList({"ad.txt"});
    const QString crc = crcDamagedArchive(run.tree + "/Damaged CRC.ZIP");
    const QByteArray damagedBytes = fileBytes(crc);
    const QString notZip = run.tree + "/Not A Zip.ZIP";
    writeFile(notZip, "Just text, no archive at all.");
    // The volume turns read-only once the run has started (its own check passed).
    QObject::connect(run.form.get(), &QWidget::windowTitleChanged, run.form.get(),
                     [&](const QString &title) {
                         if (title.startsWith(QStringLiteral("Cleaning ")))
                             run.form->DiskInfo1.forcedAnswer = 2;
                     });
    run.clean();
    EXPECT_EQ(fileBytes(notZip), QByteArray("Just text, no archive at all."));
    EXPECT_FALSE(QFile::exists(notZip + ".bad"));
    // Where it cannot be set aside, a damaged archive is not purged either.
    EXPECT_EQ(fileBytes(crc), damagedBytes);
    EXPECT_EQ(run.errorLog(),
              (QStringList{"Bad zip " + crc.toLower(), "Bad zip " + notZip.toLower()}));
    EXPECT_EQ(run.totals().BadZips, 2);
    EXPECT_EQ(run.totals().PurgedFiles, 0);
}

// An archive holding "FILE_ID.DIZ" twice (libzip writes no duplicate names, so the
// second name is patched in place).
QString doubleDizArchive(const QString &path) {
    EXPECT_TRUE(writeZip(path, {{"FILE_ID.DIZ", "Nice Release\r\n"},
                                {"FILE_ID.DIX", "Nice Release\r\n"},
                                {"Info.NFO", "info"}}));
    QByteArray bytes = fileBytes(path);
    bytes.replace("FILE_ID.DIX", "FILE_ID.DIZ");
    writeFile(path, bytes);
    return path;
}

TEST(ArchiveCleaning, DoubleDizKeepsOneCopyWithItsContent) {
    RunFixture run;
    run.purgeList({"nothing.here"});
    const QString archive = doubleDizArchive(run.tree + "/Double.ZIP");
    ASSERT_EQ(RunFixture::names(archive).count("FILE_ID.DIZ"), 2);
    run.clean();
    QStringList names = RunFixture::names(archive);
    names.sort();
    EXPECT_EQ(names, (QStringList{"Info.NFO", "file_id.diz"}));
    EXPECT_EQ(entryData(archive, "file_id.diz"), QByteArray("Nice Release\r\n"));
    EXPECT_EQ(entryData(archive, "Info.NFO"), QByteArray("info"));
    EXPECT_EQ(run.errorLog(), QStringList{"Double zip " + archive.toLower()});
    EXPECT_EQ(run.totals().DoubleDiz, 1);
    EXPECT_EQ(run.stats.labels["Label4"], QStringLiteral("1 - double diz's"));
}

TEST(ArchiveCleaning, ASingleDizIsLeftAloneAndTheLogsStartEmptyEachRun) {
    RunFixture run;
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
        RunFixture run;
        run.purgeList({"nothing.here"});
        const QString archive = run.tree + "/Double.ZIP";
        if (tooLarge) {
            const RawEntry diz = rawEntry("file_id.diz", QByteArray(65 << 20, 'd'), true);
            ASSERT_TRUE(writeRawZip(archive, rawZip({diz, rawEntry("Info.NFO", "info"), diz})));
        } else {
            doubleDizArchive(archive);
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
    RunFixture run;
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

    EXPECT_EQ(RunFixture::names(top), QStringList{"Keep.TXT"});
    EXPECT_EQ(RunFixture::names(hidden), QStringList{"Junk.TXT"});
    EXPECT_EQ(RunFixture::names(hidden2), QStringList{"Junk.TXT"});
    EXPECT_EQ(RunFixture::names(outsideZip), (QStringList{"Junk.TXT", "Keep.TXT"}));
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
    EXPECT_EQ(RunFixture::names(inner), QStringList{"Keep.TXT"});
    // Top, the three links and the inner target; the folder links never entered.
    EXPECT_EQ(run.totals().Zips, 5);
}

TEST(FolderWalk, ADeepTreeIsWalkedToItsBottom) {
    RunFixture run;
    run.purgeList({"junk.txt"});
    QString relative;
    for (int level = 0; level < 400; ++level)
        relative += QStringLiteral("Lv%1/").arg(level % 10);
    const QString bottom = run.zip(relative + "Bottom.ZIP", {"Junk.TXT", "Keep.TXT"});
    run.clean();
    EXPECT_EQ(RunFixture::names(bottom), QStringList{"Keep.TXT"});
    EXPECT_EQ(run.totals().Zips, 1);
}

// A tree whose deep folder holds the archive with the marker entry; archives before
// and after it in walk order all carry "Junk.TXT".
struct DeepTree {
    explicit DeepTree(RunFixture &run) {
        run.purgeList({"junk.txt"});
        before = run.zip("Root.ZIP", {"Junk.TXT", "Keep.TXT"});
        deep = run.zip("A/B/C/D/Deep.ZIP", {"Marker.TXT", "Junk.TXT"});
        after = {run.zip("A/B/C/E/After.ZIP", {"Junk.TXT"}), run.zip("A/Z/Later.ZIP", {"Junk.TXT"}),
                 run.zip("Z Last/Last.ZIP", {"Junk.TXT"})};
    }
    QString before, deep;
    QStringList after;
};

void expectUntouched(const QStringList &archives) {
    for (const QString &archive : archives)
        EXPECT_TRUE(RunFixture::names(archive).contains("Junk.TXT")) << archive.toStdString();
}

TEST(CleanRun, EscapeRecordsNothing) {
    // From inside the component's events deep in the tree, and as a key queued before
    // the run (it arrives while the purge list loads).
    for (const char *marker : {"marker", "status", "queued"}) {
        RunFixture run;
        DeepTree tree(run);
        const auto escape = [&] { QTest::keyClick(run.form.get(), Qt::Key_Escape); };
        if (QByteArray(marker) == "marker") {
            run.onListing("marker", escape);
        } else if (QByteArray(marker) == "status") {
            run.onListing("marker", [&] {
                QObject::connect(run.form->XceedZip1, &ZipComponent::Status, run.form.get(), escape,
                                 Qt::SingleShotConnection);
            });
        } else {
            QCoreApplication::postEvent(
                run.form.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
        }
        run.clean();

        SCOPED_TRACE(marker);
        if (QByteArray(marker) == "queued")
            expectUntouched({tree.before});
        else
            EXPECT_EQ(RunFixture::names(tree.before), QStringList{"Keep.TXT"});
        expectUntouched(tree.after + QStringList{tree.deep});
        EXPECT_FALSE(run.stats.shown);
        EXPECT_FALSE(QFile::exists(run.appFile(DataFile::StatsLog)));
        EXPECT_FALSE(QFile::exists(run.appFile(DataFile::TotalsFile)));
        EXPECT_FALSE(run.state.Running || run.state.AbortRequested);
        EXPECT_EQ(run.form->Command2->text(), QStringLiteral("&Clean all"));
        EXPECT_TRUE(run.form->Command1->isEnabled());
        EXPECT_NE(run.form->run().exitStatus(), 0);
        // The browser shows the start folder again, folders and archives alike.
        EXPECT_EQ(run.form->Dir1->Path(), run.tree);
        EXPECT_EQ(run.form->File1->Path(), run.tree);
    }
}

TEST(CleanRun, AbortButtonRecordsThePartialRun) {
    RunFixture run;
    DeepTree tree(run);
    bool aborted = false;
    QStringList captionsAfter;
    QObject::connect(run.form.get(), &QWidget::windowTitleChanged, run.form.get(),
                     [&](const QString &caption) {
                         if (aborted)
                             captionsAfter.append(caption);
                     });
    run.onListing("marker", [&] {
        run.form->Command2_Click();
        aborted = true;
    });
    run.clean();
    EXPECT_EQ(RunFixture::names(tree.before), QStringList{"Keep.TXT"});
    expectUntouched(tree.after + QStringList{tree.deep});
    // The caption names no folder that the stopped run never reached.
    EXPECT_TRUE(captionsAfter.filter(QStringLiteral("/")).isEmpty()) << qPrintable(captionsAfter.join(u'|'));
    const QStringList record = run.lastRecord();
    ASSERT_EQ(record.size(), 14);
    EXPECT_EQ(record[2], QStringLiteral(" 2 - Zip's")); // Root.ZIP and the interrupted one
    EXPECT_EQ(record[9], QStringLiteral(" 1 - purged files"));
    EXPECT_EQ(TextFile::readLines(run.appFile(DataFile::StatsLog)).size(), 14);
    ASSERT_TRUE(run.stats.shown);
    EXPECT_EQ(run.stats.labels["Label1"], QStringLiteral("2 - total zip's"));
    EXPECT_EQ(run.form->run().exitStatus(), 0);
    EXPECT_FALSE(run.state.Running || run.state.AbortRequested);
}

// A stop between two purges of one archive: the Abort click runs the end-of-run steps
// at once, and their re-test forgets what was gathered; the walk must delete nothing
// more, neither written at once nor counted. The stop is real input queued when the
// first entry is purged, so it is handled in the walk's next yield.
TEST(CleanRun, AStopBetweenTwoPurgesOfOneArchiveDeletesNothingMore) {
    for (const bool escape : {true, false}) {
        SCOPED_TRACE(escape ? "Esc" : "Abort");
        RunFixture run;
        run.purgeList({"j1.txt", "j2.txt"});
        const QString archive = run.zip("Two Purges.ZIP", {"J1.TXT", "J2.TXT", "Keep.TXT"});
        const QByteArray before = fileBytes(archive);
        run.form->run().setYieldInterval(0);
        QObject::connect(
            run.form->List1->model(), &QAbstractItemModel::rowsRemoved, run.form.get(),
            [&] {
                if (escape) {
                    QCoreApplication::postEvent(
                        run.form.get(),
                        new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
                    return;
                }
                QPushButton *button = run.form->Command2;
                const QPointF at = QRectF(button->rect()).center();
                for (const QEvent::Type type :
                     {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
                    QCoreApplication::postEvent(
                        button, new QMouseEvent(type, at, button->mapToGlobal(at), Qt::LeftButton,
                                                type == QEvent::MouseButtonPress ? Qt::LeftButton
                                                                                 : Qt::NoButton,
                                                Qt::NoModifier));
            },
            Qt::SingleShotConnection);
        run.clean();
        EXPECT_EQ(fileBytes(archive), before);
        EXPECT_EQ(run.totals().PurgedFiles, 0);
        EXPECT_FALSE(run.state.Running || run.state.AbortRequested);
    }
}

TEST(CleanRun, AClickWhileAStoppedRunUnwindsStartsNoSecondRun) {
    RunFixture run;
    DeepTree tree(run);
    run.onListing("marker", [&] {
        run.form->Command2_Click(); // "&Abort"
        run.form->Command2_Click(); // the button reads "&Clean all" again already
    });
    run.clean();
    expectUntouched(tree.after);
    EXPECT_EQ(TextFile::readLines(run.appFile(DataFile::StatsLog)).size(), 14);
}

TEST(CleanRun, VerifyHandsTheWaitingRunToTheVerificationWindow) {
    RunFixture run;
    run.purgeList({"junk.txt"});
    run.zip("Nfos.ZIP", {"One.NFO", "Two.NFO"});
    run.leaveByVerify = true;
    int opened = 0;
    run.form->openVerification = [&] {
        ++opened;
        EXPECT_TRUE(run.state.VerifyMode);
        EXPECT_TRUE(run.state.StatsWaiting);
        EXPECT_EQ(run.verifyList(), QStringList{run.tree + "/Nfos.ZIP"});
        run.form->statistics()->close(); // as the verification window's Exit does
    };
    run.clean();
    EXPECT_EQ(opened, 1);
    EXPECT_FALSE(run.state.StatsWaiting || run.state.VerifyMode);
    EXPECT_TRUE(run.form->isEnabled());
}

TEST(CleanRun, CleanAllIsVisiblyDisabledWhileTheStatisticsWait) {
    RunFixture run;
    run.purgeList({"junk.txt"});
    run.zip("Nfos.ZIP", {"One.NFO", "Two.NFO"});
    run.form->show();
    // Verify, then Next past the end of the queue: the verification window hands the
    // main window back while the run still waits on its statistics.
    bool checked = false;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        Form4 *stats = run.form->statistics();
        if (!stats || !stats->isVisible())
            return;
        if (stats->isEnabled() && !checked && stats->Command3->isEnabled()) {
            QTest::mouseClick(stats->Command3, Qt::LeftButton);
            for (QWidget *w : QApplication::topLevelWidgets())
                if (auto *f = qobject_cast<Form6 *>(w); f && f->isVisible())
                    QTest::mouseClick(f->Command2, Qt::LeftButton); // end of the queue
            EXPECT_TRUE(run.state.StatsWaiting);
            EXPECT_TRUE(run.form->isEnabled());
            EXPECT_FALSE(run.form->Command2->isEnabled());
            QTest::mouseClick(run.form->Command2, Qt::LeftButton); // starts nothing
            checked = true;
            return;
        }
        if (checked)
            QTest::mouseClick(stats->Command1, Qt::LeftButton);
    });
    user.start(5);
    run.form->run().Command2_Click();
    EXPECT_TRUE(checked);
    EXPECT_TRUE(run.form->Command2->isEnabled());
    EXPECT_EQ(TextFile::readLines(run.appFile(DataFile::StatsLog)).size(), 14); // one run only
}

TEST(CleanRun, AnInteractiveRunKeepsPurgedEntriesWhereTheSettingsSay) {
    const QString keepFolder = QStringLiteral("Kept Purges");
    RunFixture run([&](RunFixture &r) {
        // The choice lives in the settings file, after the folder line.
        writeFile(r.appFile(DataFile::Settings),
                  (r.tree + "\r\nKeepPurged=" + r.root.filePath(keepFolder) + "\r\n").toUtf8());
        r.makeForm(true);
    });
    run.purgeList({"junk.txt"});
    const QString archive = run.zip("Sub/Keep Me.ZIP", {"Junk.TXT", "Keep.TXT"});
    run.browse(run.tree);
    run.clickClean();
    EXPECT_EQ(RunFixture::names(archive), QStringList{"Keep.TXT"});
    const QString kept = run.root.filePath(keepFolder + "/Sub/Keep Me.ZIP");
    EXPECT_EQ(RunFixture::names(kept), QStringList{"Junk.TXT"});
    // A keep folder that holds the tree would have the run clean the kept copies: refused.
    const QString chosen = run.state.KeepPurged;
    run.state.KeepPurged = run.root.path();
    const QString again = run.zip("Again.ZIP", {"Junk.TXT", "Keep.TXT"});
    run.clickClean();
    EXPECT_EQ(RunFixture::names(again), (QStringList{"Junk.TXT", "Keep.TXT"}));
    ASSERT_FALSE(run.desktop.boxes.isEmpty());
    EXPECT_TRUE(run.desktop.boxes.last().text.contains("nothing was cleaned"));
    EXPECT_FALSE(run.state.Running);
    run.state.KeepPurged = chosen;
    // Closing saves the folder and keeps the choice.
    run.form->Form_Unload();
    const QStringList settings = TextFile::readLines(run.appFile(DataFile::Settings));
    ASSERT_EQ(settings.size(), 2);
    EXPECT_EQ(settings[1], "KeepPurged=" + run.root.filePath(keepFolder));
}

TEST(CleanRun, WithoutTheSettingNothingIsKept) {
    RunFixture run;
    run.purgeList({"junk.txt"});
    const QString archive = run.zip("Plain.ZIP", {"Junk.TXT", "Keep.TXT"});
    run.clean();
    EXPECT_EQ(RunFixture::names(archive), QStringList{"Keep.TXT"});
    EXPECT_TRUE(run.state.KeepPurged.isEmpty());
    EXPECT_EQ(QDir(run.root.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 2);
}

TEST(CleanRun, AReadOnlyDriveTakesThreeClicks) {
    RunFixture run;
    run.purgeList({"junk.txt"});
    const QString archive = run.zip("Only.ZIP", {"Junk.TXT", "Keep.TXT"});
    run.form->DiskInfo1.forcedAnswer = 0;

    run.clean(); // refused
    EXPECT_EQ(run.form->SSPanel2->Caption(), QStringLiteral("Read-only drive"));
    EXPECT_EQ(run.form->SSPanel2->ProgressStyle(), 0);
    EXPECT_TRUE(run.state.Running);
    EXPECT_EQ(run.form->Command2->text(), QStringLiteral("&Clean all"));
    EXPECT_FALSE(QFile::exists(run.appFile(DataFile::ErrorLog)));

    run.form->DiskInfo1.forcedAnswer.reset();
    run.clean(); // only resets the window
    EXPECT_FALSE(run.state.Running);
    EXPECT_EQ(RunFixture::names(archive), (QStringList{"Junk.TXT", "Keep.TXT"}));
    EXPECT_FALSE(run.stats.shown);
    EXPECT_FALSE(QFile::exists(run.appFile(DataFile::StatsLog)));

    run.clean(); // tries again
    EXPECT_EQ(RunFixture::names(archive), QStringList{"Keep.TXT"});
    EXPECT_TRUE(run.stats.shown);
    EXPECT_EQ(run.form->run().exitStatus(), 0);
}

TEST(CleanRun, TotalsAddUpOverRunsAndAnUnreadableTotalsFileCountsAsZero) {
    RunFixture run;
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
        RunFixture run;
        QStringList lines;
        for (int i = 1; i <= 12; ++i)
            lines << QStringLiteral("Name%1.TXT").arg(i);
        run.purgeList(lines);
        run.clean();
        EXPECT_EQ(run.stats.labels["Label2"], QStringLiteral("12 - in purge.txt"));
        EXPECT_EQ(run.lastRecord().value(7), QStringLiteral(" 12 - in purge.txt"));
    }
    {
        // Lines after the 30000th are ignored.
        RunFixture run;
        QStringList lines;
        for (int i = 1; i <= 40000; ++i)
            lines << QStringLiteral("Name%1.TXT").arg(i);
        run.purgeList(lines);
        const QString archive = run.zip("Long.ZIP", {"Name1.TXT", "Name29999.TXT", "Name30000.TXT",
                                                     "Name30001.TXT", "Name40000.TXT", "Keep.TXT"});
        run.clean();
        EXPECT_EQ(run.totals().PatternCount, CleanRun::MaxPatterns);
        QStringList left = RunFixture::names(archive);
        left.sort();
        EXPECT_EQ(left, (QStringList{"Keep.TXT", "Name30001.TXT", "Name40000.TXT"}));
    }
}

TEST(CleanRun, WithoutAPurgeListEveryFolderIsSkippedWithAMessage) {
    RunFixture run;
    const QString a = run.zip("A.ZIP", {"Junk.TXT"});
    run.zip("Sub/B.ZIP", {"Junk.TXT"});
    run.clean();
    ASSERT_EQ(run.desktop.boxes.size(), 2);
    for (const auto &box : run.desktop.boxes) {
        EXPECT_EQ(box.text, QStringLiteral("No purge list exists"));
        EXPECT_EQ(box.title, QStringLiteral("Arcsweep error"));
        EXPECT_EQ(box.icon, MsgIcon::Exclamation);
    }
    EXPECT_EQ(run.totals().Zips, 0);
    EXPECT_EQ(run.totals().PatternCount, 0);
    EXPECT_TRUE(run.stats.shown);
    EXPECT_EQ(RunFixture::names(a), QStringList{"Junk.TXT"});
}

} // namespace
