#include <QCoreApplication>
#include <gtest/gtest.h>

// Tests of the parts that know no windows run under a core application only.
int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
