// The built program killed at random moments of a run over archives that need
// purges and double-diz repairs: after every kill each archive is either its original
// byte for byte or the complete cleaned archive, with its kept records byte for byte.
#include "rawzip.h"
#include "unattended.h"

#include <QElapsedTimer>
#include <QThread>

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

    // Temporary files of ours left anywhere in the tree.
    QStringList temporaries() const {
        QStringList found;
        QProcess find;
        find.start(QStringLiteral("find"), {u_.tree, "-name", "*.arcsweep-*"});
        find.waitForFinished();
        for (const QByteArray &line : find.readAllStandardOutput().split('\n'))
            if (!line.isEmpty())
                found.append(QString::fromUtf8(line));
        return found;
    }

    const QList<Archive> &archives() const { return archives_; }

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

} // namespace
