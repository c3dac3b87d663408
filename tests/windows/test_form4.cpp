#include "common/appstate.h"
#include "controls/desktopservices.h"
#include "controls/aniicon.h"
#include "windows/form4.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace arcsweep;

namespace {

// The statistics window as a finished run leaves it: the main window minimised and
// disabled, the run waiting.
class StatsWindow : public ::testing::Test {
protected:
    void SetUp() override {
        state.AppFolder = dir.filePath("App Folder");
        state.desktop = &desktop;
        state.StatsWaiting = true;
        state.AbortRequested = true;
        main.show();
        main.setWindowState(Qt::WindowMinimized);
        main.setEnabled(false);
    }
    Form4 *open() {
        form = new Form4(state, &main);
        form->setMainFocus(&mainList);
        form->Form_Load();
        return form;
    }
    // What leaving the window must always give back to the run and the main window.
    void expectLetGo() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(form.isNull());
        EXPECT_FALSE(state.StatsWaiting);
        EXPECT_FALSE(state.VerifyMode);
        EXPECT_FALSE(state.AbortRequested);
        EXPECT_TRUE(main.isEnabled());
        EXPECT_EQ(main.windowState(), Qt::WindowNoState);
    }

    QTemporaryDir dir;
    ScriptedDesktopServices desktop;
    AppState state;
    QWidget main;
    QWidget mainList{&main};
    QPointer<Form4> form;
};

TEST_F(StatsWindow, ExitAndTheWindowManagersCloseBothLetTheRunGo) {
    Form4 *f = open();
    EXPECT_EQ(f->windowTitle(), QStringLiteral("Arcsweep stats"));
    EXPECT_EQ(f->minimumSize(), QSize(358, 263));
    EXPECT_EQ(f->maximumSize(), QSize(358, 263));
    EXPECT_GE(f->Command4->geometry().top(), f->height()); // the focus sink is out of sight
    // Every caption is drawn in a text font (a face missing here must not become a
    // symbol font), and the path shown lies inside its frame, below the frame's title.
    for (QLabel *label : f->findChildren<QLabel *>()) {
        const QString family = QFontInfo(label->font()).family();
        const auto systems = QFontDatabase::writingSystems(family);
        EXPECT_TRUE(systems.contains(QFontDatabase::Latin) &&
                    !systems.contains(QFontDatabase::Symbol))
            << qPrintable(label->text()) << " is drawn in " << qPrintable(family);
    }
    EXPECT_TRUE(f->Frame1->contentsRect().contains(f->Label7->geometry()));
    EXPECT_TRUE(f->Frame1->font().bold());
    EXPECT_FALSE(f->Label7->font().bold());
    EXPECT_GE(f->Label7->height(), f->Label7->fontMetrics().height());
    EXPECT_TRUE(state.VerifyMode);
    EXPECT_FALSE(f->Command2->isEnabled()); // no damaged archive in this run
    f->Command1->click();
    expectLetGo();

    state.StatsWaiting = state.AbortRequested = true;
    main.setWindowState(Qt::WindowMinimized);
    main.setEnabled(false);
    open()->close();
    expectLetGo();
}

TEST_F(StatsWindow, ErrorLogOpensInTheEditorOnlyAfterDamage) {
    state.Totals.BadZips = 1;
    Form4 *f = open();
    ASSERT_TRUE(f->Command2->isEnabled());
    f->Command2->click();
    ASSERT_EQ(desktop.opened.size(), 1);
    EXPECT_EQ(desktop.opened[0], QUrl::fromLocalFile(state.AppFolder + "/Errors.txt"));
    EXPECT_TRUE(desktop.boxes.isEmpty());
    desktop.openSucceeds = false;
    f->Command2->click();
    EXPECT_EQ(desktop.boxes.size(), 1); // a failure is said, not swallowed
    EXPECT_TRUE(state.StatsWaiting);    // the window stays
    f->Command1->click();
}

TEST_F(StatsWindow, VerifyHandsOverToTheVerificationWindow) {
    Form4 *f = open();
    QSignalSpy verify(f, &Form4::verifyRequested);
    f->Command3->click();
    EXPECT_EQ(verify.count(), 1);
    EXPECT_FALSE(f->isEnabled());
    EXPECT_TRUE(state.VerifyMode);
    EXPECT_TRUE(state.StatsWaiting); // the run waits until the verification ends
    f->close();
    expectLetGo();
}

TEST_F(StatsWindow, IconPlaysItsSoundAndLongFiguresShowInToolTips) {
    Form4 *f = open();
    QTest::mouseClick(f->AniIcon1, Qt::LeftButton);
    ASSERT_EQ(desktop.sounds.size(), 1);
    EXPECT_EQ(desktop.sounds[0].path, state.AppFolder + "/hello-o.wav");
    EXPECT_FALSE(desktop.sounds[0].wait);

    const QString longPath = QStringLiteral("/a/very/long/path/").repeated(10);
    for (QLabel *label : {f->Label7, f->Label9, f->Label12, f->Label13, f->Label1}) {
        label->setText(longPath + label->objectName());
        QMouseEvent move(QEvent::MouseMove, QPointF(2, 2), label->mapToGlobal(QPointF(2, 2)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(label, &move);
    }
    for (QLabel *label : {f->Label7, f->Label9, f->Label12, f->Label13})
        EXPECT_EQ(label->toolTip(), label->text());
    EXPECT_TRUE(f->Label1->toolTip().isEmpty());
    f->Command1->click();
}

} // namespace
