// orvalink-iconrender OUTDIR NAME SIZE...: writes the program's icon, drawn by the program's own
// code, as OUTDIR/<size>x<size>/apps/NAME.png for each size (the layout of the hicolor icon theme).
// The build runs it so the installed icons are always the ones the window and the tray show.

#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: orvalink-iconrender OUTDIR NAME SIZE...\n");
        return 2;
    }
    // Drawing needs the GUI application but no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString outDir = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QImage image = orvalink::res::resourceIconImage(orvalink::res::kIconMain, size);
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        if (image.isNull() || !QDir().mkpath(dir) || !image.save(dir + "/" + name + ".png", "PNG")) {
            std::fprintf(stderr, "orvalink-iconrender: cannot write the %s pixel icon under %s\n", argv[i], argv[1]);
            return 1;
        }
    }
    return 0;
}
