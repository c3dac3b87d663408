// The zip component on archives written by the tests: listing, deleting, extracting
// and adding, and what Abort and re-entrant calls do.

#include "common/like.h"
#include "zip/zipcomponent.h"
#include "rawzip.h"
#include "zipfixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

namespace arcsweep {
namespace {

using test::ZipFixtureEntry;

const QList<ZipFixtureEntry> kSample = {
    {"Docs/ReadMe.NFO", QByteArray("Read me.\r\n").repeated(300), false},
    {"File_ID.DIZ", "A small description.\r\n", true},
    {"Read#1.nfo", "hash in the name", false},
    {"Data/Noise.BIN", test::randomBytes(200000, 1), true},
    {"Notes.TXT", "", false},
};

QList<ZipFixtureEntry> without(QList<ZipFixtureEntry> entries, const QStringList &names) {
    entries.removeIf([&](const ZipFixtureEntry &e) { return names.contains(e.name); });
    return entries;
}

bool sameEntries(const QList<ZipFixtureEntry> &a, const QList<ZipFixtureEntry> &b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](auto &x, auto &y) {
               return x.name == y.name && x.data == y.data;
           });
}

class ZipComponentTest : public ::testing::Test {
protected:
    void SetUp() override {
        archive = dir.filePath("Archive.ZIP");
        ASSERT_TRUE(test::writeZip(archive, kSample));
        zip.ArchivePath = archive;
    }

    // Lists the archive; returns the code and fills `names`.
    int list(QStringList *names = nullptr, const QString &entrySpec = "*.*") {
        zip.EntrySpec = entrySpec;
        const auto connection =
            QObject::connect(&zip, &ZipComponent::Listing, [&](const ZipEntryInfo &e) {
                if (names)
                    names->append(e.FileName);
            });
        const int code = zip.ListEntries();
        QObject::disconnect(connection);
        return code;
    }

    int remove(const QString &entrySpec) {
        zip.EntrySpec = entrySpec;
        return zip.DeleteEntries();
    }

    QStringList folderEntries() const {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    QString archive;
    ZipComponent zip;
};

TEST_F(ZipComponentTest, ListsMatchingEntriesAndEndsAtFullCompletion) {
    QStringList all, nfo;
    int last = -1;
    QObject::connect(&zip, &ZipComponent::Status, [&](int completion) { last = completion; });
    EXPECT_EQ(list(&all), ZipOk);
    EXPECT_EQ(all, QStringList({"Docs/ReadMe.NFO", "File_ID.DIZ", "Read#1.nfo", "Data/Noise.BIN",
                                "Notes.TXT"}));
    EXPECT_EQ(last, 100);
    EXPECT_EQ(list(&nfo, "*.NFO\rnotes.txt"), ZipOk);
    EXPECT_EQ(nfo, QStringList({"Docs/ReadMe.NFO", "Read#1.nfo", "Notes.TXT"}));
}

TEST_F(ZipComponentTest, DeletesByNamesAndPatternsKeepingTheRest) {
    struct Case {
        QString entrySpec;
        QStringList gone;
    };
    const QList<Case> cases = {
        {"docs/readme.nfo", {"Docs/ReadMe.NFO"}},
        {"*.nfo", {"Docs/ReadMe.NFO", "Read#1.nfo"}},
        {"read#1.nfo", {}}, // a pattern: '#' is a digit, and a name equal to it is not selected
        {"read[#]1.nfo", {"Read#1.nfo"}}, // the name's Like literal
        {"file_id.diz\rNOTES.TXT\r", {"File_ID.DIZ", "Notes.TXT"}},
        {"data/*\r\rmissing.txt", {"Data/Noise.BIN"}},
        {"[", {}}, // malformed pattern: matches nothing
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.entrySpec.toStdString());
        ASSERT_TRUE(test::writeZip(archive, kSample));
        EXPECT_EQ(remove(c.entrySpec), ZipOk);
        bool ok = false;
        EXPECT_TRUE(sameEntries(test::readZip(archive, &ok), without(kSample, c.gone)));
        EXPECT_TRUE(ok);
        EXPECT_EQ(list(), ZipOk);
        EXPECT_EQ(folderEntries(), QStringList{"Archive.ZIP"});
    }
}

