// The zip component against the shared corpus, whose MANIFEST.tsv records how
// three independent readers (Info-ZIP unzip, Python's zipfile, 7-Zip) judge each file.

#include "common/like.h"
#include "zip/zipcomponent.h"
#include "zipfixtures.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace arcsweep {
namespace {

// The corpus lives outside the repository: ARCSWEEP_CORPUS_DIR names its zips folder,
// else the one beside the repository. Without it these tests skip and say where to point.
const QString kCorpus = qEnvironmentVariableIsEmpty("ARCSWEEP_CORPUS_DIR")
                            ? QStringLiteral(ARCSWEEP_CORPUS_DIR)
                            : qEnvironmentVariable("ARCSWEEP_CORPUS_DIR");

bool haveCorpus() {
    return QFileInfo::exists(kCorpus + "/MANIFEST.tsv");
}

#define SKIP_WITHOUT_CORPUS()                                                                      \
    if (!haveCorpus())                                                                             \
    GTEST_SKIP() << "no corpus of outside archives at " << kCorpus.toStdString()                   \
                 << ": set ARCSWEEP_CORPUS_DIR to its zips folder to run these tests"

struct CorpusFile {
    QString path;
    QString entries;
    QString unzip, pyzip, sevenZip;
};

void PrintTo(const CorpusFile &f, std::ostream *os) {
    *os << f.path.toStdString();
}

// 7-Zip's "ok (W: ...)" is exit status 0: every entry tested fine, the warning
// is about framing (data after the archive, a header oddity). It counts as ok.
bool saysOk(const QString &verdict) {
    return verdict.startsWith(u"ok");
}

bool saysDamaged(const CorpusFile &f) {
    // A wrong password or an unsupported method is not damage; an unzip warning is neither.
    const bool unzip = f.unzip.startsWith(u"error") && !f.unzip.startsWith(u"error rc=81") &&
                       !f.unzip.startsWith(u"error rc=82");
    const bool pyzip = !saysOk(f.pyzip) && !f.pyzip.contains(u"NotImplementedError") &&
                       !f.pyzip.contains(u"password", Qt::CaseInsensitive);
    const bool sevenZip = f.sevenZip.startsWith(u"error") &&
                          !f.sevenZip.contains(u"Wrong password") &&
                          !f.sevenZip.contains(u"Unsupported Method");
    return unzip && pyzip && sevenZip;
}

// Where libzip and the three readers disagree; docs/zipcomponent.md gives the reasons.
const QHash<QString, int> kDisagreements = {
    {"libzip/extra_field_align_1-ef_ff.zip", ZipUnsupported},
    {"zip-rs/zip64_magic_in_filename_4.zip", ZipUnsupported},
    {"libzip/incons-gap-before-eocd.zip", ZipStructureDamaged},
    {"libzip/incons-local-magic-bad.zip", ZipStructureDamaged},
    {"zipdetails/zipbomb--full-overlap.zip", ZipStructureDamaged},
};

std::vector<CorpusFile> loadManifest() {
    std::vector<CorpusFile> files;
    QFile manifest(kCorpus + "/MANIFEST.tsv");
    if (!manifest.open(QIODevice::ReadOnly))
        return files;
    manifest.readLine(); // header
    while (!manifest.atEnd()) {
        const QStringList cols = QString::fromUtf8(manifest.readLine()).split(u'\t');
        if (cols.size() >= 8)
            files.push_back({cols[0], cols[4], cols[5], cols[6], cols[7]});
    }
    return files;
}

QStringList entriesOf(const QString &folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

TEST(ZipCorpus, ManifestDescribesEveryFile) {
    SKIP_WITHOUT_CORPUS();
    int files = 0;
    for (QDirIterator it(kCorpus, QDir::Files, QDirIterator::Subdirectories); it.hasNext();
         it.next())
        ++files;
    EXPECT_EQ(loadManifest().size() + 2, size_t(files)); // plus README.md and MANIFEST.tsv
}

class ZipCorpusFile : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(ZipCorpusFile, ListsDeletesAndExtractsSafely) {
    const CorpusFile &f = GetParam();
    QTemporaryDir tmp;
    ASSERT_TRUE(QDir(tmp.path()).mkpath("archive") && QDir(tmp.path()).mkpath("out/extract"));
    const QString archive = tmp.filePath("archive/" + QFileInfo(f.path).fileName());
    ASSERT_TRUE(QFile::copy(kCorpus + "/" + f.path, archive));
    const QByteArray original = test::fileBytes(archive);

    ZipComponent zip;
    int listed = 0;
    QStringList names;
    QObject::connect(&zip, &ZipComponent::Listing, [&](const ZipEntryInfo &e) {
        ++listed;
        names.append(e.FileName);
    });
    zip.ArchivePath = archive;
    zip.EntrySpec = "*.*";
    const int code = zip.ListEntries();
    // The last file of a split set: 7-Zip asks for the missing volume; we leave it alone.
    if (f.sevenZip.contains(u"Missing volume")) {
        EXPECT_EQ(code, ZipSplitSegment);
    } else if (kDisagreements.contains(f.path)) {
        EXPECT_EQ(code, kDisagreements[f.path]);
    } else if (saysOk(f.unzip) && saysOk(f.pyzip) && saysOk(f.sevenZip)) {
        EXPECT_TRUE(code == ZipOk && listed == f.entries.toInt())
            << "code " << code << ", " << listed << " of " << f.entries.toStdString();
    } else if (saysDamaged(f)) {
        EXPECT_TRUE(isDamageCode(code)) << "code " << code;
    } else {
        EXPECT_TRUE(code == ZipOk || isDamageCode(code) || code == ZipUnsupported) << code;
    }

    // A verdict that no entry's test gave lists no entries: an open that fails lists
    // none, however many it had read.
    if (code == ZipNotAZip || code == ZipUnsupported || code == ZipSplitSegment) {
        EXPECT_EQ(names, QStringList{}) << "code " << code;
    }
    // One verdict whatever the path: tested ahead on a worker, the same code and names.
    {
        ZipComponent ahead;
        ahead.testAheadWorkers = 1;
        QStringList aheadNames;
        QObject::connect(&ahead, &ZipComponent::Listing,
                         [&](const ZipEntryInfo &e) { aheadNames.append(e.FileName); });
        ahead.TestAhead({archive});
        ahead.ArchivePath = archive;
        ahead.EntrySpec = "*.*";
        EXPECT_EQ(ahead.ListEntries(), code);
        EXPECT_EQ(aheadNames, names);
    }

    zip.EntrySpec = "No Such Entry.None";
    const int deleted = zip.DeleteEntries();
    EXPECT_EQ(test::fileBytes(archive), original);
    if (code == ZipOk) {
        EXPECT_EQ(deleted, ZipOk);
    }
    EXPECT_EQ(entriesOf(tmp.filePath("archive")), QStringList{QFileInfo(archive).fileName()});

    zip.EntrySpec = "*.*";
    zip.ExtractFolder = tmp.filePath("out/extract");
    const int extracted = zip.ExtractEntries(0);
    EXPECT_NE(extracted, ZipUnreadable);
    EXPECT_EQ(entriesOf(tmp.filePath("out")), QStringList{"extract"});
    for (QDirIterator it(zip.ExtractFolder,
                         QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
         it.hasNext();) {
        const QFileInfo item(it.next());
        EXPECT_FALSE(item.isSymLink()) << item.filePath().toStdString();
    }

    // One verdict per archive: what lists as sound purges without a damage code, and
    // the rewritten archive lists as sound with every other entry's data as it was.
    if (code != ZipOk || names.isEmpty() || names.first().isEmpty())
        return; // (an entry without a name cannot be named in EntrySpec)
    bool readable = false;
    const QList<test::ZipFixtureEntry> before = test::readZip(archive, &readable);
    zip.EntrySpec = likeLiteral(names.first());
    const int purged = zip.DeleteEntries();
    ASSERT_EQ(purged, ZipOk);
    const qsizetype gone = std::count_if(names.cbegin(), names.cend(), [&](const QString &n) {
        return n.compare(names.first(), Qt::CaseInsensitive) == 0;
    });
    const int listedBefore = listed;
    names.clear();
    zip.EntrySpec = "*.*";
    EXPECT_EQ(zip.ListEntries(), ZipOk);
    EXPECT_EQ(names.size(), listedBefore - gone);
    if (readable) {
        bool still = false;
        const QList<test::ZipFixtureEntry> after = test::readZip(archive, &still);
        EXPECT_TRUE(still);
        for (const test::ZipFixtureEntry &e : after) {
            const auto same = std::find_if(before.cbegin(), before.cend(), [&](const auto &b) {
                return b.name == e.name && b.data == e.data;
            });
            EXPECT_NE(same, before.cend()) << e.name.toStdString();
        }
        EXPECT_EQ(after.size(), before.size() - gone);
    }
    EXPECT_EQ(entriesOf(tmp.filePath("archive")), QStringList{QFileInfo(archive).fileName()});
}

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ZipCorpusFile); // no corpus: no rows
INSTANTIATE_TEST_SUITE_P(Corpus, ZipCorpusFile, ::testing::ValuesIn(loadManifest()),
                         [](const ::testing::TestParamInfo<CorpusFile> &info) {
                             std::string name = info.param.path.toStdString();
                             for (char &c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// libzip's own entry-count edge cases, packed into one container archive.
TEST(ZipCorpus, ManyEntriesAndWrappedCounts) {
    SKIP_WITHOUT_CORPUS();
    QTemporaryDir tmp;
    ZipComponent zip;
    zip.ArchivePath = kCorpus + "/libzip/manyfiles-zip.zip";
    zip.EntrySpec = "*.*";
    zip.ExtractFolder = tmp.path();
    ASSERT_EQ(zip.ExtractEntries(0), ZipOk);
    const QHash<QString, int> expected = {
        {"manyfiles.zip", 70000},          {"manyfiles-65536.zip", 65536},
        {"manyfiles-133000.zip", 133000},  {"manyfiles-zip64.zip", 70000},
        {"manyfiles-fewer.zip", -1},       {"manyfiles-more.zip", -1},
        {"manyfiles-zip64-modulo.zip", -1}};
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        int listed = 0;
        const auto connection = QObject::connect(&zip, &ZipComponent::Listing, [&] { ++listed; });
        zip.ArchivePath = tmp.filePath(it.key());
        const int code = zip.ListEntries();
        QObject::disconnect(connection);
        if (it.value() < 0)
            EXPECT_TRUE(isDamageCode(code)) << it.key().toStdString() << ": " << code;
        else
            EXPECT_TRUE(code == ZipOk && listed == it.value()) << it.key().toStdString();
    }
}

} // namespace
} // namespace arcsweep
