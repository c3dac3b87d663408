// A rewrite that cannot finish (no permission, read-only volume, full disk, a
// killed process) must leave the original archive byte for byte; hostile files
// must give their proper code.

#include "zip/zipcomponent.h"
#include "zipfixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace arcsweep {
namespace {

using Operation = std::function<int(ZipComponent &)>;
const Operation kList = [](ZipComponent &zip) { return zip.ListEntries(); };
const Operation kDelete = [](ZipComponent &zip) { return zip.DeleteEntries(); };
const Operation kExtract = [](ZipComponent &zip) { return zip.ExtractEntries(0); };
const Operation kAdd = [](ZipComponent &zip) { return zip.AddEntries(0); };

class ZipSafetyTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Other users must reach the folder for the tests that run as "nobody".
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0755), 0);
        archive = dir.filePath("Archive.ZIP");
        ASSERT_TRUE(test::writeZip(
            archive, {{"Small.TXT", "small"}, {"Noise.BIN", test::randomBytes(2 << 20, 3), true}}));
        original = test::fileBytes(archive);
    }

    int run(const Operation &operation, const QString &path, const QString &entrySpec) {
        ZipComponent zip;
        zip.ArchivePath = path;
        zip.EntrySpec = entrySpec;
        zip.ExtractFolder = dir.filePath("Temp");
        return operation(zip);
    }
    int deleteSmall(const QString &path) { return run(kDelete, path, "small.txt"); }

    // The original is untouched and no temporary file is left beside it.
    void expectUntouched(const QString &folder) {
        EXPECT_EQ(test::fileBytes(folder + "/Archive.ZIP"), original);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{"Archive.ZIP"});
    }

    QTemporaryDir dir;
    QString archive;
    QByteArray original;
};

TEST_F(ZipSafetyTest, FolderWithoutWritePermission) {
    const QString added = dir.filePath("Added.TXT");
    ASSERT_TRUE(test::writeFile(added, "added"));
    // The archive itself may be written: only the folder stands in the way.
    ASSERT_EQ(::chmod(QFile::encodeName(archive).constData(), 0666), 0);
    EXPECT_EQ(test::runInChild([&] { return deleteSmall(archive); }, true), ZipCannotWrite);
    EXPECT_EQ(test::runInChild([&] { return run(kDelete, archive, "*.*"); }, true), ZipCannotWrite);
    EXPECT_EQ(test::runInChild([&] { return run(kAdd, archive, added); }, true), ZipCannotWrite);
    QFile::remove(added);
    expectUntouched(dir.path());
}

TEST_F(ZipSafetyTest, ReadOnlyVolume) {
    const QString mountPoint = dir.filePath("Volume");
    ASSERT_TRUE(QDir(dir.path()).mkdir("Volume"));
    const QByteArray mp = QFile::encodeName(mountPoint);
    if (::mount("tmpfs", mp.constData(), "tmpfs", 0, "size=16m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    const auto unmount = qScopeGuard([&] { ::umount2(mp.constData(), MNT_DETACH); });
    ASSERT_TRUE(QFile::copy(archive, mountPoint + "/Archive.ZIP"));
    ASSERT_EQ(::mount(nullptr, mp.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
    EXPECT_EQ(deleteSmall(mountPoint + "/Archive.ZIP"), ZipNotWritable);
    EXPECT_EQ(run(kDelete, mountPoint + "/Archive.ZIP", "*.*"), ZipNotWritable);
    expectUntouched(mountPoint);
}

TEST_F(ZipSafetyTest, DiskFull) {
    const int code = test::runInChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{512 * 1024, 512 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return deleteSmall(archive);
    });
    EXPECT_EQ(code, ZipCannotWrite);
    expectUntouched(dir.path());
}

TEST_F(ZipSafetyTest, ProcessKilledDuringRewrite) {
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        ZipComponent zip;
        QObject::connect(&zip, &ZipComponent::Status, [&](int completion) {
            if (completion >= 10) { // well inside the rewrite: tell the parent and wait
                const char mark = 'x';
                if (::write(channel[1], &mark, 1) == 1)
                    for (;;)
                        ::pause();
            }
        });
        zip.ArchivePath = archive;
        zip.EntrySpec = "small.txt";
        zip.DeleteEntries();
        ::_exit(0);
    }
    ::close(channel[1]);
    char mark = 0;
    EXPECT_EQ(::read(channel[0], &mark, 1), 1);
    ::close(channel[0]);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    // The temporary file may stay after SIGKILL; the original must not change.
    EXPECT_EQ(test::fileBytes(archive), original);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Archive.ZIP"});
}

TEST_F(ZipSafetyTest, HostileFiles) {
    constexpr int kAnyDamage = -1;
    struct Case {
        QString name;
        std::function<bool(const QString &)> make;
        int code;
        bool asNobody = false;
    };
    const QList<Case> cases = {
        {"Empty.ZIP", [](auto &p) { return test::writeFile(p, {}); }, ZipNotAZip},
        {"Noise.ZIP", [](auto &p) { return test::writeFile(p, test::randomBytes(5000, 9)); },
         ZipNotAZip},
        {"Cut.ZIP", [&](auto &p) { return test::writeFile(p, original.left(original.size() / 2)); },
         kAnyDamage},
        {"Hole.ZIP",
         [&](auto &p) { return test::writeFile(p, QByteArray(original).remove(5000, 1000)); },
         kAnyDamage},
        {"Folder.ZIP", [](auto &p) { return QDir().mkdir(p); }, ZipUnreadable},
        {"Pipe.ZIP", [](auto &p) { return ::mkfifo(QFile::encodeName(p).constData(), 0644) == 0; },
         ZipUnreadable},
        {"Missing.ZIP", [](auto &) { return true; }, ZipUnreadable},
        {"Secret.ZIP",
         [&](auto &p) {
             return QFile::copy(archive, p) && ::chmod(QFile::encodeName(p), 0600) == 0;
         },
         ZipUnreadable, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString path = dir.filePath(c.name);
        ASSERT_TRUE(c.make(path));
        const bool regular = QFileInfo(path).isFile(); // reading a FIFO would block
        const QByteArray before = regular ? test::fileBytes(path) : QByteArray();
        for (const Operation &operation : {kList, kDelete, kExtract}) {
            const auto work = [&] { return run(operation, path, "*.*"); };
            const int code = c.asNobody ? test::runInChild(work, true) : work();
            if (c.code == kAnyDamage)
                EXPECT_TRUE(isDamageCode(code)) << code;
            else
                EXPECT_EQ(code, c.code);
        }
        if (regular) {
            EXPECT_EQ(test::fileBytes(path), before);
        }
    }
}

} // namespace
} // namespace arcsweep
