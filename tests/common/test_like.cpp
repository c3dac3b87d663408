#include "common/like.h"

#include <QElapsedTimer>
#include <QString>
#include <gtest/gtest.h>

using arcsweep::likeMatch;

namespace {
struct Case {
    const char *name;
    const char *pattern;
    bool matches;
};

class LikeTest : public ::testing::TestWithParam<Case> {};

TEST_P(LikeTest, MatchesWholeName) {
    const Case c = GetParam();
    EXPECT_EQ(likeMatch(QString::fromUtf8(c.name), QString::fromUtf8(c.pattern)), c.matches)
        << c.name << " against " << c.pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Syntax, LikeTest,
    ::testing::Values(
        // Plain names and the examples users write.
        Case{"file_id.diz", "file_id.diz", true}, Case{"file_id.dizz", "file_id.diz", false},
        Case{"xfile_id.diz", "file_id.diz", false}, Case{"readme.nfo", "*.nfo", true},
        Case{"docs/readme.nfo", "*.nfo", true}, Case{"readme.nfo.txt", "*.nfo", false},
        Case{"read1.txt", "read?.txt", true}, Case{"read10.txt", "read?.txt", false},
        Case{"read.txt", "read?.txt", false}, Case{"", "*", true}, Case{"", "", true},
        Case{"a", "", false}, Case{"abc", "a*c", true}, Case{"ac", "a*c", true},
        Case{"abcbc", "a*bc", true}, Case{"abcbd", "a*bc", false},
        // Digits.
        Case{"read1.nfo", "read#.nfo", true}, Case{"reada.nfo", "read#.nfo", false},
        Case{"v12.txt", "v##.txt", true}, Case{"v1.txt", "v##.txt", false}, Case{"9", "#", true},
        Case{"0", "#", true}, Case{"/", "#", false}, Case{":", "#", false},
        Case{"\u0669", "#", false}, // an Arabic-Indic nine is no decimal digit here
        // Lists, ranges, negation.
        Case{"readme.txt", "[!a-m]*.txt", true}, Case{"install.txt", "[!a-m]*.txt", false},
        Case{"b.txt", "[abc].txt", true}, Case{"d.txt", "[abc].txt", false},
        Case{"q.txt", "[a-z].txt", true}, Case{"5.txt", "[0-9].txt", true},
        Case{"z", "[a-z]", true}, Case{"a", "[a-z]", true}, Case{"{", "[a-z]", false},
        Case{"-.txt", "[-a].txt", true}, Case{"-.txt", "[a-].txt", true},
        Case{"b.txt", "[-a].txt", false}, Case{"-.txt", "[!-a].txt", false},
        Case{"x.txt", "[!-a].txt", true}, Case{"m.txt", "[a-cm-o].txt", true},
        Case{"d.txt", "[a-cm-o].txt", false},
        // Brackets make the special characters literal.
        Case{"file*.nfo", "file[*].nfo", true}, Case{"filex.nfo", "file[*].nfo", false},
        Case{"what?.txt", "what[?].txt", true}, Case{"whats.txt", "what[?].txt", false},
        Case{"read#1.nfo", "read[#]1.nfo", true}, Case{"a[b", "a[[]b", true},
        Case{"file1.nfo", "file[1].nfo", true}, Case{"file[1].nfo", "file[1].nfo", false},
        Case{"read#1.nfo", "read#1.nfo", false}, Case{"a]b", "a]b", true},
        // Blanks belong to the pattern.
        Case{"name.txt  ", "name.txt  ", true}, Case{"name.txt", "name.txt  ", false},
        // Malformed patterns match nothing.
        Case{"[", "[", false}, Case{"a", "[a-", false}, Case{"b", "[z-a]", false},
        Case{"z", "[z-a]", false}, Case{"a", "[z-a]", false}, Case{"-", "[z-a]", false},
        Case{"b", "[!z-a]", false}, Case{"zb", "[z-a]b", false}, Case{"abc", "abc[", false},
        Case{"x", "[]", false}, Case{"x", "[!]", false}));

// A name's Like literal matches that name and nothing else, whatever it holds.
TEST(LikeLiteral, MatchesOnlyItsOwnName) {
    struct Literal {
        const char *name;
        const char *literal;
        const char *near; // a name the special character as a wildcard would take
    };
    for (const Literal &c :
         {Literal{"read#1.nfo", "read[#]1.nfo", "read11.nfo"}, Literal{"##", "[#][#]", "12"},
          Literal{"a*b", "a[*]b", "axxb"}, Literal{"what?.txt", "what[?].txt", "whats.txt"},
          Literal{"file[1].nfo", "file[[]1].nfo", "file1.nfo"}}) {
        const QString name = QString::fromUtf8(c.name);
        EXPECT_EQ(arcsweep::likeLiteral(name), QString::fromUtf8(c.literal)) << c.name;
        EXPECT_TRUE(likeMatch(name, arcsweep::likeLiteral(name))) << c.name;
        EXPECT_FALSE(likeMatch(QString::fromUtf8(c.near), arcsweep::likeLiteral(name))) << c.name;
    }
}

// An exponential matcher would not finish this test within the suite's time limit.
TEST(LikeSpeed, ManyStarsDoNotBacktrackExponentially) {
    const QString name = QString(254, u'a') + u'b';
    const QString pattern =
        QString(30, u'*').replace(QStringLiteral("**"), QStringLiteral("*a*")) + u'c';
    EXPECT_FALSE(likeMatch(name, pattern));
    QString starry;
    for (int i = 0; i < 30; ++i)
        starry += QStringLiteral("a*");
    EXPECT_FALSE(likeMatch(name, starry + u'c'));
    EXPECT_TRUE(likeMatch(name, starry + u'b'));
}
} // namespace
