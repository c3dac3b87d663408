#include "../viewer/viewerfixture.h"

#include <QLabel>
#include <QMenu>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

class VerifiedPurgeTest : public ViewerFixture {
protected:
    void add(Form6 *f, const QString &entry) {
        select(f->List1, entry);
        QTest::mouseClick(f->Command1, Qt::LeftButton);
    }
    void next(Form6 *f) { QTest::mouseClick(f->Command2, Qt::LeftButton); }
};

TEST_F(VerifiedPurgeTest, AddedNameIsPurgedFromTheNextArchiveBeforeTheUserSeesIt) {
    purgeList({"README.NFO", "*.bak"});
    const QString first =
        zipOf(QStringLiteral("First.ZIP"), {"ReadMe.NFO", "Group.nfo", "Crew.nfo"});
    const QString second =
        zipOf(QStringLiteral("Second.zip"), {"README.nfo", "Other.nfo", "Tool.nfo"});
    Form6 *f = startVerification({first, second});
    ASSERT_NE(f, nullptr);

    add(f, QStringLiteral("readme.nfo"));
    // README.NFO on the list is another line: readme.nfo is appended.
    EXPECT_EQ(linesOf(DataFile::PurgeList), (QStringList{"README.NFO", "*.bak", "readme.nfo"}));
    EXPECT_EQ(linesOf(DataFile::VerifiedPurgeList), QStringList{"readme.nfo"});
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::PurgeStaging)));
    EXPECT_EQ(namesIn(first), (QStringList{"Crew.nfo", "Group.nfo"}));
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"crew.nfo", "group.nfo"}));
    EXPECT_EQ(f->Label3->text(), QStringLiteral(" 2")); // two ".nfo" left: no advance

    // Already on the purge list: the list stays, vpurge.txt still gets it.
    add(f, QStringLiteral("crew.nfo"));
    EXPECT_EQ(f->VerifyArchive, second); // one ".nfo" left: advanced by itself
    EXPECT_EQ(linesOf(DataFile::VerifiedPurgeList), (QStringList{"readme.nfo", "crew.nfo"}));
    EXPECT_EQ(namesIn(first), QStringList{"Group.nfo"});

    EXPECT_EQ(f->Label3->text(), QStringLiteral(" 1"));
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"other.nfo", "tool.nfo"}));
    EXPECT_EQ(namesIn(second), (QStringList{"Other.nfo", "Tool.nfo"}));
    EXPECT_TRUE(f->Command1->isEnabled() && f->Command2->isEnabled() && f->Command3->isEnabled());
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
}

TEST_F(VerifiedPurgeTest, BracketAndNumberSignLinesArePatterns) {
    purgeList({"*.bak"});
    const QString first = zipOf(QStringLiteral("First.zip"),
                                {"File[1].nfo", "Read#1.nfo", "Read11.nfo", "X.nfo", "Y.nfo"});
    const QString second = zipOf(QStringLiteral("Second.zip"),
                                 {"File1.nfo", "File[1].nfo", "Read#1.nfo", "Read21.nfo", "Z.nfo"});
    Form6 *f = startVerification({first, second});
    ASSERT_NE(f, nullptr);
    add(f, QStringLiteral("file[1].nfo"));
    add(f, QStringLiteral("read#1.nfo"));
    EXPECT_EQ(linesOf(DataFile::VerifiedPurgeList), (QStringList{"file[1].nfo", "read#1.nfo"}));
    // Add deletes exactly the chosen entry: read11.nfo stays.
    EXPECT_EQ(namesIn(first), (QStringList{"Read11.nfo", "X.nfo", "Y.nfo"}));

    next(f);
    // "[1]" stands for "1" and "#" for a digit: the lines match other names, not their own.
    EXPECT_EQ(namesIn(second), (QStringList{"File[1].nfo", "Read#1.nfo", "Z.nfo"}));
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"file[1].nfo", "read#1.nfo", "z.nfo"}));
}

TEST_F(VerifiedPurgeTest, WildcardLinesAndAdjacentMatchesAreAllPurged) {
    purgeList({"*.bak"});
    const QString first = zipOf(QStringLiteral("First.zip"),
                                {"Ad*.nfo", "Bbs?.nfo", "Keep1.nfo", "Keep2.nfo", "Keep3.nfo"});
    // Matches side by side in list order, and a name that only the wildcards catch.
    const QString second =
        zipOf(QStringLiteral("Second.zip"),
              {"Ad1.nfo", "Ad2.nfo", "AdX.nfo", "Bbs1.nfo", "Bbs22.nfo", "Keep.nfo", "Other.nfo"});
    Form6 *f = startVerification({first, second});
    ASSERT_NE(f, nullptr);
    add(f, QStringLiteral("ad*.nfo"));
    add(f, QStringLiteral("bbs?.nfo"));
    EXPECT_EQ(linesOf(DataFile::VerifiedPurgeList), (QStringList{"ad*.nfo", "bbs?.nfo"}));
    next(f);
    EXPECT_EQ(namesIn(second), (QStringList{"Bbs22.nfo", "Keep.nfo", "Other.nfo"}));
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"bbs22.nfo", "keep.nfo", "other.nfo"}));
}

