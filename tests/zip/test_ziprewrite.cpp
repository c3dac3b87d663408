// A rewrite copies what it keeps byte for byte, replaces the archive only while it is
// the file that was read, and the one rewrite of gathered changes applies them all.
#include "common/durablefile.h"
#include "common/textfile.h"
#include "rawzip.h"
#include "zip/blockreader.h"
#include "zip/ziparchivefile.h"
#include "zip/zipcomponent.h"
#include "zip/zipreading.h"
#include "zip/ziptestahead.h"
#include "zipfixtures.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QProcess>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <zip.h>

#include <gtest/gtest.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

// A Unicode-path extra field (0x7075) naming the entry `utf8`.
QByteArray unicodePath(const QByteArray &raw, const QByteArray &utf8) {
    QByteArray field;
    const quint32 crc = quint32(libdeflate_crc32(0, raw.constData(), size_t(raw.size())));
    field += char(0x75);
    field += char(0x70);
    const quint16 len = quint16(5 + utf8.size());
    field += char(len & 0xff);
    field += char(len >> 8);
    field += char(1);
    for (int i = 0; i < 4; ++i)
        field += char((crc >> (8 * i)) & 0xff);
    return field + utf8;
}

class Rewrite : public ::testing::Test {
protected:
    // An archive of 65,536 empty entries "E0".."E65535": one more than the 16-bit count holds.
    QString placeMany(const QString &name) {
        QList<RawEntry> entries;
        for (int i = 0; i < 65536; ++i)
            entries.append(rawEntry("E" + QByteArray::number(i), {}));
        return place(rawZip(entries), name);
    }
    QString place(const RawZip &zip, const QString &name = QStringLiteral("Odd Archive.ZIP")) {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(writeRawZip(path, zip));
        return path;
    }
    int remove(const QString &path, const QString &spec) {
        zip.ArchivePath = path;
        zip.EntrySpec = spec;
        return zip.DeleteEntries();
    }
    QStringList listed(const QString &path, int *code = nullptr) {
        QStringList names;
        const auto c = QObject::connect(&zip, &ZipComponent::Listing,
                                        [&](const ZipEntryInfo &e) { names.append(e.FileName); });
        zip.ArchivePath = path;
        zip.EntrySpec = "*.*";
        zip.KeepForChanges = true; // gathered changes may follow
        const int rc = zip.ListEntries();
        QObject::disconnect(c);
        if (code)
            *code = rc;
        return names;
    }
    // Kept records equal the original's, but for the offset in each central record.
    static void expectKeptByteForByte(const QByteArray &before, const QByteArray &after,
                                      const QList<int> &kept) {
        const RawRecords a = rawRecords(before), b = rawRecords(after);
        ASSERT_TRUE(a.ok && b.ok);
        ASSERT_EQ(b.local.size(), kept.size());
        EXPECT_EQ(b.leading, a.leading);
        EXPECT_EQ(b.comment, a.comment);
        for (qsizetype k = 0; k < kept.size(); ++k) {
            EXPECT_EQ(b.local[k], a.local[kept[k]]) << k;
            QByteArray c1 = a.central[kept[k]], c2 = b.central[k];
            c1.replace(42, 4, "####");
            c2.replace(42, 4, "####");
            EXPECT_EQ(c2, c1) << k;
        }
    }
    QStringList folder() const {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QTemporaryDir dir;
    ZipComponent zip;
};

TEST_F(Rewrite, KeptEntriesNamesExtraFieldsAndDataStayByteForByte) {
    RawZip z;
    z.prefix = QByteArray("MZ self-extractor stub ").repeated(20); // unzip -t accepts it
    z.comment = "The archive's own comment";
    RawEntry nul = rawEntry(QByteArray("Keep\0Odd.TXT", 12), "a NUL in the name", true);
    RawEntry folderEntry = rawEntry("\x84/", ""); // CP437 a-umlaut, a folder
    folderEntry.centralExtra = unicodePath("\x84/", "\xc3\xa4/");
    folderEntry.localExtra = folderEntry.centralExtra;
    folderEntry.externalAttributes = 040755u << 16 | 0x10;
    RawEntry described = rawEntry("Described.TXT", QByteArray("dd ").repeated(100), true);
    described.dataDescriptor = true;
    described.comment = "an entry comment";
    z.entries = {nul, rawEntry("Purge Me.TXT", "gone"), folderEntry, described,
                 rawEntry("Also Gone.URL", "x")};
    const QString path = place(z);
    const QByteArray before = fileBytes(path);
    ASSERT_EQ(remove(path, "purge me.txt\r*.url"), ZipOk);
    expectKeptByteForByte(before, fileBytes(path), {0, 2, 3});
    int code = -1;
    EXPECT_EQ(listed(path, &code).size(), 3);
    EXPECT_EQ(code, ZipOk);
    EXPECT_EQ(folder(), QStringList{"Odd Archive.ZIP"}); // no temporary file left
}

// Emptied, an archive is the plain 22-byte empty archive after its leading data (a
// split set's marker is not leading data), with its comment.
TEST_F(Rewrite, AnArchiveEmptiedIsThePlainEmptyArchiveWithItsLeadingDataAndComment) {
    RawZip stub = rawZip({rawEntry("One.TXT", "1"), rawEntry("Two.TXT", "2", true)});
    stub.prefix = "#!/bin/sh\nexit 0\n";
    stub.comment = "comment of the emptied archive";
    RawZip split = rawZip({rawEntry("One.TXT", "1")});
    split.prefix = "PK00";
    RawZip spanned = split;
    spanned.prefix = QByteArray("PK\x07\x08", 4);
    // A Zip64 archive of our own: 65,535 entries left of 65,536 need the Zip64 end records.
    const QString zip64 = placeMany("Zip64 Source.ZIP");
    ASSERT_EQ(remove(zip64, "e0"), ZipOk);
    ASSERT_TRUE(fileBytes(zip64).contains(QByteArray("PK\x06\x06", 4)));
    const struct {
        const char *name;
        QByteArray original, leading, comment;
    } cases[] = {
        {"Stub.ZIP", buildZip(stub), stub.prefix, stub.comment},
        {"Split.ZIP", buildZip(split), {}, {}},
        {"Spanned.ZIP", buildZip(spanned), {}, {}},
        {"Zip64.ZIP", fileBytes(zip64), {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(c.name);
        ASSERT_TRUE(writeFile(path, c.original));
        int code = -1;
        ASSERT_FALSE(listed(path, &code).isEmpty());
        ASSERT_EQ(code, ZipOk);
        ASSERT_EQ(remove(path, "*.*"), ZipOk);
        QByteArray end("PK\x05\x06", 4);
        end += QByteArray(12, '\0');
        for (const quint32 v : {quint32(c.leading.size()), quint32(c.comment.size())})
            end += QByteArray::fromRawData(reinterpret_cast<const char *>(&v), 4);
        end.chop(2); // the comment length has two bytes
        EXPECT_EQ(fileBytes(path), c.leading + end + c.comment);
        EXPECT_TRUE(listed(path, &code).isEmpty());
        EXPECT_EQ(code, ZipOk);
    }
}

// 65,536 entries wrap the 16-bit count; one purged leaves 65,535, which only the Zip64
// end records can hold.
TEST_F(Rewrite, PurgingOneOf65536EntriesWritesTheZip64EndRecords) {
    const QString path = placeMany("Many.ZIP");
    ASSERT_EQ(remove(path, "e77"), ZipOk);
    EXPECT_TRUE(fileBytes(path).contains(QByteArray("PK\x06\x06", 4)));
    int code = -1;
    EXPECT_EQ(listed(path, &code).size(), 65535);
    EXPECT_EQ(code, ZipOk);
    int error = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    ASSERT_NE(za, nullptr) << error;
    EXPECT_EQ(zip_get_num_entries(za, 0), 65535);
    zip_discard(za);
}

// Kept in turn from two archives, where the second's removed record lies at the offset
// at which the kept archive's directory starts: each record comes from its own file.
TEST_F(Rewrite, RecordsKeptFromTwoArchivesInTurnComeEachFromItsOwnFile) {
    const QString first =
        place(rawZip({rawEntry("Junk.TXT", "first junk"), rawEntry("A.TXT", "a")}), "First.ZIP");
    const QString second =
        place(rawZip({rawEntry("Keep.TXT", "kept here!"), rawEntry("Junk.TXT", "other junk")}),
              "Second.ZIP");
    zip.KeepRemovedIn = dir.filePath("Kept Records/Both.ZIP");
    ASSERT_EQ(remove(first, "junk.txt"), ZipOk);
    // One local record (48 bytes, as long as the second's first), its central record, the end.
    ASSERT_EQ(QFileInfo(zip.KeepRemovedIn).size(), 48 + 46 + 8 + 22);
    ASSERT_EQ(remove(second, "junk.txt"), ZipOk);
    bool ok = false;
    const QList<ZipFixtureEntry> kept = readZip(zip.KeepRemovedIn, &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(kept.size(), 2);
    EXPECT_EQ(kept[0].data, "first junk");
    EXPECT_EQ(kept[1].data, "other junk");
}

TEST_F(Rewrite, AnArchiveInTheCommentStaysTheComment) {
    const QByteArray inner =
        buildZip(rawZip({rawEntry("Inner One.TXT", "i1"), rawEntry("Inner Two.TXT", "i2")}));
    RawZip outer = rawZip({rawEntry("Outer.TXT", "o", true), rawEntry("Purge.TXT", "p"),
                           rawEntry("Outer Two.TXT", "o2")});
    outer.comment = inner;
    const QString path = place(outer);
    const QByteArray before = fileBytes(path);
    ASSERT_EQ(listed(path), (QStringList{"Outer.TXT", "Purge.TXT", "Outer Two.TXT"}));
    ASSERT_EQ(remove(path, "purge.txt"), ZipOk);
    expectKeptByteForByte(before, fileBytes(path), {0, 2});
    EXPECT_TRUE(fileBytes(path).endsWith(inner));
    EXPECT_EQ(listed(path), (QStringList{"Outer.TXT", "Outer Two.TXT"}));
}

TEST_F(Rewrite, GatheredChangesAreOneRewriteWithTheSameResult) {
    // Entry by entry, and gathered: the same archive in the end.
    QList<RawEntry> entries;
    for (int i = 0; i < 40; ++i)
        entries.append(
            rawEntry(QByteArray("Entry ") + QByteArray::number(i) + (i % 4 == 0 ? ".URL" : ".TXT"),
                     QByteArray("data ").repeated(i + 1), i % 2 == 0));
    entries.append(rawEntry("file_id.diz", "first"));
    entries.append(rawEntry("file_id.diz", "second"));
    const QString one = place(rawZip(entries), "One At A Time.ZIP");
    const QString gathered = place(rawZip(entries), "Gathered.ZIP");
    for (const char *spec : {"entry 0.url", "*.url", "entry 8.url", "entry 3.txt"})
        ASSERT_EQ(remove(one, QString::fromLatin1(spec)), ZipOk);

    ASSERT_EQ(listed(gathered).size(), 42);
    const auto inode = [](const QString &p) {
        struct stat st {};
        ::stat(QFile::encodeName(p).constData(), &st);
        return st.st_ino;
    };
    const auto before = inode(gathered);
    zip.BeginChanges();
    for (const char *spec : {"entry 0.url", "*.url", "entry 8.url", "entry 3.txt"}) {
        zip.EntrySpec = QString::fromLatin1(spec);
        ASSERT_EQ(zip.DeleteEntries(), ZipOk);
    }
    EXPECT_EQ(inode(gathered), before); // nothing written yet
    EXPECT_EQ(zip.pendingDrops(), 11);
    const qint64 planned = zip.pendingSize();
    ASSERT_EQ(zip.ApplyChanges(), ZipOk);
    EXPECT_EQ(fileBytes(gathered), fileBytes(one));
    EXPECT_EQ(QFileInfo(gathered).size(), planned);
}

TEST_F(Rewrite, TheDoubleDizRepairIsOneRewriteOfBothCopiesOutAndOneIn) {
    const QString path = place(rawZip(
        {rawEntry("file_id.diz", "first\r\n"), rawEntry("Info.NFO", "info"),
         rawEntry("FILE_ID.DIZ", "other case stays"), rawEntry("file_id.diz", "second\r\n")}));
    const QString copy = dir.filePath("file_id.diz");
    ASSERT_TRUE(writeFile(copy, "second\r\n"));
    ASSERT_EQ(listed(path).size(), 4);
    zip.BeginChanges();
    zip.EntrySpec = "file_id.diz";
    zip.DeleteEntries(); // selects both copies and the upper-case one: names ignore case
    zip.EntrySpec = copy;
    ASSERT_EQ(zip.AddEntries(0), ZipOk);
    ASSERT_EQ(zip.ApplyChanges(), ZipOk);
    const QList<ZipFixtureEntry> after = readZip(path);
    ASSERT_EQ(after.size(), 2);
    EXPECT_EQ(after[0].name, "Info.NFO");
    EXPECT_EQ(after[1].name, "file_id.diz");
    EXPECT_EQ(after[1].data, QByteArray("second\r\n"));
}

TEST_F(Rewrite, AStopDiscardsWhatWasGathered) {
    const QString path = place(rawZip({rawEntry("A.TXT", "a"), rawEntry("B.TXT", "b")}));
    const QByteArray before = fileBytes(path);
    listed(path);
    zip.BeginChanges();
    zip.EntrySpec = "a.txt";
    zip.DeleteEntries();
    zip.DiscardChanges();
    EXPECT_EQ(zip.ApplyChanges(), ZipOk);
    EXPECT_EQ(fileBytes(path), before);
}

// The file at the path is no longer the one that was read: a second program replaced,
// changed or deleted it. Both stay as they are.
TEST_F(Rewrite, AnArchiveChangedSinceItWasReadIsLeftAlone) {
    const RawZip z = rawZip({rawEntry("Keep.TXT", "k"), rawEntry("Purge.TXT", "p")});
    for (const char *how : {"replaced", "appended to", "deleted"}) {
        SCOPED_TRACE(how);
        const QString path = place(z);
        ASSERT_EQ(listed(path).size(), 2);
        zip.BeginChanges();
        zip.EntrySpec = "purge.txt";
        ASSERT_EQ(zip.DeleteEntries(), ZipOk);
        QByteArray theirs;
        if (QByteArray(how) == "replaced") {
            theirs = buildZip(rawZip({rawEntry("Theirs.TXT", "t"), rawEntry("Purge.TXT", "q")}));
            const QString other = dir.filePath("their copy");
            writeFile(other, theirs);
            ASSERT_EQ(::rename(QFile::encodeName(other), QFile::encodeName(path)), 0);
        } else if (QByteArray(how) == "appended to") {
            theirs = fileBytes(path) + "more";
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::Append));
            f.write("more");
        } else {
            QFile::remove(path);
        }
        EXPECT_EQ(zip.ApplyChanges(), ZipChanged);
        if (theirs.isEmpty())
            EXPECT_FALSE(QFile::exists(path)); // not brought back
        else
            EXPECT_EQ(fileBytes(path), theirs);
        EXPECT_EQ(folder().size(), theirs.isEmpty() ? 0 : 1) << folder().join(u' ').toStdString();
        QFile::remove(path);
    }
}

TEST_F(Rewrite, AnArchiveAnotherProgramIsRewritingIsLeftToIt) {
    const QString path = place(rawZip({rawEntry("Keep.TXT", "k"), rawEntry("Purge.TXT", "p")}));
    const QByteArray before = fileBytes(path);
    const int theirs = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    ASSERT_EQ(::flock(theirs, LOCK_EX), 0);
    EXPECT_EQ(remove(path, "purge.txt"), ZipChanged);
    EXPECT_EQ(fileBytes(path), before);
    ::close(theirs);
    EXPECT_EQ(remove(path, "purge.txt"), ZipOk); // once it is done
    EXPECT_EQ(readZip(path).size(), 1);
}

// A program that waits for the archive's lock (flock, or an fcntl lock for writing)
// while the rewrite runs would get it on the replaced file and write there: the rewrite
// gives way, and the program's write lands in the archive at the path.
TEST_F(Rewrite, AProgramWaitingForTheLockHasTheArchiveLeftToIt) {
    const QString append = QStringLiteral("printf more >> \"$0\"");
    const QString python = QStringLiteral("import fcntl, sys\nf = open(sys.argv[1], 'ab')\n"
                                          "fcntl.lockf(f, fcntl.LOCK_EX)\nf.write(b'more')\n");
    const struct {
        const char *how;
        QString program;
        QStringList arguments;
    } waiters[] = {{"flock", "flock", {"-x", "{}", "sh", "-c", append, "{}"}},
                   {"fcntl", "python3", {"-c", python, "{}"}}};
    for (const auto &w : waiters) {
        SCOPED_TRACE(w.how);
        const QString path = place(
            rawZip({rawEntry("Keep.BIN", randomBytes(3 << 20, 4)), rawEntry("Purge.TXT", "p")}),
            "Waited On.ZIP");
        const QByteArray before = fileBytes(path);
        struct stat st {};
        ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
        char id[64];
        std::snprintf(id, sizeof id, " %02x:%02x:%llu ", major(st.st_dev), minor(st.st_dev),
                      static_cast<unsigned long long>(st.st_ino));
        const auto waiting = [&] {
            QFile locks("/proc/locks");
            if (!locks.open(QIODevice::ReadOnly))
                return false;
            for (const QByteArray &line : locks.readAll().split('\n'))
                if (line.contains(" -> ") && line.contains(id))
                    return true;
            return false;
        };
        QProcess waiter;
        bool queued = false;
        const auto c = QObject::connect(&zip, &ZipComponent::Status, [&] {
            if (waiter.state() != QProcess::NotRunning)
                return;
            QStringList arguments = w.arguments;
            arguments.replaceInStrings("{}", path);
            waiter.start(w.program, arguments);
            waiter.waitForStarted();
            QDeadlineTimer patience(30000);
            while (!(queued = waiting()) && !patience.hasExpired() &&
                   waiter.state() == QProcess::Running)
                QThread::usleep(500);
        });
        EXPECT_EQ(remove(path, "purge.txt"), ZipChanged);
        QObject::disconnect(c);
        EXPECT_TRUE(queued) << "the program never waited for the lock";
        EXPECT_TRUE(waiter.waitForFinished(30000));
        EXPECT_EQ(fileBytes(path), before + "more");
        EXPECT_EQ(folder(), QStringList{"Waited On.ZIP"});
        QFile::remove(path);
    }
}

// Only what a killed run of ours left is removed: a temporary file it made (name, mark
// and owner), that no live process holds. A user's file of a similar name is no such
// proof, nor is a temporary file of another user.
TEST_F(Rewrite, OnlyOurOwnDeadTemporaryFilesAreRemoved) {
    const auto leftBehind = [&](const char *target) {
        // Never destroyed, its descriptor closed: left as a kill leaves it.
        auto *temp = new DurableFile;
        EXPECT_TRUE(temp->create(QFile::encodeName(dir.filePath(target)), 15, 0644));
        EXPECT_EQ(::pwrite(temp->fd(), "half an archive", 15, 0), 15);
        ::close(temp->fd());
        return QFile::decodeName(temp->path());
    };
    const QString ours = leftBehind("Killed.ZIP");
    const QString live = leftBehind("Busy.ZIP");
    const QString theirs = leftBehind("Other User.ZIP");
    ASSERT_EQ(::chown(QFile::encodeName(theirs).constData(), 65534, 65534), 0);
    // One left in a folder the program has not written to yet goes with its first write
    // there, a run or not.
    const QString later = dir.filePath("Written Later");
    ASSERT_TRUE(QDir().mkpath(later));
    const QString moved = later + u'/' + QFileInfo(leftBehind("Killed Too.TXT")).fileName();
    ASSERT_TRUE(QFile::rename(dir.filePath(QFileInfo(moved).fileName()), moved));
    const QString lookalike = dir.filePath(".thesis.arcsweep-backup");
    const QString notOurs = dir.filePath(".Other.ZIP.partial");
    const QString visible = dir.filePath("Visible.ZIP.arcsweep-Ab12Cd");
    for (const QString &p : {lookalike, notOurs, visible})
        writeFile(p, "the user's own");
    const int held = ::open(QFile::encodeName(live).constData(), O_RDONLY);
    ASSERT_EQ(::flock(held, LOCK_EX), 0); // a rewrite in progress holds its file
    EXPECT_EQ(ZipArchiveFile::removeStaleTemporaries(dir.path()), 1);
    EXPECT_FALSE(QFile::exists(ours));
    for (const QString &p : {live, theirs, lookalike, notOurs, visible})
        EXPECT_TRUE(QFile::exists(p)) << p.toStdString();
    ::close(held);
    EXPECT_TRUE(QFile::exists(moved));
    ASSERT_TRUE(TextFile::writeLines(later + "/Killed Too.TXT", {"whole"}));
    EXPECT_FALSE(QFile::exists(moved));
}

// One verdict per archive: the checks of a listing decide, and a purge never finds
// more damage than the listing did.
TEST_F(Rewrite, AWrongStatedSizeIsDamageWhateverTheEntrysSize) {
    for (const qsizetype size : {qsizetype(1000), qsizetype(9 << 20)}) {
        for (const bool deflate : {false, true}) {
            SCOPED_TRACE(size);
            SCOPED_TRACE(deflate);
            RawEntry e = rawEntry("Data.BIN", randomBytes(size, 7), deflate);
            e.statedSize = quint32(size + 1);
            const QString path = place(rawZip({e}), "Wrong Size.ZIP");
            int code = -1;
            listed(path, &code);
            EXPECT_EQ(code, ZipDataDamaged);
        }
    }
}

TEST_F(Rewrite, AMalformedLocalExtraFieldListsAndPurgesAlike) {
    RawEntry odd = rawEntry("Odd Extra.TXT", "kept");
    odd.localExtra = QByteArray("\x01\x00\xff\xff\x00", 5); // a Zip64 field longer than the block
    const QString path = place(rawZip({odd, rawEntry("Purge.TXT", "p")}));
    const QByteArray before = fileBytes(path);
    int code = -1;
    listed(path, &code);
    ASSERT_TRUE(code == ZipOk || isDamageCode(code)) << code;
    if (code == ZipOk) {
        EXPECT_EQ(remove(path, "purge.txt"), ZipOk);
        expectKeptByteForByte(before, fileBytes(path), {0});
    }
}

// Records are read at offsets taken from the archive: offsets near 2^64 must read
// nothing rather than wrap around into the window of an earlier read.
TEST(BlockReaderTest, OffsetsNearTheTopReadNothing) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Data.bin");
    const QByteArray bytes = test::randomBytes(100, 5);
    ASSERT_TRUE(test::writeFile(path, bytes));
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    ASSERT_GE(fd, 0);
    BlockReader reader(fd);
    char got[32] = {};
    EXPECT_TRUE(reader.read(10, got, 5));
    EXPECT_EQ(QByteArray(got, 5), bytes.mid(10, 5));
    EXPECT_FALSE(reader.read(96, got, 5)); // past the end
    EXPECT_TRUE(reader.read(0, nullptr, 0));
    const unsigned long long top = ~0ULL;
    EXPECT_FALSE(reader.read(top - 9, got, 4));
    EXPECT_FALSE(reader.read(top - 4, got, 30)); // offset + 30 wraps to 25
    EXPECT_TRUE(reader.read(90, got, 10));
    EXPECT_EQ(QByteArray(got, 10), bytes.mid(90));
    ::close(fd);
}

} // namespace

