// Where the program keeps its data: beside a writable executable, or in the per-user folder
// seeded from the shared data folder. Unwritable folders are made real by running the
// operation as "nobody" (the tests run as root) or by a read-only mount.
#include "common/appfolder.h"
#include "zipfixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace arcsweep;

namespace {

const QStringList SharedFiles = {"purge.example.txt", "Arcsweep.html", "thunder.wav", "error.wav",
                                 "hello-o.wav"};

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char *name_;
    bool had_;
    QByteArray old_;
};

// An installed layout in a temporary folder: Prefix/bin (the executable's folder, root's
// and not writable for others), Prefix/share/arcsweep with the shared files, and a home
// folder that belongs to "nobody".
class AppFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(::chmod(QFile::encodeName(root.path()).constData(), 0755), 0);
        bin = root.filePath("Prefix/bin");
        share = root.filePath("Prefix/share/arcsweep");
        home = root.filePath("Home");
        ASSERT_TRUE(QDir().mkpath(bin) && QDir().mkpath(share) && QDir().mkpath(home));
        giveToNobody(home);
        for (const QString &name : SharedFiles)
            ASSERT_TRUE(test::writeFile(share + '/' + name, "shared " + name.toUtf8()));
    }

    void giveToNobody(const QString &path) {
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid), 0);
    }

    // setUpAppFolder(bin) as nobody with this XDG_DATA_HOME; 0 when it chose `expected` as
    // the per-user folder without an error.
    int setUpAsNobody(const QByteArray &dataHome, const QString &expected) {
        return test::runInChild(
            [&] {
                qputenv("HOME", QFile::encodeName(home));
                qputenv("XDG_DATA_HOME", dataHome);
                if (QFile(bin + "/probe").open(QIODevice::WriteOnly))
                    return 10; // the executable's folder must really be unwritable
                const AppFolderChoice choice = setUpAppFolder(bin);
                if (choice.path != expected)
                    return 11;
                if (!choice.perUser)
                    return 12;
                return choice.error.isEmpty() ? 0 : 13;
            },
            true);
    }

    static QStringList filesIn(const QString &folder) {
        return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QTemporaryDir root;
    const passwd *nobody = nullptr;
    QString bin, share, home;
};

TEST_F(AppFolderTest, WritableExecutableFolderKeepsTheDataBesideTheProgram) {
    const QString dataHome = home + "/Data";
    // A user's own unpacked copy.
    giveToNobody(bin);
    const int code = test::runInChild(
        [&] {
            qputenv("XDG_DATA_HOME", QFile::encodeName(dataHome));
            const AppFolderChoice choice = setUpAppFolder(bin + '/');
            return choice.path == bin && !choice.perUser && choice.error.isEmpty() ? 0 : 1;
        },
        true);
    EXPECT_EQ(code, 0);
    // Root's build folder.
    const ScopedEnv xdg("XDG_DATA_HOME", QFile::encodeName(dataHome));
    const AppFolderChoice choice = setUpAppFolder(bin);
    EXPECT_EQ(choice.path, bin);
    EXPECT_FALSE(choice.perUser);
    EXPECT_FALSE(QFileInfo::exists(dataHome)) << "nothing is made outside the executable's folder";
}

TEST_F(AppFolderTest, UnwritableExecutableFolderSeedsThePerUserFolder) {
    const QString dataHome = home + "/Data Home";
    const QString folder = dataHome + "/arcsweep";
    ASSERT_EQ(setUpAsNobody(QFile::encodeName(dataHome), folder), 0);

    const QFileInfo info(folder);
    ASSERT_TRUE(info.isDir());
    EXPECT_EQ(info.ownerId(), nobody->pw_uid);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    QStringList expected = SharedFiles;
    expected.sort();
    EXPECT_EQ(filesIn(folder), expected) << "seeded with the shared files only: no purge.txt";
    for (const QString &name : SharedFiles)
        EXPECT_EQ(test::fileBytes(folder + '/' + name), test::fileBytes(share + '/' + name))
            << qPrintable(name);
    EXPECT_TRUE(filesIn(bin).isEmpty());
}