// A carriage return separates the parts of an EntrySpec, yet some names hold one: the
// literal pattern of such a name deletes that entry and never the one named by its tail.
TEST_F(ZipComponentTest, ANameHoldingACarriageReturnIsNamedByItsLiteral) {
    const QList<test::ZipFixtureEntry> entries = {
        {"\rOrem.txt", "first"}, {"Orem.txt", "second"}, {"Dir\r/Notes.txt", "third"}};
    for (const QString &name : {QStringLiteral("\rOrem.txt"), QStringLiteral("Dir\r/Notes.txt")}) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_TRUE(test::writeZip(archive, entries));
        EXPECT_EQ(remove(likeLiteral(name)), ZipOk);
        bool ok = false;
        EXPECT_TRUE(sameEntries(test::readZip(archive, &ok), without(entries, {name})));
        EXPECT_TRUE(ok);
    }
    // Joined with other names the parts still split where the names end.
    ASSERT_TRUE(test::writeZip(archive, entries));
    EXPECT_EQ(remove(likeLiteral("\rOrem.txt") + u'\r' + likeLiteral("Dir\r/Notes.txt")), ZipOk);
    bool ok = false;
    EXPECT_TRUE(sameEntries(test::readZip(archive, &ok),
                            without(entries, {"\rOrem.txt", "Dir\r/Notes.txt"})));
}

