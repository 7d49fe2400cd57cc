// orvalink-iconrender OUTDIR NAME SIZE...: writes the program's icon, drawn by the program's own
// code, as OUTDIR/<size>x<size>/apps/NAME.png for each size and as the scalable
// OUTDIR/scalable/apps/NAME.svg (the layout of the hicolor icon theme). The build runs it so the
// installed icons are always the ones the window and the tray show.

#include "res/ResourceIds.h"
#include "res/ResourceImages.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QString>
#include <QSvgGenerator>
#include <cstdio>
#include <cstdlib>

namespace {

// The same drawing through an SVG generator: every shape the icon is made of becomes an SVG
// element, so the icon stays sharp at any size. The document is 256 pixels square: the generator
// gives its size in millimetres, which renderers turn into pixels at differing resolutions.
bool writeSvg(const QString& dir, const QString& name)
{
    constexpr int kSize = 256;
    QBuffer buffer;
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    svg.setSize(QSize(kSize, kSize));
    svg.setViewBox(QRect(0, 0, kSize, kSize));
    svg.setTitle(QStringLiteral("Orvalink"));
    QPainter painter;
    if (!painter.begin(&svg))
        return false;
    const bool drawn = orvalink::res::drawResourceIcon(orvalink::res::kIconMain, painter, kSize);
    if (!painter.end() || !drawn)
        return false;
    QString text = QString::fromUtf8(buffer.data());
    const QRegularExpression millimetres(QStringLiteral("<svg width=\"[0-9.]+mm\" height=\"[0-9.]+mm\""));
    if (!text.contains(millimetres))
        return false;
    text.replace(millimetres, QStringLiteral("<svg width=\"%1\" height=\"%1\"").arg(kSize));
    QFile file(dir + "/" + name + ".svg");
    return QDir().mkpath(dir) && file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(text.toUtf8()) == text.toUtf8().size();
}

} // namespace

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
    if (!writeSvg(outDir + "/scalable/apps", name)) {
        std::fprintf(stderr, "orvalink-iconrender: cannot write the scalable icon under %s\n", argv[1]);
        return 1;
    }
    return 0;
}
