#pragma once

#include <QString>

namespace arcsweep {

class ArchiveCleaner;
class RunFiles;
class RunHost;
class VerdictStore;
class Yielder;

// Visits a folder and every folder below it, depth first, and has each one's
// archives cleaned. Folders whose names begin with a dot are skipped, symbolic links
// to folders are not followed and no real folder is visited twice, so a link loop
// cannot make the walk go round. The walk keeps its own stack instead of recursing:
// however deep the tree, it cannot run out of call stack.
class FolderWalk {
public:
    FolderWalk(RunHost &host, ArchiveCleaner &cleaner, RunFiles &files, Yielder &yielder,
               VerdictStore &store)
        : host_(host), cleaner_(cleaner), files_(files), yielder_(yielder), store_(store) {}

    // `folder` ends in a separator ("/" for the root).
    void WalkFolder(const QString &folder);

private:
    RunHost &host_;
    ArchiveCleaner &cleaner_;
    RunFiles &files_;
    Yielder &yielder_;
    VerdictStore &store_;
};

} // namespace arcsweep
