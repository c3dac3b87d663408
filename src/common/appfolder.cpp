#include "common/appfolder.h"

#include "common/datafiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace arcsweep {

namespace {

const char *const SystemBinaryFolders[] = {"/usr/bin",  "/bin",  "/usr/local/bin",
                                           "/usr/sbin", "/sbin", "/usr/games"};

// What a per-user folder starts with. purge.txt is the user's own and is never made.
const char *const SeedFiles[] = {"purge.example.txt", DataFile::HelpPage, DataFile::ThunderWave,
                                 DataFile::ErrorWave, DataFile::HelloWave};

bool writableFolder(const QString &folder) {
    return !folder.isEmpty() && ::faccessat(AT_FDCWD, QFile::encodeName(folder).constData(),
                                            W_OK | X_OK, AT_EACCESS) == 0;
}

QString homeFolder() {
    const QString home = qEnvironmentVariable("HOME");
    if (home.startsWith(u'/'))
        return home;
    if (const passwd *pw = ::getpwuid(::geteuid()); pw && pw->pw_dir)
        return QFile::decodeName(pw->pw_dir);
    return QDir::homePath();
}

// Creates `folder` and every missing parent with mode 0700, as the XDG rules ask.
bool makeFolder(const QString &folder, QString *error) {
    QString path;
    for (const QString &part : folder.split(u'/', Qt::SkipEmptyParts)) {
        path += u'/' + part;
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST) {
            *error = QStringLiteral("cannot create %1: %2")
                         .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }
    if (!QFileInfo(folder).isDir()) {
        *error = QStringLiteral("%1 is not a folder").arg(folder);
        return false;
    }
    return true;
}

} // namespace

bool isSystemBinaryFolder(const QString &folder) {
    const QString clean = QDir::cleanPath(folder);
    const QString real = QFileInfo(clean).canonicalFilePath();
    for (const char *name : SystemBinaryFolders) {
        const QString system = QString::fromLatin1(name);
        if (clean == system)
            return true;
        // /bin is a link to /usr/bin on merged-/usr systems: compare where both lead.
        const QString systemReal = QFileInfo(system).canonicalFilePath();
        if (!real.isEmpty() && (real == system || real == systemReal))
            return true;
    }
    return false;
}

QString perUserDataFolder() {
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (!base.startsWith(u'/')) // unset, empty or relative: ignored
        base = homeFolder() + QStringLiteral("/.local/share");
    return QDir::cleanPath(base + QStringLiteral("/arcsweep"));
}

QString sharedDataFolder(const QString &exeFolder) {
    return QDir::cleanPath(exeFolder + QStringLiteral("/../share/arcsweep"));
}

AppFolderChoice chooseAppFolder(const QString &exeFolder) {
    AppFolderChoice choice;
    const QString folder = QDir::cleanPath(exeFolder);
    QString because;
    if (isSystemBinaryFolder(folder))
        because = QStringLiteral("%1 is a system folder").arg(folder);
    else if (!writableFolder(folder))
        because = QStringLiteral("%1 is not writable").arg(folder);
    if (because.isEmpty()) {
        choice.path = folder;
        choice.reason = QStringLiteral("the executable's folder");
    } else {
        choice.path = perUserDataFolder();
        choice.perUser = true;
        choice.reason = QStringLiteral("the per-user data folder, since %1").arg(because);
    }
    return choice;
}

AppFolderChoice setUpAppFolder(const QString &exeFolder) {
    AppFolderChoice choice = chooseAppFolder(exeFolder);
    if (!choice.perUser || !makeFolder(choice.path, &choice.error))
        return choice;
    const QString shared = sharedDataFolder(exeFolder);
    QStringList failed;
    for (const char *name : SeedFiles) {
        const QString target = appFile(choice.path, name);
        const QFileInfo existing(target);
        if (existing.exists() || existing.isSymLink())
            continue; // the user's copy, whatever it holds
        if (!QFile::copy(appFile(shared, name), target))
            failed.append(QString::fromLatin1(name));
    }
    if (!failed.isEmpty())
        choice.error =
            QStringLiteral("cannot copy %1 from %2").arg(failed.join(QStringLiteral(", ")), shared);
    return choice;
}

} // namespace arcsweep
