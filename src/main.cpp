#include "common/appfolder.h"
#include "common/appstate.h"
#include "common/commandline.h"
#include "controls/desktopservices.h"
#include "common/fs.h"
#include "shell/form1.h"
#include "engine/signalstop.h"
#include "shell/singleinstance.h"
#include "windows/form3.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <algorithm>

using namespace arcsweep;

namespace {

// The folder of the executable, before any application object exists.
QString executableFolder(const char *argv0) {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const QString exe = n > 0 ? Fs::decode(QByteArray(path, n)) : Fs::absolute(Fs::decode(argv0));
    return exe.left(std::max<qsizetype>(exe.lastIndexOf(u'/'), 1));
}

void print(FILE *to, const QString &text) {
    const QByteArray bytes = Fs::encode(text);
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
}

} // namespace

int main(int argc, char **argv) {
    // First of all: from here until the process ends, a stop signal stops the program
    // cleanly, at start-up and at shutdown too.
    SignalStop::install();

    // With TZ unset the C library looks at /etc/localtime again for every time it
    // converts (one per entry of an archive); named once, it is read once.
    if (std::getenv("TZ") == nullptr)
        ::setenv("TZ", ":/etc/localtime", 0);

    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(Fs::decode(QByteArray(argv[i]))); // file names are bytes: kept exactly
    const CommandLine line = CommandLine::parse(arguments);
    const QString exeFolder = executableFolder(argv[0]);
    switch (line.action) {
    case CommandLine::Action::Help:
        print(stdout, CommandLine::usage(chooseAppFolder(exeFolder).path));
        return ExitStatus::Completed;
    case CommandLine::Action::Version: {
        const AppFolderChoice data = chooseAppFolder(exeFolder);
        print(stdout, QStringLiteral("Arcsweep %1\nData folder: %2\n  %3\n")
                          .arg(QStringLiteral(ARCSWEEP_VERSION), data.path, data.reason));
        return ExitStatus::Completed;
    }
    case CommandLine::Action::Error:
        print(stderr, QStringLiteral("arcsweep: %1\n\n").arg(line.error) +
                          CommandLine::usage(chooseAppFolder(exeFolder).path));
        return ExitStatus::Usage;
    case CommandLine::Action::Run:
        break;
    }
    const QString folder = line.folder;
    if (!line.keepPurged.isEmpty()) {
        const QString problem = CommandLine::keepFolderProblem(line.keepPurged, folder);
        if (!problem.isEmpty()) {
            print(stderr, QStringLiteral("arcsweep: %1\n\n").arg(problem) +
                              CommandLine::usage(chooseAppFolder(exeFolder).path));
            return ExitStatus::Usage;
        }
    }

    const bool hasDisplay = !qEnvironmentVariableIsEmpty("DISPLAY") ||
                            !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                            !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!hasDisplay) {
        if (folder.isEmpty()) {
            print(stderr, QStringLiteral("arcsweep: no display: the window cannot open.\n\n") +
                              CommandLine::usage(chooseAppFolder(exeFolder).path));
            return ExitStatus::Refused;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen"); // an unattended run needs no screen
    }

    // An unattended run's standard error carries its own report only: the toolkit's
    // notes about the missing display (and the like) are dropped.
    if (!folder.isEmpty())
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                std::fprintf(stderr, "%s\n", qPrintable(text));
        });

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Arcsweep"));
    QApplication::setQuitOnLastWindowClosed(false);

    QtDesktopServices desktop;
    AppState state;
    state.AppFolder = setUpAppFolder(exeFolder).path;
    state.CommandLine = folder;
    state.DryRun = line.dryRun;
    state.KeepPurged = line.keepPurged.isEmpty() ? QString() : Fs::absolute(line.keepPurged);
    state.SkipUnchanged = line.skipUnchanged;
    state.RetestDays = line.retestDays;
    state.desktop = &desktop;

    SignalStop stopSignals;
    SingleInstance instance(state.AppFolder);
    Form3 splash;
    Form1 form(state);
    QObject::connect(&stopSignals, &SignalStop::stopRequested, &form,
                     [&form] { form.stopBySignal(); });
    if (!form.Form_Load(&instance, &splash))
        return form.exitCode();
    if (form.unloaded())
        return form.exitCode(); // the unattended run has ended
    return app.exec();
}
