#include "common/damagedarchiverule.h"

#include "common/fs.h"

namespace arcsweep {

bool DamagedArchiveRule::apply(const QString &realPath) const {
    if (report)
        report(Fs::lower(realPath));
    if (mayRename && !mayRename(realPath))
        return false;
    if (!Fs::exists(realPath))
        return false;
    // A read-only older copy is replaced too; rename(2) replaces it in one step.
    const QString bad = realPath + QStringLiteral(".bad");
    Fs::makeOwnerWritable(bad);
    return Fs::rename(realPath, bad);
}

} // namespace arcsweep
