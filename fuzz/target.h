#pragma once

// What the three libFuzzer targets share: a scratch folder for the process, and an
// abort on a broken invariant so that libFuzzer saves the input.

#include "checks.h"

#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace arcsweep::fuzz {

// Removed when the process exits normally; a crash leaves it for a look.
inline const QString &scratchFolder() {
    static const QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/arcsweep-fuzz-XXXXXX"));
    static const QString path = dir.path();
    return path;
}

inline void abortOn(const Verdict &verdict) {
    if (verdict.ok())
        return;
    std::fprintf(stderr, "\ninvariant %s broken: %s\n", qPrintable(verdict.invariant),
                 qPrintable(verdict.detail));
    std::abort();
}

inline QByteArray inputBytes(const uint8_t *data, size_t size) {
    return QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
}

} // namespace arcsweep::fuzz
