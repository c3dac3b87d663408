// Every way of closing the main window ends the program's work at once and runs the
// shutdown steps exactly once.
#include "runfixture.h"
#include "virtualdisplay.h"

#include <QAction>
#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

enum class Way { ExitButton, FileMenuExit, PopUpExit, TitleBarClose };
const Way kWays[] = {Way::ExitButton, Way::FileMenuExit, Way::PopUpExit, Way::TitleBarClose};

const char *nameOf(Way way) {
    switch (way) {
    case Way::ExitButton:
        return "E&xit button";
    case Way::FileMenuExit:
        return "File menu E&xit (Ctrl+X)";
    case Way::PopUpExit:
        return "pop-up E&xit";
    case Way::TitleBarClose:
        return "title-bar close";
    }
    return "";
}

// Closes the window the way a user does: the button, the menu's shortcut, the entry
// list's pop-up menu, or the window manager's close.
void closeBy(Form1 &form, Way way) {
    switch (way) {
    case Way::ExitButton:
        QTest::mouseClick(form.Command3, Qt::LeftButton);
        break;
    case Way::FileMenuExit:
        QTest::keyClick(&form, Qt::Key_X, Qt::ControlModifier);
        break;
    case Way::PopUpExit: {
        QTest::mouseClick(form.List1->viewport(), Qt::RightButton);
        ASSERT_TRUE(form.menu->isVisible());
        QTest::mouseClick(form.menu, Qt::LeftButton, {},
                          form.menu->actionGeometry(form.exit2).center());
        break;
    }
    case Way::TitleBarClose:
        form.close();
        break;
    }
}

// The same, arriving while the program is busy: queued, it is handled at the next
// moment the program lets input in.
void queueCloseBy(Form1 &form, Way way) {
    const auto post = [](QWidget *to, QEvent *event) { QCoreApplication::postEvent(to, event); };
    switch (way) {
    case Way::ExitButton: {
        const QPointF at = QRectF(form.Command3->rect()).center();
        const QPointF global = form.Command3->mapToGlobal(at);
        post(form.Command3, new QMouseEvent(QEvent::MouseButtonPress, at, global, Qt::LeftButton,
                                            Qt::LeftButton, Qt::NoModifier));
        post(form.Command3, new QMouseEvent(QEvent::MouseButtonRelease, at, global, Qt::LeftButton,
                                            Qt::NoButton, Qt::NoModifier));
        break;
    }
    case Way::FileMenuExit:
    case Way::PopUpExit: // the pop-up opens only between runs: the menu's shortcut instead
        post(&form, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::ControlModifier));
        post(&form, new QKeyEvent(QEvent::KeyRelease, Qt::Key_X, Qt::ControlModifier));
        break;
    case Way::TitleBarClose:
        post(&form, new QCloseEvent);
        break;
    }
}

// Two ".diz" files in the TempFolder: shutdown removes exactly one, so a second
// shutdown would show as a second one gone.
void leaveTempFiles(const AppFixture &app) {
    for (const char *name : {"First.diz", "Second.diz", "Info.nfo"})
        writeFile(app.state.tempFolder() + u'/' + QLatin1String(name), "x");
}
QStringList tempFiles(const AppFixture &app) {
    return QDir(app.state.tempFolder()).entryList(QDir::Files, QDir::Name);
}

TEST(Closing, EveryWayRunsTheShutdownOnce) {
    for (const Way way : kWays) {
        SCOPED_TRACE(nameOf(way));
        AppFixture app;
        Form1 &form = app.makeForm();
        app.browse(app.tree);
        leaveTempFiles(app);
        writeFile(app.appFile(DataFile::ErrorLog), "Bad zip x\r\n");
        closeBy(form, way);
        EXPECT_TRUE(form.unloaded());
        EXPECT_FALSE(form.isVisible());
        EXPECT_EQ(tempFiles(app).size(), 1);
        EXPECT_FALSE(QFile::exists(app.appFile(DataFile::ErrorLog)));
        EXPECT_EQ(fileBytes(app.appFile(DataFile::Settings)), (app.tree + "\r\n").toUtf8());
        // A second close (the window manager, a late shortcut) changes nothing more.
        form.close();
        EXPECT_EQ(tempFiles(app).size(), 1);
        EXPECT_TRUE(app.desktop.boxes.isEmpty());
    }
}

// A run over: a large archive with an entry to purge, a damaged one (a test would
// rename it), and another with a purge match.
struct BusyTree {
    explicit BusyTree(RunFixture &run) {
        run.purgeList({"junk.txt"});
        big = run.tree + QStringLiteral("/A Big.ZIP");
        EXPECT_TRUE(writeZip(big, {{QStringLiteral("Data.BIN"), randomBytes(24 << 20, 7), true},
                                   {QStringLiteral("Junk.TXT"), "junk"}}));
        damaged = run.zip("B Damaged.ZIP", {"Junk.TXT", "Keep.TXT"});
        EXPECT_TRUE(corruptByte(damaged, 60));
        later = run.zip("C Later.ZIP", {"Junk.TXT", "Keep.TXT"});
        for (const QString &p : {big, damaged, later})
            before.insert(p, fileBytes(p));
    }
    QString big, damaged, later;
    QMap<QString, QByteArray> before;
};

