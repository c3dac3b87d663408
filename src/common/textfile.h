#pragma once

#include "common/fileresult.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <functional>

namespace arcsweep {

// Plain text data files: UTF-8, lines written with CR LF. Readers accept CR LF,
// CR and LF alone as line ends, so files edited with any editor read the same, and
// skip a UTF-8 byte-order mark at the start: it is no part of the first line.
namespace TextFile {

// A line longer than this many bytes (binary junk) is kept only up to here.
inline constexpr qsizetype MaxLineBytes = 1024 * 1024;

// The bytes without a leading UTF-8 byte-order mark.
QByteArray withoutBom(const QByteArray &bytes);

// Calls `line` for each line of the file, in order, until it returns false or the
// file ends. Returns false when the file cannot be opened. Reads in blocks, so a
// huge or binary file costs no more memory than its longest line. Every line is
// one call, however long: the bytes past MaxLineBytes are dropped.
bool forEachLine(const QString &path, const std::function<bool(const QString &)> &line);

// Up to `maxLines` lines of the file (all when negative); empty when it cannot be read.
QStringList readLines(const QString &path, qsizetype maxLines = -1);

// True when some line of the file equals `text` exactly (whole line, case-sensitive).
bool containsLine(const QString &path, const QString &text);

// The files below are never changed in place: a complete, synced new file takes the
// old one's place in one rename, so a full disk, a size limit or a kill leaves either
// the old file or the new one, never a part of either. A failure keeps the
// errno of the call that failed.

// Appends each line with CR LF after the file's last line; creates the file when
// missing.
FileResult appendLines(const QString &path, const QStringList &lines);

// Replaces the file with these lines (CR LF).
FileResult writeLines(const QString &path, const QStringList &lines);

// Replaces the file with these bytes.
FileResult replaceFile(const QString &path, const QByteArray &bytes);

// Writes one line with CR LF to an open file.
bool writeLine(QFileDevice &file, const QString &text);

} // namespace TextFile
} // namespace arcsweep
