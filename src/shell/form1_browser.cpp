// The folder and archive browser: drive, folder and archive lists, and the entry
// list's pop-up menu.
#include "shell/form1.h"

#include "common/fs.h"
#include "controls/dirlistbox.h"
#include "controls/diskinfo.h"
#include "controls/drivelistbox.h"
#include "controls/filelistbox.h"
#include "controls/sspanel.h"

#include <QListWidget>
#include <QMenu>

namespace arcsweep {

void Form1::Drive1_Change() {
    const QString volume = Drive1->Drive();
    // The volume that already holds the folder shown keeps it; another volume opens
    // at the folder it showed last, else at its root.
    if (DiskInfo::volumeOf(Dir1->Path()) == volume)
        return;
    if (Dir1->setPath(volumeFolders_.value(volume, volume)) || Dir1->setPath(volume))
        return;
    // A volume that cannot be read: back to the root volume, once.
    if (fallingBack_)
        return;
    fallingBack_ = true;
    Drive1->setDrive(QStringLiteral("/"));
    Dir1->setPath(QStringLiteral("/"));
    fallingBack_ = false;
}

void Form1::Dir1_Change() {
    // The drive list follows the folder list across mount points.
    Drive1->follow(Dir1->Path());
    volumeFolders_.insert(Drive1->Drive(), Dir1->Path());
    if (state_.AbortRequested || restoring_)
        return;
    clearEntries();
    File1->setPath(Dir1->Path());
    if (File1->ListCount() >= 1)
        File1->setListIndex(0);
}

void Form1::File1_Click() {
    state_.VerifyMode = false;
    if (state_.Running)
        return;
    const QString name = File1->FileName();
    if (name.isEmpty())
        return;
    SSPanel1->setCaption(Fs::display(Fs::lower(name)));
    ArchiveTest();
}

void Form1::List1_MouseDown(Qt::MouseButton button, const QPoint &globalPos) {
    if (!state_.Running && button == Qt::RightButton)
        menu->popup(globalPos);
}

} // namespace arcsweep
