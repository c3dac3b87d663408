// The built program killed at random moments of a run over archives that need
// purges and double-diz repairs: after every kill each archive is either its original
// byte for byte or the complete cleaned archive, with its kept records byte for byte.
#include "rawzip.h"
#include "unattended.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <random>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

enum class Kind { Purge, Double, Sound, Damaged };

struct Archive {
    QString relative;
    Kind kind;
    QByteArray original;
};

// What one archive looks like after a kill.
enum class State { Original, Cleaned, SetAside, Broken };

class CrashTree {
public:
    explicit CrashTree(Unattended &u) : u_(u) {
        writeFile(u.appFile(DataFile::PurgeList), "junk.txt\r\n*.url\r\n");
        for (int i = 0; i < 8; ++i)
            add(QStringLiteral("Purge %1/Purge %2.ZIP").arg(i % 3).arg(i), Kind::Purge,
                rawZip({rawEntry("Big.BIN", randomBytes(600 * 1024, quint32(i))),
                        rawEntry("Junk.TXT", QByteArray("junk ").repeated(400), true),
                        rawEntry("Keep " + QByteArray::number(i) + ".TXT",
                                 QByteArray("keep ").repeated(300), true),
                        rawEntry("Ad.URL", "[InternetShortcut]\r\n")}));
        for (int i = 0; i < 6; ++i)
            add(QStringLiteral("Doubles/Double %1.ZIP").arg(i), Kind::Double,
                rawZip({rawEntry("file_id.diz", "first copy\r\n"),
                        rawEntry("Data.BIN", randomBytes(400 * 1024, quint32(100 + i))),
                        rawEntry("Junk.TXT", "junk"), rawEntry("Info.NFO", "info", true),
                        rawEntry("file_id.diz", "second copy\r\n")}));
        for (int i = 0; i < 3; ++i)
            add(QStringLiteral("Sound %1.ZIP").arg(i), Kind::Sound,
                rawZip({rawEntry("Readme.TXT", "readme", true)}));
        for (int i = 0; i < 3; ++i) {
            RawZip zip = rawZip({rawEntry("Data.BIN", randomBytes(20000, quint32(200 + i)))});
            QByteArray bytes = buildZip(zip);
            bytes[5000] = char(bytes[5000] ^ 0x55); // inside the data: a CRC error
            archives_.append(
                {QStringLiteral("Damaged/Damaged %1.ZIP").arg(i), Kind::Damaged, bytes});
        }
        master_ = u.root.filePath("Master Tree");
        for (const Archive &a : archives_) {
            QDir().mkpath(QFileInfo(master_ + u'/' + a.relative).path());
            writeFile(master_ + u'/' + a.relative, a.original);
        }
    }

    // A fresh copy of the tree at the program's tree folder.
    void reset() {
        QDir(u_.tree).removeRecursively();
        QProcess::execute(QStringLiteral("cp"), {"-a", master_, u_.tree});
    }

    State stateOf(const Archive &a) const {
        const QString path = u_.tree + u'/' + a.relative;
        const QByteArray now = fileBytes(path);
        if (a.kind == Kind::Damaged) {
            const bool here = now == a.original, aside = fileBytes(path + ".bad") == a.original;
            if (here != aside)
                return here ? State::Original : State::SetAside;
            return State::Broken;
        }
        if (now == a.original)
            return State::Original;
        return isCleaned(a, now) ? State::Cleaned : State::Broken;
    }

