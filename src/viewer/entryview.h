#pragma once

#include <QString>
#include <QtGlobal>

namespace arcsweep {

class TextViewer;
class ViewerCaller;

// Viewing an archive entry as text: the entry is extracted into the TempFolder by
// the calling window's zip component and read back from the path that
// entryPathBelow gives, which is where the component wrote it.
namespace EntryView {

// At most this much of a file is shown; a closing line says the rest was not.
inline constexpr qint64 ShownBytesLimit = 16 * 1024 * 1024;

// Names ending in ".nfo", ".diz", ".txt" or ".me" (the name is already lower case).
bool isViewable(const QString &name);

// Views `entry` (lower case) of the caller's archive in Form2. A damaged archive
// is reported and handled by DamagedArchiveRule as the caller directs.
void view(TextViewer &viewer, ViewerCaller &caller, const QString &entry);

// The closing line put after the first ShownBytesLimit bytes of a longer file.
QString notShownLine(qint64 fileSize);

} // namespace EntryView
} // namespace arcsweep
