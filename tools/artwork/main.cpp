// glimmerset-artwork OUTDIR: draws the program's own artwork (built-in palette, export watermark,
// progress strip, logo and application icons) and writes it as PNG files into OUTDIR.
//
// The output is committed under resources/; rebuild it with
//     QT_QPA_PLATFORM=offscreen build/bin/glimmerset-artwork resources
// Everything is computed from fixed numbers, so a rerun with the same fonts gives the same bytes.

#include "artwork.h"

#include <cstdio>

#ifndef GLIMMERSET_VERSION
#error "GLIMMERSET_VERSION must be defined by the build"
#endif

int main(int argc, char** argv)
{
    using namespace artwork;
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: glimmerset-artwork OUTDIR\n");
        return 2;
    }
    QDir dir(args.at(1));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "glimmerset-artwork: cannot create %s\n", qPrintable(args.at(1)));
        return 1;
    }

    const QFontInfo font(ArtworkFont(kWatermarkTitleSize, QFont::Bold));
    if (font.family() != QString::fromLatin1(kFontFamily)) {
        std::fprintf(stderr, "glimmerset-artwork: warning: %s not found, lettering uses %s\n", kFontFamily,
            qPrintable(font.family()));
    }

    const QImage watermark = DrawWatermark();
    bool ok = CheckWatermark(watermark);
    ok = Save(DrawPalette(), dir, QStringLiteral("palette.png")) && ok;
    ok = Save(watermark, dir, QStringLiteral("watermark.png")) && ok;
    ok = Save(DrawProgress(), dir, QStringLiteral("progress.png")) && ok;
    ok = Save(DrawLogo(), dir, QStringLiteral("logo.png")) && ok;
    for (const int size : kIconSizes) {
        ok = Save(DrawIcon(size), dir, QStringLiteral("icon-%1.png").arg(size)) && ok;
    }
    ok = CheckPalette(dir) && ok;
    return ok ? 0 : 1;
}