TEST_F(ZipComponentTest, DeletingEveryEntryLeavesAnEmptyArchive) {
    EXPECT_EQ(remove("*.*"), ZipOk);
    EXPECT_EQ(test::fileBytes(archive), QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0'));
    QStringList names;
    EXPECT_EQ(list(&names), ZipOk);
    EXPECT_TRUE(names.isEmpty());
    EXPECT_EQ(remove("*"), ZipOk); // nothing left to delete
    EXPECT_EQ(folderEntries(), QStringList{"Archive.ZIP"});
}

TEST_F(ZipComponentTest, DeletingAMissingNameDoesNotRewrite) {
    struct stat before {
    }, after{};
    ASSERT_EQ(::stat(QFile::encodeName(archive).constData(), &before), 0);
    EXPECT_EQ(remove("Not There.txt"), ZipOk);
    ASSERT_EQ(::stat(QFile::encodeName(archive).constData(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

TEST_F(ZipComponentTest, RewriteKeepsModeOwnerAndSymbolicLinks) {
    const QByteArray path = QFile::encodeName(archive);
    ASSERT_EQ(::chown(path.constData(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(path.constData(), 0640), 0);
    struct stat before {
    }, after{};
    ASSERT_EQ(::stat(path.constData(), &before), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("Links"));
    const QString link = dir.filePath("Links/Link.zip");
    ASSERT_TRUE(QFile::link("../Archive.ZIP", link));

    zip.ArchivePath = link;
    EXPECT_EQ(remove("notes.txt"), ZipOk);
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), archive);
    ASSERT_EQ(::stat(path.constData(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino); // a new file replaced the target
    EXPECT_EQ(after.st_uid, 65534u);
    EXPECT_EQ(after.st_gid, 65534u);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_TRUE(sameEntries(test::readZip(archive), without(kSample, {"Notes.TXT"})));
    EXPECT_EQ(folderEntries(), QStringList({"Archive.ZIP", "Links"}));
    EXPECT_EQ(QDir(dir.filePath("Links"))
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
              QStringList{"Link.zip"});
}

TEST_F(ZipComponentTest, DuplicateNamesAreAllSeen) {
    // libzip will not write two entries of one name: write two and rename one in place.
    ASSERT_TRUE(
        test::writeZip(archive, {{"DupA.txt", "first"}, {"DupB.txt", "second"}, {"Keep", "k"}}));
    ASSERT_TRUE(test::writeFile(archive, test::fileBytes(archive).replace("DupB.txt", "DupA.txt")));
    QStringList names;
    EXPECT_EQ(list(&names), ZipOk);
    EXPECT_EQ(names, QStringList({"DupA.txt", "DupA.txt", "Keep"}));
    zip.EntrySpec = "dupa.txt";
    zip.ExtractFolder = dir.filePath("Out");
    EXPECT_EQ(zip.ExtractEntries(0), ZipOk);
    EXPECT_EQ(test::fileBytes(dir.filePath("Out/dupa.txt")), "second");
    EXPECT_EQ(remove("DUPA.TXT"), ZipOk);
    EXPECT_TRUE(sameEntries(test::readZip(archive), {{"Keep", "k"}}));
}

TEST_F(ZipComponentTest, ExtractsUnderLowerCaseNamesReplacingOldFiles) {
    // An entry's date goes with its file, so that a file taken out and put back in (the
    // double-diz repair) keeps it.
    const QDateTime dated(QDate(2001, 2, 3), QTime(4, 5, 6));
    {
        zip_t *za = zip_open(QFile::encodeName(archive).constData(), 0, nullptr);
        ASSERT_NE(za, nullptr);
        ASSERT_EQ(zip_file_set_mtime(za, 1, time_t(dated.toSecsSinceEpoch()), 0), 0);
        ASSERT_EQ(zip_close(za), 0);
    }
    zip.ExtractFolder = dir.filePath("Temp");
    ASSERT_TRUE(QDir(dir.path()).mkpath("Temp/docs"));
    ASSERT_TRUE(test::writeFile(dir.filePath("Temp/docs/readme.nfo"), "stale"));
    zip.EntrySpec = "*.*";
    EXPECT_EQ(zip.ExtractEntries(0), ZipOk);
    for (const ZipFixtureEntry &e : kSample)
        EXPECT_EQ(test::fileBytes(dir.filePath("Temp/" + e.name.toLower())), e.data)
            << e.name.toStdString();
    EXPECT_EQ(QFileInfo(dir.filePath("Temp/file_id.diz")).lastModified(), dated);
    zip.EntrySpec = "nothing.here";
    EXPECT_EQ(zip.ExtractEntries(0), ZipNothingToDo);
}

TEST_F(ZipComponentTest, ExtractionStaysBelowTheFolder) {
    ASSERT_TRUE(test::writeZip(archive, {{"../Escape.TXT", "x"},
                                         {"/Abs/Olute.TXT", "abs"},
                                         {"A/../../Up.TXT", "x"},
                                         {"Sub/", ""}}));
    ASSERT_TRUE(QDir(dir.path()).mkpath("Box/Temp"));
    zip.ExtractFolder = dir.filePath("Box/Temp");
    zip.EntrySpec = "*.*";
    EXPECT_EQ(zip.ExtractEntries(0), ZipOk);
    EXPECT_EQ(test::fileBytes(dir.filePath("Box/Temp/abs/olute.txt")), "abs");
    EXPECT_EQ(QDir(dir.filePath("Box")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"Temp"});

    // A link below the folder is never followed, even when an entry leads through it.
    ASSERT_TRUE(QDir(dir.path()).mkdir("Outside"));
    ASSERT_TRUE(QFile::link(dir.filePath("Outside"), dir.filePath("Box/Temp/link")));
    ASSERT_TRUE(test::writeZip(archive, {{"Link/Planted.TXT", "x"}}));
    EXPECT_EQ(zip.ExtractEntries(0), ZipCannotWrite);
    EXPECT_TRUE(QDir(dir.filePath("Outside")).isEmpty());
}

TEST_F(ZipComponentTest, DamagedDataIsReportedAndNotLeftBehind) {
    const QByteArray data = QByteArray("stored text, checked by CRC. ").repeated(20);
    ASSERT_TRUE(test::writeZip(archive, {{"Good.TXT", "fine"}, {"Bad.TXT", data, true}}));
    ASSERT_TRUE(test::corruptByte(archive, test::fileBytes(archive).indexOf(data) + 100));
    EXPECT_EQ(list(), ZipDataDamaged);
    zip.ExtractFolder = dir.filePath("Temp");
    zip.EntrySpec = "bad.txt";
    EXPECT_EQ(zip.ExtractEntries(0), ZipDataDamaged);
    EXPECT_FALSE(QFile::exists(dir.filePath("Temp/bad.txt")));

    // An encrypted entry (flag bit 0; we have no password) cannot be verified, which is
    // not damage.
    test::RawEntry secret = test::rawEntry("Secret.TXT", "scrambled bytes");
    secret.flags = 1;
    zip.ArchivePath = dir.filePath("Encrypted.ZIP");
    ASSERT_TRUE(test::writeRawZip(zip.ArchivePath, test::rawZip({secret})));
    EXPECT_EQ(list(), ZipOk);
    zip.EntrySpec = "*.*";
    EXPECT_EQ(zip.ExtractEntries(0), ZipUnsupported);
}

// Small entries are tested whole and large ones streamed: both must see the same
// damage, in deflated and stored entries alike.
TEST_F(ZipComponentTest, DamageIsFoundInSmallAndLargeEntries) {
    const QByteArray text = test::randomBytes(60000, 2).toHex();    // deflates to about half
    const QByteArray large = test::randomBytes(9 * 1024 * 1024, 3); // above the whole-entry size
    struct Case {
        const char *name;
        QByteArray data;
        bool stored;
    };
    for (const Case &c : {Case{"Small.TXT", text, false}, Case{"Small.BIN", text, true},
                          Case{"Large.BIN", large, true}, Case{"Large.TXT", large + text, false}}) {
        ASSERT_TRUE(test::writeZip(archive, {{"Keep.TXT", "fine"}, {c.name, c.data, c.stored}}));
        EXPECT_EQ(list(), ZipOk) << c.name;
        const QByteArray bytes = test::fileBytes(archive);
        const qsizetype dataStart = bytes.indexOf(c.name, 40) + qsizetype(strlen(c.name));
        ASSERT_TRUE(test::corruptByte(archive, dataStart + 2000)) << c.name;
        EXPECT_EQ(list(), ZipDataDamaged) << c.name;
    }
}

TEST_F(ZipComponentTest, AddsUnderTheBareNameReplacingTheSameName) {
    const QString file = dir.filePath("New.TXT");
    ASSERT_TRUE(test::writeFile(file, "first version"));
    zip.EntrySpec = file;
    EXPECT_EQ(zip.AddEntries(0), ZipOk);
    ASSERT_TRUE(test::writeFile(file, "second version"));
    EXPECT_EQ(zip.AddEntries(0), ZipOk);
    QList<ZipFixtureEntry> expected = kSample;
    expected.append(ZipFixtureEntry{"New.TXT", "second version"});
    bool ok = false;
    EXPECT_TRUE(sameEntries(test::readZip(archive, &ok), expected));
    EXPECT_TRUE(ok);

    zip.EntrySpec = dir.filePath("Missing.TXT");
    EXPECT_EQ(zip.AddEntries(0), ZipNothingToDo);
    zip.EntrySpec = file;
    zip.ArchivePath = dir.filePath("Missing.ZIP");
    EXPECT_EQ(zip.AddEntries(0), ZipUnreadable);
    EXPECT_FALSE(QFile::exists(zip.ArchivePath));
}

class ZipAbortTest : public ZipComponentTest {
protected:
    void SetUp() override {
        ZipComponentTest::SetUp();
        QList<ZipFixtureEntry> big;
        for (int i = 0; i < 8; ++i)
            big.append({QString("Part%1.BIN").arg(i), test::randomBytes(1 << 20, i), i % 2 == 0});
        ASSERT_TRUE(test::writeZip(archive, big));
        original = test::fileBytes(archive);
    }
    QByteArray original;
};

TEST_F(ZipAbortTest, AbortFromStatusStopsListingAndDeleting) {
    QObject::connect(&zip, &ZipComponent::Status, [&](int completion) {
        if (completion > 0)
            zip.Abort = true;
    });
    EXPECT_EQ(list(), ZipAborted);
    EXPECT_FALSE(zip.Abort);
    EXPECT_EQ(remove("part7.bin"), ZipAborted);
    EXPECT_FALSE(zip.Abort);
    EXPECT_EQ(test::fileBytes(archive), original);
    EXPECT_EQ(folderEntries(), QStringList{"Archive.ZIP"});
}

TEST_F(ZipAbortTest, AbortSetBeforeTheCallDoesNotStopIt) {
    zip.Abort = true;
    EXPECT_EQ(list(), ZipOk);
    EXPECT_FALSE(zip.Abort);
}

TEST_F(ZipAbortTest, CallsFromInsideEventsAreRefused) {
    int inner = -1, innerDelete = -1;
    bool busyInside = false;
    QObject::connect(&zip, &ZipComponent::Listing, [&] {
        busyInside = zip.isBusy();
        inner = zip.ListEntries();
    });
    QObject::connect(&zip, &ZipComponent::Status, [&] { innerDelete = zip.DeleteEntries(); });
    EXPECT_EQ(list(), ZipOk);
    EXPECT_TRUE(busyInside);
    EXPECT_FALSE(zip.isBusy());
    EXPECT_EQ(inner, ZipBusy);
    EXPECT_EQ(innerDelete, ZipBusy);
    EXPECT_EQ(test::fileBytes(archive), original);
}

} // namespace
} // namespace arcsweep
