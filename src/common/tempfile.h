#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

namespace arcsweep {

// The temporary file that a complete new version of a file is written to before it
// takes the file's place (archives, kept records, run files).
//
// What makes one ours, so that a later run may remove what a killed run left without
// ever taking a user's file for one of ours:
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
class TempFile {
public:
    TempFile() = default;
    ~TempFile();
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    // Creates the temporary file beside `target` (its folder, its name made hidden),
    // locked and marked past `contentSize` bytes, with the given mode. False on failure.
    bool create(const QByteArray &target, qint64 contentSize, mode_t mode);
    int fd() const { return fd_; }
    const QByteArray &path() const { return path_; }

    // Cuts the mark off and syncs once: what is left is exactly the content, durable,
    // ready to be renamed into place (two syncs a rewrite in all, with the folder's after
    // the rename). Once done, does nothing more.
    // False on failure.
    bool finish();
    // The file has been renamed away: closes it without removing anything.
    void release();
    // Removes the file (when it has not been released) and closes it.
    void discard();

    // The attribute mark on another file: an original that is about to be swapped with a
    // temporary file takes the temporary name, and must be proved ours there too.
    static void markAsOurs(int fd);
    static void unmark(int fd);

    // Whether `name` has the exact form of one of our temporary files.
    static bool isTemporaryName(const QByteArray &name);
    // Removes the temporary files a killed run of ours left in `folder` (proved ours as
    // above); `recursive` goes through the folders below as well, links not followed.
    // Returns how many were removed.
    static int removeStale(const QString &folder, bool recursive = false);

private:
    int fd_ = -1;
    QByteArray path_;
    qint64 contentSize_ = 0;
    bool finished_ = false;
};

} // namespace arcsweep
