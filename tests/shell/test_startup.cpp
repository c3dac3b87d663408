#include "appfixture.h"

#include "capture.h"
#include "rawzip.h"
#include "shell/singleinstance.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

// Counts a widget's paints.
class PaintCount : public QObject {
public:
    explicit PaintCount(QWidget *widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override {
        count += event->type() == QEvent::Paint;
        return false;
    }
    int count = 0;
};

TEST(StartUp, RootFolderIsRefusedWithoutTouchingAFile) {
    AppFixture app;
    app.state.AppFolder = QStringLiteral("/");
    const bool iniBefore = QFile::exists(QStringLiteral("/arcsweep.ini"));
    Form1 form(app.state);
    EXPECT_FALSE(form.Form_Load());
    ASSERT_EQ(app.desktop.boxes.size(), 1);
    EXPECT_EQ(app.desktop.boxes[0].text,
              QStringLiteral("Arcsweep can NOT be run from a root directory"));
    EXPECT_EQ(app.desktop.boxes[0].title, QStringLiteral("Error"));
    EXPECT_EQ(app.desktop.boxes[0].icon, MsgIcon::Critical);
    EXPECT_TRUE(form.unloaded());
    EXPECT_NE(form.exitCode(), 0);
    form.Form_Unload(); // a refused start never runs the shutdown steps
    EXPECT_EQ(QFile::exists(QStringLiteral("/arcsweep.ini")), iniBefore);
}

TEST(StartUp, TidiesLeftoversAndRestoresTheLastFolder) {
    AppFixture app;
    const QString folder = app.tree + QStringLiteral("/Old Zips");
    QDir().mkpath(folder);
    ASSERT_TRUE(writeZip(folder + QStringLiteral("/First.zip"), {{QStringLiteral("A.TXT"), "a"}}));
    writeFile(app.appFile(DataFile::Settings), ("  " + folder + "\r\n").toUtf8());
    writeFile(app.appFile(DataFile::PurgeList), "keep.txt\r\n");
    writeFile(app.appFile(DataFile::PurgeStaging), "half-added.txt\r\n");
    for (const char *name : {"One.tmp", "Two.nfo", "Three.diz"})
        writeFile(app.state.tempFolder() + u'/' + QLatin1String(name), "x");

    Form1 &form = app.makeForm(false);
    // The first archive is tested once (its one entry listed once), after the window
    // has been painted.
    PaintCount paints(form.centralWidget());
    int tests = 0, paintsBeforeTest = -1;
    QObject::connect(form.XceedZip1, &ZipComponent::Listing, &form, [&] {
        if (tests++ == 0)
            paintsBeforeTest = paints.count;
    });
    EXPECT_TRUE(form.Form_Load());
    EXPECT_TRUE(waitUntil([&] { return !app.entries().isEmpty(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(tests, 1);
    EXPECT_GT(paintsBeforeTest, 0);
    EXPECT_EQ(form.Dir1->Path(), folder);
    EXPECT_EQ(app.files(), QStringList{"First.zip"});
    EXPECT_EQ(form.File1->ListIndex(), 0);
    EXPECT_EQ(app.entries(), QStringList{"a.txt"});
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::PurgeStaging)));
    EXPECT_EQ(fileBytes(app.appFile(DataFile::PurgeList)), QByteArray("keep.txt\r\n"));
    EXPECT_EQ(QDir(app.state.tempFolder()).entryList(QDir::Files).size(), 2);
    EXPECT_TRUE(app.desktop.boxes.isEmpty());
    EXPECT_FALSE(form.errors->isEnabled());
}

TEST(StartUp, BadSettingsOpenTheWindowWhereTheSystemPutsIt) {
    const QString start = QDir::currentPath();
    for (const QByteArray &settings :
         {QByteArray("/no/such/Folder\r\n"), QByteArray(2 * 1024 * 1024, '\x07'),
          QByteArray("\x00\xff\xfe junk", 9)}) {
        AppFixture app;
        writeFile(app.appFile(DataFile::Settings), settings);
        Form1 &form = app.makeForm();
        EXPECT_EQ(form.Dir1->Path(), start);
        EXPECT_TRUE(app.desktop.boxes.isEmpty());
    }
}

TEST(StartUp, OnlyThePartBeforeACommaIsRestored) {
    AppFixture app;
    const QString withComma = app.tree + QStringLiteral("/Games, Old");
    QDir().mkpath(withComma);
    writeFile(app.appFile(DataFile::Settings), (withComma + "\r\n").toUtf8());
    EXPECT_EQ(app.makeForm().Dir1->Path(), QDir::currentPath()); // "…/Games" does not exist

    AppFixture app2;
    const QString games = app2.tree + QStringLiteral("/Games");
    QDir().mkpath(games);
    QDir().mkpath(games + QStringLiteral(", Old"));
    writeFile(app2.appFile(DataFile::Settings), (games + ", Old\r\n").toUtf8());
    EXPECT_EQ(app2.makeForm().Dir1->Path(), games);
}

TEST(Shutdown, SavesTheFolderAndClearsTheRunsFiles) {
    AppFixture app;
    Form1 &form = app.makeForm();
    app.browse(app.tree);
    const QString temp = app.state.tempFolder();
    for (const char *name : {"a.diz", "b.diz", "a.nfo", "b.nfo", "keep.txt"})
        writeFile(temp + u'/' + QLatin1String(name), "x");
    writeFile(app.appFile(DataFile::ErrorLog), "Bad zip x\r\n");
    writeFile(app.appFile(DataFile::VerifyList), "x\r\n");
    writeFile(app.appFile(DataFile::StatsLog), "stats\r\n");

    form.Form_Unload();
    form.Form_Unload(); // runs once only
    EXPECT_EQ(fileBytes(app.appFile(DataFile::Settings)), (app.tree + "\r\n").toUtf8());
    QStringList left = QDir(temp).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(left.size(), 2);
    EXPECT_TRUE(left.contains(QStringLiteral("keep.txt")));
    EXPECT_EQ(left.filter(QStringLiteral(".diz")).size(), 1);
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::ErrorLog)));
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::VerifyList)));
    EXPECT_TRUE(QFile::exists(app.appFile(DataFile::StatsLog)));
}

