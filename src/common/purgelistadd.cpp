#include "common/purgelistadd.h"

#include "common/appstate.h"
#include "common/textfile.h"

#include <QFile>
#include <QFileInfo>

namespace arcsweep {

bool PurgeListAdd::purgeListExists(const AppState &state) {
    return QFileInfo(state.file(DataFile::PurgeList)).isFile();
}

PurgeListAdd::Outcome PurgeListAdd::run(const AppState &state, const QStringList &names,
                                        const Hooks &hooks, QString *error) {
    auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        return Failed;
    };
    const QString purgePath = state.file(DataFile::PurgeList);
    const QString stagingPath = state.file(DataFile::PurgeStaging);
    if (!purgeListExists(state))
        return NoPurgeList;

    QFile staging(stagingPath);
    if (!staging.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("Cannot write %1: %2").arg(stagingPath, staging.errorString()));
    // purge.txt must be appendable before any entry is deleted on its account.
    {
        QFile probe(purgePath);
        if (!probe.open(QIODevice::ReadWrite | QIODevice::Append)) {
            staging.close();
            staging.remove();
            return fail(
                QStringLiteral("Cannot append to %1: %2").arg(purgePath, probe.errorString()));
        }
    }

    for (const QString &name : names) {
        const bool isNew = !TextFile::containsLine(purgePath, name);
        if (isNew) {
            if (!TextFile::writeLine(staging, name) || !staging.flush()) {
                staging.close();
                staging.remove();
                return fail(
                    QStringLiteral("Cannot write %1: %2").arg(stagingPath, staging.errorString()));
            }
        }
        if (hooks.handled)
            hooks.handled(name, isNew);
        if (hooks.deleteEntry)
            hooks.deleteEntry(name);
        if (hooks.yield)
            hooks.yield();
    }
    staging.close();
    if (hooks.yield)
        hooks.yield();

    // Copy the staged lines to the end of purge.txt; on failure it stays as it was.
    const QStringList lines = TextFile::readLines(stagingPath);
    if (const FileResult appended = TextFile::appendLines(purgePath, lines); !appended)
        return fail(QStringLiteral("Cannot append to %1: %2").arg(purgePath, appended.cause()));
    QFile::remove(stagingPath);
    return Added;
}

} // namespace arcsweep
