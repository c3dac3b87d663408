#include "controls/drivelistbox.h"

#include "controls/diskinfo.h"

#include <QAbstractItemView>
#include <QDir>
#include <QSet>
#include <QSocketNotifier>
#include <QStorageInfo>

namespace arcsweep {

namespace {
bool isPseudo(const QByteArray &type) {
    static const QSet<QByteArray> pseudo = {
        "proc",      "sysfs",   "cgroup",      "cgroup2",    "devpts", "devtmpfs", "mqueue",
        "debugfs",   "tracefs", "securityfs",  "pstore",     "bpf",    "configfs", "fusectl",
        "hugetlbfs", "autofs",  "binfmt_misc", "rpc_pipefs", "nsfs",   "efivarfs", "overlay"};
    return pseudo.contains(type);
}
} // namespace

DriveListBox::DriveListBox(QWidget *parent)
    : QComboBox(parent), mountTable_(QStringLiteral("/proc/self/mountinfo")) {
    Refresh();
    // The kernel marks the mount table with POLLPRI when a volume comes or goes (a
    // file system watcher sees nothing on /proc).
    if (mountTable_.open(QIODevice::ReadOnly)) {
        auto *changed = new QSocketNotifier(mountTable_.handle(), QSocketNotifier::Exception, this);
        connect(changed, &QSocketNotifier::activated, this, [this] {
            if (!view()->isVisible()) // an open list is read again when it next drops down
                Refresh();
        });
    }
    connect(this, &QComboBox::activated, this, [this](int index) {
        drive_ = itemData(index).toString();
        emit Change();
    });
}

void DriveListBox::Refresh() {
    QStringList roots;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (!volume.isValid() || !volume.isReady() || isPseudo(volume.fileSystemType()))
            continue;
        if (volume.rootPath().startsWith(u"/proc") || volume.rootPath().startsWith(u"/sys"))
            continue;
        roots.append(volume.rootPath());
    }
    roots.append(DiskInfo::volumeOf(QDir::currentPath()));
    roots.append(DiskInfo::volumeOf(QDir::homePath()));
    if (!drive_.isEmpty())
        roots.append(drive_);
    roots.removeDuplicates();
    roots.sort();
    const QSignalBlocker block(this);
    clear();
    for (const QString &root : roots)
        addItem(root, root);
    setCurrentIndex(findData(drive_));
}

void DriveListBox::showPopup() {
    Refresh();
    QComboBox::showPopup();
}

void DriveListBox::setDrive(const QString &pathOnVolume) {
    follow(pathOnVolume);
    emit Change();
}

void DriveListBox::follow(const QString &path) {
    drive_ = DiskInfo::volumeOf(path);
    int index = findData(drive_);
    if (index < 0) {
        addItem(drive_, drive_);
        index = count() - 1;
    }
    const QSignalBlocker block(this);
    setCurrentIndex(index);
}

} // namespace arcsweep