TEST(Shutdown, ANfoThatCannotBeDeletedDoesNotStallIt) {
    AppFixture app;
    Form1 &form = app.makeForm();
    const QString temp = app.state.tempFolder();
    writeFile(temp + QStringLiteral("/gone.nfo"), "x");
    QDir().mkpath(temp + QStringLiteral("/stuck.nfo")); // a folder: cannot be removed as a file
    form.Form_Unload(); // a shutdown that tried it again and again would never return
    EXPECT_TRUE(QFile::exists(temp + QStringLiteral("/stuck.nfo")));
    EXPECT_FALSE(QFile::exists(temp + QStringLiteral("/gone.nfo")));
}

// The second instance is the real program started from the same AppFolder.
class SecondInstance : public ::testing::Test {
protected:
    void SetUp() override {
        exe = app.appFolder + QStringLiteral("/arcsweep");
        ASSERT_TRUE(QFile::copy(QStringLiteral(ARCSWEEP_APPFOLDER_DIR "/arcsweep"), exe));
    }
    int runSecond(const QStringList &args, QProcess &p, const QString &tmpdir = QString()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (!tmpdir.isEmpty())
            env.insert(QStringLiteral("TMPDIR"), tmpdir);
        p.setProcessEnvironment(env);
        p.start(exe, args);
        QElapsedTimer timer;
        timer.start();
        while (p.state() != QProcess::NotRunning && timer.elapsed() < 20000) {
            QCoreApplication::processEvents();
            p.waitForFinished(20);
        }
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    AppFixture app;
    QString exe;
};

TEST_F(SecondInstance, HandsOverToTheFirstAndTouchesNothing) {
    SingleInstance first(app.appFolder);
    ASSERT_TRUE(first.isFirst());
    bool firstShowsWindow = true;
    first.setShowsWindow([&] { return firstShowsWindow; });
    QSignalSpy activated(&first, &SingleInstance::activateRequested);
    writeFile(app.appFile(DataFile::PurgeStaging), "x\r\n");
    const QStringList before = QDir(app.appFolder).entryList(QDir::Files);

    QProcess second;
    EXPECT_EQ(runSecond({}, second), 0);
    EXPECT_EQ(activated.count(), 1);
    EXPECT_EQ(QDir(app.appFolder).entryList(QDir::Files), before); // purge.bak still there
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::Settings)));

    // A first instance that shows no window: the later start says so and fails.
    firstShowsWindow = false;
    QProcess toNoWindow;
    EXPECT_EQ(runSecond({}, toNoWindow), 3);
    EXPECT_EQ(activated.count(), 2);
    EXPECT_TRUE(toNoWindow.readAllStandardError().contains(
        "(process " + QByteArray::number(QCoreApplication::applicationPid()) +
        ") but shows no window"));
    EXPECT_EQ(QDir(app.appFolder).entryList(QDir::Files), before);

    // An unattended second start refuses, says so and cleans nothing.
    const QString folder = app.tree + QStringLiteral("/Zips");
    QDir().mkpath(folder);
    ASSERT_TRUE(writeZip(folder + QStringLiteral("/Keep.zip"), {{QStringLiteral("x.url"), "u"}}));
    writeFile(app.appFile(DataFile::PurgeList), "*.url\r\n");
    QProcess unattended;
    EXPECT_NE(runSecond({folder}, unattended), 0);
    EXPECT_TRUE(unattended.readAllStandardError().contains("already running"));
    EXPECT_EQ(readZip(folder + QStringLiteral("/Keep.zip")).size(), 1);
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::StatsLog)));
}

