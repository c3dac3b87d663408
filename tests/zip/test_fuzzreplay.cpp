// The fuzz targets' saved inputs replayed through the targets' own checks (fuzz/checks.h)
// with the normal build: fuzz/regressions/<target>/ holds inputs that once broke an
// invariant, fuzz/corpus/<target>/ inputs that reach deep into the code. Then the checks
// themselves: the Like reference and the look for stray output must tell right from wrong.

#include "checks.h"
#include "zipfixtures.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace arcsweep::fuzz {
namespace {

const QString kFuzzDir = QStringLiteral(ARCSWEEP_SOURCE_DIR "/fuzz");
const QStringList kTargets = {"fuzz_zip_list", "fuzz_zip_extract", "fuzz_like"};

// Saved inputs that break an invariant of the code as it stands, by path below fuzz/ and
// the invariant they break. Each is still replayed; it is skipped only while it breaks
// exactly that one.
const QHash<QString, QString> kKnownBroken = {};

struct SavedInput {
    QString target;
    QString path; // below fuzz/
};

void PrintTo(const SavedInput &input, std::ostream *os) {
    *os << input.path.toStdString();
}

std::vector<SavedInput> savedInputs() {
    std::vector<SavedInput> inputs;
    for (const QString kind : {"regressions", "corpus"})
        for (const QString &target : kTargets) {
            QStringList paths;
            for (QDirIterator it(kFuzzDir + u'/' + kind + u'/' + target, QDir::Files);
                 it.hasNext();)
                paths.append(QDir(kFuzzDir).relativeFilePath(it.next()));
            paths.sort();
            for (const QString &path : paths)
                inputs.push_back({target, path});
        }
    return inputs;
}

Verdict replay(const SavedInput &input, const QString &scratch) {
    const QByteArray bytes = test::fileBytes(kFuzzDir + u'/' + input.path);
    if (input.target == u"fuzz_zip_list")
        return checkZipList(bytes, scratch);
    if (input.target == u"fuzz_zip_extract")
        return checkZipExtract(bytes, scratch);
    return checkLike(bytes);
}

class FuzzReplay : public ::testing::TestWithParam<SavedInput> {};

TEST_P(FuzzReplay, HoldsItsTargetsInvariants) {
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const Verdict verdict = replay(GetParam(), scratch.path());
    const auto known = kKnownBroken.constFind(GetParam().path);
    if (!verdict.ok() && known != kKnownBroken.cend() && *known == verdict.invariant)
        GTEST_SKIP() << "still breaks " << verdict.invariant.toStdString() << ": "
                     << verdict.detail.toStdString();
    EXPECT_TRUE(verdict.ok()) << verdict.invariant.toStdString() << ": "
                              << verdict.detail.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Saved, FuzzReplay, ::testing::ValuesIn(savedInputs()),
                         [](const ::testing::TestParamInfo<SavedInput> &info) {
                             std::string name = info.param.path.toStdString();
                             for (char &c : name)
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

TEST(FuzzReplaySet, EveryTargetHasSavedInputsAndEveryKnownBreakExists) {
    const std::vector<SavedInput> inputs = savedInputs();
    for (const QString &target : kTargets)
        EXPECT_TRUE(std::any_of(inputs.cbegin(), inputs.cend(),
                                [&](const SavedInput &i) { return i.target == target; }))
            << target.toStdString();
    for (auto it = kKnownBroken.cbegin(); it != kKnownBroken.cend(); ++it)
        EXPECT_TRUE(QFile::exists(kFuzzDir + u'/' + it.key())) << it.key().toStdString();
}

// The reference the Like target holds the matcher to.
struct LikeCase {
    const char *name;
    const char *pattern;
    bool matches;
    bool valid;
};

class LikeReferenceTest : public ::testing::TestWithParam<LikeCase> {};

TEST_P(LikeReferenceTest, ReadsTheRules) {
    const LikeCase c = GetParam();
    bool valid = !c.valid;
    EXPECT_EQ(likeReference(QString::fromUtf8(c.name), QString::fromUtf8(c.pattern), &valid),
              c.matches);
    EXPECT_EQ(valid, c.valid);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LikeReferenceTest,
    ::testing::Values(
        // A star that must give back more than its last try.
        LikeCase{"abcbc", "a*bc", true, true}, LikeCase{"abcbcx", "a*b*c", false, true},
        LikeCase{"axbxcx", "*x*x*x", true, true}, LikeCase{"", "**", true, true},
        LikeCase{"9.nfo", "#.nfo", true, true}, LikeCase{"x.nfo", "#.nfo", false, true},
        // Brackets: leading and trailing hyphens, negation, ranges by code.
        LikeCase{"-", "[--a]", true, true}, LikeCase{"b", "[--a]", false, true},
        LikeCase{"-", "[a-]", true, true}, LikeCase{"-", "[!-]", false, true},
        LikeCase{"c", "[a-ce-g]", true, true}, LikeCase{"d", "[a-ce-g]", false, true},
        LikeCase{"*", "[*]", true, true}, LikeCase{"!", "[!]]", false, false},
        // Malformed anywhere, even past where the name ends: nothing matches.
        LikeCase{"a", "a*[", false, false}, LikeCase{"a", "[z-a]", false, false},
        LikeCase{"a", "[]", false, false}, LikeCase{"a", "[!]", false, false},
        LikeCase{"a", "[a--]", false, false}));

TEST(LikeReference, ManyStarsAgainstALongNameStayPolynomial) {
    const QString name(kLikeNameMax, u'a');
    EXPECT_FALSE(likeReference(name, QString("a*").repeated(kLikePatternMax / 2 - 1) + "b"));
    EXPECT_TRUE(likeReference(name, QString("a*").repeated(kLikePatternMax / 2)));
}

TEST(LikeCheck, SplitsNameAndPatternAtTheFirstNewline) {
    EXPECT_TRUE(checkLike("readme.nfo\n*.nfo").ok());
    EXPECT_TRUE(checkLike("a\nb\nc").ok()); // the pattern holds the second newline
    EXPECT_TRUE(checkLike("").ok());
}

class StrayOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        parent = dir.filePath("parent");
        ASSERT_TRUE(QDir().mkpath(parent + "/extract/sub"));
        ASSERT_TRUE(test::writeFile(parent + "/extract/sub/file", "data"));
    }
    QTemporaryDir dir;
    QString parent;
};

TEST_F(StrayOutputTest, AcceptsFilesAndFoldersInside) {
    EXPECT_TRUE(strayOutput(parent, "extract").ok());
}

TEST_F(StrayOutputTest, FindsAFileBesideTheFolder) {
    ASSERT_TRUE(test::writeFile(parent + "/escaped", "data"));
    EXPECT_EQ(strayOutput(parent, "extract").invariant, "extract-outside");
}

TEST_F(StrayOutputTest, FindsALinkDeepInside) {
    ASSERT_TRUE(QFile::link(dir.path(), parent + "/extract/sub/up"));
    EXPECT_EQ(strayOutput(parent, "extract").invariant, "extract-symlink");
}

TEST_F(StrayOutputTest, FindsADanglingLink) {
    ASSERT_TRUE(QFile::link(dir.filePath("nowhere"), parent + "/extract/gone"));
    EXPECT_EQ(strayOutput(parent, "extract").invariant, "extract-symlink");
}

// The zip checks on archives whose outcome is known.
TEST(ZipChecks, PurgeOfASoundArchiveHoldsEveryInvariant) {
    QTemporaryDir scratch, source;
    const QString path = source.filePath("a.zip");
    ASSERT_TRUE(test::writeZip(path, {{"Read#1.NFO", "one"},
                                      {"read#1.nfo", "same name, other case"},
                                      {"read11.nfo", "a pattern would take this"},
                                      {"keep/me.txt", test::randomBytes(70000, 1)}}));
    const QByteArray bytes = test::fileBytes(path);
    EXPECT_TRUE(checkZipList(bytes, scratch.path()).ok());
    EXPECT_TRUE(checkZipExtract(bytes, scratch.path()).ok());
}

TEST(ZipChecks, AcceptDamageAndNonArchives) {
    QTemporaryDir scratch, source;
    const QString path = source.filePath("a.zip");
    ASSERT_TRUE(test::writeZip(path, {{"x.txt", test::randomBytes(5000, 2), true}}));
    QByteArray bytes = test::fileBytes(path);
    bytes[40] = char(~bytes[40]); // inside the stored data: a CRC mismatch
    for (const QByteArray &input : {bytes, QByteArray("not a zip"), QByteArray()}) {
        EXPECT_TRUE(checkZipList(input, scratch.path()).ok());
        EXPECT_TRUE(checkZipExtract(input, scratch.path()).ok());
    }
}

} // namespace
} // namespace arcsweep::fuzz
