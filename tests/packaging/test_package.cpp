// The Debian package as cpack makes it from this build: its files, control fields, the
// validators of its desktop entry and metadata, lintian, and the packaged program finding
// its shared files. The package is built once for all tests of the suite.
#include "zipfixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using namespace arcsweep;

namespace {

const QString AppId = QStringLiteral("org.arcsweep.Arcsweep");

struct Ran {
    int code = -1; // -1: did not start or did not exit normally
    QString out;   // standard output and error together
};

Ran run(const QString &program, const QStringList &args, QProcess *process = nullptr) {
    QProcess own;
    QProcess &p = process ? *process : own;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Ran ran;
    if (p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit)
        ran.code = p.exitCode();
    ran.out = QString::fromUtf8(p.readAll());
    return ran;
}

QString tool(const char *name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

class Package : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        QString cpack = QStringLiteral(ARCSWEEP_CPACK);
        if (!QFileInfo(cpack).isExecutable())
            cpack = tool("cpack");
        if (cpack.isEmpty() || tool("dpkg-deb").isEmpty()) {
            skipped = "cpack or dpkg-deb is missing (packages cmake, dpkg): no package to check";
            return;
        }
        work = std::make_unique<QTemporaryDir>();
        ::chmod(QFile::encodeName(work->path()).constData(), 0755); // "nobody" goes in too
        const Ran made =
            run(cpack, {"-G", "DEB", "--config", ARCSWEEP_BINARY_DIR "/CPackConfig.cmake", "-B",
                        work->filePath("out")});
        buildLog = made.out;
        const QStringList debs = QDir(work->filePath("out")).entryList({"*.deb"}, QDir::Files);
        if (made.code != 0 || debs.size() != 1)
            return;
        deb = work->filePath("out/" + debs.first());
        tree = work->filePath("tree");
        if (run("dpkg-deb", {"-x", deb, tree}).code != 0)
            deb.clear();
    }
    static void TearDownTestSuite() { work.reset(); }

    void SetUp() override {
        if (skipped)
            GTEST_SKIP() << skipped;
        ASSERT_FALSE(deb.isEmpty()) << "cpack failed:\n" << qPrintable(buildLog);
    }

    static QString field(const char *name) {
        return run("dpkg-deb", {"-f", deb, QString::fromLatin1(name)}).out.trimmed();
    }
    static QString installed(const QString &path) { return tree + path; }

    static inline const char *skipped = nullptr;
    static inline std::unique_ptr<QTemporaryDir> work;
    static inline QString buildLog, deb, tree;
};

TEST_F(Package, HoldsExactlyTheInstalledLayoutOwnedByRoot) {
    const Ran listing = run("dpkg-deb", {"-c", deb});
    ASSERT_EQ(listing.code, 0) << qPrintable(listing.out);
    QSet<QString> files;
    QString binaryMode;
    for (const QString &line : listing.out.split('\n', Qt::SkipEmptyParts)) {
        const QStringList cols = line.split(' ', Qt::SkipEmptyParts);
        ASSERT_GE(cols.size(), 6) << qPrintable(line);
        EXPECT_EQ(cols[1], "root/root") << qPrintable(line);
        if (cols[0].startsWith('d'))
            continue;
        const QString path = cols.last().mid(1); // "./usr/..." -> "/usr/..."
        files.insert(path);
        if (path == "/usr/bin/arcsweep")
            binaryMode = cols[0];
    }
    const QSet<QString> expected = {
        "/usr/bin/arcsweep",
        "/usr/share/arcsweep/thunder.wav",
        "/usr/share/arcsweep/error.wav",
        "/usr/share/arcsweep/hello-o.wav",
        "/usr/share/arcsweep/Arcsweep.html",
        "/usr/share/arcsweep/purge.example.txt",
        "/usr/share/applications/" + AppId + ".desktop",
        "/usr/share/icons/hicolor/scalable/apps/" + AppId + ".svg",
        "/usr/share/icons/hicolor/48x48/apps/" + AppId + ".png",
        "/usr/share/icons/hicolor/256x256/apps/" + AppId + ".png",
        "/usr/share/metainfo/" + AppId + ".metainfo.xml",
        "/usr/share/man/man1/arcsweep.1.gz",
        "/usr/share/doc/arcsweep/copyright",
        "/usr/share/doc/arcsweep/changelog.gz",
    };
    EXPECT_TRUE(files == expected)
        << "missing: " << qPrintable(QStringList((expected - files).values()).join(' '))
        << "\nunexpected: " << qPrintable(QStringList((files - expected).values()).join(' '));
    EXPECT_EQ(binaryMode, "-rwxr-xr-x");
    // The shared files are the assets as built into the AppFolder.
    for (const char *name : {"thunder.wav", "Arcsweep.html", "purge.example.txt"})
        EXPECT_EQ(test::fileBytes(installed("/usr/share/arcsweep/") + name),
                  test::fileBytes(QStringLiteral(ARCSWEEP_APPFOLDER_DIR "/") + name))
            << name;
}