TEST_F(AppFolderTest, UserFilesInThePerUserFolderAreNeverReplaced) {
    const QString folder = home + "/.local/share/arcsweep";
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString &path : {home + "/.local", home + "/.local/share", folder})
        giveToNobody(path);
    const QMap<QString, QByteArray> own = {
        {"Arcsweep.html", "my notes"}, {"thunder.wav", ""}, {"purge.txt", "*.url\r\n"}};
    for (auto it = own.begin(); it != own.end(); ++it) {
        ASSERT_TRUE(test::writeFile(folder + '/' + it.key(), it.value()));
        giveToNobody(folder + '/' + it.key());
    }

    // XDG_DATA_HOME that is relative is ignored: the default under HOME serves.
    ASSERT_EQ(setUpAsNobody("relative/data", folder), 0);
    ASSERT_EQ(setUpAsNobody("relative/data", folder), 0); // a second start changes nothing
    for (auto it = own.begin(); it != own.end(); ++it)
        EXPECT_EQ(test::fileBytes(folder + '/' + it.key()), it.value()) << qPrintable(it.key());
    for (const char *name : {"error.wav", "hello-o.wav", "purge.example.txt"})
        EXPECT_EQ(test::fileBytes(folder + '/' + name), test::fileBytes(share + '/' + name))
            << qPrintable(name);
    EXPECT_EQ(filesIn(folder).size(), SharedFiles.size() + 1);
}

TEST_F(AppFolderTest, MissingSharedFilesAreReportedNotFatal) {
    ASSERT_TRUE(QDir(share).removeRecursively());
    const int code = test::runInChild(
        [&] {
            qputenv("HOME", QFile::encodeName(home));
            qunsetenv("XDG_DATA_HOME");
            const AppFolderChoice choice = setUpAppFolder(bin);
            return choice.perUser && choice.error.contains("Arcsweep.html") ? 0 : 1;
        },
        true);
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(QFileInfo(home + "/.local/share/arcsweep").isDir());
    EXPECT_TRUE(filesIn(home + "/.local/share/arcsweep").isEmpty());
}

TEST_F(AppFolderTest, ReadOnlyVolumeMovesRootToThePerUserFolder) {
    const QByteArray mountPoint = QFile::encodeName(bin);
    if (::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_RDONLY, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a read-only tmpfs here";
    const auto unmount = qScopeGuard([&] { ::umount2(mountPoint.constData(), MNT_DETACH); });
    const ScopedEnv xdg("XDG_DATA_HOME", QFile::encodeName(home + "/Data"));
    const AppFolderChoice choice = setUpAppFolder(bin);
    EXPECT_TRUE(choice.perUser);
    EXPECT_EQ(choice.path, home + "/Data/arcsweep");
    EXPECT_TRUE(choice.error.isEmpty()) << qPrintable(choice.error);
    EXPECT_EQ(filesIn(choice.path).size(), SharedFiles.size());
}

TEST(AppFolderChoice, SystemBinaryFoldersAreNeverTheAppFolderEvenForRoot) {
    ASSERT_EQ(::geteuid(), 0u) << "root can write these folders: that is the case under test";
    QTemporaryDir dir;
    const QString dataHome = dir.filePath("Data");
    const ScopedEnv xdg("XDG_DATA_HOME", QFile::encodeName(dataHome));
    for (const char *folder :
         {"/usr/bin", "/bin", "/usr/local/bin/", "/usr/sbin", "/sbin", "/usr/games"}) {
        const AppFolderChoice choice = chooseAppFolder(QString::fromLatin1(folder));
        EXPECT_TRUE(choice.perUser) << folder;
        EXPECT_EQ(choice.path, dataHome + "/arcsweep") << folder;
        EXPECT_FALSE(QFileInfo::exists(dataHome)) << "choosing touches nothing";
    }
    const QString link = dir.filePath("Linked bin");
    ASSERT_TRUE(QFile::link("/usr/bin", link));
    EXPECT_TRUE(isSystemBinaryFolder(link));
    for (const char *folder : {"/usr/bin2", "/usr/bin/Sub", "/opt/bin", "/usr"})
        EXPECT_FALSE(isSystemBinaryFolder(QString::fromLatin1(folder))) << folder;
    EXPECT_EQ(sharedDataFolder("/usr/bin"), "/usr/share/arcsweep");
}

TEST(AppFolderChoice, XdgDataHomeCountsOnlyWhenAbsolute) {
    const ScopedEnv home("HOME", "/home/Someone");
    {
        const ScopedEnv xdg("XDG_DATA_HOME", "/data/Mine/");
        EXPECT_EQ(perUserDataFolder(), "/data/Mine/arcsweep");
    }
    for (const QByteArray &ignored : {QByteArray(""), QByteArray("data"), QByteArray("./data")}) {
        const ScopedEnv xdg("XDG_DATA_HOME", ignored);
        EXPECT_EQ(perUserDataFolder(), "/home/Someone/.local/share/arcsweep") << ignored.data();
    }
}

} // namespace
