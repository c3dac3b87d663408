#pragma once

#include <QString>

namespace arcsweep {

class ZipComponent;
struct DamagedArchiveRule;

// What the browser, the viewer, the verification window and the run do to an archive,
// each written once so that every caller gets the same result for the same archive.
// Each sets the component's properties the operation needs, calls it, and returns its
// result code. Where a damaged-archive rule is given, an archive found damaged goes
// through it (report, then the ".bad" rename where the rule allows) before the call
// returns. With `holdInput` no user input is let in while the component works, and
// what was given meanwhile is dropped; the hold ends before the rule's report, so a
// message box it shows takes input as usual.
namespace ArchiveActions {

// Lists every entry (the component's Listing event, one per entry) and tests every byte.
int listAndTest(ZipComponent &zip, const QString &archive, const DamagedArchiveRule *damaged,
                bool holdInput);

// Deletes the one entry named `name` and nothing else (by its Like literal).
int deleteEntry(ZipComponent &zip, const QString &archive, const QString &name,
                bool holdInput = false);

// Deletes every entry that one of `patterns` (Like patterns, each ended by a CR) selects.
int deleteMatching(ZipComponent &zip, const QString &archive, const QString &patterns,
                   const DamagedArchiveRule *damaged);

// Extracts the one entry named `name` below `folder`.
int extractEntry(ZipComponent &zip, const QString &archive, const QString &name,
                 const QString &folder, const DamagedArchiveRule *damaged);

} // namespace ArchiveActions
} // namespace arcsweep
