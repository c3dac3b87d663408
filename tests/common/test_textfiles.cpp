#include "common/appstate.h"
#include "common/damagedarchiverule.h"
#include "common/numbertext.h"
#include "common/purgelistadd.h"
#include "common/textfile.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace arcsweep;

namespace {

void writeBytes(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(TextFile, ReadsEveryKindOfLineEnd) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Lines.txt"));
    writeBytes(path, "crlf\r\nlf\ncr\rlast");
    EXPECT_EQ(TextFile::readLines(path), (QStringList{"crlf", "lf", "cr", "last"}));
    writeBytes(path, "a\r\n\r\nb\n\nc");
    EXPECT_EQ(TextFile::readLines(path), (QStringList{"a", "", "b", "", "c"}));
    EXPECT_EQ(TextFile::readLines(path, 2), (QStringList{"a", ""}));
    // An editor's byte-order mark is no part of the first line; later it is text.
    writeBytes(path, "\xEF\xBB\xBF*.nfo\r\n\xEF\xBB\xBF" "b");
    EXPECT_EQ(TextFile::readLines(path), (QStringList{"*.nfo", QString(QChar(0xFEFF)) + "b"}));
    EXPECT_TRUE(TextFile::readLines(dir.filePath(QStringLiteral("Missing.txt"))).isEmpty());
}

TEST(TextFile, AppendStartsOnAFreshLineAndWritesCrLf) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Purge.txt"));
    writeBytes(path, "edited by hand"); // no line end after the last line
    ASSERT_TRUE(TextFile::appendLines(path, {"one", "two"}));
    EXPECT_EQ(readBytes(path), QByteArray("edited by hand\r\none\r\ntwo\r\n"));
    EXPECT_TRUE(TextFile::containsLine(path, QStringLiteral("two")));
    EXPECT_FALSE(TextFile::containsLine(path, QStringLiteral("TWO")));
    EXPECT_FALSE(TextFile::containsLine(path, QStringLiteral("tw")));
}

TEST(TextFile, BinaryJunkReadsWithoutBlowingUp) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Junk.bin"));
    QByteArray junk(3 * 1024 * 1024, '\x01'); // one 3 MB "line"
    writeBytes(path, junk + "\nend");
    const QStringList lines = TextFile::readLines(path);
    // However long, a line is one line.
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines.first().size(), TextFile::MaxLineBytes);
    EXPECT_EQ(lines.last(), QStringLiteral("end"));
}

TEST(NumberText, GroupsAndPlainForms) {
    const QString sep = QLocale::system().groupSeparator();
    EXPECT_EQ(NumberText::grouped(1234567),
              u'1' + sep + QStringLiteral("234") + sep + QStringLiteral("567"));
    EXPECT_EQ(NumberText::grouped(0), QStringLiteral("0"));
    EXPECT_EQ(NumberText::grouped(999), QStringLiteral("999"));

    EXPECT_EQ(NumberText::plain(0), QStringLiteral(" 0 "));
    EXPECT_EQ(NumberText::plain(123456789), QStringLiteral(" 123456789 "));
    EXPECT_EQ(NumberText::plain(999999999999999.0), QStringLiteral(" 999999999999999 "));
    EXPECT_EQ(NumberText::plain(1e15), QStringLiteral(" 1E+15 "));
    EXPECT_EQ(NumberText::plain(1.5e16), QStringLiteral(" 1.5E+16 "));
    EXPECT_EQ(NumberText::plain(-42), QStringLiteral("-42 "));
}

TEST(NumberText, ReadsLeadingNumbersAndFields) {
    EXPECT_EQ(NumberText::leadingNumber(QStringLiteral(" 1234 ")), 1234);
    EXPECT_EQ(NumberText::leadingNumber(QStringLiteral(" 1E+15 ")), 1e15);
    EXPECT_EQ(NumberText::leadingNumber(QStringLiteral("12abc")), 12);
    EXPECT_EQ(NumberText::leadingNumber(QStringLiteral("abc")), 0);
    EXPECT_EQ(NumberText::leadingNumber(QString()), 0);
    EXPECT_EQ(NumberText::leadingNumber(QStringLiteral("5E")), 5);

    // A plain number reads back as itself.
    for (double v : {0.0, 7.0, 123456789012.0, 1e15, 2.5e17})
        EXPECT_EQ(NumberText::leadingNumber(NumberText::plain(v)), v);

    EXPECT_EQ(NumberText::delimitedFields(QStringLiteral(" 12 \r\n 34 \r\n")).mid(0, 2),
              (QStringList{"12", "34"}));
    EXPECT_EQ(NumberText::delimitedFields(QStringLiteral("  /home/Me/Zips, Old\r\n"), 1),
              QStringList{"/home/Me/Zips"});
    EXPECT_EQ(NumberText::delimitedFields(QStringLiteral("\"/a,b\",c"), 1), QStringList{"/a,b"});
}

