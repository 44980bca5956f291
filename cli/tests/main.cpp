#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The tool's temporary files go under one folder of this run, removed at its end: the runs that
    // are killed on purpose (to test what a crash leaves) cannot clean up after themselves.
    QTemporaryDir scratch;
    if (scratch.isValid()) {
        qputenv("TMPDIR", QFile::encodeName(scratch.path()));
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
