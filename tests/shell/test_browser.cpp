#include "appfixture.h"

#include "controls/aniicon.h"
#include "controls/drivelistbox.h"
#include "controls/sspanel.h"

#include "windows/form3.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

// A folder of sound archives and one holding a damaged archive beside a sound one
// whose names differ only in case.
class ArchiveTestFixture : public ::testing::Test {
protected:
    void SetUp() override {
        folder = app.tree + QStringLiteral("/My Zips");
        badFolder = app.tree + QStringLiteral("/Bad Zips");
        QDir().mkpath(folder);
        QDir().mkpath(badFolder);
        const QList<ZipFixtureEntry> three = {{QStringLiteral("Zeta.NFO"), "z"},
                                              {QStringLiteral("Alpha.txt"), "a"},
                                              {QStringLiteral("Docs/Middle.DIZ"), "m"}};
        ASSERT_TRUE(writeZip(folder + QStringLiteral("/name.zip"), three));
        ASSERT_TRUE(
            writeZip(folder + QStringLiteral("/Other.zip"), {{QStringLiteral("o.txt"), "o"}}));
        ASSERT_TRUE(writeZip(badFolder + QStringLiteral("/name.zip"), three));
        ASSERT_TRUE(writeZip(badFolder + QStringLiteral("/Name.ZIP"),
                             {{QStringLiteral("Data.bin"), QByteArray(4000, 'd'), true}}));
        ASSERT_TRUE(corruptByte(badFolder + QStringLiteral("/Name.ZIP"), 100)); // inside the data
        writeFile(badFolder + QStringLiteral("/Name.ZIP.bad"), "older quarantined copy");
        writeFile(badFolder + QStringLiteral("/name.zip.bad"), "the other one's copy");
        form = &app.makeForm();
    }
    void click(const QString &name) { app.clickArchive(name); }
    AppFixture app;
    QString folder, badFolder;
    Form1 *form = nullptr;
};

// The files below `folder` that this process holds open.
QStringList openBelow(const QString &folder) {
    QStringList open;
    for (const QFileInfo &fd : QDir("/proc/self/fd").entryInfoList(QDir::System | QDir::Files))
        if (const QString target = fd.symLinkTarget(); target.startsWith(folder + u'/'))
            open.append(target);
    return open;
}

TEST_F(ArchiveTestFixture, SoundArchiveListsSortedInLowerCase) {
    app.browse(folder);
    EXPECT_EQ(app.files(), (QStringList{"name.zip", "Other.zip"}));
    // Choosing the folder tested its first archive.
    EXPECT_EQ(app.entries(), (QStringList{"alpha.txt", "docs/middle.diz", "zeta.nfo"}));
    EXPECT_EQ(form->SSPanel1->Caption(), QStringLiteral("name.zip"));
    click(QStringLiteral("Other.zip"));
    EXPECT_EQ(app.entries(), QStringList{"o.txt"});
    EXPECT_EQ(form->SSPanel1->Caption(), QStringLiteral("other.zip"));
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
    // Idle again: no archive stays open, so the volume could be unmounted.
    EXPECT_EQ(openBelow(folder), QStringList{});
}

TEST_F(ArchiveTestFixture, DamagedArchiveIsReportedAndSetAside) {
    // Name.ZIP sorts first, so choosing the folder tests it.
    app.browse(badFolder);
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_EQ(app.desktop.boxes[0].text, QStringLiteral("CRC error in - ") +
                                             (badFolder + QStringLiteral("/Name.ZIP")).toLower());
    EXPECT_EQ(app.desktop.boxes[0].title, QStringLiteral("Arcsweep error"));
    EXPECT_EQ(app.desktop.boxes[0].icon, MsgIcon::Critical);
    EXPECT_FALSE(QFile::exists(badFolder + QStringLiteral("/Name.ZIP")));
    EXPECT_NE(fileBytes(badFolder + QStringLiteral("/Name.ZIP.bad")),
              QByteArray("older quarantined copy"));
    EXPECT_EQ(fileBytes(badFolder + QStringLiteral("/name.zip.bad")),
              QByteArray("the other one's copy"));
    EXPECT_EQ(readZip(badFolder + QStringLiteral("/name.zip")).size(), 3);
    EXPECT_EQ(app.files(), QStringList{"name.zip"});
}

