// Measures how quickly a clean-all run stops when the user stops it in the middle of
// one long archive. Builds the real main window (offscreen), points it at FOLDER,
// starts "&Clean all" from inside the event loop as a click would, and once the run
// is in the chosen phase of ARCHIVE gives one stop:
//   esc    the Escape key, sent to the focused control as a key press
//   abort  a click on "&Abort" (Command2)
//   exit   a click on "E&xit" (Command3); the program ends when the event loop returns
// The phase is watched from a second thread every 5 ms, independently of the run's
// yields: "test" once the component's Status signal reported progress on ARCHIVE
// while it lists and tests it, "rewrite" once the rewrite's hidden temporary file
// ".ARCHIVE.*" exists in FOLDER. The watcher takes the time of the stop and posts it
// to the window's event queue, as the window system posts a key press or a click, so
// the latency includes the wait for the run's next yield.
//
//   stopbench APPFOLDER FOLDER ARCHIVE test|rewrite esc|abort|exit
// APPFOLDER holds purge.txt. Prints one line of key=value pairs; times in ms. The stop
// has taken effect when the event loop returns (Exit), or when the run's handler
// returns, its statistics window shows or the end-of-run listing of the archive shown
// begins, whichever comes first (the others).

#include "common/appstate.h"
#include "controls/desktopservices.h"
#include "quietdesktop.h"
#include "zip/zipcomponent.h"
#include "engine/cleanrun.h"
#include "shell/form1.h"
#include "windows/form4.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <string>
#include <thread>

using namespace arcsweep;
using Clock = std::chrono::steady_clock;

namespace {

using bench::QuietDesktop;

// Notes when the statistics window shows.
class StatsWatch : public QObject {
public:
    std::function<void()> shown;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Show && qobject_cast<Form4 *>(watched) != nullptr && shown)
            shown();
        return false;
    }
};

double msBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// True when FOLDER holds a file named ".ARCHIVE." followed by anything.
bool tempFileExists(const std::string &folder, const std::string &prefix) {
    DIR *dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return false;
    bool found = false;
    while (const dirent *e = ::readdir(dir))
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) {
            found = true;
            break;
        }
    ::closedir(dir);
    return found;
}

} // namespace

