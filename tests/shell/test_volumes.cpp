// The drive list follows the folder list across mount points, and a run works on the
// volume of the folder shown.
#include "runfixture.h"
#include "capture.h"
#include "mounts.h"

#include "controls/diskinfo.h"

#include <QPushButton>

#include <gtest/gtest.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

// The row of the folder list that shows `path`.
int folderRow(const DirListBox *dir, const QString &path) {
    for (int row = 0; row < dir->count(); ++row)
        if (dir->List(row) == path)
            return row;
    return -1;
}

#define REQUIRE_MOUNT(m)                                                                           \
    if (!(m).mounted())                                                                            \
    GTEST_SKIP() << "needs root to mount a tmpfs"

TEST(Volumes, CleanAllInAReadOnlyMountBrowsedToIsRefused) {
    RunFixture run;
    TmpfsMount stick(run.tree + QStringLiteral("/USB Stick"));
    REQUIRE_MOUNT(stick);
    run.purgeList({"junk.txt"});
    const QString purged = run.zip("USB Stick/Purge Me.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QString damaged = run.zip("USB Stick/Damaged.ZIP", {"Keep.TXT"});
    ASSERT_TRUE(corruptByte(damaged, 40));
    const QByteArray purgedBefore = fileBytes(purged), damagedBefore = fileBytes(damaged);
    ASSERT_TRUE(stick.makeReadOnly());

    run.browse(run.tree);
    doubleClickRow(run.form->Dir1, folderRow(run.form->Dir1, stick.path()));
    ASSERT_EQ(run.form->Dir1->Path(), stick.path());
    EXPECT_EQ(run.form->Drive1->Drive(), stick.path());

    run.clickClean();
    EXPECT_EQ(run.form->SSPanel2->Caption(), QStringLiteral("Read-only drive"));
    EXPECT_EQ(fileBytes(purged), purgedBefore);
    EXPECT_EQ(fileBytes(damaged), damagedBefore);
    EXPECT_FALSE(QFile::exists(run.appFile(DataFile::StatsLog)));
    // Only the test of the folder's first archive spoke, when the folder was chosen.
    ASSERT_EQ(run.desktop.boxes.size(), 1);
    EXPECT_EQ(run.desktop.boxes[0].text, QStringLiteral("CRC error in - ") + damaged.toLower());
}

TEST(Volumes, RestoringTheSavedFolderTestsNoArchiveOfAnotherFolder) {
    AppFixture app;
    TmpfsMount volume(app.tree + QStringLiteral("/Other Volume"));
    REQUIRE_MOUNT(volume);
    // A damaged archive at the volume's root, which a visit of the root would test,
    // report and rename.
    const QString atRoot = volume.path() + QStringLiteral("/A Damaged.ZIP");
    ASSERT_TRUE(writeZip(atRoot, {{QStringLiteral("X.TXT"), QByteArray(3000, 'x'), true}}));
    ASSERT_TRUE(corruptByte(atRoot, 100));
    const QString kept = volume.path() + QStringLiteral("/Kept Zips");
    QDir().mkpath(kept);
    ASSERT_TRUE(writeZip(kept + QStringLiteral("/Good.ZIP"), {{QStringLiteral("Good.TXT"), "g"}}));
    writeFile(app.appFile(DataFile::Settings), (kept + "\r\n").toUtf8());

    Form1 &form = app.makeForm();
    EXPECT_EQ(form.Dir1->Path(), kept);
    EXPECT_EQ(form.Drive1->Drive(), volume.path());
    EXPECT_TRUE(waitUntil([&] { return app.entries() == QStringList{"good.txt"}; }));
    EXPECT_TRUE(QFile::exists(atRoot));
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
}

TEST(Volumes, TheDriveListFollowsTheFolderListAndKeepsItsFolder) {
    AppFixture app;
    TmpfsMount volume(app.tree + QStringLiteral("/Second Volume"));
    REQUIRE_MOUNT(volume);
    const QString deep = volume.path() + QStringLiteral("/Deep/Folder");
    QDir().mkpath(deep);
    Form1 &form = app.makeForm();
    form.Drive1->Refresh();
    app.browse(deep);
    EXPECT_EQ(form.Drive1->Drive(), volume.path());
    // Choosing the volume that holds the folder shown keeps that folder.
    chooseComboItem(form.Drive1, volume.path());
    EXPECT_EQ(form.Dir1->Path(), deep);
    // Another volume opens where it was left; coming back finds the folder again.
    const QString home = DiskInfo::volumeOf(app.tree);
    chooseComboItem(form.Drive1, home);
    EXPECT_EQ(DiskInfo::volumeOf(form.Dir1->Path()), home);
    chooseComboItem(form.Drive1, volume.path());
    EXPECT_EQ(form.Dir1->Path(), deep);
    // Up the folder list and out of the mount: the drive list follows.
    doubleClickRow(form.Dir1, folderRow(form.Dir1, volume.path()));
    EXPECT_EQ(form.Dir1->Path(), volume.path());
    EXPECT_EQ(form.Drive1->Drive(), volume.path());
}

TEST(Volumes, TheDriveListFollowsTheMounts) {
    AppFixture app;
    Form1 &form = app.makeForm();
    form.show();
    const QString at = app.tree + QStringLiteral("/Mounted Later");
    {
        TmpfsMount later(at);
        REQUIRE_MOUNT(later);
        // Dropped down at once, before any event could tell of the mount: the list is
        // read again as it opens.
        form.Drive1->setFocus();
        QTest::keyClick(form.Drive1, Qt::Key_F4);
        ASSERT_TRUE(form.Drive1->view()->isVisible());
        EXPECT_GE(form.Drive1->findData(at), 0);
        QTest::keyClick(form.Drive1->view(), Qt::Key_Escape);
    }
    // Unmounted, with the list closed: the mount table's change takes it away.
    EXPECT_TRUE(waitUntil([&] { return form.Drive1->findData(at) < 0; }));
    TmpfsMount again(at);
    EXPECT_TRUE(waitUntil([&] { return form.Drive1->findData(at) >= 0; }));
    chooseComboItem(form.Drive1, at);
    EXPECT_EQ(form.Dir1->Path(), at);
}

} // namespace
