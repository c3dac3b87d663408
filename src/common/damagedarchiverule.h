#pragma once

#include <QString>

#include <functional>

namespace arcsweep {

// What is done with an archive that an operation found damaged: the caller reports
// it (with the lower-cased path, as messages and logs show paths), then, when the
// volume allows it, the file takes its name plus ".bad" so that later listings of
// "*.zip" skip it. The rename keeps the real name ("Name.ZIP" becomes "Name.ZIP.bad")
// and atomically replaces an older file of that name.
struct DamagedArchiveRule {
    // Reports the lower-cased path; may be empty (no report).
    std::function<void(const QString &lowerPath)> report;
    // Decides whether the volume allows the rename; empty means always try.
    std::function<bool(const QString &realPath)> mayRename;

    // Returns true when the archive now carries the ".bad" name.
    bool apply(const QString &realPath) const;
};

} // namespace arcsweep
