// The built program run from the command line, as a scheduled job would run it: a
// private copy in a fresh AppFolder, no display, a folder argument.

#include "unattended.h"

#include "common/textfile.h"
#include "engine/signalstop.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

TEST(UnattendedRun, CleansTheTreeRecordsTheRunAndEnds) {
    Unattended u;
    QStringList purge{"JUNK.TXT"};
    for (int i = 2; i <= 40000; ++i)
        purge << QStringLiteral("Pattern%1.TXT").arg(i);
    writeFile(u.appFile(DataFile::PurgeList), (purge.join("\r\n") + "\r\n").toUtf8());
    const QString a = u.zip("Sub Dir/Mixed.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QString b = u.zip("Top.zip", {"Keep.TXT"});
    const QString bad = u.tree + "/Broken.ZIP";
    writeFile(bad, "not an archive");

    const Finished done = u.run(u.tree);

    ASSERT_TRUE(done.ended);
    EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_EQ(Unattended::names(a), QStringList{"Keep.TXT"});
    EXPECT_EQ(Unattended::names(b), QStringList{"Keep.TXT"});
    EXPECT_TRUE(QFile::exists(bad + ".bad"));
    // The ErrorLog goes when the program closes; its lines went to standard error.
    EXPECT_TRUE(done.err.contains("Bad zip " + bad.toLower())) << done.err.toStdString();
    EXPECT_TRUE(done.err.contains("30000")) << done.err.toStdString();

    const QStringList record = TextFile::readLines(u.appFile(DataFile::StatsLog));
    ASSERT_EQ(record.size(), 14);
    EXPECT_EQ(record[1], u' ' + u.tree.toLower());
    EXPECT_EQ(record[2], QStringLiteral(" 3 - Zip's"));
    EXPECT_EQ(record[7], QStringLiteral(" 30,000 - in purge.txt"));
    EXPECT_EQ(record[9], QStringLiteral(" 1 - purged files"));
    EXPECT_EQ(record[12], QStringLiteral(" 1 - bad zip's"));
    EXPECT_EQ(done.out.split('\n').mid(0, 13), record.mid(0, 13));
    const QStringList totals = TextFile::readLines(u.appFile(DataFile::TotalsFile));
    ASSERT_EQ(totals.size(), 2);
    EXPECT_EQ(totals[0].trimmed(), record[3].section(" - ", 0, 0).remove(',').trimmed());
}

// A purge-list line is one pattern whatever its length, and an editor's byte-order
// mark is no part of the first one.
TEST(UnattendedRun, PurgeListLinesCountOnceAndTheMarkIsNoPartOfThem) {
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList),
              "\xEF\xBB\xBFjunk.txt\r\n" + QByteArray(10 * 1000 * 1000, 'x') + "\r\nlate.txt\r\n");
    const QString archive = u.zip("A.ZIP", {"Junk.TXT", "Keep.TXT", "Late.TXT"});
    const Finished done = u.run(u.tree);
    ASSERT_TRUE(done.ended);
    EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_EQ(Unattended::names(archive), QStringList{"Keep.TXT"});
    const QStringList record = TextFile::readLines(u.appFile(DataFile::StatsLog));
    ASSERT_EQ(record.size(), 14);
    EXPECT_EQ(record[7], QStringLiteral(" 3 - in purge.txt"));
}

// The handlers are in place before anything can take a signal and stay until the
// process ends: SIGTERM at start-up stops the run (status 2, nothing cleaned), and
// SIGTERM after the run has ended leaves its status 0. A preloaded library sends it.
TEST(UnattendedRun, SigtermAtStartUpOrAtTheVeryEndIsCaught) {
    struct Case {
        const char *at;
        int status;
        QStringList left;
    };
    for (const Case &c :
         {Case{"start", 2, {"Junk.TXT", "Keep.TXT"}}, Case{"end", 0, {"Keep.TXT"}}}) {
        SCOPED_TRACE(c.at);
        Unattended u;
        writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
        const QString archive = u.zip("A.ZIP", {"Junk.TXT", "Keep.TXT"});
        const Finished done = u.run(u.tree, {},
                                    {QStringLiteral("LD_PRELOAD=" ARCSWEEP_STOPSIGNAL_SHIM),
                                     QStringLiteral("ARCSWEEP_SIGTERM_AT=") + QLatin1String(c.at)});
        ASSERT_TRUE(done.ended);
        EXPECT_TRUE(done.err.contains("stop-signal shim: SIGTERM")) << done.err.toStdString();
        EXPECT_EQ(done.exitCode, c.status) << done.err.toStdString();
        EXPECT_EQ(Unattended::names(archive), c.left);
    }
}