int main(int argc, char **argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: stopbench APPFOLDER FOLDER ARCHIVE test|rewrite "
                             "esc|abort|exit\n");
        return 2;
    }
    const std::string folder = argv[2], archive = argv[3], phase = argv[4], kind = argv[5];
    if ((phase != "test" && phase != "rewrite") ||
        (kind != "esc" && kind != "abort" && kind != "exit")) {
        std::fprintf(stderr, "stopbench: unknown phase or stop\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QuietDesktop desktop;
    AppState state;
    state.AppFolder = QString::fromLocal8Bit(argv[1]);
    state.desktop = &desktop;

    Form1 form(state);
    form.show();
    form.activateWindow();
    QCoreApplication::processEvents();
    const QString folderPath = QString::fromLocal8Bit(folder.c_str());
    const QString archivePath = folderPath + u'/' + QString::fromLocal8Bit(archive.c_str());
    form.setDrive(folderPath);
    form.setDirPath(folderPath);
    form.setFilePath(folderPath);
    QCoreApplication::processEvents();

    // Progress on the archive while its test runs: reported by the Status signal.
    std::atomic<bool> testing{false};
    QObject::connect(form.XceedZip1, &ZipComponent::Status, [&](int completion) {
        if (completion > 0 && completion < 100 && state.Running &&
            form.XceedZip1->ArchivePath == archivePath)
            testing = true;
    });

    Clock::time_point started, pressed, delivered, returned, ended, statsAt, relisted;
    bool hasRelisted = false;
    quint64 operationAtStop = 0;
    std::atomic<bool> stopSent{false}, finished{false};
    bool hasReturned = false, statsShown = false;
    QString keyTarget;
    QObject receiver;

    auto giveStop = [&] {
        delivered = Clock::now();
        operationAtStop = form.XceedZip1->operationCount();
        if (kind == "esc") {
            QWidget *target = QApplication::focusWidget();
            if (target == nullptr)
                target = form.focusWidget();
            if (target == nullptr)
                target = &form;
            keyTarget = target->metaObject()->className();
            QTest::keyClick(target, Qt::Key_Escape);
        } else {
            QTest::mouseClick(kind == "abort" ? form.Command2 : form.Command3, Qt::LeftButton);
        }
    };

    const std::string tempPrefix = "." + archive + ".";
    std::thread watcher([&] {
        while (!finished) {
            const bool inPhase =
                phase == "test" ? testing.load() : tempFileExists(folder, tempPrefix);
            if (inPhase) {
                pressed = Clock::now();
                stopSent = true;
                QMetaObject::invokeMethod(&receiver, giveStop, Qt::QueuedConnection);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });

    // Every run ends by listing the archive shown again, tested whole (the end-of-run
    // steps): once a component operation begins after the stop, the run itself has
    // stopped, and the time that listing's test takes is the archive's, not the stop's.
    // It is reported apart (relist_after_ms).
    QObject::connect(form.XceedZip1, &ZipComponent::Status, [&] {
        if (stopSent && !hasRelisted && delivered != Clock::time_point{} &&
            form.XceedZip1->operationCount() != operationAtStop) {
            hasRelisted = true;
            relisted = Clock::now();
        }
    });

    // A run that records its statistics ("&Abort" records an empty run, and a run that
    // was not stopped a full one) has stopped working once their window shows; the
    // window is then closed as the user would, so that the run's handler can return.
    StatsWatch watch;
    app.installEventFilter(&watch);
    watch.shown = [&] {
        if (!statsShown) {
            statsShown = true;
            statsAt = Clock::now();
        }
    };
    QTimer statsCloser;
    QObject::connect(&statsCloser, &QTimer::timeout, [&] {
        if (Form4 *stats = form.statistics(); stats && stats->isVisible() && state.StatsWaiting)
            QTest::mouseClick(stats->Command1, Qt::LeftButton);
    });
    statsCloser.start(10);

    // The program's own Exit ends the event loop; for the other stops, and for an
    // Exit that did not take, the loop is ended here once the handler has returned.
    QTimer::singleShot(0, [&] {
        started = Clock::now();
        form.Command2_Click();
        returned = Clock::now();
        hasReturned = true;
        if (kind != "exit")
            QCoreApplication::quit();
        else
            QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });
    });
    QTimer::singleShot(600000, [] {
        std::fprintf(stderr, "stopbench: no end after 10 minutes\n");
        std::_Exit(3);
    });
    const int loopResult = app.exec();
    ended = Clock::now();
    finished = true;
    watcher.join();

    // Stopped: for Exit when the event loop has returned (the program would end); for
    // the others when the handler has returned or the statistics window showed.
    const bool sent = stopSent;
    Clock::time_point stopped = kind == "exit" ? ended : returned;
    if (kind != "exit" && statsShown && statsAt < stopped)
        stopped = statsAt;
    if (kind != "exit" && hasRelisted && relisted < stopped)
        stopped = relisted;
    const auto after = [&](Clock::time_point t) { return sent ? msBetween(pressed, t) : -1.0; };
    std::printf("phase=%s stop=%s sent=%d run_ms=%.1f in_phase_after_ms=%.1f latency_ms=%.1f "
                "delivered_after_ms=%.1f handler_after_ms=%.1f handler_returned=%d exit_taken=%d "
                "statistics_shown=%d run_status=%d key_target=%s relist_after_ms=%.1f\n",
                phase.c_str(), kind.c_str(), sent ? 1 : 0, msBetween(started, returned),
                sent ? msBetween(started, pressed) : -1.0, after(stopped), after(delivered),
                after(returned), hasReturned ? 1 : 0, kind == "exit" && loopResult != 99 ? 1 : 0,
                statsShown ? 1 : 0, form.run().exitStatus(),
                keyTarget.isEmpty() ? "-" : qPrintable(keyTarget),
                hasRelisted ? after(relisted) : -1.0);
    std::fflush(stdout);
    return 0;
}
