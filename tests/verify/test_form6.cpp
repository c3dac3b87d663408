#include "../viewer/viewerfixture.h"

#include "zip/zipcomponent.h"

#include <QGroupBox>
#include <QLabel>
#include <QMenu>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

class Form6Test : public ViewerFixture {
protected:
    void next(Form6 *f) { QTest::mouseClick(f->Command2, Qt::LeftButton); }
};

TEST_F(Form6Test, QueueIsWalkedWithNextAndHandedBack) {
    const QStringList queue{zipOf(QStringLiteral("First One.ZIP"), {"A.NFO", "B.nfo", "Prog.EXE"}),
                            zipOf(QStringLiteral("Second.zip"), {"C.nfo", "D.nfo"}),
                            zipOf(QStringLiteral("Third.Zip"), {"E.nfo", "F.nfo"})};
    Form6 *f = startVerification(queue);
    ASSERT_NE(f, nullptr);
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(f->windowTitle(), QStringLiteral("Verify extra nfo's"));
    // Over the statistics window it came from.
    EXPECT_LE(std::abs(f->frameGeometry().center().x() - statistics->frameGeometry().center().x()),
              1);
    EXPECT_TRUE(statistics->frameGeometry().contains(f->frameGeometry().center()));
    EXPECT_FALSE(statistics->isEnabled());
    EXPECT_FALSE(form->isEnabled());
    EXPECT_TRUE(app.state.VerifyMode);

    EXPECT_EQ(f->Label3->text(), QStringLiteral(" 3"));
    // The caption is the lower-cased path; the archive is opened by its real one.
    EXPECT_EQ(f->VerifyArchive, queue[0]);
    EXPECT_EQ(f->Label2->text(), queue[0].toLower());
    EXPECT_EQ(f->Label2->toolTip(), f->Label2->text());
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"a.nfo", "b.nfo", "prog.exe"}));

    next(f);
    EXPECT_EQ(f->Label3->text(), QStringLiteral(" 2"));
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"c.nfo", "d.nfo"}));
    next(f);
    EXPECT_EQ(f->Label3->text(), QStringLiteral(" 1"));
    EXPECT_EQ(f->Label2->text(), queue[2].toLower());
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"e.nfo", "f.nfo"}));

    form->List1->addItem(QStringLiteral("stale entry"));
    next(f);
    EXPECT_EQ(verification(), nullptr);
    EXPECT_FALSE(f->isVisible());
    ASSERT_TRUE(statistics);
    EXPECT_TRUE(statistics->isEnabled());
    EXPECT_EQ(statistics->Label11->text(), QStringLiteral("0\nExtra nfos"));
    EXPECT_TRUE(form->isEnabled());
    EXPECT_EQ(form->List1->count(), 0);
    // The run keeps waiting for the statistics window.
    EXPECT_TRUE(app.state.StatsWaiting);
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
}

TEST_F(Form6Test, ExitReleasesTheRunAndClosesTheStatisticsWindow) {
    Form6 *f = startVerification({zipOf(QStringLiteral("Only.zip"), {"A.nfo", "B.nfo"})});
    ASSERT_NE(f, nullptr);
    form->List1->addItem(QStringLiteral("stale entry"));
    QTest::mouseClick(f->Command3, Qt::LeftButton);
    EXPECT_EQ(verification(), nullptr);
    EXPECT_FALSE(app.state.StatsWaiting);
    EXPECT_FALSE(app.state.VerifyMode);
    EXPECT_TRUE(!statistics || !statistics->isVisible());
    EXPECT_TRUE(form->isEnabled());
    EXPECT_EQ(form->List1->count(), 0);
}

