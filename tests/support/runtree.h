#pragma once

// What a clean-all run's tests read and write around a run: the archives of the test
// tree, the purge list, and the run files in the data folder. Shared by the run's tests
// with a recording host and those through the real main window.

#include "common/appstate.h"
#include "common/textfile.h"
#include "zipfixtures.h"

#include <QDir>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace arcsweep::test {

class RunTree {
public:
    // Both are read only when a method runs: they may belong to the derived fixture.
    RunTree(const AppState &state, const QString &tree) : runState_(state), runTree_(tree) {}

    void purgeList(const QStringList &lines) {
        writeFile(runState_.file(DataFile::PurgeList), (lines.join("\r\n") + "\r\n").toUtf8());
    }

    // Writes an archive below the tree, each entry's text made from its name.
    QString zip(const QString &relativePath, const QStringList &names) {
        QList<ZipFixtureEntry> entries;
        for (const QString &name : names)
            entries.append({name, ("Contents of " + name + "\r\n").toUtf8().repeated(20)});
        const QString path = runTree_ + u'/' + relativePath;
        QDir().mkpath(QFileInfo(path).path());
        EXPECT_TRUE(writeZip(path, entries)) << path.toStdString();
        return path;
    }

    static QStringList names(const QString &archive) {
        bool ok = false;
        QStringList result;
        for (const ZipFixtureEntry &entry : readZip(archive, &ok))
            result.append(entry.name);
        EXPECT_TRUE(ok) << archive.toStdString();
        return result;
    }

    // The last StatsLog record (14 lines), or fewer lines when there is none.
    QStringList lastRecord() const {
        const QStringList lines = TextFile::readLines(runState_.file(DataFile::StatsLog));
        return lines.mid(qMax<qsizetype>(0, lines.size() - 14));
    }
    QStringList errorLog() const { return TextFile::readLines(runState_.file(DataFile::ErrorLog)); }
    QStringList verifyList() const {
        return TextFile::readLines(runState_.file(DataFile::VerifyList));
    }
    const RunTotals &totals() const { return runState_.Totals; }

private:
    const AppState &runState_;
    const QString &runTree_;
};

} // namespace arcsweep::test
