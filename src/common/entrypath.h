#pragma once

#include <QString>

namespace arcsweep {

// Maps an archive entry name to the file it becomes below `folder`: separators
// ('/' and '\') become '/', a drive letter, leading separators and "." parts are
// dropped. Returns an empty string for a name that cannot stay below the folder
// (a ".." part, a NUL) or that names no file (empty, or a folder ending in a
// separator). The zip component writes extracted entries here and the viewers
// read them from here, so both always agree.
QString entryPathBelow(const QString &folder, const QString &entryName);

} // namespace arcsweep
