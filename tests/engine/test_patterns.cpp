#include "recordinghost.h"

using namespace arcsweep;
using namespace arcsweep::test;

namespace {

// The purge-list examples the help page gives, each through a whole clean-all run.
TEST(PurgePatterns, ExamplesWorkEndToEnd) {
    struct Case {
        QStringList purge;
        QStringList entries;
        QStringList left;
    };
    const QList<Case> cases = {
        {{"file_id.diz"},
         {"FILE_ID.DIZ", "File_ID.Diz.txt", "Docs/File_id.diz"},
         {"Docs/File_id.diz", "File_ID.Diz.txt"}},
        {{"*.nfo"}, {"Group.NFO", "Docs/Old/Info.nfo", "Info.nfo.txt"}, {"Info.nfo.txt"}},
        {{"read?.txt"}, {"Read1.TXT", "read10.txt", "read.txt"}, {"read.txt", "read10.txt"}},
        {{"[!a-m]*.txt"}, {"ReadMe.TXT", "Install.txt", "zz.txt"}, {"Install.txt"}},
        {{"ADVERT#.TXT"},
         {"advert1.txt", "Advert.txt", "ADVERT22.TXT"},
         {"ADVERT22.TXT", "Advert.txt"}},
        {{"name.txt  "}, {"Name.txt", "NAME.txt  ", "Keep.txt"}, {"Keep.txt", "Name.txt"}},
        {{"what[?].txt"}, {"What?.txt", "Whats.txt"}, {"Whats.txt"}},
        {{"[a-"}, {"A-.txt", "a.txt"}, {"A-.txt", "a.txt"}}, // malformed: matches nothing
        // A pattern selects what its match selects, never a name merely equal to it.
        {{"q[1].dat"}, {"Q1.dat", "q[1].dat", "Q2.DAT"}, {"Q2.DAT", "q[1].dat"}},
        {{"ad#.txt"}, {"AD1.txt", "ad#.txt"}, {"ad#.txt"}},
        {{"*.*"}, {"ReadMe", "Info.NFO", "Docs/Notes"}, {"Docs/Notes", "ReadMe"}},
    };
    for (const Case &c : cases) {
        HostRun run;
        run.purgeList(c.purge);
        const QString archive = run.zip(QStringLiteral("Sub Folder/Pattern Test.ZIP"), c.entries);
        run.clean();
        QStringList left = HostRun::names(archive);
        left.sort();
        EXPECT_EQ(left, c.left) << c.purge.join('|').toStdString();
        EXPECT_EQ(run.totals().PurgedFiles, c.entries.size() - c.left.size())
            << c.purge.join('|').toStdString();
    }
}

} // namespace