TEST_F(SecondInstance, TwoUnattendedRunsOnOneAppFolderNeverRunTogether) {
    // The first holds the AppFolder; the second has a $TMPDIR of its own.
    SingleInstance first(app.appFolder);
    ASSERT_TRUE(first.isFirst());
    const QString folder = app.tree + QStringLiteral("/Zips");
    QDir().mkpath(folder);
    ASSERT_TRUE(writeRawZip(folder + QStringLiteral("/Keep.zip"),
                            rawZip({rawEntry("file_id.diz", "1"), rawEntry("file_id.diz", "2")})));
    const QByteArray before = fileBytes(folder + QStringLiteral("/Keep.zip"));
    const QString otherTemp = app.root.filePath(QStringLiteral("Other Tmp"));
    QDir().mkpath(otherTemp);
    QProcess second;
    EXPECT_EQ(runSecond({folder}, second, otherTemp), 3);
    EXPECT_EQ(fileBytes(folder + QStringLiteral("/Keep.zip")), before);
    EXPECT_TRUE(QDir(app.state.tempFolder()).entryList(QDir::Files).isEmpty());
}

TEST_F(SecondInstance, WithoutADisplayAFolderIsNeeded) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *var : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(var));
    p.setProcessEnvironment(env);
    p.start(exe, {});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_NE(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardError().contains("Usage"));
}

} // namespace

namespace {

TEST(StartUp, WithoutADisplayTheRootFolderRefusalEndsAtOnceOnStandardError) {
    AppFixture app;
    QtDesktopServices desktop; // the real one: without a display it cannot show a box
    app.state.desktop = &desktop;
    app.state.AppFolder = QStringLiteral("/");
    app.state.CommandLine = app.tree;
    Form1 form(app.state);
    StderrCapture err;
    EXPECT_FALSE(form.Form_Load()); // a box that waited for an answer would never return
    EXPECT_TRUE(err.text().contains("Error: Arcsweep can NOT be run from a root directory"));
    EXPECT_EQ(form.exitCode(), 1);
}

} // namespace
