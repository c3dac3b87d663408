// The main window acts on the archive and the entries the user sees highlighted,
// however they were chosen.
#include "appfixture.h"
#include "capture.h"

#include "common/textfile.h"
#include "controls/sspanel.h"

#include <QPushButton>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

class SelectionTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = app.tree + QStringLiteral("/Three Zips");
        QDir().mkpath(folder);
        for (const char *letter : {"A", "B", "C"}) {
            const QString l = QLatin1String(letter);
            ASSERT_TRUE(writeZip(path(l), {{QStringLiteral("FILE_ID.DIZ"), "Diz of " + l.toUtf8()},
                                           {l + QStringLiteral("-Info.NFO"), "Info " + l.toUtf8()},
                                           {QStringLiteral("Keep.txt"), "k"}}));
            before.insert(l, fileBytes(path(l)));
        }
        // Started in that folder, as a user who worked there last time.
        TextFile::writeLines(app.appFile(DataFile::Settings), {folder});
        form = &app.makeForm();
        // Its first archive is tested once the window has been painted.
        ASSERT_TRUE(waitUntil([this] { return !app.entries().isEmpty(); }));
        // Which archive each listing read, in order.
        QObject::connect(form->XceedZip1, &ZipComponent::Listing, form, [this] {
            if (listed.isEmpty() || listed.last() != form->XceedZip1->ArchivePath)
                listed.append(form->XceedZip1->ArchivePath);
        });
    }
    QString path(const QString &letter) const { return folder + u'/' + letter + ".zip"; }
    static QStringList entriesOf(const QString &archive) {
        QStringList names;
        for (const ZipFixtureEntry &e : readZip(archive))
            names.append(e.name);
        return names;
    }
    static QStringList shownFor(const QString &letter) {
        return {letter.toLower() + QStringLiteral("-info.nfo"), QStringLiteral("file_id.diz"),
                QStringLiteral("keep.txt")};
    }

    AppFixture app;
    QString folder;
    QMap<QString, QByteArray> before;
    QStringList listed;
    Form1 *form = nullptr;
};

TEST_F(SelectionTest, ClickedArchiveIsListedAndTheDeleteKeyChangesOnlyIt) {
    ASSERT_EQ(app.entries(), shownFor("A"));
    app.clickArchive(QStringLiteral("B.zip"));
    EXPECT_EQ(app.entries(), shownFor("B"));
    app.clickArchive(QStringLiteral("C.zip"));
    EXPECT_EQ(app.entries(), shownFor("C"));
    EXPECT_EQ(form->SSPanel1->Caption(), QStringLiteral("c.zip"));
    EXPECT_EQ(listed, (QStringList{path("B"), path("C")}));

    app.selectEntries({QStringLiteral("file_id.diz")});
    pressKey(form, Qt::Key_Delete);
    // The archive whose entries were shown lost the entry; the others are untouched.
    EXPECT_EQ(entriesOf(path("C")), (QStringList{"C-Info.NFO", "Keep.txt"}));
    EXPECT_EQ(fileBytes(path("A")), before["A"]);
    EXPECT_EQ(fileBytes(path("B")), before["B"]);
    EXPECT_EQ(app.entries(), (QStringList{"c-info.nfo", "keep.txt"}));
}

TEST_F(SelectionTest, ArrowKeysTestTheArchiveAgainThenTheOneTheyMoveTo) {
    app.clickArchive(QStringLiteral("B.zip"));
    listed.clear();
    pressKey(form, Qt::Key_Down); // File1 has the focus since the click
    EXPECT_EQ(listed, (QStringList{path("B"), path("C")}));
    EXPECT_EQ(app.entries(), shownFor("C"));
    listed.clear();
    pressKey(form, Qt::Key_Up);
    EXPECT_EQ(listed, (QStringList{path("C"), path("B")}));
    EXPECT_EQ(app.entries(), shownFor("B"));
    EXPECT_EQ(form->SSPanel1->Caption(), QStringLiteral("b.zip"));
    // The Add works on what is highlighted now.
    writeFile(app.appFile(DataFile::PurgeList), "old\r\n");
    app.selectEntries({QStringLiteral("b-info.nfo"), QStringLiteral("keep.txt")});
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    EXPECT_EQ(entriesOf(path("B")), QStringList{"FILE_ID.DIZ"});
    EXPECT_EQ(fileBytes(path("A")), before["A"]);
    EXPECT_EQ(fileBytes(path("C")), before["C"]);
    EXPECT_EQ(fileBytes(app.appFile(DataFile::PurgeList)),
              QByteArray("old\r\nb-info.nfo\r\nkeep.txt\r\n"));
}

TEST_F(SelectionTest, AddWithNothingSelectedLeavesThePurgeListByteForByte) {
    // A list edited by hand, its last line without a line end.
    writeFile(app.appFile(DataFile::PurgeList), "one\r\ntwo");
    app.clickArchive(QStringLiteral("B.zip"));
    app.selectEntries({});
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    EXPECT_EQ(fileBytes(app.appFile(DataFile::PurgeList)), QByteArray("one\r\ntwo"));
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::PurgeStaging)));
    EXPECT_EQ(fileBytes(path("B")), before["B"]);
    EXPECT_EQ(app.entries(), shownFor("B"));
}

TEST_F(SelectionTest, DeleteMakesEveryArchiveOfTheFolderWritableForItsOwner) {
    // Archives owned by another user and read-only for everyone, in folders that user
    // may enter.
    for (const QString &f : {app.root.path(), app.tree, folder})
        ASSERT_EQ(::chmod(QFile::encodeName(f).constData(), 0755), 0);
    for (const char *letter : {"A", "B", "C"}) {
        const QByteArray name = QFile::encodeName(path(QLatin1String(letter)));
        ASSERT_EQ(::chown(name.constData(), 65534, 65534), 0);
        ASSERT_EQ(::chmod(name.constData(), 0444), 0);
    }
    const auto ownerCanWrite = [this] {
        return runInChild(
            [p = QFile::encodeName(path("C"))] {
                const int fd = ::open(p.constData(), O_WRONLY);
                return fd >= 0 ? (::close(fd), 1) : 0;
            },
            true);
    };
    ASSERT_EQ(ownerCanWrite(), 0);
    app.clickArchive(QStringLiteral("A.zip"));
    app.selectEntries({QStringLiteral("keep.txt")});
    pressKey(form, Qt::Key_Delete);
    EXPECT_EQ(ownerCanWrite(), 1); // an archive the delete did not touch, made writable
    EXPECT_EQ(fileBytes(path("C")), before["C"]);
    EXPECT_EQ(entriesOf(path("A")), (QStringList{"FILE_ID.DIZ", "A-Info.NFO"}));
}

} // namespace
