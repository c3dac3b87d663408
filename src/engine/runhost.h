#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QString>

namespace arcsweep {

class ZipComponent;
struct AppState;

// What the clean-all run needs of the main window. Form1 implements it; the engine
// includes no widget headers. Every setter that raises a browser event in the window
// (folder, file list) does so synchronously, as a user's action would.
class RunHost {
public:
    virtual ~RunHost() = default;

    virtual AppState &state() = 0;
    virtual ZipComponent &zip() = 0; // XceedZip1
    // DiskInfo1 pointed at the volume that holds the path: 3 ready and writable, 2
    // read-only, 0 no such volume.
    virtual int driveCheck(const QString &pathOnVolume) = 0;

    // Browser: Drive1, Dir1, File1.
    virtual QString drive() const = 0; // Drive1's volume root
    virtual void setDrive(const QString &pathOnVolume) = 0;
    virtual QString dirPath() const = 0;               // Dir1.Path
    virtual bool setDirPath(const QString &path) = 0;  // false: the folder cannot be entered
    virtual void setFilePath(const QString &path) = 0; // File1.Path
    virtual void refreshFiles() = 0;                   // File1.Refresh
    virtual int fileCount() const = 0;
    virtual QString fileName(int index) const = 0; // as File1 shows it
    virtual void selectFile(int index, bool selected) = 0;

    // Entry list List1 (kept sorted).
    virtual void clearEntries() = 0;
    virtual void addEntry(const QString &name) = 0;
    virtual int entryCount() const = 0;
    virtual QString entry(int index) const = 0;
    virtual void removeEntry(int index) = 0;
    virtual void selectEntry(int index, bool selected) = 0; // also repaints the list
    virtual void focusEntries() = 0;

    // Panels, labels, captions and the run's look.
    virtual void setStatusCaption(const QString &text) = 0; // SSPanel1
    virtual void setProgressStyle(int style) = 0;           // SSPanel2: 0 caption, 1 bar
    virtual void setProgressCaption(const QString &text) = 0;
    virtual int progressPercent() const = 0;
    virtual void setProgressPercent(int percent) = 0;
    virtual void setWindowCaption(const QString &text) = 0;
    virtual void setProcessedText(const QString &text) = 0; // Label2
    virtual void setPurgedText(const QString &text) = 0;    // Label3
    // Running look: AniIcon1 shown, Command2 reads "&Abort", Command1 disabled, hourglass.
    // Idle look: the reverse, Command2 reads "&Clean all".
    virtual void setRunLook(bool running) = 0;
    virtual void setCleanButtonCaption(const QString &text) = 0;
    virtual void setErrorsMenuEnabled(bool enabled) = 0;

    virtual void archiveTest() = 0; // the main window's selected-archive test
    virtual void yield() = 0;       // let pending window events run
    // A message box over the window ("Arcsweep error", exclamation); nothing once the
    // program is closing.
    virtual void showError(const QString &text) = 0;
    virtual void playSound(const QString &wavePath) = 0; // without waiting for its end
    // Sleeps until at least one event has arrived and has been handled: the statistics
    // wait uses it so that waiting costs no processor time.
    virtual void waitForEvents() {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }

    // Statistics window: minimises and disables the main window, shows the figures,
    // and returns at once; the run then waits on StatsWaiting.
    virtual void showStatistics(const QString &savedFolder) = 0;
    // After the wait: restores a minimised main window, normal pointer.
    virtual void afterStatistics() = 0;
};

} // namespace arcsweep