namespace {

// A stop while the window thread waits for a verdict (from a Status event, as Abort
// comes) stops the worker's test too: the wait ends without a verdict rather than
// after the whole test, and the component lets the workers go once the wait is over.
TEST(TestAheadStop, AStopFromInsideTheWaitEndsItWithoutAVerdict) {
    QTemporaryDir dir;
    const QString big = dir.filePath("Big.ZIP"); // long enough to test that it is still
    ASSERT_TRUE(test::writeZip(big, {{"Zeros.BIN", QByteArray(256 << 20, '\0')}})); // waited for
    {
        ZipTestAhead ahead(1);
        ahead.enqueue({big}); // the free worker takes it up: take() waits for it
        int waits = 0;
        const ZipTestAhead::Result result = ahead.take(big, [&](double) {
            if (++waits == 1)
                ahead.cancel();
            return true;
        });
        EXPECT_EQ(waits, 1);
        EXPECT_EQ(result.archive, nullptr);
    }
    ZipComponent zip;
    zip.testAheadWorkers = 1;
    zip.TestAhead({big});
    bool stopped = false;
    QObject::connect(&zip, &ZipComponent::Status, [&] {
        if (!stopped) {
            stopped = true;
            zip.Abort = true;
            zip.StopTestingAhead();
        }
    });
    zip.ArchivePath = big;
    zip.EntrySpec = "*.*";
    EXPECT_EQ(zip.ListEntries(), ZipAborted);
    EXPECT_TRUE(stopped);
}

// One worker tests the queue in its order, so each archive asked for in turn is the
// one it has begun or finished: every verdict comes from the worker, and is the direct one.
TEST(TestAheadOrder, OneWorkerTakesTheArchivesInTheirOrder) {
    QTemporaryDir dir;
    const QString a = dir.filePath("A.ZIP"), b = dir.filePath("B.ZIP"), c = dir.filePath("C.ZIP");
    ASSERT_TRUE(test::writeZip(a, {{"One.TXT", QByteArray(300000, 'a')}}));
    QByteArray broken = buildZip(rawZip({rawEntry("Two.TXT", QByteArray("b").repeated(500))}));
    broken[100] = char(broken[100] ^ 1);
    ASSERT_TRUE(writeFile(b, broken));
    ASSERT_TRUE(test::writeZip(c, {{"Three.TXT", "c"}, {"Four.TXT", "d"}}));
    ZipTestAhead ahead(1);
    ahead.enqueue({a, b, c});
    const QList<QPair<QString, QPair<int, size_t>>> expected = {
        {a, {ZipOk, 1}}, {b, {ZipDataDamaged, 1}}, {c, {ZipOk, 2}}};
    for (const auto &[path, verdict] : expected) {
        const ZipTestAhead::Result result = ahead.take(path, [](double) { return true; });
        ASSERT_NE(result.archive, nullptr) << path.toStdString();
        EXPECT_EQ(result.code, verdict.first) << path.toStdString();
        EXPECT_EQ(result.archive->entries.size(), verdict.second) << path.toStdString();
    }
}

// Two central directories: the end record ending the file (ours: its comment runs to
// the end) names Info.NFO and one Extra.NFO, the end record inside that comment (libzip's
// choice: its data reach further) names another Extra.NFO. The readers disagree on the
// second entry, so the open fails after reading the first: no path lists it.
TEST(TestAheadOrder, AnOpenThatFailsListsNothingOnAWorkerOrNot) {
    QTemporaryDir dir;
    const QByteArray all =
        buildZip(rawZip({rawEntry("Info.NFO", "info"), rawEntry("Extra.NFO", "one"),
                         rawEntry("Extra.NFO", "another, longer")}));
    const RawRecords r = rawRecords(all);
    ASSERT_TRUE(r.ok);
    const QByteArray locals = r.local[0] + r.local[1] + r.local[2];
    const auto end = [](qsizetype size, qsizetype offset, qsizetype commentLen) {
        QByteArray e("PK\x05\x06\0\0\0\0\x02\0\x02\0", 12);
        for (const auto &[value, bytes] : {std::pair{size, 4}, {offset, 4}, {commentLen, 2}})
            for (int i = 0; i < bytes; ++i)
                e.append(char((value >> (8 * i)) & 0xff));
        return e;
    };
    const QByteArray ours = r.central[0] + r.central[1];
    const QByteArray theirs = r.central[0] + r.central[2];
    const QByteArray inner = theirs + end(theirs.size(), locals.size() + ours.size() + 22, 0);
    const QString path = dir.filePath("Two Directories.ZIP");
    ASSERT_TRUE(
        writeFile(path, locals + ours + end(ours.size(), locals.size(), inner.size()) + inner));
    for (const int workers : {0, 1}) {
        ZipComponent zip;
        zip.testAheadWorkers = workers;
        QStringList names;
        QObject::connect(&zip, &ZipComponent::Listing,
                         [&](const ZipEntryInfo &e) { names.append(e.FileName); });
        zip.TestAhead({path});
        zip.ArchivePath = path;
        zip.EntrySpec = "*.*";
        EXPECT_EQ(zip.ListEntries(), ZipUnsupported) << workers;
        EXPECT_EQ(names, QStringList{}) << workers;
    }
}

// A verdict found ahead counts only for the file it was found on.
TEST_F(Rewrite, AnArchiveChangedAfterItWasTestedAheadIsTestedAgain) {
    const QString a = place(rawZip({rawEntry("A.TXT", "a")}), "A.ZIP");
    const QString b = place(rawZip({rawEntry("B.TXT", "b"), rawEntry("C.TXT", "c")}), "B.ZIP");
    QSemaphore bTested;
    QObject::connect(&zip, &ZipComponent::TestedAhead, [&](const QString &path) {
        if (path == b)
            bTested.release();
    });
    zip.TestAhead({a, b});
    int code = -1;
    EXPECT_EQ(listed(a, &code), QStringList{"A.TXT"});
    EXPECT_EQ(code, ZipOk);
    ASSERT_TRUE(bTested.tryAcquire(1, 30000)); // a worker tested B as it was
    QByteArray broken = buildZip(rawZip({rawEntry("B.TXT", QByteArray("b").repeated(500))}));
    broken[100] = char(broken[100] ^ 1);
    const QString other = dir.filePath("other");
    writeFile(other, broken);
    ASSERT_EQ(::rename(QFile::encodeName(other), QFile::encodeName(b)), 0);
    EXPECT_EQ(listed(b, &code), QStringList{"B.TXT"});
    EXPECT_EQ(code, ZipDataDamaged);
    zip.StopTestingAhead();
}

} // namespace
