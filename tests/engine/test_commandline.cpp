// The command line as users type it, and the progress line of an unattended run.
#include "unattended.h"

#include "common/commandline.h"
#include "common/fs.h"
#include "common/textfile.h"

#include <QScopeGuard>
#include <QStandardPaths>

#include <cstdio>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

TEST(CommandLineParse, OptionsAnywhereBeforeTheEndMarkerAndWordsJoined) {
    struct Case {
        QStringList args;
        CommandLine::Action action;
        QString folder;
        bool dryRun;
        QString keep;
        bool skip = false;
        int days = -1;
    };
    using A = CommandLine::Action;
    const QList<Case> cases = {
        {{}, A::Run, "", false, ""},
        {{"My", "Zip", "Files"}, A::Run, "My Zip Files", false, ""},
        {{"--help"}, A::Help, "", false, ""},
        {{"Zips", "-h"}, A::Help, "Zips", false, ""},
        {{"-V"}, A::Version, "", false, ""},
        {{"--dry-run", "My", "Zips"}, A::Run, "My Zips", true, ""},
        {{"--keep-purged", "/kept", "Zips"}, A::Run, "Zips", false, "/kept"},
        {{"--keep-purged=/kept here", "Zips"}, A::Run, "Zips", false, "/kept here"},
        {{"--", "--help", "-x"}, A::Run, "--help -x", false, ""},
        {{"-"}, A::Run, "-", false, ""},
        {{"--bogus", "Zips"}, A::Error, "", false, ""},
        {{"-x"}, A::Error, "", false, ""},
        {{"Zips", "--keep-purged"}, A::Error, "", false, ""},
        {{"--dry-run"}, A::Error, "", true, ""},
        {{"--dry-run", "--keep-purged", "/k", "Z"}, A::Error, "Z", true, "/k"},
        {{"--skip-unchanged", "--retest-days", "7", "Z"}, A::Run, "Z", false, "", true, 7},
        {{"--retest-days=0", "Z"}, A::Run, "Z", false, "", false, 0},
        {{"--retest-days", "x", "Z"}, A::Error, "", false, ""},
        {{"--retest-days", "-1", "Z"}, A::Error, "", false, ""},
        {{"Z", "--retest-days"}, A::Error, "", false, ""},
        {{"--skip-unchanged"}, A::Error, "", false, ""},
        {{""}, A::Error, "", false, ""}, // an unset variable in a script
        {{"--", ""}, A::Error, "", false, ""},
        {{"My", "", "Zips"}, A::Error, "", false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const CommandLine line = CommandLine::parse(c.args);
        EXPECT_EQ(line.action, c.action);
        if (c.action == A::Error) {
            EXPECT_FALSE(line.error.isEmpty());
            continue;
        }
        EXPECT_EQ(line.folder, c.folder);
        EXPECT_EQ(line.dryRun, c.dryRun);
        EXPECT_EQ(line.keepPurged, c.keep);
        EXPECT_EQ(line.skipUnchanged, c.skip);
        EXPECT_EQ(line.retestDays, c.days);
    }
}

class CommandLineRun : public ::testing::Test {
protected:
    void SetUp() override { writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n"); }
    Finished runWith(const QStringList &args, const QString &cwd = QString()) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        process.setProcessEnvironment(env);
        if (!cwd.isEmpty())
            process.setWorkingDirectory(cwd);
        process.start(u.exe, args);
        Finished done;
        done.ended = process.waitForFinished(60000);
        done.exitCode = process.exitCode();
        done.out = QString::fromUtf8(process.readAllStandardOutput());
        done.errBytes = process.readAllStandardError();
        done.err = QString::fromUtf8(done.errBytes);
        return done;
    }
    Unattended u;
};

TEST_F(CommandLineRun, HelpVersionAndUnknownOptionsSayWhatTheyShould) {
    const Finished help = runWith({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: arcsweep"));
    EXPECT_TRUE(help.out.contains("Data folder: " + u.app)) << help.out.toStdString();
    for (const char *status : {"  0 ", "  1 ", "  2 ", "  3 ", "  4 ", "  64 "})
        EXPECT_TRUE(help.out.contains(QLatin1String(status))) << status;
    EXPECT_TRUE(help.err.isEmpty());

    const Finished version = runWith({"-V"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(version.out.contains("Arcsweep 1."));
    EXPECT_TRUE(version.out.contains("Data folder: " + u.app));

    // An option that is not one is never a folder to clean, even where one is so named.
    const QString named = u.tree + "/--bogus";
    const QString archive = u.zip("--bogus/A.ZIP", {"Junk.TXT", "Keep.TXT"});
    const Finished bogus = runWith({"--bogus"}, u.tree);
    EXPECT_EQ(bogus.exitCode, 64);
    EXPECT_TRUE(bogus.err.contains("unknown option --bogus"));
    EXPECT_TRUE(bogus.err.contains("Usage: arcsweep"));
    EXPECT_TRUE(bogus.out.isEmpty());
    EXPECT_EQ(Unattended::names(archive), (QStringList{"Junk.TXT", "Keep.TXT"}));
    EXPECT_FALSE(QFile::exists(u.appFile(DataFile::StatsLog)));
    EXPECT_EQ(runWith({named, "--keep-purged"}).exitCode, 64);
    // An empty argument names no folder: no window opens, nothing is cleaned.
    const Finished empty = runWith({""}, u.tree);
    EXPECT_EQ(empty.exitCode, 64);
    EXPECT_TRUE(empty.err.contains("empty argument")) << empty.err.toStdString();
    // After "--" it is a folder like any other.
    const Finished ended = runWith({"--", "--bogus"}, u.tree);
    EXPECT_EQ(ended.exitCode, 0) << ended.err.toStdString();
    EXPECT_EQ(Unattended::names(archive), QStringList{"Keep.TXT"});
}

TEST_F(CommandLineRun, WordsAreJoinedIntoOneFolderAndNoDisplayNeedsAFolder) {
    const QString archive = u.zip("My Zip Files/A.ZIP", {"Junk.TXT", "Keep.TXT"});
    const Finished done = runWith({u.tree + "/My", "Zip", "Files"});
    EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_EQ(Unattended::names(archive), QStringList{"Keep.TXT"});
    const Finished window = runWith({});
    EXPECT_EQ(window.exitCode, 1);
    EXPECT_TRUE(window.err.contains("Usage: arcsweep"));
}

// A keep folder that is the tree or holds it (links resolved) would take the removed
// entries into the archive itself, or have the next run clean its kept copies.
TEST_F(CommandLineRun, AKeepFolderThatIsOrHoldsTheTreeIsAUsageError) {
    const QString archive = u.zip("A.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QString link = u.root.filePath("Link To Tree");
    ASSERT_TRUE(QFile::link(u.tree, link));
    const QList<QStringList> refused = {
        {"--keep-purged", u.tree, u.tree},        {"--keep-purged", u.tree + "/", u.tree},
        {"--keep-purged", u.root.path(), u.tree}, {"--keep-purged", link, u.tree},
        {"--keep-purged", u.tree, link},          {"--keep-purged=.", "."}};
    for (const QStringList &args : refused) {
        const Finished done = runWith(args, u.tree);
        EXPECT_EQ(done.exitCode, 64) << args.join(' ').toStdString();
        EXPECT_TRUE(done.err.contains("is the folder to clean or holds it"))
            << done.err.toStdString();
    }
    EXPECT_EQ(Unattended::names(archive), (QStringList{"Junk.TXT", "Keep.TXT"}));
    EXPECT_FALSE(QFile::exists(u.appFile(DataFile::StatsLog)));
    // A folder beside it whose name merely begins the same is fine.
    const QString beside = u.tree + " Kept";
    const Finished done = runWith({"--keep-purged", beside, u.tree});
    EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_EQ(Unattended::names(archive), QStringList{"Keep.TXT"});
    EXPECT_EQ(Unattended::names(beside + "/A.ZIP"), QStringList{"Junk.TXT"});
}

// Keep folders whose names are not UTF-8: the kept copy lands at the very bytes of the
// keep folder and the tree's folder, and the purge goes ahead.
TEST_F(CommandLineRun, KeepPathsAreBytes) {
    u.zip("Cafe/A.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QByteArray root = QFile::encodeName(u.root.path());
    const QByteArray tree = QFile::encodeName(u.tree);
    const auto removeAll = qScopeGuard([&] { // names Qt's own removal cannot spell
        QProcess::execute(QStringLiteral("rm"), {"-rf", u.root.path()});
    });
    const auto move = [](const QByteArray &from, const QByteArray &to) {
        return std::rename(from.constData(), to.constData()) == 0;
    };
    ASSERT_TRUE(move(tree + "/Cafe", tree + "/Caf\xe9"));
    // QProcess passes arguments as text: the shell makes the byte.
    const Finished done =
        u.run(u.tree,
              {"/bin/sh", "-c",
               "exec \"$0\" --keep-purged \"$(printf '%s/Kept \\351' \"$ROOT\")\" \"$1\""},
              {"ROOT=" + u.root.path()});
    EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_TRUE(done.err.isEmpty()) << done.err.toStdString();
    // Read under plain names.
    ASSERT_TRUE(move(root + "/Kept \xe9/Caf\xe9/A.ZIP", root + "/Kept.ZIP"));
    ASSERT_TRUE(move(tree + "/Caf\xe9/A.ZIP", root + "/Cleaned.ZIP"));
    EXPECT_EQ(Unattended::names(u.root.filePath("Kept.ZIP")), QStringList{"Junk.TXT"});
    EXPECT_EQ(Unattended::names(u.root.filePath("Cleaned.ZIP")), QStringList{"Keep.TXT"});
    // No folder named by a text conversion (U+FFFD for the byte).
    EXPECT_EQ(Fs::folders(u.root.path(), false).filter(QChar(QChar::ReplacementCharacter)),
              QStringList());
}

// The settings file: the program rewrites its first line only, and a relative keep
// folder there is taken from the data folder, wherever the program starts.
TEST_F(CommandLineRun, SettingsLinesAreKeptAndTheirKeepFolderIsInTheDataFolder) {
    QByteArray rest = "KeepPurged=Kept Here\r\nName=Caf\xe9\r\nSkipUnchanged=1\r\n";
    for (int i = 0; i < 70; ++i)
        rest += "Choice" + QByteArray::number(i) + "=x\r\n";
    rest += QByteArray(2 * 1024 * 1024, 'v') + "\nlone LF\rlone CR\r\nno line end";
    writeFile(u.appFile(DataFile::Settings), "/old/folder\r\n" + rest);
    const QString archive = u.zip("A.ZIP", {"Junk.TXT", "Keep.TXT"});
    QTemporaryDir elsewhere;
    const Finished done = runWith({u.tree}, elsewhere.path());
    EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_EQ(fileBytes(u.appFile(DataFile::Settings)), QFile::encodeName(u.tree) + "\r\n" + rest);
    EXPECT_EQ(Unattended::names(archive), QStringList{"Keep.TXT"});
    EXPECT_EQ(Unattended::names(u.app + "/Kept Here/A.ZIP"), QStringList{"Junk.TXT"});
    EXPECT_FALSE(QFile::exists(elsewhere.filePath("Kept Here")));
    // "SkipUnchanged=1" has the run keep its verdicts.
    EXPECT_TRUE(QFile::exists(u.appFile(DataFile::VerdictStore)));
}

// Damaged archives report on standard error while the run goes on.
void aTreeThatReports(Unattended &u) {
    for (int i = 0; i < 30; ++i)
        u.zip(QStringLiteral("Folder %1/A%2.ZIP").arg(i % 4).arg(i), {"Junk.TXT", "Keep.TXT"});
    for (int i = 0; i < 3; ++i)
        writeFile(u.tree + QStringLiteral("/Folder %1/Broken.ZIP").arg(i), "not a zip");
}

TEST_F(CommandLineRun, AProgressLineOnATerminalIsClearedBeforeEveryReport) {
    const QString script = QStandardPaths::findExecutable("script");
    if (script.isEmpty())
        GTEST_SKIP() << "needs script(1) from util-linux for a pseudo-terminal";
    aTreeThatReports(u);
    // On a pseudo-terminal: standard error and output both show there.
    QProcess terminal;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    terminal.setProcessEnvironment(env);
    terminal.start(script, {"-q", "-e", "-c", "'" + u.exe + "' '" + u.tree + "'", "/dev/null"});
    ASSERT_TRUE(terminal.waitForFinished(60000));
    EXPECT_EQ(terminal.exitCode(), 0);
    const QByteArray shown = terminal.readAllStandardOutput();
    EXPECT_TRUE(shown.contains("archives done")) << shown.toStdString();
    // Every report and the record start on a cleared line.
    const qsizetype reports = shown.count("Bad zip ");
    EXPECT_EQ(reports, 3);
    EXPECT_EQ(shown.count("\r\x1b[KBad zip "), reports);
    const qsizetype record = shown.indexOf(" - Zip's");
    ASSERT_GT(record, 0);
    const qsizetype lastClear = shown.lastIndexOf("\r\x1b[K");
    EXPECT_LT(lastClear, record);
    EXPECT_EQ(shown.indexOf("archives done", lastClear), -1); // nothing drawn after it

    // On a pipe nothing of the kind.
    Unattended piped;
    writeFile(piped.appFile(DataFile::PurgeList), "junk.txt\r\n");
    aTreeThatReports(piped);
    const Finished done = piped.run(piped.tree);
    EXPECT_EQ(done.exitCode, 0);
    EXPECT_EQ(done.errBytes.count("Bad zip "), 3);
    EXPECT_FALSE(done.errBytes.contains("\x1b[K"));
    EXPECT_FALSE(done.errBytes.contains("archives done"));
    EXPECT_FALSE(done.errBytes.contains('\r'));
}

} // namespace
