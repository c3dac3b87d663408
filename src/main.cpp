#include "common/appfolder.h"
#include "common/appstate.h"
#include "common/desktopservices.h"
#include "common/fs.h"
#include "shell/form1.h"
#include "shell/signalstop.h"
#include "shell/singleinstance.h"
#include "windows/form3.h"

#include <QApplication>
#include <QDir>

#include <cstdio>
#include <cstdlib>

using namespace arcsweep;

int main(int argc, char **argv) {
    // With TZ unset the C library looks at /etc/localtime again for every time it
    // converts (one per entry of an archive); named once, it is read once.
    if (std::getenv("TZ") == nullptr)
        ::setenv("TZ", ":/etc/localtime", 0);

    // The whole command line is one folder path: the arguments joined with blanks.
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words.append(Fs::decode(QByteArray(argv[i]))); // file names are bytes: kept exactly
    const QString folder = words.join(u' ');

    const bool hasDisplay = !qEnvironmentVariableIsEmpty("DISPLAY") ||
                            !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                            !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
    if (!hasDisplay) {
        if (folder.isEmpty()) {
            std::fprintf(stderr,
                         "No display: the window cannot open.\n"
                         "Usage: arcsweep FOLDER   cleans FOLDER and every folder below it\n");
            return 2;
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
    state.AppFolder = setUpAppFolder(QCoreApplication::applicationDirPath()).path;
    state.CommandLine = folder;
    state.desktop = &desktop;

    SignalStop stopSignals;
    SingleInstance instance(state.AppFolder);
    Form3 splash;
    Form1 form(state);
    QObject::connect(&stopSignals, &SignalStop::stopRequested, &form, [&form] { form.stopBySignal(); });
    if (!form.Form_Load(&instance, &splash))
        return form.exitCode();
    if (form.unloaded())
        return form.exitCode(); // the unattended run has ended
    return app.exec();
}