TEST_F(ArchiveTestFixture, ReadOnlyVolumeKeepsTheName) {
    form->DiskInfo1.forcedAnswer = 2;
    app.browse(badFolder);
    EXPECT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_TRUE(QFile::exists(badFolder + QStringLiteral("/Name.ZIP")));
    EXPECT_EQ(fileBytes(badFolder + QStringLiteral("/Name.ZIP.bad")),
              QByteArray("older quarantined copy"));
    EXPECT_EQ(app.files(), (QStringList{"Name.ZIP", "name.zip"}));
    // Selecting it again reports it again.
    click(QStringLiteral("name.zip"));
    click(QStringLiteral("Name.ZIP"));
    EXPECT_EQ(app.desktop.boxes.size(), 2);
}

TEST_F(ArchiveTestFixture, UnattendedProgramRenamesWithoutAMessage) {
    app.state.CommandLine = QStringLiteral("/somewhere");
    app.browse(badFolder);
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
    EXPECT_FALSE(QFile::exists(badFolder + QStringLiteral("/Name.ZIP")));
}

TEST_F(ArchiveTestFixture, ArchiveGoneBehindOurBackShowsTheErrorLine) {
    app.browse(folder);
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/Other.zip")));
    click(QStringLiteral("Other.zip"));
    EXPECT_EQ(app.entries(), QStringList{"         --> Error! <--"});
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
}

TEST_F(ArchiveTestFixture, FolderWithoutArchivesEmptiesTheLists) {
    app.browse(folder);
    click(QStringLiteral("name.zip"));
    ASSERT_FALSE(app.entries().isEmpty());
    const QString empty = app.tree + QStringLiteral("/Empty Folder");
    QDir().mkpath(empty);
    app.browse(empty);
    EXPECT_TRUE(app.entries().isEmpty());
    EXPECT_TRUE(app.files().isEmpty());
    // With nothing selected the test makes no call and leaves the list empty.
    form->ArchiveTest();
    EXPECT_TRUE(app.entries().isEmpty());
}

TEST_F(ArchiveTestFixture, DeleteKeyDeletesOnlyTheFirstSelectedEntry) {
    app.browse(folder);
    click(QStringLiteral("name.zip"));
    app.selectEntries({"alpha.txt", "docs/middle.diz", "zeta.nfo"});
    QTest::keyClick(form->List1, Qt::Key_Delete);
    EXPECT_EQ(app.entries(), (QStringList{"docs/middle.diz", "zeta.nfo"}));
    const auto kept = readZip(folder + QStringLiteral("/name.zip"));
    ASSERT_EQ(kept.size(), 2);
    EXPECT_EQ(kept[0].name, QStringLiteral("Zeta.NFO"));
    EXPECT_EQ(kept[0].data, QByteArray("z"));
}

TEST_F(ArchiveTestFixture, KeysDoNothingWhileARunIsActive) {
    app.browse(folder);
    click(QStringLiteral("name.zip"));
    app.selectEntries({"alpha.txt"});
    app.state.Running = true;
    QTest::keyClick(form->List1, Qt::Key_Delete);
    QTest::keyClick(form->List1, Qt::Key_F1);
    EXPECT_EQ(readZip(folder + QStringLiteral("/name.zip")).size(), 3);
    ASSERT_EQ(app.desktop.opened.size(), 1); // F1 works at any time
    EXPECT_TRUE(app.desktop.opened[0].toLocalFile().endsWith(QStringLiteral("/Arcsweep.html")));
    // Esc during a run asks it to stop; outside a run it does nothing.
    QTest::keyClick(form->List1, Qt::Key_Escape);
    EXPECT_FALSE(app.state.Running);
    EXPECT_TRUE(app.state.AbortRequested);
    EXPECT_TRUE(form->XceedZip1->Abort);
    app.state.AbortRequested = false;
    form->XceedZip1->Abort = false;
    QTest::keyClick(form->List1, Qt::Key_Escape);
    EXPECT_FALSE(app.state.Running);
    EXPECT_FALSE(app.state.AbortRequested);
}