TEST(Closing, DuringARunNothingMoreIsTestedRenamedOrRewritten) {
    for (const Way way : kWays) {
        SCOPED_TRACE(nameOf(way));
        RunFixture run;
        BusyTree tree(run);
        leaveTempFiles(run);
        run.form->show();
        // The close comes as the big archive is listed, and is handled at the next moment
        // the run lets input in: before the purge its entry walk decided is written.
        run.form->run().setYieldInterval(0);
        run.onListing(QStringLiteral("Data.BIN"), [&] { queueCloseBy(*run.form, way); });
        int listedAfterClose = 0;
        QObject::connect(run.form->XceedZip1, &ZipComponent::Listing, run.form.get(), [&] {
            if (run.state.Closing)
                ++listedAfterClose;
        });
        run.clean();

        EXPECT_TRUE(run.state.Closing);
        EXPECT_TRUE(run.form->unloaded());
        EXPECT_EQ(listedAfterClose, 0);
        for (const QString &p : {tree.big, tree.damaged, tree.later})
            EXPECT_EQ(fileBytes(p), tree.before[p]) << p.toStdString();
        EXPECT_FALSE(QFile::exists(tree.big + QStringLiteral(".bad")));
        EXPECT_FALSE(QFile::exists(tree.damaged + QStringLiteral(".bad")));
        EXPECT_TRUE(run.desktop.boxes.isEmpty());
        EXPECT_FALSE(run.stats.shown);
        EXPECT_FALSE(QFile::exists(run.appFile(DataFile::StatsLog)));
        EXPECT_EQ(tempFiles(run).size(), 1);
    }
}

TEST(Closing, EscapeStopsTheEntryWalkAfterAPurgedEntryToo) {
    // Every entry is a purge match of its own: a walk that skipped its check after a
    // purge would delete them all.
    RunFixture run;
    QStringList patterns, names;
    for (int i = 0; i < 12; ++i) {
        names.append(QStringLiteral("Junk%1.TXT").arg(i, 2, 10, QLatin1Char('0')));
        patterns.append(names.last().toLower());
    }
    run.purgeList(patterns);
    const QString archive = run.zip("Many.ZIP", names + QStringList{"Keep.TXT"});
    run.form->run().setYieldInterval(0);
    // Queued as the listing ends, the key is taken at the walk's first yield.
    run.onListing("Keep.TXT", [&] {
        QCoreApplication::postEvent(
            run.form.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    });
    run.clean();
    // The stop is seen one entry after the one during whose yield it came.
    EXPECT_GE(RunFixture::names(archive).size(), 11u);
    EXPECT_FALSE(run.stats.shown);
}

} // namespace

namespace {

// The program on a virtual X display with a window manager; the main window's X window
// is destroyed from outside, as a window manager may do instead of asking it to close.
// No close event comes: the program must still end its work and itself.
TEST(Closing, AMainWindowDestroyedFromOutsideEndsTheProgram) {
    VirtualDisplay display;
    if (!display.up())
        GTEST_SKIP() << "needs Xvfb";
    AppFixture app;
    const QString exe = app.appFolder + QStringLiteral("/arcsweep");
    ASSERT_TRUE(QFile::copy(QStringLiteral(ARCSWEEP_APPFOLDER_DIR "/arcsweep"), exe));
    const QString folder = app.tree + QStringLiteral("/Saved Zips");
    QDir().mkpath(folder);
    ASSERT_TRUE(writeZip(folder + QStringLiteral("/First.ZIP"), {{QStringLiteral("A.TXT"), "a"}}));
    writeFile(app.appFile(DataFile::Settings), (folder + "\r\n").toUtf8());
    writeFile(app.appFile(DataFile::ErrorLog), "Bad zip x\r\n");

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display.name());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    program.setProcessEnvironment(env);
    program.start(exe, {});
    xcb_window_t window = XCB_NONE;
    ASSERT_TRUE(waitUntil([&] { return (window = display.findWindow("Arcsweep")) != XCB_NONE; }))
        << program.readAllStandardError().toStdString();
    display.destroyWindow(window);

    const bool ended = waitUntil([&] { return program.state() == QProcess::NotRunning; }, 20000);
    if (!ended) {
        program.kill();
        program.waitForFinished();
    }
    ASSERT_TRUE(ended) << "the program lives on without its window";
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    // The shutdown steps ran.
    EXPECT_EQ(fileBytes(app.appFile(DataFile::Settings)), (folder + "\r\n").toUtf8());
    EXPECT_FALSE(QFile::exists(app.appFile(DataFile::ErrorLog)));
}

} // namespace
