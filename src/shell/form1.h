#pragma once

#include "common/appstate.h"
#include "common/settingsfile.h"
#include "controls/diskinfo.h"
#include "zip/zipcomponent.h"
#include "engine/runhost.h"
#include "windows/form3.h"
#include "windows/form4.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;

namespace arcsweep {

class AniIcon;
class CleanRun;
class DirListBox;
class DriveListBox;
class FileListBox;
class SSPanel;
class SingleInstance;
class WindowLoss;

// The main window: archive browser between runs, and the frame of the clean-all run.
class Form1 : public QMainWindow, public RunHost {
    Q_OBJECT
public:
    explicit Form1(AppState &state, QWidget *parent = nullptr);
    ~Form1() override;

    // Start-up. Returns false when the program must end at once (root folder, or
    // another instance took over); `instance` may be null (no single-instance guard).
    bool Form_Load(SingleInstance *instance = nullptr, Form3 *splash = nullptr);
    // Shutdown steps; runs once, whichever way the window closes.
    void Form_Unload();
    // SIGINT, SIGTERM or SIGHUP: an unattended run stops as Abort stops it (the rewrite
    // in progress abandoned, the run recorded, exit status 2) and nothing more is
    // tested or changed; a window is closed.
    void stopBySignal();
    bool unloaded() const { return unloaded_; }
    // Exit status of an unattended run: 0 when it completed, else non-zero.
    int exitCode() const { return exitCode_; }

    // Controls, named as the rest of the program knows them.
    FileListBox *File1;
    DriveListBox *Drive1;
    DirListBox *Dir1;
    QListWidget *List1;
    QPushButton *Command1; // "&Add"
    QPushButton *Command2; // "&Clean all" / "&Abort"
    QPushButton *Command3; // "E&xit"
    QLabel *Label2;        // archives processed
    QLabel *Label3;        // entries purged
    SSPanel *SSPanel1;     // archive in work
    SSPanel *SSPanel2;     // messages and progress
    SSPanel *SSPanel3;     // logo
    AniIcon *AniIcon1;
    DiskInfo DiskInfo1;
    ZipComponent *XceedZip1;

    // Menus.
    QAction *vpurge, *log, *dslog, *errors, *exit, *contents, *web, *about;
    QMenu *menu; // the entry list's pop-up menu; never in the menu bar
    QAction *view, *add, *delete_, *exit2;

    // Handlers.
    void Drive1_Change();
    void Dir1_Change();
    void File1_Click();
    void List1_MouseDown(Qt::MouseButton button, const QPoint &globalPos);
    void List1_DblClick();
    void Command1_Click(); // Add to the purge list
    void Command2_Click(); // Clean all / Abort
    void Command3_Click(); // Exit
    void exit_Click();
    void exit2_Click();
    void vpurge_Click();
    void log_Click();
    void dslog_Click();
    void errors_Click();
    void contents_Click();
    void web_Click();
    void about_Click();
    void XceedZip1_Listing(const ZipEntryInfo &entry);
    void XceedZip1_Status(int completion);

    // The selected-archive test, the entry delete and the purge-list Add.
    void ArchiveTest();
    void DeleteSelectedEntry();
    void AddToPurgeList();

    // Shown by About; replaced by tests.
    Form3 *splash() const { return splash_; }

    // RunHost.
    AppState &state() override { return state_; }
    ZipComponent &zip() override { return *XceedZip1; }
    int driveCheck(const QString &pathOnVolume) override;
    QString drive() const override;
    void setDrive(const QString &pathOnVolume) override;
    QString dirPath() const override;
    bool setDirPath(const QString &path) override;
    void setFilePath(const QString &path) override;
    void refreshFiles() override;
    int fileCount() const override;
    QString fileName(int index) const override;
    void selectFile(int index, bool selected) override;
    void clearEntries() override;
    void addEntry(const QString &name) override;
    int entryCount() const override;
    QString entry(int index) const override;
    void removeEntry(int index) override;
    void selectEntry(int index, bool selected) override;
    void focusEntries() override;
    void setStatusCaption(const QString &text) override;
    void setProgressStyle(int style) override;
    void setProgressCaption(const QString &text) override;
    int progressPercent() const override;
    void setProgressPercent(int percent) override;
    void setWindowCaption(const QString &text) override;
    void setProcessedText(const QString &text) override;
    void setPurgedText(const QString &text) override;
    void setRunLook(bool running) override;
    void setCleanButtonCaption(const QString &text) override;
    void setErrorsMenuEnabled(bool enabled) override;
    void archiveTest() override { ArchiveTest(); }
    void yield() override;
    void showError(const QString &text) override;
    void playSound(const QString &wavePath) override;
    void showStatistics(const QString &savedFolder) override;
    void afterStatistics() override;

    Form4 *statistics() const { return Form4_; }
    CleanRun &run() { return *run_; }

    // Opens the verification window from the statistics window (set by the program).
    std::function<void()> openVerification;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void buildMenus();
    void Form_KeyDown(int key);
    void startUnattendedRun();
    // Start-up's test of the restored folder's first archive, after the first paint.
    void testFirstArchive();
    void setBusyPointer(bool busy);
    void openInEditor(const QString &path);
    // Current folder without a trailing separator ("" for the root).
    QString currentFolderOf(const QString &dirPath) const;
    void requestClose();
    void centreOnScreen();
    // Listed names wait here until List1 is next read, then go in sorted, at once.
    void flushEntries();
    void insertEntry(const QString &name);

    AppState &state_;
    std::unique_ptr<CleanRun> run_;
    std::unique_ptr<WindowLoss> windowLoss_;
    QPointer<Form3> splash_;
    QPointer<Form4> Form4_;
    bool unloaded_ = false;
    QList<QWidget *> previewed_; // controls whose keys the window sees first
    bool closing_ = false;
    int exitCode_ = 0;
    bool stoppedBySignal_ = false;
    QStringList pendingEntries_;
    // An unattended run's window is never shown: its entry list is kept as plain sorted
    // names instead of list items (a 100,000-entry archive would cost them some 10 MB).
    bool entriesUnseen_ = false;
    QStringList unseenEntries_;
    SettingsFile settings_;                 // as read at start-up: its choices are kept
    bool fallingBack_ = false;              // the drive list's fallback to "/" is under way
    bool restoring_ = false;                // start-up is restoring the last folder
    bool firstTestPending_ = false;         // its first archive waits for the window's paint
    QHash<QString, QString> volumeFolders_; // the folder shown last on each volume
    QElapsedTimer sinceYield_;              // the Status handler's last yield in a run
    quint64 paintedOperation_ = 0;          // the component operation it last painted
    int paintedPercent_ = -1;               // and the figure it painted
};

} // namespace arcsweep
