#include "hostilepalettes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cstring>

namespace {

// Writes the hostile palettes into a folder, for the fuzz seeds and for measuring the programs on them.
int WriteHostilePalettes(const QString& folder)
{
    const std::pair<const char*, QByteArray> files[] = {
        { "mng-bad-frame.png", hostile::MngBadFrame() },
        { "huge-chunk.png", hostile::HugeChunkPng() },
        { "repeated-scan.jpg", hostile::RepeatedScanJpeg(4096, 8000) },
        // The fuzz seed: small enough for the fuzz target's memory budget, long enough for its deadline.
        { "repeated-scan-1024.jpg", hostile::RepeatedScanJpeg(1024, 2000) },
        { "ztxt-bomb.png", hostile::ZtxtBombPng(1 << 30) },
    };
    for (const auto& [name, bytes] : files) {
        QFile file(QDir(folder).filePath(QString::fromUtf8(name)));
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "cannot write %s\n", name);
            return 1;
        }
        std::printf("%s: %lld bytes\n", name, static_cast<long long>(bytes.size()));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--write-hostile-palettes") == 0) {
        return WriteHostilePalettes(QString::fromLocal8Bit(argv[2]));
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