class PurgeListAddTest : public ::testing::Test {
protected:
    void SetUp() override {
        state.AppFolder = dir.path();
    }
    QTemporaryDir dir;
    AppState state;
    QStringList deleted;
    QList<QPair<QString, bool>> handled;

    PurgeListAdd::Outcome add(const QStringList &names, QString *error = nullptr) {
        PurgeListAdd::Hooks hooks;
        hooks.handled = [&](const QString &n, bool isNew) { handled.append({n, isNew}); };
        hooks.deleteEntry = [&](const QString &n) { deleted.append(n); };
        return PurgeListAdd::run(state, names, hooks, error);
    }
};

TEST_F(PurgeListAddTest, AppendsOnlyNewWholeLinesAndDeletesEveryName) {
    const QString purge = state.file(DataFile::PurgeList);
    writeBytes(purge, "*.diz\r\nAD.TXT\r\nold.nfo\r\n\r\nafter-gap.txt\r\n");
    ASSERT_EQ(add({"file_id.diz", "ad.txt", "old.nfo", "new.nfo"}), PurgeListAdd::Added);
    // "*.diz" does not stop file_id.diz, "AD.TXT" is not "ad.txt", old.nfo is there.
    EXPECT_EQ(readBytes(purge), QByteArray("*.diz\r\nAD.TXT\r\nold.nfo\r\n\r\nafter-gap.txt\r\n"
                                           "file_id.diz\r\nad.txt\r\nnew.nfo\r\n"));
    EXPECT_EQ(deleted, (QStringList{"file_id.diz", "ad.txt", "old.nfo", "new.nfo"}));
    EXPECT_EQ(handled.at(2), qMakePair(QStringLiteral("old.nfo"), false));
    EXPECT_EQ(handled.at(3), qMakePair(QStringLiteral("new.nfo"), true));
    EXPECT_FALSE(QFile::exists(state.file(DataFile::PurgeStaging)));
}

TEST_F(PurgeListAddTest, MissingListRefusesAndTouchesNothing) {
    EXPECT_EQ(add({"x.nfo"}), PurgeListAdd::NoPurgeList);
    EXPECT_TRUE(deleted.isEmpty());
    EXPECT_FALSE(QFile::exists(state.file(DataFile::PurgeStaging)));
    EXPECT_FALSE(QFile::exists(state.file(DataFile::PurgeList)));
}

TEST_F(PurgeListAddTest, UnwritableStagingFileLeavesTheListAsItWas) {
    const QString purge = state.file(DataFile::PurgeList);
    writeBytes(purge, "keep.txt\r\n");
    // A folder where purge.bak should be: it cannot be created.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("purge.bak")));
    QString error;
    EXPECT_EQ(add({"new.txt"}, &error), PurgeListAdd::Failed);
    EXPECT_TRUE(error.contains(QStringLiteral("purge.bak")));
    EXPECT_TRUE(deleted.isEmpty());
    EXPECT_EQ(readBytes(purge), QByteArray("keep.txt\r\n"));
}

TEST(DamagedArchiveRuleTest, RenamesKeepingTheRealNameAndReplacesAnOlderBadFile) {
    QTemporaryDir dir;
    const QString archive = dir.filePath(QStringLiteral("Name.ZIP"));
    writeBytes(archive, "damaged");
    writeBytes(archive + QStringLiteral(".bad"), "older");
    QFile::setPermissions(archive + QStringLiteral(".bad"), QFile::ReadOwner);
    writeBytes(dir.filePath(QStringLiteral("name.zip")), "sound");
    QStringList reports;
    DamagedArchiveRule rule;
    rule.report = [&](const QString &p) { reports.append(p); };
    EXPECT_TRUE(rule.apply(archive));
    EXPECT_EQ(reports, QStringList{archive.toLower()});
    EXPECT_FALSE(QFile::exists(archive));
    EXPECT_EQ(readBytes(archive + QStringLiteral(".bad")), QByteArray("damaged"));
    EXPECT_EQ(readBytes(dir.filePath(QStringLiteral("name.zip"))), QByteArray("sound"));

    // A volume that refuses: reported, not renamed.
    writeBytes(archive, "damaged again");
    rule.mayRename = [](const QString &) { return false; };
    EXPECT_FALSE(rule.apply(archive));
    EXPECT_TRUE(QFile::exists(archive));
    EXPECT_EQ(reports.size(), 2);
}

} // namespace
