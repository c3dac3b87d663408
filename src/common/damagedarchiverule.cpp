#include "common/damagedarchiverule.h"

#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <sys/stat.h>

namespace arcsweep {

bool DamagedArchiveRule::apply(const QString &realPath) const {
    if (report)
        report(realPath.toLower());
    if (mayRename && !mayRename(realPath))
        return false;
    if (!QFileInfo(realPath).exists() && !QFileInfo(realPath).isSymLink())
        return false;
    const QString bad = realPath + QStringLiteral(".bad");
    // A read-only older copy is replaced too.
    const QByteArray badName = QFile::encodeName(bad);
    struct stat st {};
    if (::lstat(badName.constData(), &st) == 0 && S_ISREG(st.st_mode))
        ::chmod(badName.constData(), st.st_mode | S_IWUSR);
    return std::rename(QFile::encodeName(realPath).constData(), badName.constData()) == 0;
}

} // namespace arcsweep