TEST_F(Form6Test, LayoutInTwipsAndThePopUpMenu) {
    Form6 *f = startVerification({zipOf(QStringLiteral("Only.zip"), {"A.nfo", "B.nfo"})});
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->size(), QSize(252, 266));
    EXPECT_EQ(f->List1->geometry(), QRect(11, 39, 139, 173));
    EXPECT_EQ(f->Command2->geometry(), QRect(13, 228, 61, 23));
    EXPECT_EQ(f->Command1->geometry(), QRect(87, 228, 61, 23));
    EXPECT_EQ(f->Command3->geometry(), QRect(176, 228, 61, 23));
    EXPECT_EQ(f->Frame1->title(), QStringLiteral("Zips to verify"));
    EXPECT_EQ(f->List1->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_FALSE(f->windowFlags() & Qt::WindowCloseButtonHint);

    QStringList items;
    for (QAction *a : f->menu->actions())
        items.append(a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(items, (QStringList{"&View...", "-", "&Add", "&Delete", "-", "&Next", "-", "E&xit"}));

    const QPoint at = f->List1->visualItemRect(f->List1->item(0)).center();
    QTest::mouseClick(f->List1->viewport(), Qt::LeftButton, {}, at);
    EXPECT_FALSE(f->menu->isVisible());
    QTest::mouseClick(f->List1->viewport(), Qt::RightButton, {}, at);
    EXPECT_TRUE(f->menu->isVisible());
    f->menu->hide();

    // The window cannot be closed from its frame.
    f->close();
    EXPECT_TRUE(f->isVisible());
}

TEST_F(Form6Test, MovedArchiveShowsTheErrorLineAndNextGoesOn) {
    const QString moved = folder + QStringLiteral("/Moved Away.zip");
    const QString second = zipOf(QStringLiteral("Second.zip"), {"C.nfo", "D.nfo"});
    Form6 *f = startVerification({moved, second});
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(entriesOf(f->List1), QStringList{"         --> Error! <--"});
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
    next(f);
    EXPECT_EQ(f->Label3->text(), QStringLiteral(" 1"));
    EXPECT_EQ(entriesOf(f->List1), (QStringList{"c.nfo", "d.nfo"}));
}

TEST_F(Form6Test, DamagedArchiveIsRenamedWhateverTheVolume) {
    const QString damaged =
        zip(QStringLiteral("Broken.ZIP"), {{QStringLiteral("A.nfo"), QByteArray(3000, 'a'), true},
                                           {QStringLiteral("B.nfo"), "b"}});
    ASSERT_TRUE(corruptByte(damaged, 200));
    writeFile(damaged + QStringLiteral(".bad"), "older quarantined copy");
    form->DiskInfo1.forcedAnswer = 2; // the main window would keep the name here
    Form6 *f = startVerification({damaged});
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_EQ(app.desktop.boxes[0].text, QStringLiteral("CRC error in - ") + damaged.toLower());
    EXPECT_EQ(app.desktop.boxes[0].title, QStringLiteral("Arcsweep error"));
    EXPECT_EQ(app.desktop.boxes[0].icon, MsgIcon::Critical);
    EXPECT_FALSE(QFile::exists(damaged));
    EXPECT_NE(fileBytes(damaged + QStringLiteral(".bad")), QByteArray("older quarantined copy"));
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::ErrorLog)));
    EXPECT_EQ(f->VerifyArchive, damaged);
}

TEST_F(Form6Test, LoadStartsAFreshVerifiedPurgeListAndNeedsAQueue) {
    writeFile(app.appFile(DataFile::VerifiedPurgeList), "a.nfo\r\n");
    const QString first = zipOf(QStringLiteral("First.zip"), {"A.nfo", "B.nfo"});
    Form6 *f = startVerification({first});
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::VerifiedPurgeList)));
    EXPECT_EQ(namesIn(first), (QStringList{"A.nfo", "B.nfo"}));
    QTest::mouseClick(f->Command3, Qt::LeftButton);

    // Without a VerifyList the window does not appear and the statistics window is usable.
    TextFile::writeLines(app.appFile(DataFile::VerifyList), {first});
    form->showStatistics(app.tree);
    statistics = form->statistics();
    ASSERT_TRUE(statistics);
    QFile::remove(app.appFile(DataFile::VerifyList));
    QTest::mouseClick(statistics->Command3, Qt::LeftButton);
    EXPECT_EQ(verification(), nullptr);
    EXPECT_TRUE(statistics->isEnabled());
}

} // namespace
