#pragma once

// The invariants the fuzz targets check, as plain functions: the targets abort on a
// violation so that libFuzzer reports it, and the test suite replays the saved inputs
// through the same functions with the normal build.

#include <QByteArray>
#include <QString>
#include <QStringView>

namespace arcsweep::fuzz {

// What one input broke: `invariant` names the rule (a stable word the replay test can
// refer to), `detail` says what was seen. An empty invariant means all held.
struct Verdict {
    QString invariant;
    QString detail;
    bool ok() const { return invariant.isEmpty(); }
};

// The input as an archive in `scratch` (a folder of its own, reused from input to
// input): ListEntries gives a code a listing of a readable file can give; when it gives
// 0 and names a first entry, deleting that entry by likeLiteral(name) returns 0 (never a
// damage code; or 505 with the archive byte for byte as it was, when the rewrite would
// not read back), leaves nothing else in the folder, and the rewritten archive lists with 0,
// its names those listed before minus the ones equal to the deleted name ignoring case,
// and every kept entry's data as it was.
Verdict checkZipList(const QByteArray &archive, const QString &scratch);

// The input as an archive, ExtractEntries("*.*") into a new folder below an empty
// parent: a known code, never a damage code for an archive that lists with 0, nothing
// written beside the folder, no symbolic link inside it and the archive unchanged.
Verdict checkZipExtract(const QByteArray &archive, const QString &scratch);

// The input split at its first newline into a name (up to kLikeNameMax UTF-16 units)
// and a pattern (up to kLikePatternMax): likeMatch and likeIsValid agree with
// likeReference, and a name and a pattern each match their own likeLiteral.
Verdict checkLike(const QByteArray &input);
constexpr int kLikeNameMax = 64;
constexpr int kLikePatternMax = 32;

// A slow, plain reading of the Like rules, to hold the fast matcher to: recursion over
// the pattern text with every bracket read where it is met, remembering each (name,
// pattern) position already decided. `valid` receives whether the pattern is well formed.
bool likeReference(QStringView name, QStringView pattern, bool *valid = nullptr);

// What is wrong below `parent` after an extraction into parent/`folder`: anything
// beside that folder ("extract-outside"), or a symbolic link inside it ("extract-symlink").
Verdict strayOutput(const QString &parent, const QString &folder);

} // namespace arcsweep::fuzz