    // Temporary files of ours left anywhere in the tree (or in `folder`).
    QStringList temporaries(const QString &folder = {}) const {
        QStringList found;
        QProcess find;
        find.start(QStringLiteral("find"),
                   {folder.isEmpty() ? u_.tree : folder, "-name", "*.arcsweep-*"});
        find.waitForFinished();
        for (const QByteArray &line : find.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                found.append(QString::fromUtf8(line));
        return found;
    }

    const QList<Archive> &archives() const { return archives_; }

    // The records a cleaning removes by the purge list (the diz copies are a repair).
    static QList<QByteArray> purgedNames(const Archive &a) {
        QList<QByteArray> names;
        for (const QByteArray &name : rawRecords(a.original).names)
            if (name.toLower() == "junk.txt" || name.toLower().endsWith(".url"))
                names.append(name);
        return names;
    }

private:
    void add(const QString &relative, Kind kind, const RawZip &zip) {
        archives_.append({relative, kind, buildZip(zip)});
    }

    // The cleaned archive: exactly the original entries minus the purged ones, every
    // kept record byte for byte (only the offset in its central record changes), and
    // one "file_id.diz" holding the copy that was extracted (the last one).
    static bool isCleaned(const Archive &a, const QByteArray &now) {
        const RawRecords before = rawRecords(a.original), after = rawRecords(now);
        if (!before.ok || !after.ok)
            return false;
        QList<qsizetype> kept;
        for (qsizetype i = 0; i < before.names.size(); ++i) {
            const QByteArray n = before.names[i].toLower();
            if (n != "junk.txt" && !n.endsWith(".url") && n != "file_id.diz")
                kept.append(i);
        }
        const qsizetype extra = a.kind == Kind::Double ? 1 : 0;
        if (after.names.size() != kept.size() + extra)
            return false;
        for (qsizetype k = 0; k < kept.size(); ++k) {
            const qsizetype i = kept[k];
            QByteArray c1 = before.central[i], c2 = after.central[k];
            c1.replace(42, 4, "????");
            c2.replace(42, 4, "????");
            if (after.local[k] != before.local[i] || c1 != c2)
                return false;
        }
        if (a.kind == Kind::Double && after.names.last() != "file_id.diz")
            return false;
        return after.leading == before.leading && after.comment == before.comment;
    }

    Unattended &u_;
    QList<Archive> archives_;
    QString master_;
};

TEST(CrashConsistency, KilledAtRandomMomentsNoArchiveIsLostOrDamaged) {
    Unattended u;
    CrashTree tree(u);

    // How long a whole run takes here: the kills fall anywhere within it.
    tree.reset();
    QElapsedTimer timer;
    timer.start();
    const Finished whole = u.run(u.tree);
    const qint64 runMs = std::max<qint64>(timer.elapsed(), 50);
    ASSERT_EQ(whole.exitCode, 0) << whole.err.toStdString();
    for (const Archive &a : tree.archives()) {
        const State s = tree.stateOf(a);
        EXPECT_EQ(s, a.kind == Kind::Sound     ? State::Original
                     : a.kind == Kind::Damaged ? State::SetAside
                                               : State::Cleaned)
            << a.relative.toStdString();
    }

    std::mt19937 random(20261208);
    std::uniform_int_distribution<qint64> moment(0, runMs);
    int kills = 0, partial = 0, leftTemporaries = 0;
    for (int round = 0; round < 30; ++round) {
        tree.reset();
        const qint64 at = moment(random);
        QProcess process;
        u.start(process, u.tree);
        QThread::msleep(quint64(at));
        process.kill();
        process.waitForFinished();
        ++kills;
        int cleaned = 0, untouched = 0;
        for (const Archive &a : tree.archives()) {
            const State s = tree.stateOf(a);
            EXPECT_NE(s, State::Broken)
                << a.relative.toStdString() << " after a kill at " << at << " ms";
            cleaned += s == State::Cleaned;
            untouched += s == State::Original && a.kind != Kind::Sound;
        }
        partial += cleaned > 0 && untouched > 0;
        leftTemporaries += int(tree.temporaries().size());
        // Every diz repair is whole or not there: never an archive without the file.
        for (const Archive &a : tree.archives()) {
            if (a.kind == Kind::Double) {
                EXPECT_TRUE(fileBytes(u.tree + u'/' + a.relative).contains("file_id.diz"));
            }
        }
    }
    // The kills fell inside runs, not only before or after them.
    EXPECT_GT(partial, 0) << kills << " kills";
    std::printf("%d kills over a %lld ms run: %d in the middle of the tree, %d temporary files "
                "left\n",
                kills, runMs, partial, leftTemporaries);

    // The next run finishes the job and takes away what a killed rewrite left.
    const Finished next = u.run(u.tree);
    EXPECT_EQ(next.exitCode, 0);
    EXPECT_TRUE(tree.temporaries().isEmpty()) << tree.temporaries().join(u' ').toStdString();
    for (const Archive &a : tree.archives())
        EXPECT_NE(tree.stateOf(a), State::Broken);
}

// Runs that keep the removed records, killed at one system call after another: at
// syncs spread over a whole run and at each of the last ones (the run files), the moments
// when a temporary file is complete and about to take its place. After every kill no
// archive is broken and no purged record is missing from both the archive and its kept
// copy. The temporary files the kills left in the keep folder and the data folder are
// gathered, and the run that completes the job removes them all, leaving no record kept
// twice.
TEST(CrashConsistency, KilledAtSyncsOfRunsThatKeepRecordsNothingIsLostOrLeftBehind) {
    const QString strace = QStandardPaths::findExecutable("strace");
    if (strace.isEmpty())
        GTEST_SKIP() << "strace is not installed";
    Unattended u;
    CrashTree tree(u);
    const QString keep = u.root.filePath("Kept Records");
    const QStringList keeping{"/bin/sh", "-c", "exec \"$0\" --keep-purged \"$KEEP\" \"$1\""};
    const auto lostRecords = [&] {
        QStringList lost;
        for (const Archive &a : tree.archives()) {
            if (a.kind != Kind::Purge && a.kind != Kind::Double)
                continue;
            QList<QByteArray> present = rawRecords(fileBytes(u.tree + u'/' + a.relative)).names;
            present += rawRecords(fileBytes(keep + u'/' + a.relative)).names;
            for (const QByteArray &name : CrashTree::purgedNames(a))
                if (!present.contains(name))
                    lost.append(a.relative + u' ' + QString::fromLatin1(name));
        }
        return lost;
    };
    // How many syncs a whole run makes.
    tree.reset();
    const QString trace = u.root.filePath("syncs.txt");
    ASSERT_EQ(u.run(u.tree,
                    QStringList{strace, "-f", "-qq", "-o", trace, "-e", "trace=fsync"} + keeping,
                    {"KEEP=" + keep})
                  .exitCode,
              0);
    const int syncs = int(fileBytes(trace).count("fsync("));
    ASSERT_GT(syncs, 20);
    QList<int> points;
    for (int i = 0; i < 12; ++i)
        points.append(1 + i * syncs / 12);
    for (int n = syncs - 8; n <= syncs; ++n)
        points.append(n);

    // Leftovers of the keep folder and the data folder wait here, by their place.
    const QString stash = u.root.filePath("Stash");
    const auto move = [](const QString &from, const QString &to) {
        QDir().mkpath(QFileInfo(to).path());
        return QFile::rename(from, to);
    };
    QStringList stashed;
    for (const int n : points) {
        SCOPED_TRACE(n);
        tree.reset();
        QDir(keep).removeRecursively();
        const QString inject = QStringLiteral("inject=fsync:signal=KILL:when=%1").arg(n);
        const Finished killed = u.run(
            u.tree,
            QStringList{strace, "-f", "-qq", "-o", "/dev/null", "-e", "trace=fsync", "-e", inject} +
                keeping,
            {"KEEP=" + keep});
        ASSERT_TRUE(killed.ended);
        for (const Archive &a : tree.archives())
            EXPECT_NE(tree.stateOf(a), State::Broken) << a.relative.toStdString();
        EXPECT_EQ(lostRecords(), QStringList());
        for (const QString &folder : {keep, u.app})
            for (const QString &left : tree.temporaries(folder)) {
                const QString place = left.mid(u.root.path().size());
                ASSERT_TRUE(move(left, stash + place));
                stashed.append(place);
            }
    }
    const auto in = [&](const QString &folder) {
        return std::count_if(stashed.cbegin(), stashed.cend(), [&](const QString &place) {
            return (u.root.path() + place).startsWith(folder + u'/');
        });
    };
    std::printf("%d kills left %d temporary files in the keep folder, %d in the data folder\n",
                int(points.size()), int(in(keep)), int(in(u.app)));
    EXPECT_GT(in(keep), 0);
    EXPECT_GT(in(u.app), 0);

    // The last kill's tree, with every leftover put back: the completing run takes them away.
    for (const QString &place : stashed)
        ASSERT_TRUE(move(stash + place, u.root.path() + place));
    const Finished next = u.run(u.tree, keeping, {"KEEP=" + keep});
    ASSERT_EQ(next.exitCode, 0) << next.err.toStdString();
    for (const QString &folder : {u.tree, keep, u.app})
        EXPECT_EQ(tree.temporaries(folder), QStringList()) << folder.toStdString();
    EXPECT_EQ(lostRecords(), QStringList());
    for (const Archive &a : tree.archives()) {
        if (a.kind != Kind::Purge)
            continue;
        EXPECT_EQ(tree.stateOf(a), State::Cleaned) << a.relative.toStdString();
        QList<QByteArray> kept = rawRecords(fileBytes(keep + u'/' + a.relative)).names;
        std::sort(kept.begin(), kept.end());
        QList<QByteArray> once = CrashTree::purgedNames(a);
        std::sort(once.begin(), once.end());
        EXPECT_EQ(kept, once) << a.relative.toStdString();
    }
}

} // namespace
