#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace arcsweep {

struct AppState;

// The Add to the purge list, shared by the main window, the text viewer and the
// verification window: each selected name that is not yet a line of purge.txt
// (whole line, case-sensitive) is staged in purge.bak, every name is deleted from
// the archive, and the staged names are appended to purge.txt at the end.
class PurgeListAdd {
public:
    enum Outcome {
        Added,       // done (also when no name was new)
        NoPurgeList, // purge.txt does not exist: the caller shows "No purge list exists"
        Failed,      // purge.bak or purge.txt could not be written; purge.txt as before
    };

    struct Hooks {
        // The name was handled: `isNew` when it was staged for purge.txt.
        std::function<void(const QString &name, bool isNew)> handled;
        // Deletes the name from the caller's archive (result not examined).
        std::function<void(const QString &name)> deleteEntry;
        // Lets pending window events run.
        std::function<void()> yield;
    };

    // Runs the Add for `names` in order. On Failed, `error` says why.
    static Outcome run(const AppState &state, const QStringList &names, const Hooks &hooks,
                       QString *error = nullptr);

    // Only the first step: true when purge.txt exists.
    static bool purgeListExists(const AppState &state);
};

} // namespace arcsweep