// Each stop signal is caught once: its handler puts the default back, so a second
// SIGTERM ends the program at once, while the other stop signals are still caught.
TEST(SignalStopTest, AHandlerIsResetAfterTheFirstSignal) {
    const int result = runInChild([] {
        SignalStop::install();
        if (::raise(SIGTERM) != 0)
            return 1; // (not caught: the child is gone and the answer is -1)
        struct sigaction term {
        }, interrupt{};
        ::sigaction(SIGTERM, nullptr, &term);
        ::sigaction(SIGINT, nullptr, &interrupt);
        if (term.sa_handler != SIG_DFL)
            return 2;
        return interrupt.sa_handler == SIG_DFL ? 3 : 0;
    });
    EXPECT_EQ(result, 0);
}

TEST(UnattendedRun, AMissingFolderCleansNothing) {
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    const QString a = u.zip("Mixed.ZIP", {"Junk.TXT", "Keep.TXT"});
    // The last session's folder holds archives: the run must not fall back to it, and
    // start-up tests none of them (a test would rename its damaged first archive).
    const QString damaged = u.tree + "/A Damaged.ZIP";
    writeFile(damaged, "not an archive");
    writeFile(u.appFile(DataFile::Settings), (u.tree + "\r\n").toUtf8());

    const Finished done = u.run(u.tree + "/No Such Folder");

    ASSERT_TRUE(done.ended);
    EXPECT_NE(done.exitCode, 0);
    EXPECT_FALSE(done.err.isEmpty());
    EXPECT_EQ(Unattended::names(a), (QStringList{"Junk.TXT", "Keep.TXT"}));
    EXPECT_TRUE(QFile::exists(damaged));
    EXPECT_FALSE(QFile::exists(damaged + ".bad"));
    EXPECT_EQ(fileBytes(u.appFile(DataFile::Settings)), (u.tree + "\r\n").toUtf8());
    EXPECT_FALSE(QFile::exists(u.appFile(DataFile::StatsLog)));
    EXPECT_FALSE(QFile::exists(u.appFile(DataFile::TotalsFile)));
    EXPECT_TRUE(done.out.isEmpty());
}

TEST(UnattendedRun, FoldersItMayNotEnterOrWriteAreSkippedAndTheRestIsCleaned) {
    const QString setpriv = Unattended::setprivAsRoot();
    if (setpriv.isEmpty())
        GTEST_SKIP() << "needs root and setpriv to run the program as an unprivileged user";
    Unattended u;
    writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n");
    const QString locked = u.zip("Locked/Hidden Away.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QString fixed = u.zip("Read Only Folder/Fixed.ZIP", {"Junk.TXT", "Keep.TXT"});
    const QString after = u.zip("Z After/Open.ZIP", {"Junk.TXT", "Keep.TXT"});
    // Everything belongs to root; the program runs as nobody.
    for (const QString &folder : {u.app, u.tree, u.tree + "/Z After"})
        QFile::setPermissions(folder, QFile::Permissions(0x7777));
    for (const QString &archive : {fixed, after})
        QFile::setPermissions(archive, QFile::Permissions(0x6666));
    QFile::setPermissions(u.tree + "/Locked", QFile::Permissions(0x7000));
    QFile::setPermissions(u.tree + "/Read Only Folder", QFile::Permissions(0x7555));

    const Finished done =
        u.run(u.tree, {setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"});

    ASSERT_TRUE(done.ended);
    EXPECT_EQ(done.exitCode, 0) << done.err.toStdString();
    EXPECT_TRUE(done.err.contains("Cannot enter " + (u.tree + "/Locked").toLower()))
        << done.err.toStdString();
    EXPECT_EQ(Unattended::names(locked), (QStringList{"Junk.TXT", "Keep.TXT"}));
    // The archive whose folder takes no new file cannot be purged: nothing is counted.
    EXPECT_EQ(Unattended::names(fixed), (QStringList{"Junk.TXT", "Keep.TXT"}));
    EXPECT_EQ(Unattended::names(after), QStringList{"Keep.TXT"});
    const QStringList record = TextFile::readLines(u.appFile(DataFile::StatsLog));
    ASSERT_EQ(record.size(), 14);
    EXPECT_EQ(record[2], QStringLiteral(" 2 - Zip's"));
    EXPECT_EQ(record[9], QStringLiteral(" 1 - purged files"));
}

} // namespace