TEST_F(VerifiedPurgeTest, DamageMetByTheVerifiedPurgeIsSaidAndStopsIt) {
    purgeList({"*.bak"});
    const QString first = zipOf(QStringLiteral("First.zip"), {"Ad.nfo", "Keep1.nfo", "Keep2.nfo"});
    const QString second =
        zipOf(QStringLiteral("Second.zip"), {"Ad.nfo", "Keep1.nfo", "Keep2.nfo"});
    Form6 *f = startVerification({first, second});
    ASSERT_NE(f, nullptr);
    add(f, QStringLiteral("ad.nfo"));
    // The second archive lists as sound, then its directory is gone before the purge.
    QObject::connect(
        f->XceedZip1, &ZipComponent::Listing, f,
        [&] {
            QByteArray bytes = fileBytes(second);
            bytes.chop(22);
            writeFile(second, bytes);
        },
        Qt::SingleShotConnection);
    next(f);
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_EQ(app.desktop.boxes[0].text, QStringLiteral("Zip crc error, can't purge file"));
    EXPECT_EQ(app.desktop.boxes[0].title, QStringLiteral("Arcsweep"));
    EXPECT_TRUE(f->Command2->isEnabled());        // the buttons are back
    EXPECT_FALSE(QFile::exists(second + ".bad")); // it keeps its name
}

TEST_F(VerifiedPurgeTest, DeleteKeyAdvancesAndTheMenusDeleteStays) {
    purgeList({"*.bak"});
    const QString first = zipOf(QStringLiteral("First.zip"), {"A.nfo", "B.nfo", "C.txt"});
    const QString second = zipOf(QStringLiteral("Second.zip"), {"D.nfo", "E.nfo"});
    const QString third = zipOf(QStringLiteral("Third.zip"), {"F.nfo", "G.nfo", "H.nfo"});
    Form6 *f = startVerification({first, second, third});
    ASSERT_NE(f, nullptr);

    select(f->List1, QStringLiteral("a.nfo"));
    f->delete_->trigger();
    EXPECT_EQ(namesIn(first), (QStringList{"B.nfo", "C.txt"}));
    EXPECT_EQ(f->VerifyArchive, first);
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"b.nfo", "c.txt"}));

    next(f);
    select(f->List1, QStringLiteral("d.nfo"));
    QTest::keyClick(f->List1, Qt::Key_Delete);
    EXPECT_EQ(namesIn(second), QStringList{"E.nfo"});
    EXPECT_EQ(f->VerifyArchive, third);
    EXPECT_EQ(f->Label3->text(), QStringLiteral(" 1"));

    // Nothing selected: nothing deleted, relisted, and the rule keeps three ".nfo" here.
    f->List1->clearSelection();
    QTest::keyClick(f->List1, Qt::Key_Delete);
    EXPECT_EQ(namesIn(third), (QStringList{"F.nfo", "G.nfo", "H.nfo"}));
    EXPECT_EQ(f->VerifyArchive, third);
    // Deletions are not decisions: neither list learns the names.
    EXPECT_EQ(linesOf(DataFile::PurgeList), QStringList{"*.bak"});
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::VerifiedPurgeList)));
}

TEST_F(VerifiedPurgeTest, DeleteOnADamagedArchiveSaysSoAndDoesNotRelist) {
    const QString first =
        zip(QStringLiteral("First.zip"), {{QStringLiteral("A.nfo"), QByteArray(3000, 'a'), true},
                                          {QStringLiteral("B.nfo"), "b"}});
    Form6 *f = startVerification({first});
    ASSERT_NE(f, nullptr);
    // Damaged after it was listed: the end record no longer reads.
    ASSERT_TRUE(corruptByte(first, -22));
    select(f->List1, QStringLiteral("b.nfo"));
    f->delete_->trigger();
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_EQ(app.desktop.boxes[0].text, QStringLiteral("CRC error in ") + first.toLower());
    EXPECT_EQ(app.desktop.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"a.nfo", "b.nfo"}));
    EXPECT_TRUE(QFile::exists(first));
}

} // namespace
