// A long test outside a run shows the archive's name and a moving bar as it goes,
// lets no input in meanwhile, and drops the input given meanwhile.
#include "appfixture.h"

#include "controls/sspanel.h"

#include <QMouseEvent>
#include <QProgressBar>
#include <QWindow>

#include <gtest/gtest.h>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

// Counts the bar's paints while the component works, with the values they showed,
// and where input events arrived.
class Watcher : public QObject {
public:
    Watcher(Form1 &form) : form_(form) {
        bar_ = form.SSPanel2->findChild<QProgressBar *>();
        bar_->installEventFilter(this);
        form.File1->installEventFilter(this);
    }
    bool eventFilter(QObject *watched, QEvent *event) override {
        // The paints while the large archive is tested, and what the status panel said.
        if (watched == bar_ && event->type() == QEvent::Paint && form_.XceedZip1->isBusy() &&
            form_.XceedZip1->ArchivePath.endsWith(QStringLiteral("B Large.ZIP"))) {
            paintedValues.append(bar_->value());
            captions.append(form_.SSPanel1->Caption());
        }
        if (watched == form_.File1 && event->type() == QEvent::KeyPress)
            keyWhileBusy = keyWhileBusy || form_.XceedZip1->isBusy();
        return false;
    }
    QList<int> paintedValues;
    QStringList captions;
    bool keyWhileBusy = false;

private:
    Form1 &form_;
    QProgressBar *bar_;
};

class ProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = app.tree + QStringLiteral("/Large Zips");
        QDir().mkpath(folder);
        // Entries too large to be tested whole: read and checked block by block.
        for (const char *name : {"A Small.ZIP", "B Large.ZIP"}) {
            const qsizetype size = QByteArray(name).contains("Large") ? (48 << 20) : 10;
            ASSERT_TRUE(writeZip(folder + u'/' + QLatin1String(name),
                                 {{QStringLiteral("Data.BIN"), randomBytes(size, 3), true}}));
        }
        form = &app.makeForm();
        app.browse(folder);
    }
    // A key queued as the test begins: it must wait until the test is over.
    void queueKeyAtTheFirstStatus() {
        QObject::connect(
            form->XceedZip1, &ZipComponent::Status, form,
            [this] {
                QCoreApplication::postEvent(
                    form->File1, new QKeyEvent(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier));
            },
            Qt::SingleShotConnection);
    }
    void expectShownAsItWent(const Watcher &watch) {
        ASSERT_GE(watch.paintedValues.size(), 2);
        EXPECT_LT(watch.paintedValues.first(), watch.paintedValues.last()); // it moved
        for (const QString &caption : watch.captions)
            EXPECT_EQ(caption, QStringLiteral("b large.zip"));
        EXPECT_FALSE(watch.keyWhileBusy);
    }
    AppFixture app;
    QString folder;
    Form1 *form = nullptr;
};

TEST_F(ProgressTest, AClickedArchive) {
    Watcher watch(*form);
    queueKeyAtTheFirstStatus();
    app.clickArchive(QStringLiteral("B Large.ZIP"));
    expectShownAsItWent(watch);
    EXPECT_EQ(app.entries(), QStringList{"data.bin"});
}

TEST_F(ProgressTest, TheArrowKeys) {
    app.clickArchive(QStringLiteral("A Small.ZIP"));
    Watcher watch(*form);
    queueKeyAtTheFirstStatus();
    pressKey(form, Qt::Key_Down); // tests A again, then B once the selection moved
    expectShownAsItWent(watch);
}

// A click on the first entry row and Delete, queued at the main window while the large
// archive is tested, were meant for the small archive's entries shown until then: they
// must not act on the large archive's entries listed next.
TEST_F(ProgressTest, InputGivenDuringTheTestIsDropped) {
    app.clickArchive(QStringLiteral("A Small.ZIP"));
    ASSERT_EQ(app.entries(), QStringList{"data.bin"});
    QWindow *window = form->windowHandle();
    ASSERT_NE(window, nullptr);
    const QPointF row = form->List1->viewport()->mapTo(form, rowCentre(form->List1, 0));
    const QPointF global = form->mapToGlobal(row);
    const QString large = folder + QStringLiteral("/B Large.ZIP");
    const QByteArray before = fileBytes(large);
    QObject::connect(
        form->XceedZip1, &ZipComponent::Status, form,
        [&] {
            QCoreApplication::postEvent(window,
                                        new QMouseEvent(QEvent::MouseButtonPress, row, row, global,
                                                        Qt::LeftButton, Qt::LeftButton, {}));
            QCoreApplication::postEvent(window,
                                        new QMouseEvent(QEvent::MouseButtonRelease, row, row,
                                                        global, Qt::LeftButton, Qt::NoButton, {}));
            for (const QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease})
                QCoreApplication::postEvent(window, new QKeyEvent(type, Qt::Key_Delete, {}));
        },
        Qt::SingleShotConnection);
    app.clickArchive(QStringLiteral("B Large.ZIP"));
    QCoreApplication::processEvents(); // whatever is still queued

    EXPECT_EQ(app.entries(), QStringList{"data.bin"});
    EXPECT_TRUE(form->List1->selectedItems().isEmpty());
    EXPECT_EQ(fileBytes(large), before);
    // Input given after the test reaches the list as usual.
    clickRow(form->List1, 0);
    EXPECT_EQ(form->List1->selectedItems().size(), 1);
}

} // namespace
