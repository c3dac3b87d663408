#include "controls/diskinfo.h"

#include "common/fs.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

namespace arcsweep {

namespace {
// The nearest existing folder at or above `path` whose name Qt can pass on intact
// (a mount point's name is plain text; a name that is not UTF-8 is a folder below it).
QString existingAncestor(QString path) {
    while (!path.isEmpty() && (!Fs::isDir(path) || Fs::display(path) != path)) {
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
    if (folder.isEmpty() || !Fs::isDir(folder))
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
