#include "../viewer/viewerfixture.h"

#include <QLabel>
#include <QMenu>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

class VerifyViewTest : public ViewerFixture {
protected:
    void doubleClick(Form6 *f, const QString &entry) { doubleClickRow(f->List1, entry); }
    void pressViewerAdd() { QTest::mouseClick(viewer()->Command1, Qt::LeftButton); }
};

TEST_F(VerifyViewTest, EntriesAreViewedFromTheArchiveUnderVerification) {
    const QString archive =
        zip(QStringLiteral("Queued.ZIP"), {{QStringLiteral("README.NFO"), "group\r\ninfo\r\n"},
                                           {QStringLiteral("ReadMe.me"), "read me\n"},
                                           {QStringLiteral("Picture.GIF"), "GIF89a"},
                                           {QStringLiteral("Other.nfo"), "other"}});
    Form6 *f = startVerification({archive});
    ASSERT_NE(f, nullptr);
    doubleClick(f, QStringLiteral("picture.gif"));
    EXPECT_FALSE(viewerShown());

    doubleClick(f, QStringLiteral("readme.me"));
    ASSERT_TRUE(viewerShown());
    EXPECT_EQ(shownText(), QStringLiteral("read me\n"));
    EXPECT_EQ(viewer()->windowTitle(), QStringLiteral("readme.me"));

    select(f->List1, QStringLiteral("readme.nfo"));
    f->view->trigger();
    EXPECT_EQ(shownText(), QStringLiteral("group\ninfo\n"));
    EXPECT_EQ(app.state.ViewedEntry, QStringLiteral("readme.nfo"));

    // Nothing selected: nothing is viewed.
    viewer()->close();
    f->List1->clearSelection();
    f->List1_DblClick();
    EXPECT_FALSE(viewerShown());
    EXPECT_TRUE(f->cursor().shape() != Qt::WaitCursor);
}

TEST_F(VerifyViewTest, ViewerAddPutsNewNamesOnBothLists) {
    purgeList({"crew.nfo"});
    const QString archive =
        zipOf(QStringLiteral("Queued.zip"), {"Crew.nfo", "Group.NFO", "Ad.nfo", "Prog.exe"});
    Form6 *f = startVerification({archive, zipOf(QStringLiteral("Later.zip"), {"A.nfo", "B.nfo"})});
    ASSERT_NE(f, nullptr);
    doubleClick(f, QStringLiteral("group.nfo"));
    ASSERT_TRUE(viewerShown());
    select(f->List1, QStringLiteral("ad.nfo"));
    pressViewerAdd();
    EXPECT_FALSE(viewerShown());
    EXPECT_EQ(linesOf(DataFile::PurgeList), (QStringList{"crew.nfo", "ad.nfo"}));
    EXPECT_EQ(linesOf(DataFile::VerifiedPurgeList), QStringList{"ad.nfo"});
    EXPECT_EQ(namesIn(archive), (QStringList{"Crew.nfo", "Group.NFO", "Prog.exe"}));
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"crew.nfo", "group.nfo", "prog.exe"}));
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::PurgeStaging)));

    // A name already on purge.txt is deleted but not written to vpurge.txt.
    doubleClick(f, QStringLiteral("group.nfo"));
    select(f->List1, QStringLiteral("crew.nfo"));
    pressViewerAdd();
    EXPECT_EQ(linesOf(DataFile::PurgeList), (QStringList{"crew.nfo", "ad.nfo"}));
    EXPECT_EQ(linesOf(DataFile::VerifiedPurgeList), QStringList{"ad.nfo"});
    EXPECT_EQ(namesIn(archive), (QStringList{"Group.NFO", "Prog.exe"}));
    // The viewer's Add has no advance rule: the window stays on this archive.
    EXPECT_EQ(f->VerifyArchive, archive);
    EXPECT_EQ(f->Label3->text(), QStringLiteral(" 2"));
}

TEST_F(VerifyViewTest, ViewerAddWithOneNfoLeftClosesTheVerificationWindow) {
    purgeList({"*.bak"});
    const QString archive = zipOf(QStringLiteral("Queued.zip"), {"Only.nfo", "Prog.exe"});
    Form6 *f = startVerification({archive});
    ASSERT_NE(f, nullptr);
    doubleClick(f, QStringLiteral("only.nfo"));
    ASSERT_TRUE(viewerShown());
    select(f->List1, QStringLiteral("prog.exe"));
    pressViewerAdd();
    EXPECT_FALSE(viewerShown());
    EXPECT_EQ(verification(), nullptr);
    EXPECT_EQ(namesIn(archive), (QStringList{"Only.nfo", "Prog.exe"}));
    EXPECT_EQ(linesOf(DataFile::PurgeList), QStringList{"*.bak"});
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::VerifiedPurgeList)));
    // Back to the statistics window, which can still let the run go.
    ASSERT_TRUE(statistics);
    EXPECT_TRUE(statistics->isEnabled());
}

TEST_F(VerifyViewTest, DamageAtExtractionRenamesWhateverTheVolume) {
    const QString archive =
        zip(QStringLiteral("Queued.ZIP"), {{QStringLiteral("Big.nfo"), QByteArray(3000, 'b'), true},
                                           {QStringLiteral("Small.nfo"), "s"}});
    form->DiskInfo1.forcedAnswer = 2;
    Form6 *f = startVerification({archive});
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(corruptByte(archive, 200));
    doubleClick(f, QStringLiteral("big.nfo"));
    EXPECT_FALSE(viewerShown());
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_EQ(app.desktop.boxes[0].text, QStringLiteral("CRC error in - ") + archive.toLower());
    EXPECT_EQ(app.desktop.boxes[0].icon, MsgIcon::Critical);
    EXPECT_FALSE(QFile::exists(archive));
    EXPECT_TRUE(QFile::exists(archive + QStringLiteral(".bad")));
    EXPECT_EQ(f->VerifyArchive, archive);
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"big.nfo", "small.nfo"}));
}

} // namespace
