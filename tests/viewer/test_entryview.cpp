#include "viewerfixture.h"

#include "controls/filelistbox.h"
#include "controls/sspanel.h"
#include "viewer/entryview.h"

#include <QFontInfo>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

class EntryViewTest : public ViewerFixture {};

TEST_F(EntryViewTest, LineEndsAsTheViewerShowsThem) {
    zip(QStringLiteral("Texts.ZIP"), {{QStringLiteral("Unix.NFO"), "One\nTwo\r\nThree\rFour\n"},
                                      {QStringLiteral("Dos.nfo"), "One\r\nTwo\r\n"},
                                      {QStringLiteral("DosNoEnd.txt"), "One\r\nTwo"},
                                      {QStringLiteral("Single.txt"), "just one line"},
                                      {QStringLiteral("Empty.diz"), ""}});
    openArchive(QStringLiteral("Texts.ZIP"));

    // LF first: every LF is a line end, every CR is dropped.
    doubleClickEntry(QStringLiteral("unix.nfo"));
    ASSERT_TRUE(viewerShown());
    EXPECT_EQ(viewer()->windowTitle(), QStringLiteral("unix.nfo"));
    EXPECT_EQ(app.state.ViewedEntry, QStringLiteral("unix.nfo"));
    EXPECT_EQ(shownText(), QStringLiteral("One\nTwo\nThreeFour\n"));
    EXPECT_TRUE(QFile::exists(app.state.tempFolder() + QStringLiteral("/unix.nfo")));

    // CR LF first: the text as it is, without the final line-end byte.
    doubleClickEntry(QStringLiteral("dos.nfo"));
    EXPECT_EQ(viewer()->windowTitle(), QStringLiteral("dos.nfo"));
    EXPECT_EQ(shownText(), QStringLiteral("One\nTwo\n"));
    doubleClickEntry(QStringLiteral("dosnoend.txt"));
    EXPECT_EQ(shownText(), QStringLiteral("One\nTwo"));

    doubleClickEntry(QStringLiteral("single.txt"));
    EXPECT_EQ(shownText(), QStringLiteral("just one line"));
    doubleClickEntry(QStringLiteral("empty.diz"));
    EXPECT_TRUE(viewerShown());
    EXPECT_EQ(shownText(), QString());
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
    EXPECT_TRUE(form->cursor().shape() != Qt::WaitCursor);
}

