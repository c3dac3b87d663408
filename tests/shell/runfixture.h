#pragma once

// A real main window around a clean-all run on a test tree: writes the purge list,
// runs the button's handler, and lets the statistics window go once it is up,
// keeping what it showed.

#include "appfixture.h"
#include "common/textfile.h"
#include "controls/drivelistbox.h"
#include "controls/sspanel.h"
#include "engine/cleanrun.h"
#include "runtree.h"
#include "windows/form4.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

#include <gtest/gtest.h>

namespace arcsweep::test {

struct StatsShown {
    bool shown = false;
    QMap<QString, QString> labels; // "Label1" -> text
    bool verifyEnabled = false;
    bool errorLogEnabled = false;
    bool mainMinimized = false;
    bool mainEnabled = true;
};

class RunFixture : public AppFixture, public RunTree {
public:
    // `build` makes the window (a test may give a subclass that watches it).
    explicit RunFixture(const std::function<void(RunFixture &)> &build = {})
        : RunTree(state, tree) {
        if (build)
            build(*this);
        else
            makeForm(false);
        form->Drive1->setDrive(tree);
        browse(tree);
    }

    // Clicks "&Clean all" and waits for the handler to return. An interactive run
    // waits on the statistics window: it is read and left through its Exit button.
    void clean(bool byMouse = false) {
        QTimer closer;
        closer.setInterval(5);
        QObject::connect(&closer, &QTimer::timeout, [this] {
            Form4 *f = form->statistics();
            if (!f || !f->isVisible() || !state.StatsWaiting)
                return;
            stats.shown = true;
            const QList<std::pair<const char *, QLabel *>> labels = {
                {"Label1", f->Label1},   {"Label2", f->Label2},   {"Label3", f->Label3},
                {"Label4", f->Label4},   {"Label5", f->Label5},   {"Label6", f->Label6},
                {"Label7", f->Label7},   {"Label8", f->Label8},   {"Label9", f->Label9},
                {"Label11", f->Label11}, {"Label12", f->Label12}, {"Label13", f->Label13}};
            for (const auto &[name, label] : labels)
                stats.labels.insert(QLatin1String(name), label->text());
            stats.verifyEnabled = f->Command3->isEnabled();
            stats.errorLogEnabled = f->Command2->isEnabled();
            stats.mainMinimized = form->isMinimized();
            stats.mainEnabled = form->isEnabled();
            (leaveByVerify ? f->Command3 : f->Command1)->click();
        });
        closer.start();
        if (byMouse)
            QTest::mouseClick(form->Command2, Qt::LeftButton);
        else
            form->Command2_Click();
    }
    // The same, as a user's click on "&Clean all".
    void clickClean() { clean(true); }

    // Runs `action` once, the first time the component lists an entry whose name
    // contains `marker` (case ignored).
    void onListing(const QString &marker, std::function<void()> action) {
        auto fired = std::make_shared<bool>(false);
        QObject::connect(form->XceedZip1, &ZipComponent::Listing, form.get(),
                         [marker, action, fired](const ZipEntryInfo &entry) {
                             if (*fired || !entry.FileName.contains(marker, Qt::CaseInsensitive))
                                 return;
                             *fired = true;
                             action();
                         });
    }

    StatsShown stats;
    bool leaveByVerify = false; // leave the statistics through "&Verify"
};

} // namespace arcsweep::test
