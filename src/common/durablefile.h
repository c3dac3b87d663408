#pragma once

#include "common/fileresult.h"
#include "common/uniquefd.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <sys/types.h>

namespace arcsweep {

// A file replaced durably: its complete new version is written to a hidden temporary
// file beside it, synced, and put in its place in one rename, after which the folder
// is synced; a full disk, a size limit or a kill leaves either the old file or the
// new one, never a part of either. Destroyed before its commit, it removes its
// temporary file. Every file the program writes whole goes through here: rewritten
// archives, kept records, run files and settings.
//
// What makes a temporary file ours, so that a later run may remove what a killed run
// left without ever taking a user's file for one of ours:
// - its name: ".<name of the file it replaces>.arcsweep-XXXXXX", the six characters
//   being mkostemp's letters and digits;
// - its content: while it is written it ends with a fixed 32-byte mark past the new
//   content (written first, so it is there from the start). The mark holds NUL and
//   control bytes and a text that names the program; it is cut off only just before
//   the file is put in place. Where the file system keeps extended attributes the same
//   mark is also one of them, from creation until the file is in place, so the instants
//   between the cut and the rename are covered too;
// - its owner is the running user, and no live process holds its lock (a file being
//   written is locked).
// Without extended attributes, a kill in the instants between cutting the mark and the
// rename leaves a complete file that is not proved ours: it stays, which loses nothing.
class DurableFile {
public:
    // How a plain commit puts the file in place.
    enum class Commit {
        Replace,   // over whatever stands at the target, or where nothing does
        NoReplace, // only where nothing stands at the target (else EEXIST)
    };

    DurableFile() = default;
    ~DurableFile() { rollback(); }
    DurableFile(const DurableFile &) = delete;
    DurableFile &operator=(const DurableFile &) = delete;

    // Creates the temporary file beside `target` (its folder, its name made hidden),
    // locked and marked past `contentSize` bytes, with the given mode.
    FileResult create(const QByteArray &target, qint64 contentSize, mode_t mode);
    // The temporary file, for the content; -1 when there is none.
    int fd() const { return fd_.get(); }
    const QByteArray &path() const { return path_; }

    // Cuts the mark off and syncs once: what is left is exactly the content, durable,
    // ready to be put in place (two syncs a file in all, with the folder's after the
    // rename). Once done, does nothing more.
    FileResult finish();

    // Finishes the file if needed, renames it to the target and syncs the folder. On
    // failure the temporary file is removed.
    FileResult commit(Commit how);

    // Finishes the file if needed and swaps it with the file at the target in one
    // step. `original` is a descriptor of the file expected there: it carries the
    // temporary name for a moment, and is marked as ours meanwhile so that a kill then
    // leaves a file the next run can prove its own. `cameOut` is then asked whether
    // the file now under the temporary name is that one; if not (a program put another
    // file at the target), the swap is undone, both stay as they are and targetChanged()
    // says so. Otherwise the old file is removed and the folder synced. A file system
    // without the swap gets a plain rename: the caller's checks before are the last word.
    // On failure the temporary file is removed.
    FileResult exchange(int original, const std::function<bool(const QByteArray &)> &cameOut);
    // The last exchange was refused because the target is not the file expected there
    // (another file took its place, or it is gone): nothing was replaced.
    bool targetChanged() const { return targetChanged_; }

    // Removes the temporary file, if one is left; the target stays as it was.
    void rollback();

    // Whether `name` has the exact form of one of our temporary files.
    static bool isTemporaryName(const QByteArray &name);
    // Removes the temporary files a killed run of ours left in `folder` (proved ours as
    // above); `recursive` goes through the folders below as well, links not followed.
    // Returns how many were removed.
    static int removeStale(const QString &folder, bool recursive = false);
    // Makes the folder and any missing folders above it, each synced in its parent
    // before anything is written into it, so that a file put there cannot vanish with
    // its folder after a crash.
    static FileResult makeFolders(const QByteArray &folder);

private:
    void closeInPlace();
    FileResult failed(const QString &what);

    UniqueFd fd_;
    QByteArray path_;
    QByteArray target_;
    qint64 contentSize_ = 0;
    bool finished_ = false;
    bool targetChanged_ = false;
};

} // namespace arcsweep