TEST_F(EntryViewTest, DosArtIsDecodedWithDosGlyphsLightGreyOnBlack) {
    const QByteArray art =
        "\xC9\xCD\xCD\xBB\r\n\xBA\xB0\xB1\xB2\xBA\r\n\xC8\xDB\xDB\xBC\t\x01\x7F\r\n";
    zip(QStringLiteral("Art.zip"), {{QStringLiteral("GROUP.NFO"), art}});
    openArchive(QStringLiteral("Art.zip"));
    doubleClickEntry(QStringLiteral("group.nfo"));
    ASSERT_TRUE(viewerShown());
    EXPECT_EQ(shownText(), QString::fromUtf8("╔══╗\n║░▒▓║\n╚██╝\t☺⌂\n"));

    QPlainTextEdit *text = viewer()->Text1;
    EXPECT_TRUE(text->isReadOnly());
    EXPECT_EQ(text->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(text->palette().color(QPalette::Base), QColor(Qt::black));
    EXPECT_EQ(text->palette().color(QPalette::Text), QColor(224, 224, 224));
    EXPECT_TRUE(QFontInfo(text->font()).fixedPitch());
    EXPECT_EQ(viewer()->Command1->text(), QStringLiteral("&Add"));
    EXPECT_EQ(viewer()->Command1->toolTip(), QStringLiteral("Add to purge.txt"));
    EXPECT_FALSE(viewer()->Command1->icon().isNull());
}

TEST_F(EntryViewTest, OnlyTextEntriesAreViewed) {
    zipOf(QStringLiteral("Mixed.zip"),
          {"Read.Me", "ReadMe", "File.doc", "Docs/Inner.DIZ", "Picture.gif"});
    openArchive(QStringLiteral("Mixed.zip"));
    for (const char *ignored : {"readme", "file.doc", "picture.gif"}) {
        doubleClickEntry(QString::fromLatin1(ignored));
        EXPECT_FALSE(viewerShown()) << ignored;
    }
    EXPECT_TRUE(QDir(app.state.tempFolder()).isEmpty());

    doubleClickEntry(QStringLiteral("read.me"));
    ASSERT_TRUE(viewerShown());
    EXPECT_EQ(shownText(), QStringLiteral("Text of Read.Me\n"));

    // Stored below a folder: extracted there, read from there.
    doubleClickEntry(QStringLiteral("docs/inner.diz"));
    EXPECT_EQ(shownText(), QStringLiteral("Text of Docs/Inner.DIZ\n"));
    EXPECT_EQ(viewer()->windowTitle(), QStringLiteral("docs/inner.diz"));
}

TEST_F(EntryViewTest, FirstSelectedEntryIsViewedAndRememberedForTheNextArchive) {
    zipOf(QStringLiteral("One.zip"), {"B.nfo", "A.nfo", "C.txt"});
    zip(QStringLiteral("Two.zip"), {{QStringLiteral("A.NFO"), "second archive's a\r\n"}});
    openArchive(QStringLiteral("One.zip"));
    app.selectEntries({"c.txt", "b.nfo"});
    form->List1_DblClick();
    EXPECT_EQ(shownText(), QStringLiteral("Text of B.nfo\n"));

    app.selectEntries({"a.nfo"});
    form->List1_DblClick();
    // Another archive and nothing selected: the remembered name, from the new archive.
    openArchive(QStringLiteral("Two.zip"));
    ASSERT_TRUE(form->List1->selectedItems().isEmpty());
    form->List1_DblClick();
    EXPECT_EQ(shownText(), QStringLiteral("second archive's a\n"));

    // While a clean-all run works on the lists, a double-click does nothing.
    viewer()->close();
    app.state.Running = true;
    form->List1_DblClick();
    app.state.Running = false;
    EXPECT_FALSE(viewerShown());
}

TEST_F(EntryViewTest, FailedExtractionShowsNoOlderCopy) {
    // An earlier viewing of the same name from another archive must not be shown.
    zip(QStringLiteral("First.zip"), {{QStringLiteral("Info.nfo"), "from the first archive"}});
    zip(QStringLiteral("Second.zip"), {{QStringLiteral("Info.nfo"), "from the second archive"}});
    openArchive(QStringLiteral("First.zip"));
    doubleClickEntry(QStringLiteral("info.nfo"));
    EXPECT_EQ(shownText(), QStringLiteral("from the first archive"));
    openArchive(QStringLiteral("Second.zip"));
    QFile::remove(folder + QStringLiteral("/Second.zip")); // gone before the extraction
    doubleClickEntry(QStringLiteral("info.nfo"));
    EXPECT_TRUE(viewerShown());
    EXPECT_EQ(shownText(), QString());
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
}

TEST_F(EntryViewTest, HostileNamesReadAndWriteNothingOutsideTheTempFolder) {
    const QString outside = app.appFolder + QStringLiteral("/escape.nfo");
    writeFile(outside, "OUTSIDE FILE");
    zip(QStringLiteral("Hostile.zip"),
        {{QStringLiteral("../Escape.nfo"), "written outside"},
         {QStringLiteral("Docs/../../Escape2.nfo"), "written outside too"},
         {QStringLiteral("/Absolute.nfo"), "kept below"}});
    openArchive(QStringLiteral("Hostile.zip"));
    ASSERT_EQ(app.entries(),
              (QStringList{"../escape.nfo", "/absolute.nfo", "docs/../../escape2.nfo"}));

    for (const char *name : {"../escape.nfo", "docs/../../escape2.nfo"}) {
        doubleClickEntry(QString::fromLatin1(name));
        EXPECT_TRUE(viewerShown()) << name;
        EXPECT_EQ(shownText(), QString()) << name;
    }
    EXPECT_EQ(fileBytes(outside), QByteArray("OUTSIDE FILE"));
    EXPECT_FALSE(QFile::exists(app.appFolder + QStringLiteral("/escape2.nfo")));
    EXPECT_FALSE(QFile::exists(app.root.path() + QStringLiteral("/escape.nfo")));
    EXPECT_FALSE(QFile::exists(app.root.path() + QStringLiteral("/escape2.nfo")));

    doubleClickEntry(QStringLiteral("/absolute.nfo"));
    EXPECT_EQ(shownText(), QStringLiteral("kept below"));
    EXPECT_TRUE(QFile::exists(app.state.tempFolder() + QStringLiteral("/absolute.nfo")));
}

class DamagedAtExtraction : public EntryViewTest {
protected:
    // The archive lists as sound, then its entry data is damaged before the viewing.
    void SetUp() override {
        EntryViewTest::SetUp();
        archive = zip(QStringLiteral("Name.ZIP"),
                      {{QStringLiteral("Notes.NFO"), QByteArray(4000, 'n'), true}});
        writeFile(archive + QStringLiteral(".bad"), "older quarantined copy");
        openArchive(QStringLiteral("Name.ZIP"));
        ASSERT_EQ(app.entries(), QStringList{"notes.nfo"});
        ASSERT_TRUE(corruptByte(archive, 100));
        app.desktop.boxes.clear();
    }
    QString archive;
};

TEST_F(DamagedAtExtraction, ReportedMarkedAndSetAsideUnderItsRealName) {
    doubleClickEntry(QStringLiteral("notes.nfo"));
    EXPECT_FALSE(viewerShown());
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_EQ(app.desktop.boxes[0].text, QStringLiteral("CRC error in - ") + archive.toLower());
    EXPECT_EQ(app.desktop.boxes[0].title, QStringLiteral("Arcsweep error"));
    EXPECT_EQ(app.desktop.boxes[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(form->SSPanel1->errorMark());
    EXPECT_EQ(form->SSPanel1->Caption(), QStringLiteral("notes.nfo"));
    EXPECT_EQ(form->SSPanel2->ProgressPercent(), 0);

    EXPECT_FALSE(QFile::exists(archive));
    EXPECT_NE(fileBytes(archive + QStringLiteral(".bad")), QByteArray("older quarantined copy"));
    EXPECT_FALSE(QFile::exists(archive.toLower() + QStringLiteral(".bad")));
    EXPECT_FALSE(app.files().contains(QStringLiteral("Name.ZIP")));
    EXPECT_TRUE(form->cursor().shape() != Qt::WaitCursor);
}

TEST_F(DamagedAtExtraction, ReadOnlyVolumeKeepsTheName) {
    form->DiskInfo1.forcedAnswer = 2;
    doubleClickEntry(QStringLiteral("notes.nfo"));
    EXPECT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_TRUE(QFile::exists(archive));
    EXPECT_EQ(fileBytes(archive + QStringLiteral(".bad")), QByteArray("older quarantined copy"));
    EXPECT_FALSE(viewerShown());
}

TEST_F(EntryViewTest, HugeFileShowsSixteenMegabytesAndSaysSo) {
    QByteArray data;
    data.reserve(50 * 1024 * 1024 + 100);
    for (int line = 0; data.size() < 50 * 1024 * 1024; ++line)
        data += QByteArray("Line ") + QByteArray::number(line).rightJustified(8, '0') +
                QByteArray(" of a very long release text, padded to look like an nfo\n");
    zip(QStringLiteral("Big.zip"), {{QStringLiteral("Huge.TXT"), data, true}});
    openArchive(QStringLiteral("Big.zip"));

    doubleClickEntry(QStringLiteral("huge.txt")); // how long it takes: bench/viewbench
    ASSERT_TRUE(viewerShown());

    const QString text = shownText();
    const qsizetype limit = EntryView::ShownBytesLimit;
    EXPECT_EQ(text.left(limit), QString::fromLatin1(data.left(limit)));
    EXPECT_EQ(text.mid(limit), u'\n' + EntryView::notShownLine(data.size()));
    EXPECT_TRUE(viewer()->cursor().shape() != Qt::WaitCursor);
}

} // namespace

namespace {
TEST_F(EntryViewTest, HugeFileWithoutLineBreaksShowsInPieces) {
    const QByteArray data(50 * 1024 * 1024, 'A');
    zip(QStringLiteral("Flat.zip"), {{QStringLiteral("Flat.TXT"), data, true}});
    openArchive(QStringLiteral("Flat.zip"));
    doubleClickEntry(QStringLiteral("flat.txt")); // how long it takes: bench/viewbench
    QCoreApplication::processEvents();
    ASSERT_TRUE(viewerShown());
    // Shown in pieces of 4096 characters, nothing lost up to the limit.
    const QString text = shownText();
    const QStringList lines = text.split(u'\n');
    EXPECT_EQ(lines.first().size(), 4096);
    EXPECT_EQ(text.count(u'A'), EntryView::ShownBytesLimit);
}
} // namespace
