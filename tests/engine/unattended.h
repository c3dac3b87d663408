#pragma once

// The built program run from the command line, as a scheduled job would run it: a
// private copy in a fresh AppFolder, no display, a folder argument.

#include "common/datafiles.h"
#include "zipfixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <unistd.h>

namespace arcsweep::test {

struct Finished {
    bool ended = false;
    int exitCode = -1;
    QString out, err;
    QByteArray errBytes; // standard error as written
};

class Unattended {
public:
    Unattended() {
        QFile::setPermissions(root.path(), QFile::Permissions(0x7777));
        app = root.filePath("App Copy");
        tree = root.filePath("Zip Tree");
        QDir().mkpath(app);
        QDir().mkpath(tree);
        exe = app + "/arcsweep";
        EXPECT_TRUE(QFile::copy(QStringLiteral(ARCSWEEP_APPFOLDER_DIR "/arcsweep"), exe));
    }

    QString zip(const QString &relative, const QStringList &names) {
        const QString path = tree + u'/' + relative;
        QDir().mkpath(QFileInfo(path).path());
        QList<ZipFixtureEntry> entries;
        for (const QString &name : names)
            entries.append({name, ("Text of " + name).toUtf8().repeated(50)});
        EXPECT_TRUE(writeZip(path, entries));
        return path;
    }

    // Starts the copy on `folder` without a display, optionally through a wrapper
    // (e.g. setpriv), with extra environment variables and options.
    void start(QProcess &process, const QString &folder, const QStringList &wrapper = {},
               const QStringList &environment = {}, const QStringList &options = {}) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        for (const QString &pair : environment)
            env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
        process.setProcessEnvironment(env);
        QStringList args = wrapper;
        args << exe << options << folder;
        process.start(args.takeFirst(), args);
        process.waitForStarted();
    }

    // Runs it to its end.
    Finished run(const QString &folder, const QStringList &wrapper = {},
                 const QStringList &environment = {}, const QStringList &options = {}) {
        QProcess process;
        start(process, folder, wrapper, environment, options);
        Finished done;
        done.ended = process.waitForFinished(120000);
        if (!done.ended)
            process.kill();
        done.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        done.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        done.errBytes = process.readAllStandardError();
        done.err = QString::fromLocal8Bit(done.errBytes);
        return done;
    }

    // setpriv, to run the program as an unprivileged user; empty where that cannot be
    // done (not root, or no setpriv): the test then skips.
    static QString setprivAsRoot() {
        return ::geteuid() == 0 ? QStandardPaths::findExecutable("setpriv") : QString();
    }

    QString appFile(const char *name) const { return appFile(app, name); }
    static QString appFile(const QString &folder, const char *name) {
        return arcsweep::appFile(folder, name);
    }

    static QStringList names(const QString &archive) {
        QStringList result;
        for (const ZipFixtureEntry &entry : readZip(archive))
            result.append(entry.name);
        return result;
    }

    QTemporaryDir root;
    QString app, tree, exe;
};

} // namespace arcsweep::test
