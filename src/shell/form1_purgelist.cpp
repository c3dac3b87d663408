// The main window's Add to the purge list and the command that opens the list.
#include "shell/form1.h"

#include "zip/archiveactions.h"

#include "common/like.h"
#include "common/purgelistadd.h"
#include "controls/desktopservices.h"
#include "controls/dirlistbox.h"
#include "controls/filelistbox.h"
#include "controls/selectedentries.h"
#include "controls/sspanel.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QListWidget>

namespace arcsweep {

void Form1::Command1_Click() {
    AddToPurgeList();
}

void Form1::AddToPurgeList() {
    if (state_.Closing)
        return;
    if (!PurgeListAdd::purgeListExists(state_)) {
        state_.desktop->messageBox(this, QStringLiteral("No purge list exists"),
                                   QStringLiteral("Arcsweep error"), MsgIcon::Exclamation);
        return;
    }
    setBusyPointer(true);
    const QString name = File1->FileName();
    state_.CurrentFolder = currentFolderOf(Dir1->Path());
    const QString archive = state_.CurrentFolder + u'/' + name;

    flushEntries();
    const SelectedEntries selected = SelectedEntries::of(List1);
    qsizetype current = 0;
    PurgeListAdd::Hooks hooks;
    hooks.handled = [this](const QString &entry, bool isNew) {
        SSPanel2->setProgressStyle(0);
        SSPanel2->setCaption(isNew ? entry + QStringLiteral(" added") : QString());
    };
    hooks.deleteEntry = [&](const QString &entry) {
        if (!name.isEmpty()) {
            ArchiveActions::deleteEntry(*XceedZip1, archive, entry);
        }
        selected.deselect(List1, current++);
    };
    hooks.yield = [] { QCoreApplication::processEvents(); };
    QString error;
    const auto outcome = PurgeListAdd::run(state_, selected.names, hooks, &error);
    if (outcome == PurgeListAdd::Failed) {
        setBusyPointer(false);
        state_.desktop->messageBox(this, error, QStringLiteral("Arcsweep error"),
                                   MsgIcon::Exclamation);
        setBusyPointer(true);
    }
    ArchiveTest();
    setBusyPointer(false);
}

void Form1::vpurge_Click() {
    const QString path = state_.file(DataFile::PurgeList);
    if (QFileInfo(path).isFile())
        openInEditor(path);
}

} // namespace arcsweep
