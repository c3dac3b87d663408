#include "engine/folderwalk.h"

#include "common/appstate.h"
#include "common/fs.h"
#include "zip/zipcomponent.h"
#include "engine/archivecleaner.h"
#include "engine/runfiles.h"
#include "engine/runhost.h"
#include "engine/verdictstore.h"
#include "engine/yielder.h"

#include <QSet>

#include <sys/stat.h>

#include <algorithm>
#include <vector>

namespace arcsweep {

namespace {

// The subfolders to enter, in a stable order (case ignored, as the folder list shows
// them): no dot folders and no symbolic links.
QStringList subfolders(const QString &folder) {
    QStringList names = Fs::folders(folder, false);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QString &name) { return name.startsWith(u'.'); }),
                names.end());
    Fs::sortNames(names);
    return names;
}

// The archives of a folder as the archive list will show them, as full paths.
QStringList archivesIn(const QString &folder) {
    QStringList names = Fs::files(folder, QStringLiteral(".zip"));
    Fs::sortNames(names);
    const QString prefix = folder.endsWith(u'/') ? folder : folder + u'/';
    for (QString &name : names)
        name.prepend(prefix);
    return names;
}

// Whether `folder` is the folder removed entries are kept in (`keep`, empty when none).
// Asked at each visit: the keep folder may be made during the run, below the tree.
bool isKeepFolder(const QString &folder, const QString &keep) {
    if (keep.isEmpty())
        return false;
    struct stat a {
    }, b{};
    return ::stat(Fs::encode(keep).constData(), &a) == 0 &&
           ::stat(Fs::encode(folder).constData(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

} // namespace

void FolderWalk::WalkFolder(const QString &start) {
    AppState &state = host_.state();
    // Each entry is one pending visit, exactly as a recursive walk would make them:
    // a folder's subfolders are pushed in reverse so the first is visited next.
    std::vector<QString> pending{start};
    QSet<QPair<quint64, quint64>> visited;
    while (!pending.empty()) {
        const QString folder = std::move(pending.back());
        pending.pop_back();
        // A stopped run reaches no further folder, so the caption never names one: after
        // "&Abort" the flag is already cleared again, and only Running tells.
        if (state.AbortRequested || !state.Running)
            return;
        host_.setWindowCaption(Fs::lower(folder));
        yielder_.maybe();
        if (!state.Running)
            continue;

        // The kept copies are never cleaned themselves, nor anything below them.
        if (isKeepFolder(folder, state.KeepPurged))
            continue;
        struct stat st {};
        if (::stat(Fs::encode(folder).constData(), &st) == 0) {
            const QPair<quint64, quint64> id(st.st_dev, st.st_ino);
            if (visited.contains(id))
                continue; // reached again through a mount of the same folder
            visited.insert(id);
        }

        const QStringList names = subfolders(folder);
        // A folder that cannot be entered is reported and skipped with all below it;
        // the rest of the tree is still cleaned.
        if (!host_.setDirPath(folder)) {
            QString shown = Fs::lower(folder);
            if (shown.size() > 1)
                shown.chop(1);
            files_.logError(QStringLiteral("Cannot enter ") + shown);
            continue;
        }
        host_.setFilePath(folder);
        // The workers test this folder's archives and those of the folder visited next
        // ahead of their turn; the cleaning takes each verdict in its order. An archive
        // to be skipped as unchanged is decided here, before it is queued, so that no
        // worker reads it.
        QString base = folder;
        if (base.size() > 1 && base.endsWith(u'/'))
            base.chop(1);
        QStringList ahead;
        for (int i = 0; i < host_.fileCount(); ++i) {
            const QString path =
                base == u"/" ? u'/' + host_.fileName(i) : base + u'/' + host_.fileName(i);
            if (!store_.decide(path))
                ahead.append(path);
        }
        const QString next = !names.isEmpty()   ? folder + names.first() + u'/'
                             : !pending.empty() ? pending.back()
                                                : QString();
        if (!next.isEmpty() && !isKeepFolder(next, state.KeepPurged))
            for (const QString &path : archivesIn(next))
                if (!store_.decide(path))
                    ahead.append(path);
        host_.zip().TestAhead(ahead);
        cleaner_.CleanFolderArchives();
        store_.commit(); // one batch of verdicts per folder

        for (auto it = names.crbegin(); it != names.crend(); ++it)
            pending.push_back(folder + *it + u'/');
    }
}

} // namespace arcsweep
