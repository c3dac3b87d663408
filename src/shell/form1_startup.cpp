// The main window's start-up and shutdown, and every way of closing it.
#include "shell/form1.h"

#include "common/commandline.h"
#include "common/fs.h"
#include "common/numbertext.h"
#include "common/textfile.h"
#include "controls/desktopservices.h"
#include "controls/dirlistbox.h"
#include "controls/filelistbox.h"
#include "engine/cleanrun.h"
#include "shell/singleinstance.h"
#include "shell/windowloss.h"
#include "windows/form3.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QScopedValueRollback>

#include <cstdio>

namespace arcsweep {

namespace {
// Deletes the first regular file of `folder` matching `pattern` that can be deleted;
// files that cannot be deleted are skipped. Returns false when none was deleted.
bool deleteFirstFile(const QString &folder, const QString &pattern, QStringList *skip = nullptr) {
    const QStringList names =
        QDir(folder).entryList({pattern}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString &name : names) {
        const QString path = folder + u'/' + name;
        if (skip && skip->contains(path))
            continue;
        Fs::makeOwnerWritable(path);
        if (QFile::remove(path))
            return true;
        if (skip)
            skip->append(path);
        else
            return false;
    }
    return false;
}
} // namespace

bool Form1::Form_Load(SingleInstance *instance, Form3 *splash) {
    splash_ = splash;
    // Never from a volume's root: the data files would land there.
    if (state_.AppFolder.isEmpty() || state_.AppFolder == u"/") {
        state_.desktop->messageBox(this,
                                   QStringLiteral("Arcsweep can NOT be run from a root directory"),
                                   QStringLiteral("Error"), MsgIcon::Critical, MsgButtons::Ok);
        unloaded_ = true;
        exitCode_ = 1;
        return false;
    }
    // One instance: a later one hands over to the first and ends.
    if (instance && !instance->isFirst()) {
        unloaded_ = true;
        exitCode_ = ExitStatus::Running;
        if (state_.unattended()) {
            std::fprintf(stderr,
                         "Arcsweep is already running from this folder; nothing was cleaned.\n");
            return false;
        }
        // Handed over: the first instance's window comes forward. One that shows none
        // (or does not answer) must not leave this start looking as if nothing happened.
        const SingleInstance::Handover handover = instance->activateFirst();
        if (handover == SingleInstance::Handover::Shown) {
            exitCode_ = ExitStatus::Completed;
        } else if (handover == SingleInstance::Handover::NoWindow) {
            std::fprintf(stderr,
                         "Arcsweep is already running from this folder (process %lld) but "
                         "shows no window; end that process and start again.\n",
                         instance->firstProcess());
        } else {
            std::fprintf(stderr, "Arcsweep is already running from this folder but does not "
                                 "answer; wait for it or end it and start again.\n");
        }
        return false;
    }
    if (instance) {
        connect(instance, &SingleInstance::activateRequested, this, [this] {
            if (closing_)
                return;
            if (isMinimized())
                showNormal();
            show();
            raise();
            activateWindow();
        });
        instance->setShowsWindow([this] { return !closing_ && isVisible(); });
    }
    // A window taken away from outside closes as its close button would: the main
    // window's loss ends the work and the program.
    if (!state_.unattended())
        windowLoss_ = std::make_unique<WindowLoss>([this](QWidget *window) {
            if (window == this)
                requestClose();
            else
                window->close();
        });

    // An unattended run shows nothing: nobody sees the window, so it is neither
    // painted nor laid out.
    if (splash_)
        splash_->hide();
    QCoreApplication::processEvents();
    if (!state_.unattended()) {
        show();
        centreOnScreen();
    }
    QCoreApplication::processEvents();
    setBusyPointer(true);

    // The last folder, when it still exists. The drive list follows the folder
    // list, so no other folder (a volume's root) is listed or tested on the way.
    const QString settings = state_.file(DataFile::Settings);
    if (QFileInfo(settings).isFile()) {
        // Further lines hold choices ("KeepPurged=FOLDER", "SkipUnchanged=1",
        // "RetestDays=N"); unknown ones are kept as they are. The command line wins.
        settings_ = SettingsFile::read(settings);
        if (state_.KeepPurged.isEmpty())
            state_.KeepPurged = settings_.keepPurged(state_.AppFolder);
        if (!state_.SkipUnchanged)
            state_.SkipUnchanged = settings_.skipUnchanged();
        if (state_.RetestDays < 0)
            state_.RetestDays = settings_.retestDays();
        const QString folder = settings_.folder();
        if (!folder.isEmpty() && Fs::isDir(folder)) {
            // The folder list shows it (and shutdown saves it again); its archives are
            // listed only for the window, and none is tested yet.
            const QScopedValueRollback restoring(restoring_, true);
            Dir1->setPath(folder);
            if (!state_.unattended())
                File1->setPath(folder);
        }
    }
    // The first archive is tested once the window has been painted; an
    // unattended run tests, renames and changes nothing but the folder it was given.
    setBusyPointer(false);
    if (!state_.unattended() && File1->ListCount() >= 1) {
        firstTestPending_ = true;
        centralWidget()->update();
    }
    // A purge-list update that was interrupted is dropped, not merged; one
    // leftover file of the TempFolder. (A dry run changes no file at all.)
    if (!state_.DryRun) {
        QFile::remove(state_.file(DataFile::PurgeStaging));
        deleteFirstFile(state_.tempFolder(), QStringLiteral("*"));
    }
    // Unattended run, then close.
    if (state_.unattended())
        startUnattendedRun();
    return !unloaded_;
}

void Form1::testFirstArchive() {
    if (!std::exchange(firstTestPending_, false) || state_.Running || state_.Closing)
        return;
    // An archive the user chose meanwhile has been tested already.
    if (File1->ListCount() >= 1 && File1->ListIndex() < 0)
        File1->setListIndex(0);
}

void Form1::startUnattendedRun() {
    clearEntries();
    entriesUnseen_ = !isVisible();
    QCoreApplication::processEvents();
    Command2_Click();
    exitCode_ = stoppedBySignal_ ? 2 : run_->exitStatus();
    requestClose();
}

void Form1::stopBySignal() {
    if (!state_.unattended()) {
        requestClose();
        return;
    }
    if (stoppedBySignal_)
        return;
    stoppedBySignal_ = true;
    exitCode_ = 2;
    // As a close: nothing more is tested, renamed or rewritten, and no box opens ...
    state_.Closing = true;
    state_.desktop->silence();
    XceedZip1->Shutdown();
    // ... and as Abort: the run so far is recorded.
    if (state_.Running)
        Command2_Click();
}

void Form1::Form_Unload() {
    if (unloaded_)
        return;
    unloaded_ = true;
    if (state_.DryRun)
        return; // a dry run changes no file at all
    // The folder for next time, and the choices the file held. A file that cannot
    // be written is said, and the exit status says so.
    const QString settings = state_.file(DataFile::Settings);
    const FileResult saved = settings_.write(settings, Dir1->Path());
    if (!saved) {
        RunFiles::toStderr(
            QStringLiteral("Arcsweep: cannot write %1: %2").arg(settings, saved.cause()));
        if (exitCode_ == ExitStatus::Completed)
            exitCode_ = ExitStatus::NotWritten;
    }
    // One ".diz" of the TempFolder; every ".nfo", each tried once.
    const QString temp = state_.tempFolder();
    deleteFirstFile(temp, QStringLiteral("*.diz"));
    QStringList skipped;
    while (deleteFirstFile(temp, QStringLiteral("*.nfo"), &skipped)) {
    }
    // The last run's logs.
    QFile::remove(state_.file(DataFile::ErrorLog));
    QFile::remove(state_.file(DataFile::VerifyList));
}

void Form1::requestClose() {
    // Closing ends the work at once: a run stops at its next check, the operation in
    // progress in any window stops, and from here on no operation starts, no box
    // opens and nothing is renamed or rewritten.
    run_->requestStop();
    state_.Closing = true;
    state_.desktop->silence();
    for (QWidget *w : QApplication::topLevelWidgets())
        for (ZipComponent *zip : w->findChildren<ZipComponent *>())
            zip->Shutdown();
    XceedZip1->Shutdown();
    Form_Unload();
    // Every window goes; the program ends once an interrupted run has unwound.
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w != this)
            w->hide();
    hide();
    if (!closing_) {
        closing_ = true;
        QCoreApplication::exit(exitCode_);
    }
}

void Form1::closeEvent(QCloseEvent *event) {
    event->ignore(); // the window is hidden, never destroyed inside a nested yield
    requestClose();
}

void Form1::Command3_Click() {
    requestClose();
}

void Form1::exit_Click() {
    requestClose();
}

void Form1::exit2_Click() {
    requestClose();
}

} // namespace arcsweep