TEST_F(Package, ControlFieldsNameThisVersionAndEveryRuntimeDependency) {
    EXPECT_EQ(field("Package"), "arcsweep");
    EXPECT_EQ(field("Version"), ARCSWEEP_VERSION);
    EXPECT_EQ(field("Architecture"), run("dpkg", {"--print-architecture"}).out.trimmed());
    QStringList depends;
    for (const QString &alternatives : field("Depends").split(',', Qt::SkipEmptyParts))
        for (const QString &one : alternatives.split('|'))
            depends.append(one.trimmed().section(' ', 0, 0));
    for (const char *needed : {"libqt6widgets6", "libqt6multimedia6", "libqt6network6", "libzip4",
                               "libdeflate0", "libsqlite3-0", "xdg-utils", "fonts-dejavu-core"})
        EXPECT_TRUE(depends.contains(needed))
            << needed << " not in " << qPrintable(field("Depends"));
    EXPECT_FALSE(field("Maintainer").isEmpty());
    EXPECT_FALSE(field("Description").isEmpty());
}

TEST_F(Package, DesktopEntryValidatesAndPointsAtPackagedFiles) {
    const QString entry = installed("/usr/share/applications/" + AppId + ".desktop");
    const Ran validated = run("desktop-file-validate", {entry});
    ASSERT_NE(validated.code, -1) << "desktop-file-validate missing (package desktop-file-utils)";
    EXPECT_EQ(validated.code, 0) << qPrintable(validated.out);
    EXPECT_TRUE(validated.out.trimmed().isEmpty()) << qPrintable(validated.out);

    const QString text = QString::fromUtf8(test::fileBytes(entry));
    const QString exec = QRegularExpression("^Exec=(\\S+)", QRegularExpression::MultilineOption)
                             .match(text)
                             .captured(1);
    EXPECT_TRUE(QFileInfo(installed("/usr/bin/" + exec)).isExecutable()) << qPrintable(exec);
    EXPECT_TRUE(text.contains("\nIcon=" + AppId + '\n'));
    // Each bitmap icon has the size of its folder.
    for (const int size : {48, 256}) {
        QFile png(installed(QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/").arg(size) +
                            AppId + ".png"));
        ASSERT_TRUE(png.open(QIODevice::ReadOnly)) << size;
        const QByteArray header = png.read(24); // signature, IHDR width and height
        ASSERT_EQ(header.size(), 24);
        EXPECT_TRUE(header.startsWith("\x89PNG"));
        EXPECT_EQ(qFromBigEndian<quint32>(header.constData() + 16), quint32(size));
        EXPECT_EQ(qFromBigEndian<quint32>(header.constData() + 20), quint32(size));
    }
}

