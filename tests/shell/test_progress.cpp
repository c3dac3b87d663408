// A long test outside a run shows the archive's name and a moving bar as it goes,
// and lets no input in meanwhile.
#include "appfixture.h"

#include "components/sspanel.h"

#include <QProgressBar>

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

} // namespace
