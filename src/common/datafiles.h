#pragma once

#include <QString>

namespace arcsweep {

// The program's data files in the AppFolder. Each has one spelling, used for every access.
namespace DataFile {
inline constexpr char Settings[] = "arcsweep.ini";
inline constexpr char PurgeList[] = "purge.txt";
inline constexpr char PurgeStaging[] = "purge.bak";
inline constexpr char ErrorLog[] = "Errors.txt";
inline constexpr char StatsLog[] = "ASlog.txt";
inline constexpr char TotalsFile[] = "AStot.txt";
inline constexpr char VerifyList[] = "Verify.txt";
inline constexpr char VerifiedPurgeList[] = "vpurge.txt";
inline constexpr char VerdictStore[] = "verdicts.db";
inline constexpr char TempFolder[] = "temp";
inline constexpr char ThunderWave[] = "thunder.wav";
inline constexpr char ErrorWave[] = "error.wav";
inline constexpr char HelloWave[] = "hello-o.wav";
inline constexpr char HelpPage[] = "Arcsweep.html";
} // namespace DataFile

// AppFolder + "/" + name.
inline QString appFile(const QString &appFolder, const char *name) {
    return appFolder + u'/' + QString::fromLatin1(name);
}

} // namespace arcsweep
