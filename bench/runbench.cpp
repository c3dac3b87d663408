// Runs one unattended clean-all run of a folder tree through the real main window
// (offscreen) and reports where the time went: the whole run, the run's own yields,
// and every window event delivered meanwhile (repaints, timers, input), measured
// in the application's notify().
//
//   runbench APPFOLDER TREE
// APPFOLDER holds purge.txt; the run writes its files there as the program does.

#include "common/appstate.h"
#include "controls/desktopservices.h"
#include "quietdesktop.h"
#include "engine/cleanrun.h"
#include "shell/form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>

#include <cstdio>
#include <map>

using namespace arcsweep;

namespace {

class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override {
        if (depth_++ > 0) { // nested deliveries are inside an outer one already
            const bool done = QApplication::notify(receiver, event);
            --depth_;
            return done;
        }
        QElapsedTimer t;
        t.start();
        const bool done = QApplication::notify(receiver, event);
        const qint64 ns = t.nsecsElapsed();
        --depth_;
        // Component events are signals, not events: what is timed here is window work.
        auto &slot = byType[event->type()];
        slot.first += 1;
        slot.second += ns;
        total += ns;
        return done;
    }

    std::map<int, std::pair<qint64, qint64>> byType; // type -> (count, ns)
    qint64 total = 0;

private:
    int depth_ = 0;
};

using bench::QuietDesktop;

} // namespace

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: runbench APPFOLDER TREE\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    QuietDesktop desktop;
    AppState state;
    state.AppFolder = QString::fromLocal8Bit(argv[1]);
    state.CommandLine = QString::fromLocal8Bit(argv[2]);
    state.desktop = &desktop;

    Form1 form(state);
    form.show();
    QCoreApplication::processEvents();
    app.byType.clear();
    app.total = 0;

    QElapsedTimer run;
    run.start();
    form.Command2_Click();
    const double runMs = run.nsecsElapsed() / 1e6;

    const Yielder &yields = form.run().yields();
    std::printf("run            %9.1f ms  exit status %d\n", runMs, form.run().exitStatus());
    std::printf("run's yields   %9.1f ms  in %lld yields\n", yields.nanoseconds() / 1e6,
                static_cast<long long>(yields.count()));
    std::printf("window events  %9.1f ms  (%.1f %% of the run)\n", app.total / 1e6,
                100.0 * double(app.total) / 1e6 / runMs);
    for (const auto &[type, slot] : app.byType)
        if (slot.second > runMs * 1e6 / 1000) // more than 0.1 % of the run
            std::printf("  event %-5d %9.1f ms  %lld times\n", type, slot.second / 1e6,
                        static_cast<long long>(slot.first));
    form.Form_Unload();
    return 0;
}