TEST_F(ArchiveTestFixture, DeleteOnADamagedArchiveWarnsAndKeepsIt) {
    form->DiskInfo1.forcedAnswer = 2; // the listing leaves the damaged archive in place
    app.browse(badFolder);
    app.desktop.boxes.clear();
    form->List1->addItem(QStringLiteral("data.bin"));
    app.selectEntries({"data.bin"});
    // The directory is gone too: the delete cannot even open the archive.
    writeFile(badFolder + QStringLiteral("/Name.ZIP"), randomBytes(3000, 5));
    const QByteArray before = fileBytes(badFolder + QStringLiteral("/Name.ZIP"));
    form->DeleteSelectedEntry();
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_EQ(app.desktop.boxes[0].text, QStringLiteral("CRC error in ") +
                                             (badFolder + QStringLiteral("/Name.ZIP")).toLower());
    EXPECT_EQ(app.desktop.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(fileBytes(badFolder + QStringLiteral("/Name.ZIP")), before);
}

TEST_F(ArchiveTestFixture, RightClickOpensThePopUpOnlyWhenIdle) {
    EXPECT_FALSE(form->menuBar()->actions().contains(form->menu->menuAction()));
    EXPECT_EQ(form->view->text(), QStringLiteral("&View"));
    app.state.Running = true;
    QTest::mouseClick(form->List1->viewport(), Qt::RightButton);
    EXPECT_FALSE(form->menu->isVisible());
    app.state.Running = false;
    QTest::mouseClick(form->List1->viewport(), Qt::RightButton);
    EXPECT_TRUE(form->menu->isVisible());
    form->menu->hide();
}

// The Add of the main window.
class AddFixture : public ArchiveTestFixture {};

TEST_F(AddFixture, AddsNewNamesDeletesEveryEntryAndRelists) {
    writeFile(app.appFile(DataFile::PurgeList), "AD.TXT\r\nzeta.nfo\r\n");
    app.browse(folder);
    click(QStringLiteral("name.zip"));
    app.selectEntries({"alpha.txt", "zeta.nfo"});
    form->Command1->click();
    EXPECT_EQ(fileBytes(app.appFile(DataFile::PurgeList)),
              QByteArray("AD.TXT\r\nzeta.nfo\r\nalpha.txt\r\n"));
    EXPECT_EQ(app.entries(), QStringList{"docs/middle.diz"});
    EXPECT_EQ(readZip(folder + QStringLiteral("/name.zip")).size(), 1);
    EXPECT_EQ(form->SSPanel2->Caption(), QString()); // the last one was already listed
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::PurgeStaging)));

    app.selectEntries({"docs/middle.diz"});
    form->add->trigger(); // the pop-up item does what the button does
    EXPECT_EQ(form->SSPanel2->Caption(), QStringLiteral("docs/middle.diz added"));
    EXPECT_TRUE(app.entries().isEmpty());
    EXPECT_TRUE(readZip(folder + QStringLiteral("/name.zip")).isEmpty());
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/name.zip"))); // emptied, never removed
}

TEST_F(AddFixture, WithoutAPurgeListNothingChanges) {
    app.browse(folder);
    click(QStringLiteral("name.zip"));
    app.selectEntries({"alpha.txt"});
    const QByteArray before = fileBytes(folder + QStringLiteral("/name.zip"));
    form->Command1->click();
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_EQ(app.desktop.boxes[0].text, QStringLiteral("No purge list exists"));
    EXPECT_EQ(app.desktop.boxes[0].title, QStringLiteral("Arcsweep error"));
    EXPECT_EQ(app.desktop.boxes[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(fileBytes(folder + QStringLiteral("/name.zip")), before);
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::PurgeList)));
}

TEST_F(AddFixture, UnwritableStagingFileIsReportedAndTheListKept) {
    writeFile(app.appFile(DataFile::PurgeList), "one\r\n");
    QDir().mkpath(app.appFile(DataFile::PurgeStaging));
    app.browse(folder);
    click(QStringLiteral("name.zip"));
    app.selectEntries({"alpha.txt"});
    form->Command1->click();
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_TRUE(app.desktop.boxes[0].text.contains(QStringLiteral("purge.bak")));
    EXPECT_EQ(fileBytes(app.appFile(DataFile::PurgeList)), QByteArray("one\r\n"));
    EXPECT_EQ(readZip(folder + QStringLiteral("/name.zip")).size(), 3);
}