TEST_F(Package, MetainfoValidatesAndCarriesThisVersion) {
    const QString metainfo = installed("/usr/share/metainfo/" + AppId + ".metainfo.xml");
    const Ran validated = run("appstreamcli", {"validate", "--no-net", metainfo});
    ASSERT_NE(validated.code, -1) << "appstreamcli missing (package appstream)";
    EXPECT_EQ(validated.code, 0) << qPrintable(validated.out);
    const QString text = QString::fromUtf8(test::fileBytes(metainfo));
    EXPECT_TRUE(text.contains("<id>" + AppId + "</id>"));
    EXPECT_TRUE(text.contains(">" + AppId + ".desktop</launchable>"));
    EXPECT_TRUE(text.contains("<release version=\"" ARCSWEEP_VERSION "\""));

    // The changelog's top entry and the manual page are of this version too.
    const Ran changelog = run("gzip", {"-dc", installed("/usr/share/doc/arcsweep/changelog.gz")});
    EXPECT_TRUE(changelog.out.startsWith("arcsweep (" ARCSWEEP_VERSION ")"))
        << qPrintable(changelog.out.left(80));
    const Ran manual = run("gzip", {"-dc", installed("/usr/share/man/man1/arcsweep.1.gz")});
    EXPECT_TRUE(manual.out.startsWith(".TH ARCSWEEP 1 ")) << qPrintable(manual.out.left(80));
    EXPECT_TRUE(manual.out.section('\n', 0, 0).contains("Arcsweep " ARCSWEEP_VERSION));
}

TEST_F(Package, LintianReportsNoErrors) {
    if (tool("lintian").isEmpty())
        GTEST_SKIP() << "lintian is not installed";
    const Ran lint = run("lintian", {"--tag-display-limit", "0", deb});
    ASSERT_NE(lint.code, -1) << qPrintable(lint.out);
    QStringList errors;
    for (const QString &line : lint.out.split('\n'))
        if (line.startsWith("E: "))
            errors.append(line);
    EXPECT_TRUE(errors.isEmpty()) << qPrintable(lint.out);
}

// The packaged program, run by an ordinary user from the unpacked tree: its folder is not
// writable for that user, so its data go to ~/.local/share/arcsweep, seeded from the
// package's share/arcsweep through the relative path.
TEST_F(Package, PackagedProgramKeepsItsDataInThePerUserFolder) {
    const passwd *nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    const QString home = work->filePath("Home");
    const QString archives = work->filePath("Archive Tree");
    ASSERT_TRUE(QDir().mkpath(home) && QDir().mkpath(archives));
    for (const QString &path : {home, archives})
        ASSERT_EQ(::chown(QFile::encodeName(path).constData(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_TRUE(test::writeZip(archives + "/Demo.ZIP", {{"readme.txt", "hello"}}));
    ASSERT_EQ(::chown(QFile::encodeName(archives + "/Demo.ZIP").constData(), nobody->pw_uid,
                      nobody->pw_gid),
              0);

    QProcess program;
    QProcessEnvironment env;
    env.insert("HOME", home);
    env.insert("PATH", "/usr/bin:/bin");
    program.setProcessEnvironment(env); // no display: an unattended run on the offscreen platform
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    program.setChildProcessModifier([uid, gid] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(121);
    });
    const Ran ran = run(installed("/usr/bin/arcsweep"), {archives}, &program);
    ASSERT_EQ(ran.code, 0) << qPrintable(ran.out);

    const QString folder = home + "/.local/share/arcsweep";
    for (const char *name :
         {"thunder.wav", "error.wav", "hello-o.wav", "Arcsweep.html", "purge.example.txt"})
        EXPECT_EQ(test::fileBytes(folder + '/' + name),
                  test::fileBytes(installed("/usr/share/arcsweep/") + name))
            << name;
    EXPECT_TRUE(QFileInfo(folder + "/arcsweep.ini").isFile()) << "the run's settings live there";
    EXPECT_FALSE(QFileInfo::exists(folder + "/purge.txt"));
    EXPECT_EQ(QDir(installed("/usr/bin")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"arcsweep"});
}

} // namespace
