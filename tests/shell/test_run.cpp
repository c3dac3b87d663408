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

qint64 sizeOf(const QString &path) {
    return QFileInfo(path).size();
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

// The drive and folder lists belong to the run while it goes: a folder the user opens
// there meanwhile must not point the run's archive list elsewhere.
TEST(CleanRun, TheFolderListTakesNoInputDuringARun) {
    RunFixture run;
    DeepTree tree(run);
    const QString sameFolder = run.zip("A/B/C/D/Z Same Folder.ZIP", {"Junk.TXT"});
    run.form->run().setYieldInterval(0); // the click arrives inside the archive's walk
    run.onListing("marker", [&] {
        // Queued as a user's double-click on the list's first folder: it arrives in the
        // run's next yield.
        QWidget *view = run.form->Dir1->viewport();
        const QPoint at = rowCentre(run.form->Dir1, 0);
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                        QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(view, new QMouseEvent(type, at, view->mapToGlobal(at),
                                                              Qt::LeftButton, Qt::LeftButton,
                                                              Qt::NoModifier));
    });
    run.clean();
    for (const QString &archive : tree.after + QStringList{tree.before, tree.deep, sameFolder})
        EXPECT_FALSE(RunFixture::names(archive).contains("Junk.TXT")) << archive.toStdString();
    EXPECT_EQ(run.totals().Zips, 6);
    EXPECT_EQ(run.totals().PurgedFiles, 6);
    EXPECT_EQ(run.form->Dir1->Path(), run.tree);
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
    EXPECT_TRUE(captionsAfter.filter(QStringLiteral("/")).isEmpty())
        << qPrintable(captionsAfter.join(u'|'));
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

} // namespace
