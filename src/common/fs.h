#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <sys/types.h>

namespace arcsweep::Fs {

// File and folder names are bytes. The program holds them as QString: valid UTF-8
// decodes as usual, and each byte that is not part of valid UTF-8 becomes a lone
// surrogate U+DC80..U+DCFF, so encode() gives back exactly the bytes that decode()
// was given. Every file operation on a path of the user's tree goes through these.
QString decode(const QByteArray &bytes);
QByteArray encode(const QString &path);
// The name as windows show it: bytes that are not UTF-8 as U+FFFD.
QString display(const QString &path);
// Lower case, as texts and logs show paths; bytes that are not UTF-8 stay as they are.
QString lower(const QString &path);

// What a path names; links are followed except where said.
bool exists(const QString &path); // anything, a dangling link included
bool isFile(const QString &path);
bool isDir(const QString &path);
bool isSymLink(const QString &path);
// Size of the file, links followed; -1 when there is none.
qint64 size(const QString &path);
// The folder may be listed and entered by this user.
bool canEnter(const QString &folder);
// The path with links and "."/".." resolved; empty when it does not exist.
QString realPath(const QString &path);
// An absolute, cleaned path (relative paths are taken from the current folder).
QString absolute(const QString &path);
// The current folder.
QString currentPath();

// Names in a folder: regular files (links to them included) whose name ends in
// `suffix` (case ignored; empty takes all), or folders (links to folders only with
// `followLinks`). "." and ".." never; hidden names included. Unsorted.
QStringList files(const QString &folder, const QString &suffix = QString());
QStringList folders(const QString &folder, bool followLinks);
// Names in the order the lists show them: case ignored, then exact.
void sortNames(QStringList &names);

// Adds the owner's write bit to a regular file; never follows a link. True when the
// file is writable by its owner afterwards.
bool makeOwnerWritable(const QString &path);
bool rename(const QString &from, const QString &to);
// The folder holding `path` (bytes; "/" for a name in the root).
QByteArray folderOf(const QByteArray &path);
// Writes all of `data` at offset `at` of `fd`, through short writes and interruptions.
// False on failure, with errno set (ENOSPC for a write that took nothing).
bool writeAll(int fd, const char *data, size_t length, off_t at);
bool remove(const QString &path); // a file or a link, never a folder

} // namespace arcsweep::Fs
