// The windows as they stand on this desktop: frames, places, the parent of each
// message box, and what the help page and the viewer show.
#include "../viewer/viewerfixture.h"

#include "common/fs.h"
#include "controls/sspanel.h"
#include "engine/cleanrun.h"
#include "windows/form3.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

bool centredOnScreen(const QWidget *w) {
    const QPoint offset = w->frameGeometry().center() -
                          QGuiApplication::primaryScreen()->availableGeometry().center();
    return offset.manhattanLength() <= 2;
}

class Frames : public ViewerFixture {};

TEST_F(Frames, MainWindowIsFixedCentredAndCannotBeMaximised) {
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(form->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_TRUE(centredOnScreen(form));
}

TEST_F(Frames, TitleWindowHasNeitherCaptionNorButtons) {
    QTest::mouseClick(form->SSPanel3, Qt::LeftButton); // About shows it while its sound plays
    Form3 *title = form->splash();
    ASSERT_NE(title, nullptr);
    const Qt::WindowFlags flags = title->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowTitleHint);
    EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));
    title->show();
    EXPECT_TRUE(centredOnScreen(title));
    title->hide();
}

TEST_F(Frames, VerificationWindowCannotBeClosedFromItsFrame) {
    const QString a = zipOf(QStringLiteral("One.ZIP"), {"A.NFO", "B.NFO"});
    Form6 *f = startVerification({a});
    ASSERT_NE(f, nullptr);
    const Qt::WindowFlags flags = f->windowFlags();
    EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowSystemMenuHint));
    f->close(); // the window manager's close
    EXPECT_TRUE(f->isVisible());
    QTest::mouseClick(f->Command3, Qt::LeftButton);
}

TEST_F(Frames, BoxesStandOverTheWindowThatRaisedThem) {
    const QString a = zipOf(QStringLiteral("One.ZIP"), {"A.NFO", "B.NFO"});
    openArchive(QStringLiteral("One.ZIP"));
    // No purge list: the main window's Add, the viewer's Add and the verification
    // window's Add each refuse over their own window.
    clickRow(form->List1, QStringLiteral("a.nfo"));
    QTest::mouseClick(form->Command1, Qt::LeftButton);
    doubleClickEntry(QStringLiteral("a.nfo"));
    ASSERT_TRUE(viewerShown());
    QTest::mouseClick(viewer()->Command1, Qt::LeftButton);
    Form6 *f = startVerification({a});
    ASSERT_NE(f, nullptr);
    clickRow(f->List1, QStringLiteral("b.nfo"));
    QTest::mouseClick(f->Command1, Qt::LeftButton);
    ASSERT_EQ(app.desktop.boxes.size(), 3);
    EXPECT_EQ(app.desktop.boxes[0].parent, form);
    EXPECT_EQ(app.desktop.boxes[1].parent, viewer());
    EXPECT_EQ(app.desktop.boxes[2].parent, f);
    for (const auto &box : app.desktop.boxes)
        EXPECT_EQ(box.text, QStringLiteral("No purge list exists"));
    QTest::mouseClick(f->Command3, Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the windows go
    // A run that finds no purge list says so over the main window.
    app.desktop.boxes.clear();
    QTimer leaveStatistics;
    QObject::connect(&leaveStatistics, &QTimer::timeout, [&] {
        if (form->statistics() && form->statistics()->isVisible())
            QTest::mouseClick(form->statistics()->Command1, Qt::LeftButton);
    });
    leaveStatistics.start(5);
    QTest::mouseClick(form->Command2, Qt::LeftButton);
    ASSERT_FALSE(app.desktop.boxes.isEmpty());
    EXPECT_EQ(app.desktop.boxes[0].parent, form);
}

TEST(HelpPage, ShowsCaptionsWithoutAmpersands) {
    const QString page =
        QString::fromUtf8(fileBytes(QStringLiteral(ARCSWEEP_APPFOLDER_DIR "/Arcsweep.html")));
    ASSERT_TRUE(page.contains(QStringLiteral("Clean all")));
    // An access-key marker would show as "&amp;" before a letter, or a bare "&" before one
    // that starts no entity.
    EXPECT_FALSE(page.contains(QRegularExpression(QStringLiteral("&amp;[A-Za-z]"))));
    EXPECT_FALSE(page.contains(QRegularExpression(QStringLiteral("&[A-Za-z]+(?![A-Za-z0-9]*;)"))));
}

TEST_F(Frames, ViewerTabStopsEveryEightColumns) {
    zip(QStringLiteral("Tabs.ZIP"), {{QStringLiteral("Tabs.TXT"), "a\tb\r\n"}});
    openArchive(QStringLiteral("Tabs.ZIP"));
    doubleClickEntry(QStringLiteral("tabs.txt"));
    ASSERT_TRUE(viewerShown());
    const QPlainTextEdit *text = viewer()->Text1;
    EXPECT_DOUBLE_EQ(text->tabStopDistance(),
                     8 * QFontMetricsF(text->font()).horizontalAdvance(u' '));
}

} // namespace