// Menu commands.
TEST(MenuCommands, StatsLogOpenAndDeleteWithItsQuestion) {
    AppFixture app;
    Form1 &form = app.makeForm();
    form.log->trigger();
    form.dslog->trigger();
    EXPECT_TRUE(app.desktop.opened.isEmpty());
    EXPECT_TRUE(app.desktop.boxes.isEmpty()); // no log: nothing happens

    writeFile(app.appFile(DataFile::StatsLog), "record\r\n");
    form.log->trigger();
    ASSERT_EQ(app.desktop.opened.size(), 1);
    EXPECT_EQ(app.desktop.opened[0].toLocalFile(), app.appFile(DataFile::StatsLog));

    app.desktop.answers = {MsgAnswer::No, MsgAnswer::Yes};
    form.dslog->trigger();
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_EQ(app.desktop.boxes[0].text, QStringLiteral("Delete status log?"));
    EXPECT_EQ(app.desktop.boxes[0].title, QStringLiteral("Arcsweep"));
    EXPECT_EQ(app.desktop.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_TRUE(QFile::exists(app.appFile(DataFile::StatsLog)));
    form.dslog->trigger();
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::StatsLog)));
    form.log->trigger();
    EXPECT_EQ(app.desktop.opened.size(), 1);
}

TEST(MenuCommands, FilesPagesAndAbout) {
    AppFixture app;
    Form1 &form = app.makeForm();
    form.vpurge->trigger(); // no purge list: nothing
    EXPECT_TRUE(app.desktop.opened.isEmpty());
    writeFile(app.appFile(DataFile::PurgeList), "x\r\n");
    form.vpurge->trigger();
    EXPECT_FALSE(form.errors->isEnabled()); // until a run has met a damaged archive
    form.errors->setEnabled(true);
    form.errors->trigger(); // handed over whether or not it exists
    form.contents->trigger();
    form.web->trigger();
    ASSERT_EQ(app.desktop.opened.size(), 4);
    EXPECT_EQ(app.desktop.opened[0].toLocalFile(), app.appFile(DataFile::PurgeList));
    EXPECT_EQ(app.desktop.opened[1].toLocalFile(), app.appFile(DataFile::ErrorLog));
    EXPECT_EQ(app.desktop.opened[2].toLocalFile(), app.appFile(DataFile::HelpPage));
    EXPECT_FALSE(app.desktop.opened[3].isLocalFile());

    form.about->trigger();
    ASSERT_EQ(app.desktop.sounds.size(), 1);
    EXPECT_EQ(app.desktop.sounds[0].path, app.appFile(DataFile::ThunderWave));
    EXPECT_TRUE(app.desktop.sounds[0].wait);
    ASSERT_NE(form.splash(), nullptr);
    EXPECT_FALSE(form.splash()->isVisible()); // shown only while the sound plays
    QTest::mouseClick(form.SSPanel3, Qt::LeftButton);
    EXPECT_EQ(app.desktop.sounds.size(), 2);
}

TEST(MainWindow, ControlsCaptionsAndShortcuts) {
    AppFixture app;
    Form1 &form = app.makeForm();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Arcsweep"));
    EXPECT_EQ(form.Command1->text(), QStringLiteral("&Add"));
    EXPECT_EQ(form.Command2->text(), QStringLiteral("&Clean all"));
    EXPECT_EQ(form.Command3->text(), QStringLiteral("E&xit"));
    EXPECT_EQ(form.List1->toolTip(), QStringLiteral("Double-click on *.nfo to view"));
    EXPECT_EQ(form.vpurge->shortcut(), QKeySequence(QStringLiteral("Ctrl+P")));
    EXPECT_EQ(form.errors->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
    EXPECT_EQ(form.about->shortcut(), QKeySequence(QStringLiteral("Ctrl+A")));
    EXPECT_FALSE(form.AniIcon1->isVisible());
    EXPECT_EQ(form.centralWidget()->size(), QSize(420, 281));
}

} // namespace

