#include "components/diskinfo.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace arcsweep {

namespace {
// The nearest existing folder at or above `path`.
QString existingAncestor(QString path) {
    while (!path.isEmpty() && !QFileInfo(path).isDir()) {
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            break;
        path = parent;
    }
    return path;
}
} // namespace

int DiskInfo::DriveCheck() const {
    if (forcedAnswer)
        return *forcedAnswer;
    if (drive_.isEmpty())
        return 0;
    const QString folder = existingAncestor(drive_);
    if (folder.isEmpty() || !QFileInfo(folder).isDir())
        return 0;
    const QStorageInfo volume(folder);
    if (!volume.isValid() || !volume.isReady())
        return 0;
    return volume.isReadOnly() ? 2 : 3;
}

QString DiskInfo::volumeOf(const QString &path) {
    const QStorageInfo volume(existingAncestor(path));
    return volume.isValid() ? volume.rootPath() : QStringLiteral("/");
}

} // namespace arcsweep
