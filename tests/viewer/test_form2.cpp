#include "viewerfixture.h"

#include "controls/sspanel.h"

#include <QProcess>
#include <QScreen>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

class Form2Test : public ViewerFixture {
protected:
    void SetUp() override {
        ViewerFixture::SetUp();
        archive = zipOf(QStringLiteral("Release.ZIP"), {"X.nfo", "Ad.TXT", "Read#1.nfo",
                                                        "Read11.nfo", "File[1].nfo", "File1.nfo"});
        openArchive(QStringLiteral("Release.ZIP"));
        doubleClickEntry(QStringLiteral("x.nfo"));
        ASSERT_TRUE(viewerShown());
    }
    void pressAdd() { QTest::mouseClick(viewer()->Command1, Qt::LeftButton); }
    QString archive;
};

TEST_F(Form2Test, ResizeKeepsTheButtonAtTheRightEdgeUnlessMinimised) {
    Form2 *f = viewer();
    EXPECT_EQ(f->size(), QSize(655, 382));
    // Placed by the resize rule once shown: 655 - 100 (1500 twips).
    EXPECT_EQ(f->Command1->geometry(), QRect(555, 18, 63, 23));
    f->resize(400, 300); // 6000 twips wide
    EXPECT_EQ(f->Text1->geometry(), QRect(0, 2, 400, 300));
    EXPECT_EQ(f->Command1->geometry(), QRect(300, 18, 63, 23));

    f->showMinimized();
    f->resize(500, 320);
    EXPECT_EQ(f->Command1->x(), 300);
    EXPECT_EQ(f->Text1->width(), 400);
}

// The viewer opens inside the screen's available area, here and again in a process
// drawn at scale 2, where its 655 pixels are wider than the screen (400 offscreen).
TEST_F(Form2Test, OpensInsideTheScreenAtAnyScale) {
    Form2 *f = viewer();
    EXPECT_TRUE(f->screen()->availableGeometry().contains(f->frameGeometry()));
    if (qEnvironmentVariableIsSet("QT_SCALE_FACTOR"))
        return;
    QProcess scaled;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QStringLiteral("2"));
    scaled.setProcessEnvironment(env);
    scaled.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=Form2Test.OpensInsideTheScreenAtAnyScale")});
    ASSERT_TRUE(scaled.waitForFinished(120000));
    EXPECT_EQ(scaled.exitCode(), 0) << scaled.readAllStandardOutput().toStdString();
}

TEST_F(Form2Test, DoubleClickTogglesMaximisedWithTheCaretAtTheStart) {
    Form2 *f = viewer();
    f->Text1->moveCursor(QTextCursor::End);
    ASSERT_GT(f->Text1->textCursor().position(), 0);
    QTest::mouseDClick(f->Text1->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_TRUE(f->isMaximized());
    EXPECT_EQ(f->Text1->textCursor().position(), 0);
    EXPECT_FALSE(f->Text1->textCursor().hasSelection());
    EXPECT_TRUE(f->Text1->isEnabled());

    f->Text1->moveCursor(QTextCursor::End);
    QTest::mouseDClick(f->Text1->viewport(), Qt::LeftButton, {}, QPoint(20, 10));
    EXPECT_FALSE(f->isMaximized());
    EXPECT_EQ(f->Text1->textCursor().position(), 0);
}

TEST_F(Form2Test, AddFromTheMainWindow) {
    purgeList({"*.bak", "AD.TXT"});
    app.selectEntries({"ad.txt"});
    pressAdd();
    // A line that differs only in case is another line: the name is appended.
    EXPECT_EQ(linesOf(DataFile::PurgeList), (QStringList{"*.bak", "AD.TXT", "ad.txt"}));
    EXPECT_EQ(form->SSPanel2->Caption(), QStringLiteral("ad.txt added"));
    EXPECT_FALSE(viewerShown());
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::PurgeStaging)));
    EXPECT_FALSE(namesIn(archive).contains(QStringLiteral("Ad.TXT")));
    EXPECT_FALSE(app.entries().contains(QStringLiteral("ad.txt")));
    EXPECT_EQ(app.entries().size(), 5);
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::VerifiedPurgeList)));

    // Already a line: purge.txt unchanged, caption cleared, the entry still deleted.
    doubleClickEntry(QStringLiteral("x.nfo"));
    app.selectEntries({"x.nfo"});
    purgeList({"x.nfo"});
    pressAdd();
    EXPECT_EQ(linesOf(DataFile::PurgeList), QStringList{"x.nfo"});
    EXPECT_EQ(form->SSPanel2->Caption(), QString());
    EXPECT_FALSE(namesIn(archive).contains(QStringLiteral("X.nfo")));
    EXPECT_FALSE(app.entries().contains(QStringLiteral("x.nfo")));
}

TEST_F(Form2Test, AddDeletesExactlyTheSelectedNames) {
    purgeList({"keep.me"});
    app.selectEntries({"read#1.nfo", "file[1].nfo"});
    pressAdd();
    EXPECT_EQ(linesOf(DataFile::PurgeList), (QStringList{"keep.me", "file[1].nfo", "read#1.nfo"}));
    // "#" and "[1]" are pattern characters: read11.nfo and file1.nfo must survive.
    EXPECT_EQ(namesIn(archive), (QStringList{"Ad.TXT", "File1.nfo", "Read11.nfo", "X.nfo"}));
    EXPECT_EQ(app.entries(), (QStringList{"ad.txt", "file1.nfo", "read11.nfo", "x.nfo"}));
    EXPECT_TRUE(form->List1->selectedItems().isEmpty());
}

TEST_F(Form2Test, AddWithoutAPurgeListChangesNothing) {
    app.selectEntries({"ad.txt"});
    pressAdd();
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_EQ(app.desktop.boxes[0].text, QStringLiteral("No purge list exists"));
    EXPECT_EQ(app.desktop.boxes[0].title, QStringLiteral("Arcsweep error"));
    EXPECT_EQ(app.desktop.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_TRUE(viewerShown());
    EXPECT_EQ(namesIn(archive).size(), 6);
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::PurgeList)));
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::PurgeStaging)));
}

TEST_F(Form2Test, AddThatCannotWriteThePurgeListSaysWhyAndKeepsTheArchive) {
    purgeList({"old.txt"});
    // purge.bak cannot be created: a folder of that name stands in its way.
    QDir().mkpath(app.appFile(DataFile::PurgeStaging));
    app.selectEntries({"ad.txt"});
    pressAdd();
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_TRUE(app.desktop.boxes[0].text.contains(QStringLiteral("purge.bak")));
    EXPECT_EQ(linesOf(DataFile::PurgeList), QStringList{"old.txt"});
    EXPECT_TRUE(namesIn(archive).contains(QStringLiteral("Ad.TXT")));
    EXPECT_TRUE(app.entries().contains(QStringLiteral("ad.txt")));
}

} // namespace