namespace {

TEST(Browser, DriveThatCannotBeReadFallsBackToTheRoot) {
    AppFixture app;
    Form1 &form = app.makeForm();
    app.browse(app.tree);
    // A volume whose medium is gone: its root no longer exists.
    form.Drive1->addItem(QStringLiteral("/media/No Medium"), QStringLiteral("/media/No Medium"));
    emit form.Drive1->activated(form.Drive1->count() - 1);
    EXPECT_EQ(form.Dir1->Path(), QStringLiteral("/"));
    EXPECT_EQ(form.Drive1->Drive(), QStringLiteral("/"));
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
    // The window stays usable.
    app.browse(app.tree);
    EXPECT_EQ(form.Dir1->Path(), app.tree);
}

TEST(Browser, ClickDuringARunLeavesTheListsToTheRun) {
    AppFixture app;
    const QString folder = app.tree + QStringLiteral("/Run Zips");
    QDir().mkpath(folder);
    ASSERT_TRUE(writeZip(folder + QStringLiteral("/A.zip"), {{QStringLiteral("A.TXT"), "a"}}));
    ASSERT_TRUE(writeZip(folder + QStringLiteral("/B.zip"), {{QStringLiteral("B.TXT"), "b"}}));
    Form1 &form = app.makeForm();
    app.browse(folder);
    ASSERT_EQ(app.entries(), QStringList{"a.txt"});
    app.state.Running = true;
    app.state.VerifyMode = true;
    app.clickArchive(QStringLiteral("B.zip"));
    EXPECT_FALSE(app.state.VerifyMode);
    EXPECT_EQ(app.entries(), QStringList{"a.txt"});
    EXPECT_EQ(form.SSPanel1->Caption(), QStringLiteral("a.zip"));
    app.state.Running = false;
}

} // namespace

namespace {

// Names with pattern characters select only themselves when deleted or added.
TEST(EntryNames, DeleteAndAddTouchOnlyTheChosenEntry) {
    AppFixture app;
    const QString folder = app.tree + QStringLiteral("/Odd Names");
    QDir().mkpath(folder);
    const QString archive = folder + QStringLiteral("/Odd.zip");
    ASSERT_TRUE(writeZip(archive, {{QStringLiteral("Read#1.nfo"), "1"},
                                   {QStringLiteral("read11.nfo"), "2"},
                                   {QStringLiteral("File[1].nfo"), "3"},
                                   {QStringLiteral("file1.nfo"), "4"}}));
    writeFile(app.appFile(DataFile::PurgeList), "x\r\n");
    Form1 &form = app.makeForm();
    app.browse(folder);
    app.selectEntries({"read#1.nfo"});
    form.DeleteSelectedEntry();
    EXPECT_EQ(app.entries(), (QStringList{"file1.nfo", "file[1].nfo", "read11.nfo"}));
    app.selectEntries({"file[1].nfo"});
    form.Command1_Click();
    EXPECT_EQ(app.entries(), (QStringList{"file1.nfo", "read11.nfo"}));
    EXPECT_EQ(fileBytes(app.appFile(DataFile::PurgeList)), QByteArray("x\r\nfile[1].nfo\r\n"));
}

} // namespace

namespace {

// Names that are not UTF-8: shown readable, worked on by their bytes.
TEST(Browser, ANameThatIsNotUtf8IsShownWithAReplacementAndWorkedOnByItsBytes) {
    AppFixture app;
    const QByteArray folder = QFile::encodeName(app.tree) + "/Caf\xe9 Zips";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    const QByteArray archive = folder + "/Caf\xe9.ZIP";
    const QString scratch = app.tree + QStringLiteral("/scratch.zip");
    ASSERT_TRUE(
        writeZip(scratch, {{QStringLiteral("Junk.TXT"), "j"}, {QStringLiteral("Keep.TXT"), "k"}}));
    ASSERT_EQ(::rename(QFile::encodeName(scratch).constData(), archive.constData()), 0);
    Form1 &form = app.makeForm();
    app.browse(app.tree);
    const auto items = form.Dir1->findItems(QStringLiteral("Caf\uFFFD Zips"), Qt::MatchEndsWith);
    ASSERT_EQ(items.size(), 1);
    doubleClickRow(form.Dir1, form.Dir1->row(items.first()));
    ASSERT_EQ(form.File1->count(), 1);
    EXPECT_EQ(form.File1->item(0)->text(), QStringLiteral("Caf\uFFFD.ZIP"));
    EXPECT_EQ(app.entries(), (QStringList{"junk.txt", "keep.txt"}));
    EXPECT_EQ(form.SSPanel1->Caption(), QStringLiteral("caf\uFFFD.zip"));
    app.selectEntries({QStringLiteral("junk.txt")});
    pressKey(&form, Qt::Key_Delete);
    EXPECT_EQ(app.entries(), QStringList{"keep.txt"});
    QProcess::execute(QStringLiteral("rm"), {"-rf", app.tree}); // Qt's removal cannot spell it
}

} // namespace
