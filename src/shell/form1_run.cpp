// Form1's part of the clean-all run's end: the statistics window.
#include "shell/form1.h"

#include "common/fs.h"
#include "common/numbertext.h"
#include "windows/form4.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace arcsweep {

void Form1::showStatistics(const QString &savedFolder) {
    if (Form4_)
        Form4_->close(); // a window left from an earlier run
    setWindowState(windowState() | Qt::WindowMinimized);
    setEnabled(false);
    // While this run waits on its statistics no other run can start: the button says so
    // even when the verification window hands the main window back early.
    Command2->setEnabled(false);
    yield();

    Form4_ = new Form4(state_, this);
    Form4_->setMainFocus(List1);
    connect(Form4_, &Form4::verifyRequested, this, [this] {
        if (openVerification)
            openVerification();
    });
    connect(this, &QObject::destroyed, Form4_, &QObject::deleteLater);
    connect(Form4_, &QObject::destroyed, Command2, [this] { Command2->setEnabled(true); });
    Form4_->Form_Load();
    state_.StatsWaiting = true;

    const RunTotals &t = state_.Totals;
    const auto figure = [](double value, const char *suffix) {
        return NumberText::grouped(value) + QLatin1String(suffix);
    };
    Form4 &f = *Form4_;
    f.Label7->setText(Fs::display(Fs::lower(savedFolder)));
    f.Label1->setText(figure(t.Zips, " - total zip's"));
    f.Label6->setText(figure(t.CleanedZips, " - cleaned zip's"));
    f.Label2->setText(figure(double(t.PatternCount), " - in purge.txt"));
    f.Label3->setText(figure(t.PurgedFiles, " - purged files"));
    f.Label4->setText(figure(double(t.DoubleDiz), " - double diz's"));
    f.Label5->setText(figure(double(t.BadZips), " - bad zip's"));
    f.Label8->setText(figure(t.BytesTested, " - bytes tested"));
    f.Label9->setText(figure(t.PurgedBytes, " - purged bytes"));
    f.Label11->setText(NumberText::grouped(t.ExtraNfos) + QStringLiteral("\nExtra nfos"));
    f.Label12->setText(figure(t.TotalBytesTested, " - total bytes tested"));
    f.Label13->setText(figure(t.TotalBytesPurged, " - total bytes purged"));
    f.Command3->setEnabled(t.ExtraNfos != 0);
    errors->setEnabled(t.BadZips != 0);
}

void Form1::afterStatistics() {
    Command2->setEnabled(true);
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    setBusyPointer(false);
}

} // namespace arcsweep
