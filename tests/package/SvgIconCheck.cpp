// orvalink-svgiconcheck SVG PNG: whether the scalable icon SVG is a valid SVG document with a square
// view box as large as its stated size that, rendered at the PNG's size, shows the same icon as the
// PNG (the same drawing code made both): at most 2 % of the pixels differ by more than a quarter in
// coverage or, where both are opaque, in colour. Prints what it found; exit code 0 when it holds.

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: orvalink-svgiconcheck SVG PNG\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
    const QImage png = QImage(QString::fromLocal8Bit(argv[2])).convertToFormat(QImage::Format_ARGB32);
    if (!svg.isValid() || png.isNull()) {
        std::printf("not readable: svg %s, png %s\n", svg.isValid() ? "valid" : "invalid",
                    png.isNull() ? "none" : "read");
        return 1;
    }
    const QRectF box = svg.viewBoxF();
    std::printf("view box %gx%g, default size %dx%d\n", box.width(), box.height(), svg.defaultSize().width(),
                svg.defaultSize().height());
    if (box.width() < 16 || box.width() != box.height() || svg.defaultSize() != box.size().toSize())
        return 1;
    QImage drawn(png.size(), QImage::Format_ARGB32);
    drawn.fill(Qt::transparent);
    {
        QPainter p(&drawn);
        svg.render(&p);
    }
    int differ = 0, covered = 0;
    for (int y = 0; y < png.height(); ++y)
        for (int x = 0; x < png.width(); ++x) {
            const QRgb s = drawn.pixel(x, y);
            const QRgb p = png.pixel(x, y);
            covered += qAlpha(s) > 128;
            const bool bothOpaque = qAlpha(s) > 200 && qAlpha(p) > 200;
            differ += std::abs(qAlpha(s) - qAlpha(p)) > 64 ||
                      (bothOpaque && (std::abs(qRed(s) - qRed(p)) > 64 || std::abs(qGreen(s) - qGreen(p)) > 64 ||
                                      std::abs(qBlue(s) - qBlue(p)) > 64));
        }
    const int pixels = png.width() * png.height();
    std::printf("%d of %d pixels covered, %d differ from the PNG\n", covered, pixels, differ);
    return covered > pixels / 8 && differ * 50 <= pixels ? 0 : 1;
}
