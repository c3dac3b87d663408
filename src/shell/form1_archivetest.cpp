// The selected-archive test, the entry delete, the main window's keys and the
// zip component's events.
#include "shell/form1.h"

#include "common/damagedarchiverule.h"
#include "common/fs.h"
#include "controls/desktopservices.h"
#include "controls/dirlistbox.h"
#include "controls/filelistbox.h"
#include "controls/sspanel.h"
#include "engine/cleanrun.h"
#include "zip/archiveactions.h"

#include <QCoreApplication>
#include <QListWidget>

namespace arcsweep {

namespace {
const QString ErrorMarker = QStringLiteral("         --> Error! <--");
constexpr qint64 kRunYieldMs = 40; // input reaches a long archive at least this often
constexpr qint64 kPaintMs = 30;    // progress painted at most this often outside a run
} // namespace

void Form1::Form_KeyDown(int key) {
    switch (key) {
    case Qt::Key_Escape:
        if (state_.Running)
            run_->requestStop();
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (!state_.Running)
            ArchiveTest();
        break;
    case Qt::Key_Delete:
        if (!state_.Running)
            DeleteSelectedEntry();
        break;
    case Qt::Key_F1:
        contents_Click();
        break;
    default:
        break;
    }
}

QString Form1::currentFolderOf(const QString &dirPath) const {
    QString folder = dirPath;
    while (folder.endsWith(u'/'))
        folder.chop(1);
    return folder;
}

void Form1::ArchiveTest() {
    if (state_.Closing)
        return;
    state_.CurrentFolder = currentFolderOf(Dir1->Path());
    const QString folder =
        state_.CurrentFolder.isEmpty() ? QStringLiteral("/") : state_.CurrentFolder;
    if (Fs::files(folder, QStringLiteral(".zip")).isEmpty())
        return;
    clearEntries();
    const QString name = File1->FileName();
    if (name.isEmpty())
        return; // nothing selected: no component call, the list stays empty
    state_.ActiveArchive = state_.CurrentFolder + u'/' + name;

    DamagedArchiveRule damaged;
    damaged.report = [this](const QString &lowerPath) {
        flushEntries();
        if (!state_.Running && !state_.unattended())
            state_.desktop->messageBox(this,
                                       QStringLiteral("CRC error in - ") + Fs::display(lowerPath),
                                       QStringLiteral("Arcsweep error"), MsgIcon::Critical);
    };
    damaged.mayRename = [this](const QString &path) {
        DiskInfo1.setDriveLetter(path);
        return !state_.Closing && !state_.DryRun && DiskInfo1.DriveCheck() > 2;
    };
    // Outside a run the test lets no input in; what was given meanwhile is dropped.
    const int result =
        ArchiveActions::listAndTest(*XceedZip1, state_.ActiveArchive, &damaged, !state_.Running);
    flushEntries();
    if (isDamageCode(result))
        File1->Refresh();
    else if (result != ZipOk && !state_.Closing)
        addEntry(ErrorMarker);
}

void Form1::DeleteSelectedEntry() {
    if (state_.Closing)
        return;
    setBusyPointer(true);
    const QString name = File1->FileName();
    if (name.isEmpty()) {
        setBusyPointer(false);
        return;
    }
    flushEntries();
    state_.CurrentFolder = currentFolderOf(Dir1->Path());
    // Every archive of the folder is made writable (never through a link).
    for (int i = 0; i < File1->ListCount(); ++i)
        Fs::makeOwnerWritable(state_.CurrentFolder + u'/' + File1->List(i));
    for (int k = 0; k < List1->count(); ++k) {
        if (!List1->item(k)->isSelected())
            continue;
        const int result = ArchiveActions::deleteEntry(
            *XceedZip1, state_.CurrentFolder + u'/' + name, List1->item(k)->text(), true);
        if (isDamageCode(result)) {
            setBusyPointer(false);
            state_.desktop->messageBox(
                this,
                QStringLiteral("CRC error in ") +
                    Fs::display(state_.CurrentFolder + u'/' + name).toLower(),
                QStringLiteral("Arcsweep error"), MsgIcon::Exclamation);
            return;
        }
        break; // only the first selected entry
    }
    ArchiveTest();
    setBusyPointer(false);
}

void Form1::XceedZip1_Listing(const ZipEntryInfo &entry) {
    pendingEntries_.append(entry.FileName.toLower()); // into List1 when it is next read
}

void Form1::XceedZip1_Status(int completion) {
    SSPanel2->setProgressStyle(1);
    if (completion != SSPanel2->ProgressPercent())
        SSPanel2->setProgressPercent(completion);
    if (state_.Running) {
        // During a run, input (Abort, Esc, Exit) must reach the inside of a long archive.
        if (!sinceYield_.isValid() || sinceYield_.elapsed() >= kRunYieldMs) {
            yield();
            sinceYield_.restart();
        }
        return;
    }
    // Outside a run nothing else may happen meanwhile: the archive's name and the bar
    // are painted at once, as each operation begins and whenever the figure moves, and
    // no input is let in.
    const bool newOperation = paintedOperation_ != XceedZip1->operationCount();
    if (!isVisible() || (!newOperation && paintedPercent_ == completion))
        return;
    paintedOperation_ = XceedZip1->operationCount();
    paintedPercent_ = completion;
    const QString shown =
        Fs::display(state_.ActiveArchive.mid(state_.ActiveArchive.lastIndexOf(u'/') + 1)).toLower();
    if (SSPanel1->Caption() != shown && !shown.isEmpty())
        SSPanel1->setCaption(shown);
    SSPanel1->repaint();
    SSPanel2->repaint();
}

} // namespace arcsweep
