// Archives tested ahead on worker threads change nothing the user sees: the same
// window updates, messages, logs, counts and files as a run on the window thread alone.
#include "rawzip.h"
#include "runfixture.h"

#include "controls/filelistbox.h"

#include <QDirIterator>
#include <QProcess>

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

// The main window, writing down every update the run makes of it.
class TracingForm : public Form1 {
public:
    using Form1::Form1;
    QStringList trace;

    void selectFile(int index, bool selected) override {
        trace << QStringLiteral("select %1 %2 %3").arg(index).arg(selected).arg(File1->List(index));
        Form1::selectFile(index, selected);
    }
    void clearEntries() override {
        trace << QStringLiteral("clear");
        Form1::clearEntries();
    }
    void addEntry(const QString &name) override {
        trace << QStringLiteral("add ") + name;
        Form1::addEntry(name);
    }
    void removeEntry(int index) override {
        trace << QStringLiteral("remove %1").arg(index);
        Form1::removeEntry(index);
    }
    void selectEntry(int index, bool selected) override {
        trace << QStringLiteral("entry %1 %2").arg(index).arg(selected);
        Form1::selectEntry(index, selected);
    }
    void setStatusCaption(const QString &text) override {
        trace << QStringLiteral("status ") + text;
        Form1::setStatusCaption(text);
    }
    void setProgressCaption(const QString &text) override {
        trace << QStringLiteral("progress ") + text;
        Form1::setProgressCaption(text);
    }
    void setWindowCaption(const QString &text) override {
        trace << QStringLiteral("caption ") + text;
        Form1::setWindowCaption(text);
    }
    void setProcessedText(const QString &text) override {
        trace << QStringLiteral("processed ") + text;
        Form1::setProcessedText(text);
    }
    void setPurgedText(const QString &text) override {
        trace << QStringLiteral("purged ") + text;
        Form1::setPurgedText(text);
    }
};

// A tree with every kind of archive, in nested folders of one to several archives.
void buildTree(const QString &tree) {
    const auto put = [&](const QString &relative, const RawZip &zip) {
        QDir().mkpath(QFileInfo(tree + u'/' + relative).path());
        ASSERT_TRUE(writeRawZip(tree + u'/' + relative, zip));
    };
    for (int f = 0; f < 6; ++f) {
        const QString folder = QStringLiteral("Level %1/Sub %2/").arg(f % 3).arg(f);
        for (int a = 0; a <= f; ++a) {
            const QByteArray n = QByteArray::number(f * 10 + a);
            put(folder + "Purge " + n + ".ZIP",
                rawZip({rawEntry("Keep " + n + ".TXT", QByteArray("keep").repeated(50 + a), true),
                        rawEntry("Ad.URL", "u"),
                        rawEntry("Big.BIN", randomBytes(30000, quint32(a)))}));
            put(folder + "Nfos " + n + ".ZIP",
                rawZip({rawEntry("A.NFO", "a"), rawEntry("B.NFO", "b"), rawEntry("Junk.TXT", "j"),
                        rawEntry("C.NFO", "c")}));
        }
        put(folder + "Double.ZIP", rawZip({rawEntry("file_id.diz", "1"), rawEntry("Junk.TXT", "j"),
                                           rawEntry("file_id.diz", "2")}));
        QByteArray broken = buildZip(rawZip({rawEntry("Data.BIN", randomBytes(5000, quint32(f)))}));
        broken[300] = char(broken[300] ^ 4);
        QDir().mkpath(tree + u'/' + folder);
        writeFile(tree + u'/' + folder + "Broken.ZIP", broken);
        writeFile(tree + u'/' + folder + "Not A Zip.ZIP", "text");
    }
}

struct Outcome {
    QStringList trace, errors, verify, record;
    QMap<QString, QByteArray> files;
};

Outcome cleanOnce(const QString &tree, int workers) {
    RunFixture run([](RunFixture &r) { r.makeForm<TracingForm>(false); });
    QProcess::execute(QStringLiteral("cp"), {"-a", tree + "/.", run.tree});
    run.purgeList({"junk.txt", "*.url"});
    run.form->XceedZip1->testAheadWorkers = workers;
    run.clean();
    Outcome o;
    o.trace = static_cast<TracingForm &>(*run.form).trace;
    o.trace.replaceInStrings(run.tree.toLower(), QStringLiteral("TREE"));
    o.trace.replaceInStrings(run.tree, QStringLiteral("TREE"));
    o.errors = run.errorLog().replaceInStrings(run.tree.toLower(), QStringLiteral("TREE"));
    o.verify = run.verifyList().replaceInStrings(run.tree, QStringLiteral("TREE"));
    o.record = run.lastRecord().mid(1).replaceInStrings(run.tree.toLower(), QStringLiteral("TREE"));
    QDirIterator it(run.tree, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        o.files.insert(path.mid(run.tree.size()), fileBytes(path));
    }
    EXPECT_TRUE(run.desktop.boxes.isEmpty());
    return o;
}

TEST(TestingAhead, ChangesNothingOfWhatTheRunShowsWritesOrLeaves) {
    QTemporaryDir master;
    buildTree(master.path());
    const Outcome alone = cleanOnce(master.path(), 0);
    const Outcome ahead = cleanOnce(master.path(), 2);
    ASSERT_GT(alone.trace.size(), 300);
    EXPECT_EQ(ahead.trace, alone.trace);
    EXPECT_EQ(ahead.errors, alone.errors);
    EXPECT_EQ(ahead.verify, alone.verify);
    EXPECT_EQ(ahead.record, alone.record);
    EXPECT_EQ(ahead.files.keys(), alone.files.keys());
    for (auto it = alone.files.cbegin(); it != alone.files.cend(); ++it)
        EXPECT_TRUE(ahead.files.value(it.key()) == it.value()) << it.key().toStdString();
    // The run did all it should: something of every kind happened.
    ASSERT_EQ(alone.record.size(), 13);
    EXPECT_EQ(alone.record[7], QStringLiteral(" 48 - cleaned zip's"));
    EXPECT_EQ(alone.record[11], QStringLiteral(" 12 - bad zip's"));
    EXPECT_FALSE(alone.verify.isEmpty());
    EXPECT_GE(alone.errors.size(), 12);
}

} // namespace
